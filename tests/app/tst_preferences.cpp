#include "VintrelleCommandRouter.h"
#include "VintrelleNativeConnection.h"
#include "VintrellePageEvaluator.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QSettings>

namespace {

const QString unavailable =
    QStringLiteral("That shortcut is unavailable. Choose another; your previous shortcut is unchanged.");

class RecordingPage : public VintrellePageEvaluator
{
public:
    void evaluate(const QString &script, Completion completion) override
    {
        scripts << script;
        completion(std::nullopt);
    }
    QStringList scripts;
};

} // namespace

class PreferencesTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    VintrelleNativeConnection m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    QStringList m_applied;
    int m_retitled = 0;

    QString autostart() const { return m_home.config() + "/autostart/vintrelle.desktop"; }

    QJsonObject send(const QJsonObject &command)
    {
        const auto answer = recordAnswer([&](VintrelleReply reply) { m_router->executeNativeCommand(command, reply); });
        [&] {
            QCOMPARE(answer->calls, 1);
            QVERIFY2(!answer->error, qPrintable(answer->error.value_or("")));
        }();
        return answer->result.value_or(QJsonObject{{"missing", true}});
    }

private slots:
    void initTestCase() { m_home.apply(); }

    void init()
    {
        QSettings("Vintrelle", "Vintrelle").clear();
        QDir(m_home.config() + "/autostart").removeRecursively();
        QFile::remove(m_home.config() + "/autostart");
        QDir(m_home.config() + "/Vintrelle").removeRecursively();
        m_applied.clear();
        m_retitled = 0;
        m_router = std::make_unique<VintrelleCommandRouter>(&m_connection);
        m_router->preferences().executable = "/opt/Vintrelle Test/vintrelle";
        m_router->preferences().shortcutChanged = [this] { ++m_retitled; };
    }


    void save_data()
    {
        // stored, storedAfter and applied: "combo/letter" ("" for nothing); loginBefore: none, enabled or
        // hidden; applier: accept, refuse or absent.
        addColumns<QString, QString, QString, QByteArray, QString, QString, QString, int>(
            {"stored", "loginBefore", "applier", "values", "message", "storedAfter", "applied", "loginAfter"});
        const auto row = [](const char *tag, const char *stored, const char *login, const char *applier, const char *values,
                            const QString &message, const char *storedAfter, const char *applied, int loginAfter) {
            QTest::newRow(tag) << QString(stored) << QString(login) << QString(applier) << QByteArray(values) << message
                               << QString(storedAfter) << QString(applied) << loginAfter;
        };
        const QString saved = "Preferences saved.", invalid = "Choose a valid shortcut.";
        row("only login switched on", "control-option/K", "none", "accept",
            R"({"letter":"K","combo":"control-option","login":1})", saved, "control-option/K", "", 1);
        row("only login switched off", "control-option/K", "enabled", "accept",
            R"({"letter":"K","combo":"control-option","login":0})", saved, "control-option/K", "", 0);
        row("defaults saved as they are", "", "none", "refuse",
            R"({"letter":"P","combo":"double-option","login":0})", saved, "double-option/P", "", 0);
        row("lower-case letter changes nothing", "control-option/K", "enabled", "accept",
            R"({"letter":"p","combo":"command-shift","login":0})", invalid, "control-option/K", "", 1);
        row("unknown combination", "", "none", "accept",
            R"({"letter":"P","combo":"option-shift","login":1})", invalid, "double-option/P", "", 0);
        row("non-string letter", "", "none", "accept",
            R"({"letter":["P"],"combo":"control-option","login":1})", invalid, "double-option/P", "", 0);
        row("to the double tap", "control-option/K", "none", "accept",
            R"({"letter":"K","combo":"double-option","login":0})", saved, "double-option/K", "double-option/K", 0);
        row("new letter", "command-shift/P", "none", "accept",
            R"({"letter":"Q","combo":"command-shift","login":1})", saved, "command-shift/Q", "command-shift/Q", 1);
        row("refused shortcut keeps everything", "control-option/K", "none", "refuse",
            R"({"letter":"Q","combo":"control-shift","login":1})", unavailable, "control-option/K", "control-shift/Q", 0);
        row("refused shortcut keeps login on", "control-option/K", "enabled", "refuse",
            R"({"letter":"Q","combo":"control-shift","login":0})", unavailable, "control-option/K", "control-shift/Q", 1);
        row("no application: stored for the next start", "", "none", "absent",
            R"({"letter":"M","combo":"control-shift","login":0})", saved, "control-shift/M", "", 0);
        row("hidden entry counts as off", "", "hidden", "accept",
            R"({"letter":"P","combo":"double-option","login":1})", saved, "double-option/P", "", 1);
        row("hidden entry left alone when off", "", "hidden", "accept",
            R"({"letter":"P","combo":"double-option","login":0})", saved, "double-option/P", "", 0);
    }


    void save()
    {
        QFETCH(QString, stored); QFETCH(QString, loginBefore); QFETCH(QString, applier); QFETCH(QByteArray, values);
        QFETCH(QString, message); QFETCH(QString, storedAfter); QFETCH(QString, applied); QFETCH(int, loginAfter);

        if (!stored.isEmpty()) {
            QSettings settings("Vintrelle", "Vintrelle");
            settings.setValue("ShortcutCombo", stored.section('/', 0, 0));
            settings.setValue("ShortcutLetter", stored.section('/', 1, 1));
        }
        const QByteArray hiddenEntry = "[Desktop Entry]\nType=Application\nExec=elsewhere\nHidden=true\n";
        if (loginBefore == "enabled")
            writeFile(autostart(), "[Desktop Entry]\nType=Application\nExec=elsewhere\n");
        else if (loginBefore == "hidden")
            writeFile(autostart(), hiddenEntry);
        if (applier != "absent") {
            m_router->preferences().applyShortcut = [this, applier](const QString &combo, const QString &letter,
                                                                    VintrelleError *error) {
                m_applied << combo + '/' + letter;
                if (applier == "accept")
                    return true;
                *error = unavailable;
                return false;
            };
        }

        QJsonObject command = QJsonDocument::fromJson(values).object();
        command.insert("op", "savePreferences");
        const QJsonObject report = send(command);
        QCOMPARE(report.value("message").toString(), message);
        QCOMPARE(report.value("combo").toString() + '/' + report.value("letter").toString(), storedAfter);
        QCOMPARE(ShortcutCombo() + '/' + ShortcutLetter(), storedAfter);
        QCOMPARE(report.value("login"), QJsonValue(loginAfter));
        QCOMPARE(m_applied.join(';'), applied);
        const QString before = stored.isEmpty() ? "double-option/P" : stored;
        QCOMPARE(m_retitled, storedAfter != before ? 1 : 0);
        if (loginBefore == "hidden" && !loginAfter)
            QCOMPARE(readFile(autostart()), hiddenEntry);
        else
            QCOMPARE(QFileInfo::exists(autostart()), bool(loginAfter));

        // The report is what `preferences` says afterwards.
        QJsonObject again = send({{"op", "preferences"}});
        QVERIFY(!again.contains("message"));
        again.insert("message", message);
        QCOMPARE(again, report);
    }


    void defaultsAndPage()
    {
        QCOMPARE(send({{"op", "preferences"}}), (QJsonObject{{"letter", "P"}, {"combo", "double-option"}, {"login", 0}}));
        RecordingPage page;
        m_router->setPage(&page);
        send({{"op", "savePreferences"}, {"letter", "x"}, {"combo", "double-option"}});
        QCOMPARE(page.scripts.size(), 1);
        QVERIFY(page.scripts[0].startsWith("window.receivePreferences({"));
        QVERIFY(page.scripts[0].contains(R"("message":"Choose a valid shortcut.")"));
        m_router->setPage(nullptr);
    }


    void autostartEntry_data()
    {
        // blocker: what is in the way of the entry: none, folder, file
        addColumns<QString, QString, QString, QString>({"executable", "exec", "blocker", "message"});
        QTest::newRow("plain path") << "/usr/bin/vintrelle" << "Exec=/usr/bin/vintrelle" << "none" << "Preferences saved.";
        QTest::newRow("space quoted") << "/opt/My Apps/vintrelle" << "Exec=\"/opt/My Apps/vintrelle\"" << "none"
                                      << "Preferences saved.";
        QTest::newRow("quote, dollar, backslash, percent") << "/opt/a\"$b\\c%d/v"
                                                           << "Exec=\"/opt/a\\\\\"\\\\$b\\\\\\\\c%%d/v\"" << "none"
                                                           << "Preferences saved.";
        QTest::newRow("entry path is a folder") << "/usr/bin/vintrelle" << "" << "folder"
            << "Shortcut saved. Login setting could not be changed: Could not save {entry}: ";
        QTest::newRow("autostart folder is a file") << "/usr/bin/vintrelle" << "" << "file"
            << "Shortcut saved. Login setting could not be changed: Could not create the folder {folder}.";
        QTest::newRow("line break in the path") << "/opt/a\nb/vintrelle" << "" << "none"
            << "Shortcut saved. Login setting could not be changed: The program's path contains a line break and "
               "cannot be started at login.";
    }


    void autostartEntry()
    {
        QFETCH(QString, executable); QFETCH(QString, exec); QFETCH(QString, blocker); QFETCH(QString, message);
        if (blocker == "folder")
            QVERIFY(QDir().mkpath(autostart() + "/inside"));
        else if (blocker == "file")
            writeFile(m_home.config() + "/autostart", "not a folder");
        m_router->preferences().executable = executable;
        const QJsonObject report =
            send({{"op", "savePreferences"}, {"letter", "J"}, {"combo", "control-shift"}, {"login", 1}});
        const QString expected = QString(message)
                                     .replace("{entry}", autostart())
                                     .replace("{folder}", m_home.config() + "/autostart");
        QVERIFY2(report.value("message").toString().startsWith(expected), qPrintable(report.value("message").toString()));
        // The shortcut part stands whatever happened to the login setting.
        QCOMPARE(ShortcutCombo() + '/' + ShortcutLetter(), QString("control-shift/J"));
        if (exec.isEmpty()) {
            QCOMPARE(report.value("login"), QJsonValue(0));
            return;
        }
        QCOMPARE(report.value("login"), QJsonValue(1));
        const QStringList lines = QString::fromUtf8(readFile(autostart())).split('\n');
        QCOMPARE(lines.value(0), QString("[Desktop Entry]"));
        QVERIFY(lines.contains("Type=Application"));
        QVERIFY2(lines.contains(exec), qPrintable(lines.join(" | ")));
        // No temporary file is left beside it.
        QCOMPARE(QDir(m_home.config() + "/autostart").entryList(QDir::Files | QDir::Hidden), QStringList{"vintrelle.desktop"});

        // Switching off removes it.
        const QJsonObject off = send({{"op", "savePreferences"}, {"letter", "J"}, {"combo", "control-shift"}, {"login", 0}});
        QCOMPARE(off.value("message").toString(), QString("Preferences saved."));
        QVERIFY(!QFileInfo::exists(autostart()));
    }


    void unwritableSettingsRollBack()
    {
        m_router->preferences().applyShortcut = [this](const QString &combo, const QString &letter, VintrelleError *) {
            m_applied << combo + '/' + letter;
            return true;
        };
        // A folder where the settings file belongs: the new values cannot reach the disk.
        const QString settingsFile = m_home.config() + "/Vintrelle/Vintrelle.conf";
        QVERIFY(QDir().mkpath(settingsFile + "/blocked"));
        const QJsonObject report =
            send({{"op", "savePreferences"}, {"letter", "Q"}, {"combo", "command-shift"}, {"login", 1}});
        QCOMPARE(report.value("message").toString(),
                 QString("Could not save the shortcut setting. Your previous shortcut is unchanged."));
        QCOMPARE(m_applied, (QStringList{"command-shift/Q", "double-option/P"}));
        QCOMPARE(m_retitled, 0);
        QVERIFY(!QFileInfo::exists(autostart()));
        QVERIFY(QDir(settingsFile).removeRecursively());
    }
};

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
