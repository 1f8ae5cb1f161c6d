#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleScriptedServer.h"

#include <QJsonArray>
#include <QNetworkInterface>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

Q_DECLARE_METATYPE(VintrelleScriptedServer::Response)

namespace {

const QString localOnly =
    "The Ableton connection must use a local address. Reinstall the connection in Settings.";
const QString timedOut =
    "Ableton timed out. Check the selected track before retrying; a requested plug-in may already have loaded.";
const QString unavailable = "Ableton is unavailable. Open Ableton and check Connection in Settings.";
const QString keyMismatch =
    "The connection key does not match. Reinstall the connection in Settings, then restart Ableton.";
const QString incomplete = "Ableton could not complete the request.";

const QByteArray catalogue = R"({"roots": {
  "audio_effects": {"name": "Audio Effects", "children": [
    {"name": "Reverb & Delay", "children": [{"name": "Hybrid Reverb"}, {"name": "Refuser", "refuse": true}]}]},
  "plugins": {"name": "Plug-Ins", "children": [{"name": "Tidepool Reverb"}]}}})";

struct Answer
{
    int calls = 0;
    std::optional<QJsonObject> data;
    std::optional<QString> error;
};

// Sends one request; `answer` fills in when the reply comes.
std::shared_ptr<Answer> send(VintrelleNativeConnection &connection, const QString &path,
                             const std::optional<QJsonObject> &body = std::nullopt, double timeout = 5)
{
    auto answer = std::make_shared<Answer>();
    connection.request(path, body, timeout, [answer](std::optional<QJsonObject> data, std::optional<QString> error) {
        ++answer->calls;
        answer->data = data;
        answer->error = error;
    });
    return answer;
}

std::shared_ptr<Answer> sendAndWait(VintrelleNativeConnection &connection, const QString &path,
                                    const std::optional<QJsonObject> &body = std::nullopt, double timeout = 5)
{
    auto answer = send(connection, path, body, timeout);
    (void)QTest::qWaitFor([&] { return answer->calls > 0; }, 15000); // callers check what arrived
    return answer;
}

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

} // namespace

class TestNativeConnection : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;

    // No candidate config.json exists, so refreshing keeps whatever a test set.
    void useNoConfiguration() { qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.filePath("missing.json").toUtf8()); }
    void useSimulatorConfiguration() { qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8()); }

    struct CheckRun
    {
        bool result = false;
        QStringList events; // "status:<bool>" and "completion:<bool>", with `connected` as seen then
    };

    static CheckRun runCheck(VintrelleNativeConnection &connection)
    {
        auto run = std::make_shared<CheckRun>();
        bool done = false;
        connection.statusChanged = [&connection, run](bool connected) {
            run->events << QStringLiteral("status:%1:%2").arg(connected).arg(connection.connected());
        };
        connection.check([&, run](bool connected) {
            run->events << QStringLiteral("completion:%1:%2").arg(connected).arg(connection.connected());
            run->result = connected;
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done; }, 15000); // callers check the events
        connection.statusChanged = nullptr;
        return *run;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        QDir().mkpath(m_home.filePath("simulator"));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.filePath("simulator"), catalogue);
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
    }

    void cleanupTestCase() { m_simulator.reset(); }

    // ---- Against the real bridge script

    void checkConnectsToTheBridge()
    {
        useSimulatorConfiguration();
        VintrelleNativeConnection connection;
        QCOMPARE(connection.connected(), false);
        const CheckRun run = runCheck(connection);
        QVERIFY(run.result);
        // State first, then the status callback, then the completion.
        QCOMPARE(run.events, QStringList({"status:1:1", "completion:1:1"}));
        QCOMPARE(connection.bridgeURL(), m_simulator->bridgeURL());
        QCOMPARE(connection.token(), m_simulator->token());
    }

    void searchAndLoadThroughTheBridge()
    {
        useSimulatorConfiguration();
        VintrelleNativeConnection connection;
        connection.refreshConfiguration();
        const auto search = sendAndWait(connection, "/v1/browser/search?query=reverb");
        QCOMPARE(search->error, std::nullopt);
        QStringList names;
        QString hybrid;
        for (const QJsonValue item : search->data->value("items").toArray()) {
            names << item["name"].toString();
            if (item["name"] == QJsonValue("Hybrid Reverb")) hybrid = item["uri"].toString();
        }
        names.sort();
        QCOMPARE(names, QStringList({"Hybrid Reverb", "Tidepool Reverb"}));

        const auto load = sendAndWait(connection, "/v1/load", QJsonObject{{"uri", hybrid}});
        QCOMPARE(load->error, std::nullopt);
        QCOMPARE(load->data->value("loaded"), QJsonValue(true));
        QCOMPARE(m_simulator->loadedURIs(), QStringList{hybrid});
        QCOMPARE(load->calls, 1);
    }

    void bridgeRefusalsAreShownAsWritten_data()
    {
        QTest::addColumn<QString>("uri");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown uri") << "query:Nowhere#Nothing"
                                     << "Ableton's browser no longer has this plug-in. Check that it is still "
                                        "installed, then find it again in Search.";
        QTest::newRow("Live refuses") << "query:AudioFx#Reverb%20%26%20Delay:Refuser"
                                      << "Ableton could not load this item. Select a track that can hold it, then try again.";
    }

    void bridgeRefusalsAreShownAsWritten()
    {
        QFETCH(QString, uri);
        QFETCH(QString, message);
        useSimulatorConfiguration();
        VintrelleNativeConnection connection;
        connection.refreshConfiguration();
        const qsizetype loadsBefore = m_simulator->loadedURIs().size();
        const auto load = sendAndWait(connection, "/v1/load", QJsonObject{{"uri", uri}});
        QCOMPARE(load->data, std::nullopt);
        QCOMPARE(load->error, message);
        QCOMPARE(m_simulator->loadedURIs().size(), loadsBefore);
    }

    void wrongTokenIsAKeyMismatch()
    {
        // A config.json naming the simulator's port with another token.
        const QString wrong = m_home.filePath("wrong-token.json");
        QFile file(wrong);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QJsonDocument(QJsonObject{{"port", m_simulator->port()}, {"token", "not-the-token"}}).toJson());
        file.close();
        qputenv("VINTRELLE_BRIDGE_CONFIG", wrong.toUtf8());

        VintrelleNativeConnection connection;
        connection.refreshConfiguration();
        QCOMPARE(connection.token(), "not-the-token");
        const auto search = sendAndWait(connection, "/v1/browser/search?query=reverb");
        QCOMPARE(search->error, keyMismatch);
        QCOMPARE(runCheck(connection).result, false);
        QCOMPARE(connection.connected(), false);
    }

    // ---- Against a scripted server

    void answersAreMapped_data()
    {
        using S = VintrelleScriptedServer;
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<QJsonObject>("data");
        QTest::addColumn<QString>("error");
        const QString none;
        QTest::newRow("ok") << S::json(200, R"({"ok":true,"data":{"items":[]}})") << object(R"({"items":[]})") << none;
        QTest::newRow("ok without data") << S::json(200, R"({"ok":true})") << QJsonObject() << none;
        QTest::newRow("data not an object") << S::json(200, R"({"ok":true,"data":[1]})") << QJsonObject() << none;
        QTest::newRow("500 though ok") << S::json(500, R"({"ok":true,"data":{"loaded":true}})") << QJsonObject() << incomplete;
        QTest::newRow("500 with message") << S::json(500, R"({"ok":true,"error":{"message":"Bridge says no."}})")
                                          << QJsonObject() << "Bridge says no.";
        QTest::newRow("400 with message") << S::json(400, R"({"ok":false,"error":{"code":"invalid_request","message":"Too long."}})")
                                          << QJsonObject() << "Too long.";
        QTest::newRow("409 with message") << S::json(409, R"({"ok":false,"error":{"code":"x","message":"Busy."}})")
                                          << QJsonObject() << "Busy.";
        QTest::newRow("unauthorised 401") << S::json(401, R"({"ok":false,"error":{"code":"unauthorised","message":"Other words."}})")
                                          << QJsonObject() << keyMismatch;
        QTest::newRow("unauthorised 401 with challenge")
            << S::json(401, R"({"ok":false,"error":{"code":"unauthorised"}})", "WWW-Authenticate: Bearer\r\n")
            << QJsonObject() << keyMismatch;
        QTest::newRow("unauthorised 200") << S::json(200, R"({"ok":false,"error":{"code":"unauthorised","message":"M"}})")
                                          << QJsonObject() << keyMismatch;
        QTest::newRow("ok false, no error") << S::json(200, R"({"ok":false,"data":{}})") << QJsonObject() << incomplete;
        QTest::newRow("ok not a boolean") << S::json(200, R"({"ok":"true","data":{}})") << QJsonObject() << incomplete;
        QTest::newRow("message not text") << S::json(404, R"({"ok":false,"error":{"message":42}})") << QJsonObject() << incomplete;
        QTest::newRow("error not an object") << S::json(500, R"({"ok":false,"error":"text"})") << QJsonObject() << incomplete;
        QTest::newRow("not JSON") << S::json(200, "<html>ok</html>") << QJsonObject() << incomplete;
        QTest::newRow("JSON array") << S::json(200, R"([{"ok":true}])") << QJsonObject() << incomplete;
        QTest::newRow("empty body") << S::json(200, "") << QJsonObject() << incomplete;
        QTest::newRow("closed unanswered") << S::close() << QJsonObject() << unavailable;
    }

    void answersAreMapped()
    {
        QFETCH(VintrelleScriptedServer::Response, response);
        QFETCH(QJsonObject, data);
        QFETCH(QString, error);
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << response;
        // Qt sends a request again when the connection closed before any answer.
        if (response.kind == VintrelleScriptedServer::Response::Close) server.fallback = response;
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        connection.setToken("t0ken");
        const auto answer = sendAndWait(connection, "/v1/browser/search?query=x");
        QCOMPARE(answer->calls, 1);
        if (error.isEmpty()) {
            QCOMPARE(answer->error, std::nullopt);
            QCOMPARE(answer->data, data);
        } else {
            QCOMPARE(answer->data, std::nullopt);
            QCOMPARE(answer->error, error);
        }
        const auto &request = server.requests.first();
        QCOMPARE(request.method, "GET");
        QCOMPARE(request.target, "/v1/browser/search?query=x");
        QCOMPARE(request.header("Authorization"), "Bearer t0ken");
        QCOMPARE(request.body, QByteArray());
        QTest::qWait(50);
        QCOMPARE(answer->calls, 1);
    }

    void bodyIsPostedAsJson()
    {
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"loaded":true}})");
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        connection.setToken("t0ken");
        const auto answer = sendAndWait(connection, "/v1/load", QJsonObject{{"uri", "query:A#b c/日本"}});
        QCOMPARE(answer->data, object(R"({"loaded":true})"));
        const auto &request = server.requests.value(0);
        QCOMPARE(request.method, "POST");
        QCOMPARE(request.target, "/v1/load");
        QCOMPARE(request.header("Content-Type"), "application/json");
        QCOMPARE(request.header("Authorization"), "Bearer t0ken");
        const QJsonObject sent{{"uri", "query:A#b c/日本"}};
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), sent);
        QVERIFY(!request.body.contains('\n'));
        QCOMPARE(request.header("Cookie"), std::nullopt);
    }

    void emptyTokenSendsBareBearer()
    {
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true})");
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        QCOMPARE(connection.token(), QString());
        sendAndWait(connection, "/v1/health");
        QCOMPARE(server.requests.value(0).header("Authorization").value_or("<none>").trimmed(), "Bearer");
    }

    void redirectsAreNotFollowed()
    {
        useNoConfiguration();
        VintrelleScriptedServer elsewhere;
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(
            307, "{}", "Location: " + elsewhere.url().toUtf8() + "/v1/health\r\n");
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        connection.setToken("secret");
        const auto answer = sendAndWait(connection, "/v1/health");
        QCOMPARE(answer->error, incomplete);
        QTest::qWait(100);
        QCOMPARE(elsewhere.connections, 0);
    }

    void silentBridgeTimesOut()
    {
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::hang();
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        const auto answer = sendAndWait(connection, "/v1/load", QJsonObject{{"uri", "u"}}, 0.3);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, timedOut);
    }

    void tricklingBridgeTimesOutInAll()
    {
        // Every byte resets the per-request timer; the whole-request limit still ends it.
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::trickle();
        VintrelleNativeConnection connection;
        connection.setResourceTimeout(700);
        connection.setBridgeURL(server.url());
        const auto answer = sendAndWait(connection, "/v1/browser/search?query=x", std::nullopt, 0.3);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, timedOut);
    }

    void closedPortIsUnavailable()
    {
        useNoConfiguration();
        quint16 port;
        {
            QTcpServer closed;
            QVERIFY(closed.listen(QHostAddress::LocalHost));
            port = closed.serverPort();
        }
        VintrelleNativeConnection connection;
        connection.setBridgeURL(QStringLiteral("http://127.0.0.1:%1").arg(port));
        QCOMPARE(sendAndWait(connection, "/v1/health")->error, unavailable);
        QCOMPARE(runCheck(connection).result, false);
    }

    void onlyLocalAddressesAreUsed_data()
    {
        QTest::addColumn<QString>("bridgeURL"); // %1 is the server's port
        QTest::addColumn<QString>("path");
        QTest::newRow("https") << "https://127.0.0.1:%1" << "/v1/health";
        QTest::newRow("websocket scheme") << "ws://127.0.0.1:%1" << "/v1/health";
        QTest::newRow("any address") << "http://0.0.0.0:%1" << "/v1/health";
        QTest::newRow("other loopback address") << "http://127.0.0.2:%1" << "/v1/health";
        QTest::newRow("host name ending like loopback") << "http://127.0.0.1.nip.io:%1" << "/v1/health";
        QTest::newRow("user info") << "http://127.0.0.1@0.0.0.0:%1" << "/v1/health";
        QTest::newRow("path moves the host") << "http://127.0.0.1" << "@0.0.0.0:%1/v1/health";
        QTest::newRow("no scheme") << "127.0.0.1:%1" << "/v1/health";
        QTest::newRow("empty") << "" << "/v1/health";
        for (const QHostAddress &address : QNetworkInterface::allAddresses()) {
            if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
                QTest::newRow(qPrintable("this machine " + address.toString()))
                    << "http://" + address.toString() + ":%1" << "/v1/health";
        }
    }

    void onlyLocalAddressesAreUsed()
    {
        QFETCH(QString, bridgeURL);
        QFETCH(QString, path);
        useNoConfiguration();
        // Listening on every address: a request that got through would be seen here.
        VintrelleScriptedServer server(QHostAddress::Any);
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"configured":true}})");
        VintrelleNativeConnection connection;
        const QString port = QString::number(server.port());
        connection.setBridgeURL(QString(bridgeURL).replace("%1", port));
        connection.setToken("secret");

        const auto answer = send(connection, QString(path).replace("%1", port), QJsonObject{{"uri", "u"}});
        QCOMPARE(answer->calls, 1); // refused before request() returned
        QCOMPARE(answer->error, localOnly);
        const CheckRun run = runCheck(connection);
        QCOMPARE(run.result, false);
        QCOMPARE(run.events, QStringList({"status:0:0", "completion:0:0"}));
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);
    }

    void localHostNamesAreAccepted_data()
    {
        QTest::addColumn<QString>("host");
        QTest::newRow("127.0.0.1") << "127.0.0.1";
        QTest::newRow("localhost") << "localhost";
    }

    void localHostNamesAreAccepted()
    {
        QFETCH(QString, host);
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"v":1}})");
        VintrelleNativeConnection connection;
        connection.setBridgeURL(QStringLiteral("http://%1:%2").arg(host).arg(server.port()));
        const auto answer = sendAndWait(connection, "/v1/health");
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->data, object(R"({"v":1})"));
    }

    void checkSteps_data()
    {
        using S = VintrelleScriptedServer;
        QTest::addColumn<QString>("token");
        QTest::addColumn<QList<S::Response>>("script");
        QTest::addColumn<bool>("connected");
        QTest::addColumn<int>("requests");
        const S::Response healthy = S::json(200, R"({"ok":true,"data":{"configured":true}})");
        const S::Response accepted = S::json(400, R"({"ok":false,"error":{"code":"invalid_request","message":"Type."}})");
        QTest::newRow("accepted") << "t" << QList{healthy, accepted} << true << 2;
        QTest::newRow("not configured") << "t" << QList{S::json(200, R"({"ok":true,"data":{"configured":false}})"), accepted}
                                        << false << 1;
        QTest::newRow("configured missing") << "t" << QList{S::json(200, R"({"ok":true,"data":{}})"), accepted} << false << 1;
        QTest::newRow("configured as text") << "t" << QList{S::json(200, R"({"ok":true,"data":{"configured":"true"}})"), accepted}
                                            << false << 1;
        QTest::newRow("health failed") << "t" << QList{S::json(503, R"({"ok":false})"), accepted} << false << 1;
        QTest::newRow("empty token") << "" << QList{healthy, accepted} << false << 1;
        QTest::newRow("empty query accepted") << "t" << QList{healthy, S::json(200, R"({"ok":true,"data":{"items":[]}})")}
                                              << false << 2;
        QTest::newRow("token refused") << "t" << QList{healthy, S::json(401, R"({"ok":false,"error":{"code":"unauthorised"}})")}
                                       << false << 2;
        QTest::newRow("400 not JSON") << "t" << QList{healthy, S::json(400, "invalid_request")} << false << 2;
        QTest::newRow("400 other code") << "t" << QList{healthy, S::json(400, R"({"ok":false,"error":{"code":"bad"}})")}
                                        << false << 2;
        QTest::newRow("invalid_request with 422") << "t" << QList{healthy, S::json(422, R"({"ok":false,"error":{"code":"invalid_request"}})")}
                                                  << false << 2;
    }

    void checkSteps()
    {
        QFETCH(QString, token);
        QFETCH(QList<VintrelleScriptedServer::Response>, script);
        QFETCH(bool, connected);
        QFETCH(int, requests);
        useNoConfiguration();
        VintrelleScriptedServer server;
        server.script = script;
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        connection.setToken(token);
        const CheckRun run = runCheck(connection);
        QCOMPARE(run.result, connected);
        QCOMPARE(run.events, QStringList({QStringLiteral("status:%1:%1").arg(connected),
                                          QStringLiteral("completion:%1:%1").arg(connected)}));
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), requests);
        QCOMPARE(server.requests.value(0).target, "/v1/health");
        if (requests == 2) {
            const auto &second = server.requests.value(1);
            QCOMPARE(second.method, "GET");
            QCOMPARE(second.target, "/v1/browser/search?query=");
            QCOMPARE(second.header("Authorization"), "Bearer " + token.toUtf8());
        }
    }

    void checkFailureClearsConnected()
    {
        useNoConfiguration();
        VintrelleScriptedServer server;
        const auto healthy = VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"configured":true}})");
        server.script << healthy
                      << VintrelleScriptedServer::json(400, R"({"ok":false,"error":{"code":"invalid_request"}})")
                      << healthy << VintrelleScriptedServer::json(200, R"({"ok":true})");
        VintrelleNativeConnection connection;
        connection.setBridgeURL(server.url());
        connection.setToken("t");
        QVERIFY(runCheck(connection).result);
        QVERIFY(connection.connected());
        QVERIFY(!runCheck(connection).result);
        QVERIFY(!connection.connected());
    }

    void refreshKeepsSettingsWithoutAValidFile()
    {
        useNoConfiguration();
        VintrelleNativeConnection connection;
        QCOMPARE(connection.bridgeURL(), "http://127.0.0.1:45873");
        connection.setBridgeURL("http://localhost:1234");
        connection.setToken("from-library");
        const QString broken = m_home.filePath("broken.json");
        QFile file(broken);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(R"({"port": 0, "token": "x"})");
        file.close();
        qputenv("VINTRELLE_BRIDGE_CONFIG", broken.toUtf8());
        connection.refreshConfiguration();
        QCOMPARE(connection.bridgeURL(), "http://localhost:1234");
        QCOMPARE(connection.token(), "from-library");

        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(R"({"token": "fresh"})");
        file.close();
        connection.refreshConfiguration();
        QCOMPARE(connection.bridgeURL(), "http://127.0.0.1:45873");
        QCOMPARE(connection.token(), "fresh");
    }
};

QTEST_GUILESS_MAIN(TestNativeConnection)
#include "tst_native_connection.moc"
