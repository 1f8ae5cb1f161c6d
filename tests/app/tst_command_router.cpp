#include "VintrelleCommandRouter.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePageEvaluator.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QSettings>
#include <QUuid>

using S = VintrelleScriptedServer;

namespace {

const QString unavailable = "That shortcut is unavailable. Choose another; your previous shortcut is unchanged.";
const QString saved = "Preferences saved.";
const QString busy = "A plug-in is already loading. Check Ableton before trying again.";
const QString timedOut = "Action timed out. Check Ableton before retrying a load.";

// Stands in for the palette page: records each script and completes it on the next turn.
struct RecordingPage : VintrellePageEvaluator
{
    QStringList scripts;
    std::optional<QString> failure;
    void evaluate(const QString &script, Completion completion) override
    {
        scripts << script;
        QTimer::singleShot(0, [completion, failure = failure] { completion(failure); });
    }
    // The [command, requestID] that the script of a forwarded command carries.
    QJsonArray arguments(qsizetype index) const
    {
        static const QRegularExpression forwarded(R"(^\(\(\)=>\{const \[command,requestID\]=(.*?);Promise\.resolve\(\))");
        return QJsonDocument::fromJson(forwarded.match(scripts.value(index)).captured(1).toUtf8()).array();
    }
};
} // namespace

// The router and its preferences against a real store, files and scripted loopback servers (answer mapping is the connection's test).
class TestCommandRouter : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    std::unique_ptr<S> m_bridge; // what config.json names
    QStringList m_applied;
    int m_retitled = 0;
    std::shared_ptr<VintrelleAnswer> send(const QJsonObject &command, bool wait = false) { return recordAnswer([&](VintrelleReply reply) { m_router->executeNativeCommand(command, reply); }, wait); }
    QString autostart() const { return m_home.config() + "/autostart/vintrelle.desktop"; }
    // The result of a command that must succeed.
    QJsonObject result(const QJsonObject &command)
    {
        const auto answer = send(command);
        [&] { QCOMPARE(answer->calls, 1); QVERIFY2(!answer->error, qPrintable(answer->error.value_or(""))); }();
        return answer->result.value_or(QJsonObject{{"missing", true}});
    }

private slots:
    void initTestCase()
    {
        m_home.apply();
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.path("bridge-config.json").toUtf8());
    }
    void init()
    {
        QSettings("Vintrelle", "Vintrelle").clear();
        QDir(m_home.config()).removeRecursively();
        m_bridge = std::make_unique<S>();
        writeFile(m_home.path("bridge-config.json"), compact({{"port", m_bridge->port()}, {"token", "router-token"}}));
        writeFile(m_home.libraryPath(), compact(stateWith({categoryObject("C1", "Synths", QJsonValue::Null, {entryObject("E1", "Pad", "query:VST3#Pad Machine")})})));
        m_store = std::make_unique<VintrelleNativeStore>(m_home.libraryPath());
        QVERIFY(m_store->read(nullptr));
        m_connection = std::make_unique<VintrelleNativeConnection>();
        m_router = std::make_unique<VintrelleCommandRouter>(m_connection.get());
        m_router->setStore(m_store.get());
        m_router->chooseUserLibrary = [] { return std::optional<QString>(); };
        m_router->preferences().executable = "/opt/a\"$b\\c%d/v";
        m_router->preferences().shortcutChanged = [this] { ++m_retitled; };
        m_applied.clear(), m_retitled = 0;
    }
    // Connection checks are results, never errors; a query is trimmed and escaped so that it cannot split the URL's; the rest goes to the store.
    void routes()
    {
        S &server = *m_bridge;
        server.script << S::json(200, R"({"ok":true,"data":{"configured":true}})") << S::json(400, R"({"ok":false,"error":{"code":"invalid_request"}})")
                      << S::json(200, R"({"ok":true,"data":{"items":[]}})");
        QCOMPARE(send({{"op", "connection"}}, true)->result, QJsonObject({{"connected", true}}));
        QCOMPARE(send({{"op", "search"}, {"query", " \n\t\r "}}, true)->error, "Enter a plug-in name.");
        QCOMPARE(send({{"op", "search"}, {"query", " a&b C++ x=y what? #1 100%  two \n"}}, true)->result, QJsonObject({{"items", QJsonArray()}}));
        QCOMPARE(server.requests.size(), 3);
        QCOMPARE(server.requests[2].method + ' ' + server.requests[2].target + ' ' + server.requests[2].header("Authorization").value_or(""),
                 "GET /v1/browser/search?query=a%26b%20C%2B%2B%20x%3Dy%20what%3F%20%231%20100%25%20%20two Bearer router-token");
        const auto failed = send({{"op", "connection"}}, true); // 500 from here on
        QVERIFY(!failed->error && failed->result == QJsonObject({{"connected", false}}));
        QCOMPARE(send({{"op", "addCategory"}, {"name", "Routed"}})->result, QJsonObject());
        QCOMPARE(m_store->state()->value("categories").toArray().last()["name"], QJsonValue("Routed"));
        QCOMPARE(send({{"op", "frobnicate"}})->error, "Unknown library action.");
    }
    // Unknown entries are refused before anything is sent; one load at a time (the guard comes first); only a literal true confirms.
    void loads()
    {
        S &server = *m_bridge;
        server.script << S::hang() << S::json(200, R"({"ok":true,"data":{"loaded":true,"name":"Pad"}})") << S::json(200, R"({"ok":true,"data":{"loaded":"true"}})");
        for (const QJsonValue &id : {QJsonValue("C1"), QJsonValue(7)}) // a category's id, not text
            QCOMPARE(send(with({{"op", "load"}}, "id", id))->error, "Plug-in is no longer available.");
        QVERIFY(!m_connection->loading());
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);
        const auto first = send({{"op", "load"}, {"id", "E1"}});
        QVERIFY(m_connection->loading());
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(send({{"op", "load"}, {"id", "E1"}})->error, busy);
        QCOMPARE(send({{"op", "load"}, {"id", "gone"}})->error, busy);
        server.answerHeld(S::json(500, R"({"ok":false,"error":{"code":"load_failed","message":"Could not."}})"));
        QTRY_COMPARE(first->calls, 1);
        QCOMPARE(first->error, "Could not.");
        QVERIFY(!m_connection->loading());
        QCOMPARE(send({{"op", "load"}, {"id", "E1"}}, true)->result, QJsonObject({{"loaded", true}, {"name", "Pad"}}));
        QCOMPARE(send({{"op", "load"}, {"id", "E1"}}, true)->error,
                 "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.");
        QCOMPARE(server.requests.size(), 3);
        for (const auto &request : server.requests)
            QCOMPARE(request.method + ' ' + request.target + ' ' + request.header("Authorization").value_or("") + ' ' + request.body,
                     R"(POST /v1/load Bearer router-token {"uri":"query:VST3#Pad Machine"})");
        QCOMPARE(first->calls, 1);
    }
    // Until the library is ready every command but install goes to the page, answered once: by the page's answer for its own identifier, the time-out, or a failed script.
    void forwardedUntilTheLibraryIsReady()
    {
        VintrelleNativeStore preparing(m_home.path("not-yet/native-library.json"));
        m_router->setStore(&preparing);
        m_router->setForwardTimeout(300);
        RecordingPage page;
        m_router->setPage(&page);
        QCOMPARE(send({{"op", "install"}})->error, "Installation cancelled. Your files were not changed.");
        const QJsonObject undo{{"op", "undo"}, {"note", "</script>\"'\u2028"}};
        const auto result = send(undo), error = send({{"op", "export"}}), errorNotText = send({{"op", "search"}}), silent = send({{"op", "connection"}});
        QCOMPARE(page.arguments(0).at(0).toObject(), undo);
        QStringList ids;
        for (int index = 0; index < 4; ++index) ids << page.arguments(index).at(1).toString();
        QVERIFY(!QUuid::fromString(ids[0]).isNull() && ids[0] == ids[0].toUpper() && QSet<QString>(ids.begin(), ids.end()).size() == 4);
        m_router->nativeCommandResult({{"requestID", "unknown"}, {"result", QJsonObject{}}});
        m_router->nativeCommandResult({{"requestID", ids[0]}, {"result", QJsonObject{{"page", 1}}}});
        m_router->nativeCommandResult({{"requestID", ids[0]}, {"error", "late"}});
        m_router->nativeCommandResult({{"requestID", ids[1]}, {"error", "Page says no."}});
        m_router->nativeCommandResult({{"requestID", ids[2]}, {"error", 5}, {"result", QJsonObject{{"a", 1}}}});
        QCOMPARE(result->result, QJsonObject({{"page", 1}}));
        QCOMPARE(error->error, "Page says no.");
        QVERIFY(errorNotText->result == QJsonObject({{"a", 1}}) && !errorNotText->error);
        QTRY_COMPARE(silent->error, timedOut);
        m_router->nativeCommandResult({{"requestID", ids[3]}, {"result", QJsonObject{}}});
        QCOMPARE(silent->calls, 1);
        page.failure = "ReferenceError";
        const auto notRun = send(undo);
        QTRY_COMPARE(notRun->error, "Library is not ready. Try again.");
        m_router->setPage(nullptr);
        const auto noPage = send(undo);
        QTRY_COMPARE(noPage->error, timedOut);
        QTest::qWait(400);
        QCOMPARE(result->calls + error->calls + errorNotText->calls + silent->calls + notRun->calls + noPage->calls, 6);
        QCOMPARE(m_bridge->connections, 0);
        QVERIFY(!preparing.state());
    }
    // Shortcut and login together; the autostart entry's Exec line carries an awkward program path.
    void savePreferences_data()
    {
        // before, after, applied: "combo/letter"; values: "letter combo login"; setup: what is on disk, or the program's path
        addColumns<QString, QString, QString, QString, QString, QString, QString, int>({"before", "setup", "applier", "values", "message", "after", "applied", "login"});
        const auto row = [](const char *tag, const char *before, const char *setup, const char *applier, const char *values, const QString &message,
                            const char *after, const char *applied, int login) {
            QTest::newRow(tag) << QString(before) << QString(setup) << QString(applier) << QString(values) << message << QString(after) << QString(applied) << login;
        };
        const QString notChanged = "Shortcut saved. Login setting could not be changed: ";
        row("unchanged shortcut is not applied, login on", "control-option/K", "", "refuse", "K control-option 1", saved, "control-option/K", "", 1);
        row("invalid letter changes nothing", "control-option/K", "enabled", "accept", "p command-shift 0", "Choose a valid shortcut.", "control-option/K", "", 1);
        row("new letter, login off", "command-shift/P", "enabled", "accept", "Q command-shift 0", saved, "command-shift/Q", "command-shift/Q", 0);
        row("refused shortcut keeps everything", "control-option/K", "", "refuse", "Q control-shift 1", unavailable, "control-option/K", "control-shift/Q", 0);
        row("no application: stored for the next start", "", "", "absent", "M control-shift 0", saved, "control-shift/M", "", 0);
        row("hidden entry counts as off", "", "hidden", "accept", "P double-option 1", saved, "double-option/P", "", 1);
        row("hidden entry left alone when off", "", "hidden", "accept", "P double-option 0", saved, "double-option/P", "", 0);
        row("entry path is a folder", "", "folder", "accept", "J control-shift 1", notChanged + "Could not save {entry}: ", "control-shift/J", "control-shift/J", 0);
        row("autostart folder is a file", "", "file", "accept", "J control-shift 1", notChanged + "Could not create the folder {folder}.", "control-shift/J", "control-shift/J", 0);
        row("line break in the path", "", "line break", "accept", "J control-shift 1",
            notChanged + "The program's path contains a line break and cannot be started at login.", "control-shift/J", "control-shift/J", 0);
        row("settings file cannot be written: the shortcut applied is taken back", "", "settings blocked", "accept", "Q command-shift 1",
            "Could not save the shortcut setting. Your previous shortcut is unchanged.", "double-option/P", "command-shift/Q;double-option/P", 0);
    }
    void savePreferences()
    {
        QFETCH(QString, before); QFETCH(QString, setup); QFETCH(QString, applier); QFETCH(QString, values);
        QFETCH(QString, message); QFETCH(QString, after); QFETCH(QString, applied); QFETCH(int, login);
        if (!before.isEmpty()) QVERIFY(VintrelleStoreShortcut(before.section('/', 0, 0), before.section('/', 1, 1)));
        const QByteArray hiddenEntry = "[Desktop Entry]\nType=Application\nExec=elsewhere\nHidden=true\n";
        if (setup == "enabled" || setup == "hidden") writeFile(autostart(), setup == "hidden" ? hiddenEntry : "[Desktop Entry]\nExec=elsewhere\n");
        if (setup == "folder") QVERIFY(QDir().mkpath(autostart() + "/inside"));
        if (setup == "file") writeFile(m_home.config() + "/autostart", "not a folder");
        if (setup == "line break") m_router->preferences().executable = "/opt/a\nb/vintrelle";
        if (setup == "settings blocked") QVERIFY(QDir().mkpath(m_home.config() + "/Vintrelle/Vintrelle.conf/x")); // a folder where the file belongs
        if (applier != "absent")
            m_router->preferences().applyShortcut = [this, accept = applier == "accept"](const QString &combo, const QString &letter, VintrelleError *error) {
                m_applied << combo + '/' + letter;
                if (!accept) *error = unavailable;
                return accept;
            };
        RecordingPage page;
        m_router->setPage(&page);
        const QStringList parts = values.split(' ');
        const QJsonObject report = result({{"op", "savePreferences"}, {"letter", parts[0]}, {"combo", parts[1]}, {"login", parts[2].toInt()}});
        const QString expected = QString(message).replace("{entry}", autostart()).replace("{folder}", m_home.config() + "/autostart");
        QVERIFY2(report["message"] == expected || (expected.endsWith(": ") && report["message"].toString().startsWith(expected)), qPrintable(report["message"].toString()));
        QVERIFY(page.scripts.size() == 1 && page.scripts[0].startsWith("window.receivePreferences({") // the palette page hears it too
                && page.scripts[0].contains("\"message\":\"" + report["message"].toString() + '"'));
        QCOMPARE(report["combo"].toString() + '/' + report["letter"].toString() + ' ' + ShortcutCombo() + '/' + ShortcutLetter(), after + ' ' + after);
        QCOMPARE(report["login"], QJsonValue(login));
        QCOMPARE(m_applied.join(';'), applied);
        QCOMPARE(m_retitled, after != (before.isEmpty() ? "double-option/P" : before) ? 1 : 0);
        if (setup == "hidden" && !login)
            QCOMPARE(readFile(autostart()), hiddenEntry);
        else
            QCOMPARE(QFileInfo(autostart()).isFile(), bool(login));
        const QStringList lines = QString::fromUtf8(readFile(autostart())).split('\n');
        if (login && setup != "enabled") // written here
            QVERIFY2(lines.value(0) == "[Desktop Entry]" && lines.contains("Type=Application") && lines.contains("Exec=\"/opt/a\\\\\"\\\\$b\\\\\\\\c%%d/v\""), qPrintable(lines.join(" | ")));
        const QJsonObject again = result({{"op", "preferences"}}); // the report is what `preferences` says afterwards
        QCOMPARE(with(again, "message", report["message"]), report);
        QVERIFY(!again.contains("message"));
        m_router->setPage(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestCommandRouter)
#include "tst_command_router.moc"
