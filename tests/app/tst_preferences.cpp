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

private slots:
    void initTestCase() { m_home.apply(); }
    void init();
    void save_data();
    void save();
    void defaultsAndPage();
    void autostartEntry_data();
    void autostartEntry();
    void unwritableSettingsRollBack();

private:
    QJsonObject send(const QJsonObject &command);
    QString autostart() const { return m_home.config() + "/autostart/vintrelle.desktop"; }

    VintrelleTestHome m_home;
    VintrelleNativeConnection m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    QStringList m_applied;
    int m_retitled = 0;
};

void PreferencesTest::init()
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

QJsonObject PreferencesTest::send(const QJsonObject &command)
{
    int calls = 0;
    QJsonObject answer;
    m_router->executeNativeCommand(command, [&](std::optional<QJsonObject> result, std::optional<QString> error) {
        ++calls;
        [&] { QVERIFY2(!error, qPrintable(error.value_or(""))); }();
        answer = result.value_or(QJsonObject{{"missing", true}});
    });
    [&] { QCOMPARE(calls, 1); }();
    return answer;
}

void PreferencesTest::save_data()
{
    QTest::addColumn<QString>("stored");        // "combo/letter", empty for nothing stored
    QTest::addColumn<QString>("loginBefore");   // none, enabled, hidden
    QTest::addColumn<QString>("applier");       // accept, refuse, absent
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("storedAfter");
    QTest::addColumn<QString>("applied");
    QTest::addColumn<int>("loginAfter");

    QTest::newRow("only login switched on") << "control-option/K" << "none" << "accept"
        << QByteArray(R"({"letter":"K","combo":"control-option","login":1})") << "Preferences saved."
        << "control-option/K" << "" << 1;
    QTest::newRow("only login switched off") << "control-option/K" << "enabled" << "accept"
        << QByteArray(R"({"letter":"K","combo":"control-option","login":0})") << "Preferences saved."
        << "control-option/K" << "" << 0;
    QTest::newRow("defaults saved as they are") << "" << "none" << "refuse"
        << QByteArray(R"({"letter":"P","combo":"double-option","login":0})") << "Preferences saved."
        << "double-option/P" << "" << 0;
    QTest::newRow("lower-case letter changes nothing") << "control-option/K" << "enabled" << "accept"
        << QByteArray(R"({"letter":"p","combo":"command-shift","login":0})") << "Choose a valid shortcut."
        << "control-option/K" << "" << 1;
    QTest::newRow("unknown combination") << "" << "none" << "accept"
        << QByteArray(R"({"letter":"P","combo":"option-shift","login":1})") << "Choose a valid shortcut."
        << "double-option/P" << "" << 0;
    QTest::newRow("non-string letter") << "" << "none" << "accept"
        << QByteArray(R"({"letter":["P"],"combo":"control-option","login":1})") << "Choose a valid shortcut."
        << "double-option/P" << "" << 0;
    QTest::newRow("to the double tap") << "control-option/K" << "none" << "accept"
        << QByteArray(R"({"letter":"K","combo":"double-option","login":0})") << "Preferences saved."
        << "double-option/K" << "double-option/K" << 0;
    QTest::newRow("new letter") << "command-shift/P" << "none" << "accept"
        << QByteArray(R"({"letter":"Q","combo":"command-shift","login":1})") << "Preferences saved."
        << "command-shift/Q" << "command-shift/Q" << 1;
    QTest::newRow("refused shortcut keeps everything") << "control-option/K" << "none" << "refuse"
        << QByteArray(R"({"letter":"Q","combo":"control-shift","login":1})") << unavailable
        << "control-option/K" << "control-shift/Q" << 0;
    QTest::newRow("refused shortcut keeps login on") << "control-option/K" << "enabled" << "refuse"
        << QByteArray(R"({"letter":"Q","combo":"control-shift","login":0})") << unavailable
        << "control-option/K" << "control-shift/Q" << 1;
    QTest::newRow("no application: stored for the next start") << "" << "none" << "absent"
        << QByteArray(R"({"letter":"M","combo":"control-shift","login":0})") << "Preferences saved."
        << "control-shift/M" << "" << 0;
    QTest::newRow("hidden entry counts as off") << "" << "hidden" << "accept"
        << QByteArray(R"({"letter":"P","combo":"double-option","login":1})") << "Preferences saved."
        << "double-option/P" << "" << 1;
    QTest::newRow("hidden entry left alone when off") << "" << "hidden" << "accept"
        << QByteArray(R"({"letter":"P","combo":"double-option","login":0})") << "Preferences saved."
        << "double-option/P" << "" << 0;
}

void PreferencesTest::save()
{
    QFETCH(QString, stored);
    QFETCH(QString, loginBefore);
    QFETCH(QString, applier);
    QFETCH(QByteArray, values);
    QFETCH(QString, message);
    QFETCH(QString, storedAfter);
    QFETCH(QString, applied);
    QFETCH(int, loginAfter);

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

void PreferencesTest::defaultsAndPage()
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

void PreferencesTest::autostartEntry_data()
{
    QTest::addColumn<QString>("executable");
    QTest::addColumn<QString>("exec");
    QTest::addColumn<QString>("blocker");  // what is in the way of the entry: none, folder, file
    QTest::addColumn<QString>("message");
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

void PreferencesTest::autostartEntry()
{
    QFETCH(QString, executable);
    QFETCH(QString, exec);
    QFETCH(QString, blocker);
    QFETCH(QString, message);
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

void PreferencesTest::unwritableSettingsRollBack()
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

QTEST_GUILESS_MAIN(PreferencesTest)
#include "tst_preferences.moc"
