#include "EditorHarness.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleLibraryFile.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleNativeStore.h"
#include "VintrelleUserLibraryChooser.h"
#include "VintrelleWindowActions.h"

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStackedWidget>
#include <QToolButton>

#include <memory>

namespace {

const QString importedText = QStringLiteral("Library imported.");
const QString unreadableText = QStringLiteral("Could not read this library.");
const QString tooLargeText = QStringLiteral("Library files must be smaller than 16 MB.");
const qint64 limit = 16 * 1024 * 1024;

QJsonArray ownLibrary()
{
    return {categoryObject("C1", "Synths", QJsonValue::Null, {entryObject("E1", "Pad Machine", "query:Synths#Pad", "Plugins/VST3")}),
            categoryObject("C2", "Pads", "C1"), categoryObject("C3", "Mixing")};
}

QJsonArray otherLibrary()
{
    return {categoryObject("X1", "Drums", QJsonValue::Null, {entryObject("Y1", "Kick Box", "query:Drums#Kick")})};
}

// `text` padded with spaces after its end to exactly `size` bytes (JSON allows trailing spaces).
QByteArray paddedTo(const QByteArray &text, qint64 size)
{
    return text + QByteArray(size - text.size(), ' ');
}

} // namespace

// The settings window wired as the application wires it: a real store in a temporary home behind
// the command router. Dialogs are answered by the test.
struct SettingsHarness
{
    VintrelleTestHome &home;
    std::unique_ptr<VintrelleNativeStore> store;
    VintrelleNativeConnection connection;
    VintrelleCommandRouter router{&connection};
    VintrelleNativeSettings settings;
    int closes = 0;
    bool ok = false;

    explicit SettingsHarness(VintrelleTestHome &testHome, const QJsonArray &categories = ownLibrary()) : home(testHome)
    {
        QFile::remove(home.libraryPath());
        store = std::make_unique<VintrelleNativeStore>(home.libraryPath());
        VintrelleError error;
        ok = store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), &error)
             && store->commit(stateWith(categories), &error);
        router.setStore(store.get());
        connection.setBridgeURL(QStringLiteral("http://127.0.0.1:9")); // nothing listens there
        settings.command = [this](const QJsonObject &command, VintrelleReply reply) {
            router.executeNativeCommand(command, std::move(reply));
        };
        settings.onClose = [this] { ++closes; };
        VintrelleInstallWindowActions(&settings, {});
    }

    QJsonArray saved() const { return store->state()->value("categories").toArray(); }
    QString status() const { return settings.status()->text(); }
    void click(const QString &title)
    {
        QPushButton *button = settings.button(title);
        QVERIFY2(button, qPrintable(title));
        QVERIFY2(button->isEnabled(), qPrintable(title));
        button->click();
    }
    // The exported library file text, as the store writes it.
    QString exported()
    {
        VintrelleError error;
        return store->perform({{"op", "export"}}, &error).value_or(QJsonObject()).value("contents").toString();
    }
};

class TestNativeSettings : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

private slots:
    void initTestCase()
    {
        m_home.apply();
    }

    void init()
    {
        QSettings defaults("Vintrelle", "Vintrelle");
        defaults.remove("ShortcutCombo");
        defaults.remove("ShortcutLetter");
        defaults.remove("VintrelleUserLibrary");
    }

    // The toolbar shows one pane at a time, with its group's buttons, and names the window after it.
    void panes()
    {
        SettingsHarness harness(m_home);
        VintrelleNativeSettings &settings = harness.settings;
        const QList<QPair<QString, QStringList>> panes{{"Library", {"Add to Library", "Export…", "Import…", "Reset Library…"}},
                                                      {"Preferences", {"Save Preferences"}},
                                                      {"Connection", {"Install…", "Test Connection"}}};
        for (const auto &[pane, buttons] : panes) {
            settings.paneButton(pane)->click();
            QCOMPARE(settings.currentPane(), pane);
            QCOMPARE(settings.windowTitle(), pane);
            for (const auto &other : panes)
                QCOMPARE(settings.paneButton(other.first)->isChecked(), other.first == pane);
            QStringList shown;
            for (QPushButton *button : settings.tabs()->currentWidget()->findChildren<QPushButton *>())
                shown << button->text();
            QCOMPARE(shown, buttons);
        }
    }

    // Opening shows the stored shortcut; the letter plays no part in the double tap.
    void shortcutChoices_data()
    {
        addColumns<QString, QString, QString, QString, bool>({"storedCombo", "storedLetter", "shownCombo", "shownLetter", "letterEnabled"});
        QTest::newRow("nothing stored") << "" << "" << "Double-tap Alt" << "P" << false;
        QTest::newRow("control alt") << "control-option" << "K" << "Control–Alt" << "K" << true;
        QTest::newRow("super shift") << "command-shift" << "Z" << "Super–Shift" << "Z" << true;
        QTest::newRow("double tap keeps its letter") << "double-option" << "Q" << "Double-tap Alt" << "Q" << false;
    }

    void shortcutChoices()
    {
        QFETCH(QString, storedCombo);
        QFETCH(QString, storedLetter);
        QFETCH(QString, shownCombo);
        QFETCH(QString, shownLetter);
        QFETCH(bool, letterEnabled);
        {
            QSettings defaults("Vintrelle", "Vintrelle");
            if (!storedCombo.isEmpty())
                defaults.setValue("ShortcutCombo", storedCombo);
            if (!storedLetter.isEmpty())
                defaults.setValue("ShortcutLetter", storedLetter);
        }
        SettingsHarness harness(m_home);
        VintrelleNativeSettings &settings = harness.settings;
        settings.status()->setText("stale");
        settings.login()->setChecked(true); // flipped, never saved
        settings.openAtPoint(QPoint(30, 30));
        QVERIFY(!settings.login()->isChecked());
        QCOMPARE(settings.combo()->currentText(), shownCombo);
        QCOMPARE(settings.letter()->currentText(), shownLetter);
        QCOMPARE(settings.letter()->isEnabled(), letterEnabled);
        QCOMPARE(harness.status(), QString()); // each opening clears the status line
        // Choosing another combination turns the letter on or off at once.
        for (int index = 0; index < settings.combo()->count(); ++index) {
            settings.combo()->setCurrentIndex(index);
            emit settings.combo()->activated(index);
            QCOMPARE(settings.letter()->isEnabled(), index != 0);
        }
    }

    // The check answers later: the button waits for it, then says what it found.
    void testConnection_data()
    {
        addColumns<bool, QString>({"bridgeRunning", "status"});
        QTest::newRow("nothing listening") << false << "Not connected. Open Ableton and select VintrelleBridge.";
        QTest::newRow("bridge running") << true << "Connected to Ableton.";
    }

    void testConnection()
    {
        QFETCH(bool, bridgeRunning);
        QFETCH(QString, status);
        SettingsHarness harness(m_home);
        QTemporaryDir bridgeFolder;
        std::unique_ptr<VintrelleBridgeSimulator> bridge;
        if (bridgeRunning) {
            bridge = std::make_unique<VintrelleBridgeSimulator>(bridgeFolder.path());
            QVERIFY(bridge->ready());
            harness.connection.setBridgeURL(bridge->bridgeURL());
            harness.connection.setToken(bridge->token());
        }
        harness.click("Test Connection");
        QCOMPARE(harness.status(), QStringLiteral("Checking Ableton…"));
        QVERIFY(!harness.settings.button("Test Connection")->isEnabled());
        QTRY_COMPARE(harness.status(), status);
        QVERIFY(harness.settings.button("Test Connection")->isEnabled());
    }

    // Saving sends what the controls show; a refusal is the preference report's message.
    void savedPreferencesReachTheDefaults()
    {
        SettingsHarness harness(m_home);
        VintrelleNativeSettings &settings = harness.settings;
        settings.combo()->setCurrentIndex(settings.combo()->findData("control-shift"));
        settings.letter()->setCurrentText("J");
        harness.click("Save Preferences");
        QCOMPARE(harness.status(), QStringLiteral("Preferences saved."));
        QSettings defaults("Vintrelle", "Vintrelle");
        QCOMPARE(defaults.value("ShortcutCombo").toString(), QStringLiteral("control-shift"));
        QCOMPARE(defaults.value("ShortcutLetter").toString(), QStringLiteral("J"));
    }

    // Adding the starter categories twice adds them once and reports the same both times.
    void starterCategoriesTwice()
    {
        SettingsHarness harness(m_home);
        QVERIFY(harness.ok);
        harness.click("Add to Library");
        QCOMPARE(harness.status(), QStringLiteral("Default categories are ready. Undo changes in Edit."));
        const QJsonArray once = harness.saved();
        QVERIFY(once.size() > ownLibrary().size());
        harness.click("Add to Library");
        QCOMPARE(harness.status(), QStringLiteral("Default categories are ready. Undo changes in Edit."));
        QCOMPARE(harness.saved(), once);
        QCOMPARE(harness.store->undo().size(), 1);
    }

    // Reset asks first; confirmed, it empties the library, and Undo (the window's Edit action)
    // brings it back.
    void resetThenUndo_data()
    {
        addColumns<QString, QString, qsizetype>({"answer", "status", "categoriesAfter"});
        QTest::newRow("confirmed") << "Reset Library" << "Library reset. Undo is available in Edit." << qsizetype(0);
        QTest::newRow("cancelled") << "Cancel" << "" << ownLibrary().size();
    }

    void resetThenUndo()
    {
        QFETCH(QString, answer);
        QFETCH(QString, status);
        QFETCH(qsizetype, categoriesAfter);
        SettingsHarness harness(m_home);
        harness.settings.show();
        auto alert = pressInNextModal(answer);
        harness.click("Reset Library…");
        QTRY_VERIFY(alert->seen);
        QCOMPARE(alert->text, QStringLiteral("Reset Library?"));
        QTRY_COMPARE(harness.status(), status);
        QCOMPARE(harness.saved().size(), categoriesAfter);

        QAction *undo = nullptr;
        for (QAction *action : harness.settings.actions())
            if (action->text() == u"Undo")
                undo = action;
        QVERIFY(undo);
        undo->trigger();
        QCOMPARE(harness.status(), categoriesAfter == 0 ? QStringLiteral("Last edit undone.") : QStringLiteral("Nothing to undo."));
        QCOMPARE(harness.saved(), ownLibrary());
    }

    // The file rules on real files: the size limit taken before reading, strict UTF-8.
    void readingLibraryFiles_data()
    {
        addColumns<QByteArray, bool, QString>({"contents", "accepted", "message"});
        const QByteArray library = compact(libraryFile(otherLibrary()));
        QTest::newRow("exactly the limit") << paddedTo(library, limit) << true << "";
        QTest::newRow("one byte more") << paddedTo(library, limit + 1) << false << tooLargeText;
        QTest::newRow("empty") << QByteArray() << true << "";
        QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF") + library << true << "";
        QTest::newRow("Latin-1 text") << QByteArray("{\"name\": \"Caf\xE9\"}") << false << unreadableText;
        QTest::newRow("sequence cut at the end") << library + "\xE2\x82" << false << unreadableText;
        QTest::newRow("encoded surrogate") << QByteArray("\"\xED\xA0\x80\"") << false << unreadableText;
        QTest::newRow("overlong slash") << QByteArray("\"\xC0\xAF\"") << false << unreadableText;
        QTest::newRow("missing") << QByteArray("missing") << false << unreadableText;
        QTest::newRow("a folder") << QByteArray("folder") << false << tooLargeText;
    }

    void readingLibraryFiles()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, accepted);
        QFETCH(QString, message);
        QTemporaryDir folder;
        const QString path = folder.filePath("library.json");
        if (contents == "folder")
            QVERIFY(QDir(folder.path()).mkdir("library.json"));
        else if (contents != "missing")
            writeFile(path, contents);
        VintrelleLibraryFile::ReadFailure failure{};
        const std::optional<QString> text = VintrelleLibraryFile::read(path, &failure);
        QCOMPARE(bool(text), accepted);
        if (accepted) {
            QVERIFY(!text->startsWith(QChar(0xFEFF)));
            QCOMPARE(text->toUtf8(), contents.startsWith("\xEF\xBB\xBF") ? contents.mid(3) : contents);
            return;
        }
        QCOMPARE(VintrelleLibraryFile::message(failure), message);
        // Through the window: refused before any question, the library untouched.
        SettingsHarness harness(m_home);
        const QByteArray before = readFile(m_home.libraryPath());
        harness.settings.importFile(path);
        QCOMPARE(harness.status(), message);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(readFile(m_home.libraryPath()), before);
    }

    // Import answers: merging the library's own export changes nothing and records no step;
    // replacing can be undone; a file of another kind is the store's to refuse.
    void importAnswers_data()
    {
        addColumns<QString, QString, QString, bool>({"file", "answer", "status", "changes"});
        QTest::newRow("merge own export") << "export" << "Merge" << importedText << false;
        QTest::newRow("merge own export at the size limit") << "padded export" << "Merge" << importedText << false;
        QTest::newRow("replace with another library") << "other" << "Replace" << importedText << true;
        QTest::newRow("merge another library") << "other" << "Merge" << importedText << true;
        QTest::newRow("cancel") << "other" << "Cancel" << "" << false;
        QTest::newRow("not a library file") << "not a library" << "Merge" << "Choose a supported Vintrelle library file." << false;
    }

    void importAnswers()
    {
        QFETCH(QString, file);
        QFETCH(QString, answer);
        QFETCH(QString, status);
        QFETCH(bool, changes);
        SettingsHarness harness(m_home);
        harness.settings.show();
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        if (file == u"export" || file == u"padded export") {
            harness.settings.writeExport(path, harness.exported());
            QCOMPARE(harness.status(), QStringLiteral("Library exported."));
            QCOMPARE(readFile(path), harness.exported().toUtf8());
            if (file == u"padded export")
                writeFile(path, paddedTo(readFile(path), limit));
        } else {
            writeFile(path, file == u"other" ? compact(libraryFile(otherLibrary())) : QByteArray(R"({"format":"Other"})"));
        }
        harness.settings.status()->clear();
        auto question = pressInNextModal(answer);
        harness.settings.importFile(path);
        QTRY_VERIFY(question->seen);
        QCOMPARE(question->text, QStringLiteral("Import Library"));
        QTRY_COMPARE(harness.status(), status);
        QCOMPARE(harness.saved() != ownLibrary(), changes);
        if (answer == u"Replace")
            QCOMPARE(titledOutline(harness.saved()), titledOutline(otherLibrary()));
        QCOMPARE(harness.store->undo().size(), changes ? 1 : 0);
        harness.settings.undo();
        QCOMPARE(harness.saved(), ownLibrary());
    }

    // Writing replaces the chosen file whole; a failed write names the file and changes nothing.
    void writingExports_data()
    {
        addColumns<QString, QByteArray, bool>({"relative", "existing", "written"});
        QTest::newRow("new file") << "Vintrelle Library.json" << QByteArray() << true;
        QTest::newRow("replaces an older export") << "Vintrelle Library.json" << QByteArray("older export") << true;
        QTest::newRow("missing folder") << "gone/Vintrelle Library.json" << QByteArray() << false;
    }

    void writingExports()
    {
        QFETCH(QString, relative);
        QFETCH(QByteArray, existing);
        QFETCH(bool, written);
        SettingsHarness harness(m_home);
        QTemporaryDir folder;
        const QString path = folder.filePath(relative);
        if (!existing.isEmpty())
            writeFile(path, existing);
        const QString text = harness.exported() + QStringLiteral("\u00E9\U0001F3B9"); // beyond ASCII: written as UTF-8
        harness.settings.writeExport(path, text);
        if (written) {
            QCOMPARE(harness.status(), QStringLiteral("Library exported."));
            QCOMPARE(readFile(path), text.toUtf8());
        } else {
            QCOMPARE(harness.status(), QStringLiteral("Could not write “Vintrelle Library.json”: ") + "No such file or directory. No file was changed.");
            QVERIFY(!QFileInfo::exists(path));
        }
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), written ? 1 : 0);
    }

    // Both flows through Qt's real file dialog, shown as a sheet on the window.
    void exportAndImportThroughTheDialogs()
    {
        SettingsHarness harness(m_home);
        harness.settings.show();
        QVERIFY(QTest::qWaitForWindowExposed(&harness.settings));
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        QString proposed;
        auto save = answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            dialog->setDirectory(folder.path());
            dialog->selectFile(path);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        harness.click("Export…");
        QTRY_VERIFY(save->seen);
        QCOMPARE(proposed, QStringLiteral("Vintrelle Library.json"));
        QTRY_COMPARE(harness.status(), QStringLiteral("Library exported."));
        QCOMPARE(readFile(path), harness.exported().toUtf8());

        std::shared_ptr<VintrelleModalAnswer> question;
        auto open = answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
            dialog->setDirectory(folder.path());
            dialog->selectFile(path);
            question = pressInNextModal("Replace");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        harness.click("Import…");
        QTRY_VERIFY(open->seen);
        QTRY_VERIFY(question && question->seen);
        QTRY_COMPARE(harness.status(), importedText);
        QCOMPARE(titledOutline(harness.saved()), titledOutline(ownLibrary()));
    }

    // Install puts the real bridge into the User Library, asking for it when none is known.
    void install_data()
    {
        addColumns<QString, QString>({"how", "status"});
        QTest::newRow("remembered library") << "remembered" << "Installed. Restart Ableton, then select VintrelleBridge in its Control Surface settings.";
        QTest::newRow("chosen in the folder dialog") << "chosen" << "Installed. Restart Ableton, then select VintrelleBridge in its Control Surface settings.";
        QTest::newRow("folder dialog cancelled") << "cancelled" << "Installation cancelled. Your files were not changed.";
    }

    void install()
    {
        QFETCH(QString, how);
        QFETCH(QString, status);
        SettingsHarness harness(m_home);
        harness.router.chooseUserLibrary = &VintrelleChooseUserLibrary;
        QTemporaryDir folder;
        const QString library = folder.filePath("User Library");
        QVERIFY(QDir().mkpath(library));
        if (how == u"remembered")
            QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", library);
        const int wait = how == u"remembered" ? 200 : 10000;
        auto chooser = answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            if (how != u"chosen")
                return dialog->reject();
            dialog->setDirectory(folder.path());
            dialog->selectFile(library);
            QMetaObject::invokeMethod(dialog, "accept");
        }, wait);
        harness.click("Install…");
        QTRY_COMPARE(harness.status(), status);
        QCOMPARE(chooser->seen, how != u"remembered");
        QCOMPARE(QFileInfo::exists(library + "/Remote Scripts/VintrelleBridge/config.json"), how != u"cancelled");
        QVERIFY(harness.settings.button("Install…")->isEnabled());
        // An answerer that found no dialog must be gone before a later test shows one.
        QTest::qWait(wait == 200 ? 250 : 0);
    }

    // Escape closes the window, which hands back to the quick menu.
    void escapeCloses()
    {
        SettingsHarness harness(m_home);
        harness.settings.openAtPoint(QPoint(40, 40));
        QVERIFY(QTest::qWaitForWindowActive(&harness.settings));
        QTest::keyClick(&harness.settings, Qt::Key_Escape);
        QVERIFY(!harness.settings.isVisible());
        QCOMPARE(harness.closes, 1);
    }
};

QTEST_MAIN(TestNativeSettings)
#include "tst_native_settings.moc"
