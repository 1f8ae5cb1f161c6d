#include "AppTestSupport.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleShortcut.h"

#include <QSettings>
#include <QUuid>

using S = VintrelleScriptedServer;

namespace {
const QString unavailable = "That shortcut is unavailable. Choose another; your previous shortcut is unchanged.";
const QString saved = "Preferences saved.";
const QString busy = "A plug-in is already loading. Check Ableton before trying again.";
}

// The router against a real store and scripted loopback servers, and the preferences it keeps
// (settings file, autostart entry, the shortcut applier). Answer mapping is the connection's test.
class TestCommandRouter : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    QString m_entryID;
    QStringList m_applied;
    int m_retitled = 0;

    std::shared_ptr<VintrelleAnswer> send(const QJsonObject &command, bool wait = false) { return sendCommand(*m_router, command, wait); }
    QString autostart() const { return m_home.config() + "/autostart/vintrelle.desktop"; }

    // The result of a command that must succeed.
    QJsonObject result(const QJsonObject &command)
    {
        const auto answer = send(command);
        [&] { QCOMPARE(answer->calls, 1); QVERIFY2(!answer->error, qPrintable(answer->error.value_or(""))); }();
        return answer->result.value_or(QJsonObject{{"missing", true}});
    }

    void configureBridge(quint16 port)
    {
        writeFile(m_home.path("bridge-config.json"), compact({{"port", port}, {"token", "router-token"}}));
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.path("bridge-config.json").toUtf8());
    }

    void applierAnswers(bool accept)
    {
        m_router->preferences().applyShortcut = [this, accept](const QString &combo, const QString &letter, VintrelleError *error) {
            m_applied << combo + '/' + letter;
            if (!accept) *error = unavailable;
            return accept;
        };
    }

private slots:
    void initTestCase() { m_home.apply(); }

    void init()
    {
        m_router.reset();
        QSettings("Vintrelle", "Vintrelle").clear();
        QDir(m_home.config() + "/autostart").removeRecursively();
        QFile::remove(m_home.config() + "/autostart");
        QFile::remove(m_home.libraryPath());
        m_store = std::make_unique<VintrelleNativeStore>(m_home.libraryPath());
        QVERIFY(m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        QVERIFY(m_store->perform({{"op", "addPlugin"}, {"categoryID", "starter-0"}, {"entry", QJsonObject{{"name", "Pad Machine"}, {"uri", "query:Plugins#VST3:Pad Machine"}}}}, nullptr));
        m_entryID = m_store->state()->value("categories")[0]["entries"][0]["id"].toString();
        m_connection = std::make_unique<VintrelleNativeConnection>();
        m_router = std::make_unique<VintrelleCommandRouter>(m_connection.get());
        m_router->setStore(m_store.get());
        m_router->chooseUserLibrary = [] { return std::optional<QString>(); };
        m_router->preferences().executable = "/opt/Vintrelle Test/vintrelle";
        m_router->preferences().shortcutChanged = [this] { ++m_retitled; };
        m_applied.clear();
        m_retitled = 0;
    }

    // A blank query sends nothing; the rest is trimmed and escaped so that it cannot split the URL's query.
    void searchQuery()
    {
        S server;
        server.fallback = S::json(200, R"({"ok":true,"data":{"items":[]}})");
        configureBridge(server.port());
        QCOMPARE(send({{"op", "search"}, {"query", " \n\t\r "}}, true)->error, "Enter a plug-in name.");
        QCOMPARE(send({{"op", "search"}, {"query", " a&b C++ x=y what? #1 100%  two \n"}}, true)->error, std::nullopt);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests[0].method + ' ' + server.requests[0].target + ' ' + server.requests[0].header("Authorization").value_or(""),
                 "GET /v1/browser/search?query=a%26b%20C%2B%2B%20x%3Dy%20what%3F%20%231%20100%25%20%20two Bearer router-token");
    }

    // Unknown entries are refused before anything is sent; one load at a time (the guard comes
    // first); only a literal true confirms a load.
    void loads()
    {
        S server;
        server.script << S::hang() << S::json(200, R"({"ok":true,"data":{"loaded":true,"name":"Pad"}})") << S::json(200, R"({"ok":true,"data":{"loaded":"true"}})");
        configureBridge(server.port());
        for (const QJsonValue &id : {QJsonValue("starter-0"), QJsonValue(7)}) // a category's id, not text
            QCOMPARE(send(with({{"op", "load"}}, "id", id))->error, "Plug-in is no longer available.");
        QVERIFY(!m_connection->loading());
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);

        const auto first = send({{"op", "load"}, {"id", m_entryID}});
        QVERIFY(m_connection->loading());
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(send({{"op", "load"}, {"id", m_entryID}})->error, busy);
        QCOMPARE(send({{"op", "load"}, {"id", "gone"}})->error, busy);
        server.answerHeld(S::json(500, R"({"ok":false,"error":{"code":"load_failed","message":"Could not."}})"));
        QTRY_COMPARE(first->calls, 1);
        QCOMPARE(first->error, "Could not.");
        QVERIFY(!m_connection->loading());
        QCOMPARE(send({{"op", "load"}, {"id", m_entryID}}, true)->result, QJsonObject({{"loaded", true}, {"name", "Pad"}}));
        QCOMPARE(send({{"op", "load"}, {"id", m_entryID}}, true)->error,
                 "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.");
        QCOMPARE(server.requests.size(), 3);
        for (const auto &request : server.requests)
            QCOMPARE(request.method + ' ' + request.target + ' ' + request.header("Authorization").value_or("") + ' ' + request.body,
                     R"(POST /v1/load Bearer router-token {"uri":"query:Plugins#VST3:Pad Machine"})");
        QCOMPARE(first->calls, 1);
    }

    void connectionIsAResultNeverAnError()
    {
        S server; // a healthy bridge, then 500 to everything
        server.script << S::json(200, R"({"ok":true,"data":{"configured":true}})") << S::json(400, R"({"ok":false,"error":{"code":"invalid_request"}})");
        configureBridge(server.port());
        QCOMPARE(send({{"op", "connection"}}, true)->result, QJsonObject({{"connected", true}}));
        const auto answer = send({{"op", "connection"}}, true);
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result, QJsonObject({{"connected", false}}));
        QCOMPARE(send({{"op", "addCategory"}, {"name", "Routed"}})->result, QJsonObject()); // the rest goes to the store
        QCOMPARE(m_store->state()->value("categories").toArray().last()["name"], QJsonValue("Routed"));
        QCOMPARE(send({{"op", "frobnicate"}})->error, "Unknown library action.");
    }

    void installWorksBeforeTheLibraryAndUsesTheNewTokenAtOnce()
    {
        RecordingPage page;
        m_router->setStore(nullptr); // still preparing: install is never forwarded
        m_router->setPage(&page);
        QCOMPARE(send({{"op", "install"}})->error, "Installation cancelled. Your files were not changed.");
        QVERIFY(page.scripts.isEmpty());
        const QString userLibrary = m_home.path("User Library");
        QVERIFY(QDir().mkpath(userLibrary));
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", userLibrary);
        m_connection->setBridgeURL("http://127.0.0.1:1");
        m_connection->setToken("before");
        QCOMPARE(result({{"op", "install"}}).value("ok"), QJsonValue(true));
        const QJsonDocument installed = QJsonDocument::fromJson(readFile(userLibrary + "/Remote Scripts/VintrelleBridge/config.json"));
        QCOMPARE(m_connection->token(), installed["token"].toString());
        QCOMPARE(m_connection->token().size(), 64);
        QCOMPARE(m_connection->bridgeURL(), "http://127.0.0.1:45873");
    }

    // Until the library is ready every command goes to the palette page and is answered once, by
    // the page's result with its request identifier (any shape), or by the time-out.
    void forwardedUntilTheLibraryIsReady_data()
    {
        addColumns<QJsonObject, QJsonObject, QJsonObject, QString>({"command", "message", "result", "error"}); // message: the page's answer
        QTest::newRow("connection") << QJsonObject{{"op", "connection"}} << QJsonObject{{"result", QJsonObject{{"page", 1}}}} << QJsonObject{{"page", 1}} << QString();
        QTest::newRow("store command, error") << QJsonObject{{"op", "undo"}, {"note", "</script>\"'\u2028"}} << QJsonObject{{"error", "Page says no."}} << QJsonObject{} << "Page says no.";
        QTest::newRow("error not text") << QJsonObject{{"op", "export"}} << QJsonObject{{"error", 5}, {"result", QJsonObject{{"a", 1}}}} << QJsonObject{{"a", 1}} << QString();
    }
    void forwardedUntilTheLibraryIsReady()
    {
        QFETCH(QJsonObject, command); QFETCH(QJsonObject, message); QFETCH(QJsonObject, result); QFETCH(QString, error);
        VintrelleNativeStore preparing(m_home.path("not-yet/native-library.json"));
        m_router->setStore(&preparing);
        RecordingPage page;
        m_router->setPage(&page);
        S server;
        configureBridge(server.port());
        const auto answer = send(command), other = send(command);
        QCOMPARE(answer->calls, 0);
        QCOMPARE(page.arguments(0).at(0).toObject(), command);
        const QString requestID = page.arguments(0).at(1).toString();
        QVERIFY(!QUuid::fromString(requestID).isNull() && requestID == requestID.toUpper());
        QVERIFY(page.arguments(1).at(1).toString() != requestID);
        m_router->nativeCommandResult({{"requestID", "unknown"}, {"result", QJsonObject{}}});
        m_router->nativeCommandResult(with(message, "requestID", requestID));
        m_router->nativeCommandResult({{"requestID", requestID}, {"error", "late"}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result.value_or(QJsonObject{{"none", true}}), result);
        QCOMPARE(answer->error.value_or(QString()), error);
        QCOMPARE(other->calls, 0);
        QCOMPARE(server.connections, 0);
        QVERIFY(!preparing.state());
    }

    void unansweredForwardTimesOutOnce_data()
    {
        const QString timedOut = "Action timed out. Check Ableton before retrying a load.";
        addColumns<bool, QString, QString>({"hasPage", "evaluationFailure", "error"});
        QTest::newRow("page stays silent") << true << QString() << timedOut;
        QTest::newRow("no page") << false << QString() << timedOut;
        QTest::newRow("evaluation failed") << true << "ReferenceError" << "Library is not ready. Try again.";
    }
    void unansweredForwardTimesOutOnce()
    {
        QFETCH(bool, hasPage); QFETCH(QString, evaluationFailure); QFETCH(QString, error);
        m_router->setStore(nullptr);
        m_router->setForwardTimeout(200);
        RecordingPage page;
        if (!evaluationFailure.isEmpty()) page.failure = evaluationFailure;
        m_router->setPage(hasPage ? &page : nullptr);
        const auto answer = send({{"op", "connection"}});
        QTest::qWait(50);
        QCOMPARE(answer->calls, evaluationFailure.isEmpty() ? 0 : 1); // a successful evaluation is no answer
        QTRY_COMPARE(answer->calls, 1);
        QCOMPARE(answer->error, error);
        if (hasPage) m_router->nativeCommandResult({{"requestID", page.arguments(0).at(1)}, {"result", QJsonObject{}}});
        QTest::qWait(300);
        QCOMPARE(answer->calls, 1);
    }

    void savePreferences_data()
    {
        // stored, storedAfter, applied: "combo/letter"; login: none, enabled or hidden; applier: accept, refuse, absent
        addColumns<QString, QString, QString, QByteArray, QString, QString, QString, int>(
            {"stored", "loginBefore", "applier", "values", "message", "storedAfter", "applied", "loginAfter"});
        const auto row = [](const char *tag, const char *stored, const char *login, const char *applier, const char *values,
                            const QString &message, const char *storedAfter, const char *applied, int loginAfter) {
            QTest::newRow(tag) << QString(stored) << QString(login) << QString(applier) << QByteArray(values) << message << QString(storedAfter) << QString(applied) << loginAfter;
        };
        row("unchanged shortcut is not applied, login on", "control-option/K", "none", "refuse", R"({"letter":"K","combo":"control-option","login":1})", saved, "control-option/K", "", 1);
        row("invalid letter changes nothing", "control-option/K", "enabled", "accept", R"({"letter":"p","combo":"command-shift","login":0})", "Choose a valid shortcut.", "control-option/K", "", 1);
        row("new letter", "command-shift/P", "none", "accept", R"({"letter":"Q","combo":"command-shift","login":1})", saved, "command-shift/Q", "command-shift/Q", 1);
        row("refused shortcut keeps everything", "control-option/K", "none", "refuse", R"({"letter":"Q","combo":"control-shift","login":1})", unavailable, "control-option/K", "control-shift/Q", 0);
        row("no application: stored for the next start", "", "none", "absent", R"({"letter":"M","combo":"control-shift","login":0})", saved, "control-shift/M", "", 0);
        row("hidden entry counts as off", "", "hidden", "accept", R"({"letter":"P","combo":"double-option","login":1})", saved, "double-option/P", "", 1);
        row("hidden entry left alone when off", "", "hidden", "accept", R"({"letter":"P","combo":"double-option","login":0})", saved, "double-option/P", "", 0);
    }
    void savePreferences()
    {
        QFETCH(QString, stored); QFETCH(QString, loginBefore); QFETCH(QString, applier); QFETCH(QByteArray, values);
        QFETCH(QString, message); QFETCH(QString, storedAfter); QFETCH(QString, applied); QFETCH(int, loginAfter);
        if (!stored.isEmpty()) QVERIFY(VintrelleStoreShortcut(stored.section('/', 0, 0), stored.section('/', 1, 1)));
        const QByteArray hiddenEntry = "[Desktop Entry]\nType=Application\nExec=elsewhere\nHidden=true\n";
        if (loginBefore != "none")
            writeFile(autostart(), loginBefore == "hidden" ? hiddenEntry : "[Desktop Entry]\nType=Application\nExec=elsewhere\n");
        if (applier != "absent") applierAnswers(applier == "accept");
        RecordingPage page;
        m_router->setPage(&page);

        const QJsonObject report = result(with(QJsonDocument::fromJson(values).object(), "op", "savePreferences"));
        QCOMPARE(report.value("message").toString(), message);
        QCOMPARE(page.scripts.size(), 1); // the palette page hears the outcome too
        QVERIFY(page.scripts[0].startsWith("window.receivePreferences({") && page.scripts[0].contains("\"message\":\"" + message + '"'));
        QCOMPARE(report.value("combo").toString() + '/' + report.value("letter").toString(), storedAfter);
        QCOMPARE(ShortcutCombo() + '/' + ShortcutLetter(), storedAfter);
        QCOMPARE(report.value("login"), QJsonValue(loginAfter));
        QCOMPARE(m_applied.join(';'), applied);
        QCOMPARE(m_retitled, storedAfter != (stored.isEmpty() ? "double-option/P" : stored) ? 1 : 0);
        if (loginBefore == "hidden" && !loginAfter)
            QCOMPARE(readFile(autostart()), hiddenEntry);
        else
            QCOMPARE(QFileInfo::exists(autostart()), bool(loginAfter));
        const QJsonObject again = result({{"op", "preferences"}}); // the report is what `preferences` says afterwards
        QCOMPARE(with(again, "message", message), report);
        QVERIFY(!again.contains("message"));
        m_router->setPage(nullptr);
    }

    void autostartEntry_data()
    {
        addColumns<QString, QString, QString, QString>({"executable", "exec", "blocker", "message"}); // blocker: none, folder, file
        const QString notChanged = "Shortcut saved. Login setting could not be changed: ";
        QTest::newRow("quote, dollar, backslash, percent") << "/opt/a\"$b\\c%d/v" << "Exec=\"/opt/a\\\\\"\\\\$b\\\\\\\\c%%d/v\"" << "none" << saved;
        QTest::newRow("entry path is a folder") << "/usr/bin/vintrelle" << "" << "folder" << notChanged + "Could not save {entry}: ";
        QTest::newRow("autostart folder is a file") << "/usr/bin/vintrelle" << "" << "file" << notChanged + "Could not create the folder {folder}.";
        QTest::newRow("line break in the path") << "/opt/a\nb/vintrelle" << "" << "none" << notChanged + "The program's path contains a line break and cannot be started at login.";
    }
    void autostartEntry()
    {
        QFETCH(QString, executable); QFETCH(QString, exec); QFETCH(QString, blocker); QFETCH(QString, message);
        if (blocker == "folder")
            QVERIFY(QDir().mkpath(autostart() + "/inside"));
        else if (blocker == "file")
            writeFile(m_home.config() + "/autostart", "not a folder");
        m_router->preferences().executable = executable;
        const QJsonObject report = result({{"op", "savePreferences"}, {"letter", "J"}, {"combo", "control-shift"}, {"login", 1}});
        const QString expected = QString(message).replace("{entry}", autostart()).replace("{folder}", m_home.config() + "/autostart");
        QVERIFY2(report.value("message").toString().startsWith(expected), qPrintable(report.value("message").toString()));
        QCOMPARE(ShortcutCombo() + '/' + ShortcutLetter(), QString("control-shift/J")); // stands whatever happened to login
        QCOMPARE(report.value("login"), QJsonValue(exec.isEmpty() ? 0 : 1));
        if (exec.isEmpty())
            return;
        const QStringList lines = QString::fromUtf8(readFile(autostart())).split('\n');
        QVERIFY2(lines.value(0) == "[Desktop Entry]" && lines.contains("Type=Application") && lines.contains(exec), qPrintable(lines.join(" | ")));
        QCOMPARE(QDir(m_home.config() + "/autostart").entryList(QDir::Files | QDir::Hidden), QStringList{"vintrelle.desktop"});
        QCOMPARE(result({{"op", "savePreferences"}, {"letter", "J"}, {"combo", "control-shift"}, {"login", 0}})["message"], QJsonValue(saved));
        QVERIFY(!QFileInfo::exists(autostart()));
    }

    // A folder where the settings file belongs: the new values cannot reach the disk.
    void unwritableSettingsRollBack()
    {
        applierAnswers(true);
        const QString settingsFile = m_home.config() + "/Vintrelle/Vintrelle.conf";
        QFile::remove(settingsFile);
        QVERIFY(QDir().mkpath(settingsFile + "/blocked"));
        const QJsonObject report = result({{"op", "savePreferences"}, {"letter", "Q"}, {"combo", "command-shift"}, {"login", 1}});
        QVERIFY(QDir(settingsFile).removeRecursively());
        QCOMPARE(report.value("message").toString(), QString("Could not save the shortcut setting. Your previous shortcut is unchanged."));
        QCOMPARE(m_applied, (QStringList{"command-shift/Q", "double-option/P"}));
        QCOMPARE(m_retitled, 0);
        QVERIFY(!QFileInfo::exists(autostart()));
    }
};

QTEST_GUILESS_MAIN(TestCommandRouter)
#include "tst_command_router.moc"
