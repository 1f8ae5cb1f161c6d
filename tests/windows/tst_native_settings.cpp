#include "EditorHarness.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleWindowActions.h"

#include <QComboBox>
#include <QFileDialog>
#include <QSettings>

namespace {

const QString imported = "Library imported.";
const qint64 limit = 16 * 1024 * 1024;
const QJsonArray ownLibrary = library("C1=Synths[p1=Pad_Machine C2=Pads] C3=Mixing"), otherLibrary = library("X1=Drums[x1=Kick_Box]");

// `text` padded with spaces (which JSON allows) to exactly `size` bytes.
QByteArray paddedTo(const QByteArray &text, qint64 size) { return text + QByteArray(size - text.size(), ' '); }

// The settings window wired as the application wires it; dialogs are answered by the test.
struct SettingsHarness : LibraryHarness
{
    VintrelleNativeSettings settings;

    explicit SettingsHarness(const QString &path) : LibraryHarness(path, ownLibrary)
    {
        connection.setBridgeURL(QStringLiteral("http://127.0.0.1:9")); // nothing listens there
        settings.command = [this](const QJsonObject &command, VintrelleReply reply) { send(command, std::move(reply)); };
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

    // Each opening shows the stored shortcut ("combo/letter"), the saved login setting and no status.
    void preferences_data()
    {
        addColumns<QString, QString, bool>({"stored", "shown", "letterOn"});
        QTest::newRow("nothing stored") << "/" << "Double-tap Alt/P" << false;
        QTest::newRow("control alt") << "control-option/K" << "Control–Alt/K" << true;
    }
    void preferences()
    {
        QFETCH(QString, stored);
        QSettings defaults("Vintrelle", "Vintrelle");
        for (const auto &[key, value] : {std::pair{"ShortcutCombo", stored.section('/', 0, 0)}, {"ShortcutLetter", stored.section('/', 1)}})
            value.isEmpty() ? defaults.remove(key) : defaults.setValue(key, value);
        SettingsHarness harness(m_home.libraryPath());
        VintrelleNativeSettings &settings = harness.settings;
        settings.status()->setText("stale");
        settings.login()->setChecked(true); // flipped, never saved
        settings.openAtPoint(QPoint(30, 30));
        QVERIFY(!settings.login()->isChecked());
        QTEST(settings.combo()->currentText() + '/' + settings.letter()->currentText(), "shown");
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
        defaults.sync();
        QCOMPARE(harness.status() + defaults.value("ShortcutCombo").toString() + defaults.value("ShortcutLetter").toString(), "Preferences saved.control-shiftJ");
    }

    // The check answers later: the button waits for it, then says what it found.
    void testConnection()
    {
        SettingsHarness harness(m_home.libraryPath());
        harness.click("Test Connection");
        QCOMPARE(harness.status(), QStringLiteral("Checking Ableton…"));
        QVERIFY(!harness.settings.button("Test Connection")->isEnabled());
        QTRY_COMPARE(harness.status(), "Not connected. Open Ableton and select VintrelleBridge.");
        QVERIFY(harness.settings.button("Test Connection")->isEnabled());
    }

    // Reset and import ask first, unless the file is refused (no answer); Undo brings the library back.
    void resetAndImport_data()
    {
        addColumns<QString, QString, QString, bool>({"file", "answer", "status", "changes"}); // file empty: reset
        const QString tooLarge = "Library files must be smaller than 16 MB.";
        QTest::newRow("reset") << "" << "Reset Library" << "Library reset. Undo is available in Edit." << true;
        QTest::newRow("reset cancelled") << "" << "Cancel" << "" << false;
        QTest::newRow("merge own export at the size limit") << "own export" << "Merge" << imported << false;
        QTest::newRow("replace with another library") << "other" << "Replace" << imported << true;
        QTest::newRow("not a library file") << "not a library" << "Merge" << "Choose a supported Vintrelle library file." << false;
        QTest::newRow("one byte over the size limit") << "over" << "" << tooLarge << false;
        QTest::newRow("a folder has no size to judge") << "folder" << "" << tooLarge << false;
        QTest::newRow("UTF-8 sequence cut at the end") << "cut" << "" << "Could not read this library." << false;
    }
    void resetAndImport()
    {
        QFETCH(QString, file); QFETCH(QString, answer); QFETCH(QString, status); QFETCH(bool, changes);
        SettingsHarness harness(m_home.libraryPath());
        harness.settings.show();
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        const QByteArray other = compact(libraryFile(otherLibrary));
        if (file == "folder")
            QVERIFY(QDir(folder.path()).mkdir(QFileInfo(path).fileName()));
        else if (!file.isEmpty())
            writeFile(path, file == "own export" ? paddedTo(harness.exported().toUtf8(), limit) : file == "other" ? other : file == "over" ? paddedTo(other, limit + 1)
                            : file == "cut" ? other + "\xE2\x82" : QByteArray(R"({"format":"Other"})"));
        auto question = answer.isEmpty() ? nullptr : pressInNextModal(answer);
        if (file.isEmpty())
            harness.click("Reset Library…");
        else
            harness.settings.importFile(path);
        QVERIFY(question ? QTest::qWaitFor([&] { return question->seen; }) : !QApplication::activeModalWidget());
        QTRY_COMPARE(harness.status(), status);
        QCOMPARE(titledOutline(harness.saved()), titledOutline(answer == "Replace" ? otherLibrary : changes ? QJsonArray() : ownLibrary));
        QVERIFY(actionTitled(harness.settings.actions(), "Undo"));
        actionTitled(harness.settings.actions(), "Undo")->trigger();
        QCOMPARE(harness.status(), changes ? "Last edit undone." : "Nothing to undo.");
        QCOMPARE(harness.saved(), ownLibrary);
    }

    // Export and import through Qt's real file dialogs; a failed write names the file and changes nothing.
    void exportImportThroughTheDialogs()
    {
        SettingsHarness harness(m_home.libraryPath());
        harness.settings.openAtPoint(QPoint(40, 40));
        QTemporaryDir folder;
        const QString path = folder.filePath("Vintrelle Library.json");
        std::shared_ptr<VintrelleModalAnswer> question;
        const auto choose = [&](QFileDialog::AcceptMode mode) {
            return answerNextModal([&, mode](QWidget *modal) {
                auto *dialog = qobject_cast<QFileDialog *>(modal);
                QVERIFY(dialog && dialog->acceptMode() == mode);
                if (mode == QFileDialog::AcceptOpen)
                    question = pressInNextModal("Replace");
                dialog->setDirectory(folder.path());
                dialog->selectFile(path);
                QMetaObject::invokeMethod(dialog, "accept");
            });
        };
        choose(QFileDialog::AcceptSave);
        harness.click("Export…");
        QTRY_COMPARE(harness.status(), QStringLiteral("Library exported."));
        QCOMPARE(readFile(path), harness.exported().toUtf8());
        choose(QFileDialog::AcceptOpen);
        harness.click("Import…");
        QTRY_VERIFY(question && question->seen);
        QTRY_COMPARE(harness.status(), imported);
        QCOMPARE(titledOutline(harness.saved()), titledOutline(ownLibrary)); // new ids, same library
        harness.settings.writeExport(folder.filePath("gone/Vintrelle Library.json"), harness.exported());
        QCOMPARE(harness.status(), "Could not write “Vintrelle Library.json”: No such file or directory. No file was changed.");
        QVERIFY(!QFileInfo::exists(folder.filePath("gone")));
    }
};

QTEST_MAIN(TestNativeSettings)
#include "tst_native_settings.moc"
