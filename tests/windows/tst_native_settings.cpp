#include "EditorHarness.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleLibraryFile.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleWindowActions.h"

#include <QComboBox>
#include <QFileDialog>
#include <QSettings>

namespace {

const QString imported = "Library imported.", unreadable = "Could not read this library.";
const QString tooLarge = "Library files must be smaller than 16 MB.";
const qint64 limit = 16 * 1024 * 1024;
const QJsonArray ownLibrary = library("C1=Synths[p1=Pad_Machine C2=Pads] C3=Mixing"), otherLibrary = library("X1=Drums[x1=Kick_Box]");

// `text` padded with spaces (which JSON allows) to exactly `size` bytes.
QByteArray paddedTo(const QByteArray &text, qint64 size) { return text + QByteArray(size - text.size(), ' '); }

// The settings window wired as the application wires it; dialogs are answered by the test.
struct SettingsHarness : LibraryHarness
{
    VintrelleNativeSettings settings;
    int closes = 0;

    explicit SettingsHarness(const VintrelleTestHome &home) : LibraryHarness(home.libraryPath(), ownLibrary)
    {
        connection.setBridgeURL(QStringLiteral("http://127.0.0.1:9")); // nothing listens there
        settings.command = [this](const QJsonObject &command, VintrelleReply reply) { send(command, std::move(reply)); };
        settings.onClose = [this] { ++closes; };
        VintrelleInstallWindowActions(&settings, {});
    }
    QString status() const { return settings.status()->text(); }
    void click(const QString &title)
    {
        QPushButton *button = settings.button(title);
        QVERIFY2(button && button->isEnabled(), qPrintable(title));
        button->click();
    }
    QString exported() { return store->perform({{"op", "export"}}, nullptr).value_or(QJsonObject()).value("contents").toString(); }
};

} // namespace

class TestNativeSettings : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    void init()
    {
        QSettings defaults("Vintrelle", "Vintrelle");
        for (const char *key : {"ShortcutCombo", "ShortcutLetter", "VintrelleUserLibrary"})
            defaults.remove(key);
    }

    // Each opening shows the stored shortcut, the saved login setting and a clear status; the
    // letter plays no part in the double tap. Saving stores what the controls show.
    void preferences_data()
    {
        addColumns<QString, QString, QString, QString, bool>({"storedCombo", "storedLetter", "shownCombo", "shownLetter", "letterOn"});
        QTest::newRow("nothing stored") << "" << "" << "Double-tap Alt" << "P" << false;
        QTest::newRow("control alt") << "control-option" << "K" << "Control–Alt" << "K" << true;
        QTest::newRow("double tap keeps its letter") << "double-option" << "Q" << "Double-tap Alt" << "Q" << false;
    }
    void preferences()
    {
        QFETCH(QString, storedCombo); QFETCH(QString, storedLetter);
        QSettings defaults("Vintrelle", "Vintrelle");
        for (const auto &[key, value] : {std::pair{"ShortcutCombo", storedCombo}, {"ShortcutLetter", storedLetter}})
            if (!value.isEmpty())
                defaults.setValue(key, value);
        SettingsHarness harness(m_home);
        VintrelleNativeSettings &settings = harness.settings;
        settings.status()->setText("stale");
        settings.login()->setChecked(true); // flipped, never saved
        settings.openAtPoint(QPoint(30, 30));
        QVERIFY(!settings.login()->isChecked());
        QTEST(settings.combo()->currentText(), "shownCombo");
        QTEST(settings.letter()->currentText(), "shownLetter");
        QTEST(settings.letter()->isEnabled(), "letterOn");
        QCOMPARE(harness.status(), QString());
        for (int index = 0; index < settings.combo()->count(); ++index) {
            settings.combo()->setCurrentIndex(index);
            emit settings.combo()->activated(index);
            QCOMPARE(settings.letter()->isEnabled(), index != 0);
        }
        settings.combo()->setCurrentIndex(settings.combo()->findData("control-shift"));
        settings.letter()->setCurrentText("J");
        harness.click("Save Preferences");
        QCOMPARE(harness.status(), QStringLiteral("Preferences saved."));
        defaults.sync();
        QCOMPARE(defaults.value("ShortcutCombo").toString() + defaults.value("ShortcutLetter").toString(), "control-shiftJ");
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
        QFETCH(bool, bridgeRunning); QFETCH(QString, status);
        SettingsHarness harness(m_home);
        QTemporaryDir bridgeFolder;
        std::optional<VintrelleBridgeSimulator> bridge;
        if (bridgeRunning) {
            QVERIFY(bridge.emplace(bridgeFolder.path()).ready());
            harness.connection.setBridgeURL(bridge->bridgeURL());
            harness.connection.setToken(bridge->token());
        }
        harness.click("Test Connection");
        QCOMPARE(harness.status(), QStringLiteral("Checking Ableton…"));
        QVERIFY(!harness.settings.button("Test Connection")->isEnabled());
        QTRY_COMPARE(harness.status(), status);
        QVERIFY(harness.settings.button("Test Connection")->isEnabled());
    }

    // The file rules on real files: the size limit taken before reading, strict UTF-8. A refused
    // file is refused by the window before any question, the library untouched.
    void readingLibraryFiles_data()
    {
        addColumns<QByteArray, QString>({"contents", "message"}); // message empty: accepted
        const QByteArray file = compact(libraryFile(otherLibrary));
        QTest::newRow("exactly the limit") << paddedTo(file, limit) << "";
        QTest::newRow("one byte more") << paddedTo(file, limit + 1) << tooLarge;
        QTest::newRow("sequence cut at the end") << file + "\xE2\x82" << unreadable;
        QTest::newRow("missing") << QByteArray("missing") << unreadable;
        QTest::newRow("a folder") << QByteArray("folder") << tooLarge;
    }
    void readingLibraryFiles()
    {
        QFETCH(QByteArray, contents); QFETCH(QString, message);
        QTemporaryDir folder;
        const QString path = folder.filePath("library.json");
        if (contents == "folder")
            QVERIFY(QDir(folder.path()).mkdir("library.json"));
        else if (contents != "missing")
            writeFile(path, contents);
        VintrelleLibraryFile::ReadFailure failure{};
        const std::optional<QString> text = VintrelleLibraryFile::read(path, &failure);
        QCOMPARE(bool(text), message.isEmpty());
        QCOMPARE(text.value_or(VintrelleLibraryFile::message(failure)).toUtf8(), text ? contents : message.toUtf8());
        if (text)
            return;
        SettingsHarness harness(m_home);
        const QByteArray before = readFile(m_home.libraryPath());
        harness.settings.importFile(path);
        QCOMPARE(harness.status(), message);
        QVERIFY(!QApplication::activeModalWidget());
        QCOMPARE(readFile(m_home.libraryPath()), before);
    }

    // Reset and import ask first; merging the library's own export changes nothing and records no
    // step; a file of another kind is the store's to refuse. The window's Undo brings back the library.
    void questions_data()
    {
        addColumns<QString, QString, QString, bool>({"file", "answer", "status", "changes"}); // file empty: reset
        QTest::newRow("reset") << "" << "Reset Library" << "Library reset. Undo is available in Edit." << true;
        QTest::newRow("reset cancelled") << "" << "Cancel" << "" << false;
        QTest::newRow("merge own export at the size limit") << "padded export" << "Merge" << imported << false;
        QTest::newRow("replace with another library") << "other" << "Replace" << imported << true;
        QTest::newRow("import cancelled") << "other" << "Cancel" << "" << false;
        QTest::newRow("not a library file") << "not a library" << "Merge" << "Choose a supported Vintrelle library file." << false;
    }
    void questions()
    {
        QFETCH(QString, file); QFETCH(QString, answer); QFETCH(QString, status); QFETCH(bool, changes);
        SettingsHarness harness(m_home);
        harness.settings.show();
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        if (file == "padded export") {
            harness.settings.writeExport(path, harness.exported());
            writeFile(path, paddedTo(readFile(path), limit));
        } else if (!file.isEmpty()) {
            writeFile(path, file == "other" ? compact(libraryFile(otherLibrary)) : QByteArray(R"({"format":"Other"})"));
        }
        harness.settings.status()->clear();
        auto question = pressInNextModal(answer);
        if (file.isEmpty())
            harness.click("Reset Library…");
        else
            harness.settings.importFile(path);
        QTRY_VERIFY(question->seen);
        QCOMPARE(question->text, file.isEmpty() ? "Reset Library?" : "Import Library");
        QTRY_COMPARE(harness.status(), status);
        QCOMPARE(harness.saved() != ownLibrary, changes);
        if (answer == "Replace")
            QCOMPARE(titledOutline(harness.saved()), titledOutline(otherLibrary));
        QAction *undo = actionNamed(harness.settings.actions(), "Undo");
        QVERIFY(undo);
        undo->trigger();
        QCOMPARE(harness.status(), changes ? "Last edit undone." : "Nothing to undo.");
        QCOMPARE(harness.saved(), ownLibrary);
    }

    // Writing replaces the chosen file whole, as UTF-8; a failed write names the file and changes nothing.
    void writingExports_data()
    {
        addColumns<QString, QByteArray, bool>({"relative", "existing", "written"});
        QTest::newRow("replaces an older export") << "Vintrelle Library.json" << QByteArray("older export") << true;
        QTest::newRow("missing folder") << "gone/Vintrelle Library.json" << QByteArray() << false;
    }
    void writingExports()
    {
        QFETCH(QString, relative); QFETCH(QByteArray, existing); QFETCH(bool, written);
        SettingsHarness harness(m_home);
        QTemporaryDir folder;
        const QString path = folder.filePath(relative);
        if (!existing.isEmpty())
            writeFile(path, existing);
        const QString text = harness.exported() + QStringLiteral("\u00E9\U0001F3B9");
        harness.settings.writeExport(path, text);
        QCOMPARE(harness.status(), written ? QStringLiteral("Library exported.")
                                           : "Could not write “Vintrelle Library.json”: No such file or directory. No file was changed.");
        QCOMPARE(readFile(path), written ? text.toUtf8() : "<unreadable>");
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden).size(), written ? 1 : 0);
    }

    // Escape closes the window; both flows through Qt's real file dialogs.
    void escapeThenExportImportThroughTheDialogs()
    {
        SettingsHarness harness(m_home);
        harness.settings.openAtPoint(QPoint(40, 40));
        QVERIFY(QTest::qWaitForWindowActive(&harness.settings));
        QTest::keyClick(&harness.settings, Qt::Key_Escape);
        QVERIFY(!harness.settings.isVisible());
        QCOMPARE(harness.closes, 1);
        harness.settings.openAtPoint(QPoint(40, 40));
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        std::shared_ptr<VintrelleModalAnswer> question;
        const auto choose = [&](QFileDialog::AcceptMode mode) {
            return answerNextModal([&, mode](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                QVERIFY(dialog && dialog->acceptMode() == mode);
                if (mode == QFileDialog::AcceptSave)
                    QCOMPARE(QFileInfo(dialog->selectedFiles().value(0)).fileName(), "Vintrelle Library.json");
                else
                    question = pressInNextModal("Replace");
                dialog->setDirectory(folder.path());
                dialog->selectFile(path);
                QMetaObject::invokeMethod(dialog, "accept");
            });
        };
        auto save = choose(QFileDialog::AcceptSave);
        harness.click("Export…");
        QTRY_COMPARE(harness.status(), QStringLiteral("Library exported."));
        QVERIFY(save->seen);
        QCOMPARE(readFile(path), harness.exported().toUtf8());
        auto open = choose(QFileDialog::AcceptOpen);
        harness.click("Import…");
        QTRY_VERIFY(open->seen && question && question->seen);
        QTRY_COMPARE(harness.status(), imported);
        QCOMPARE(titledOutline(harness.saved()), titledOutline(ownLibrary)); // new ids, same library
    }

    // Install puts the real bridge into the remembered User Library and says so.
    void install()
    {
        SettingsHarness harness(m_home);
        const QString library = m_home.path("User Library");
        QVERIFY(QDir().mkpath(library));
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", library);
        harness.click("Install…");
        QTRY_COMPARE(harness.status(), "Installed. Restart Ableton, then select VintrelleBridge in its Control Surface settings.");
        QVERIFY(QFileInfo::exists(library + "/Remote Scripts/VintrelleBridge/config.json"));
        QVERIFY(harness.settings.button("Install…")->isEnabled());
    }
};

QTEST_MAIN(TestNativeSettings)
#include "tst_native_settings.moc"
