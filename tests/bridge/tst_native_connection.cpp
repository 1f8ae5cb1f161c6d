#include "VintrelleTestSupport.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleScriptedServer.h"

#include <QJsonArray>
#include <QNetworkInterface>

#include <memory>

using S = VintrelleScriptedServer;
Q_DECLARE_METATYPE(S::Response)
Q_DECLARE_METATYPE(std::optional<QJsonObject>)

namespace {

const QString localOnly = "The Ableton connection must use a local address. Reinstall the connection in Settings.";
const QString timedOut =
    "Ableton timed out. Check the selected track before retrying; a requested plug-in may already have loaded.";
const QString unavailable = "Ableton is unavailable. Open Ableton and check Connection in Settings.";
const QString keyMismatch = "The connection key does not match. Reinstall the connection in Settings, then restart Ableton.";
const QString incomplete = "Ableton could not complete the request.";

std::shared_ptr<VintrelleAnswer> send(VintrelleNativeConnection &connection, const QString &path,
                                      const std::optional<QJsonObject> &body = std::nullopt, double timeout = 5, bool wait = true)
{
    return recordAnswer([&](VintrelleReply reply) { connection.request(path, body, timeout, reply); }, wait);
}

// The check's result and its callbacks in order, each with `connected` as it was seen then.
QStringList runCheck(VintrelleNativeConnection &connection)
{
    QStringList events;
    bool done = false;
    connection.statusChanged = [&](bool connected) { events << QStringLiteral("status:%1:%2").arg(connected).arg(connection.connected()); };
    connection.check([&](bool connected) {
        events << QStringLiteral("completion:%1:%2").arg(connected).arg(connection.connected());
        done = true;
    });
    (void)QTest::qWaitFor([&] { return done; }, 15000);
    connection.statusChanged = nullptr;
    return events;
}

QStringList checkEvents(bool connected)
{
    return {QStringLiteral("status:%1:%1").arg(connected), QStringLiteral("completion:%1:%1").arg(connected)};
}

QJsonObject object(const QByteArray &json) { return QJsonDocument::fromJson(json).object(); }

} // namespace

class TestNativeConnection : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

    // The only candidate config.json: missing unless a test writes it.
    QString configPath() const { return m_home.path("bridge-config.json"); }

    std::unique_ptr<VintrelleNativeConnection> connectionTo(const S &server, const QString &token = "t0ken")
    {
        auto connection = std::make_unique<VintrelleNativeConnection>();
        connection->setBridgeURL(server.url());
        connection->setToken(token);
        return connection;
    }

private slots:
    void init()
    {
        m_home.apply();
        QFile::remove(configPath());
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(configPath()));
    }
    void searchCheckAndLoadThroughTheRealBridge()
    {
        const QByteArray catalogue = R"({"roots": {"audio_effects": {"name": "Audio Effects", "children": [
            {"name": "Hybrid Reverb"}, {"name": "Refuser", "refuse": true}]}}})";
        QVERIFY(QDir().mkpath(m_home.path("simulator")));
        VintrelleBridgeSimulator simulator(m_home.path("simulator"), catalogue);
        QVERIFY2(simulator.ready(), "the bridge simulator did not start");
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(simulator.configPath()));

        VintrelleNativeConnection connection;
        QCOMPARE(runCheck(connection), checkEvents(true));
        QCOMPARE(connection.token(), simulator.token());
        const auto search = send(connection, "/v1/browser/search?query=reverb");
        const QJsonArray items = search->result.value_or(QJsonObject())["items"].toArray();
        QCOMPARE(items.size(), 1);
        const QString uri = items[0]["uri"].toString();
        const auto load = send(connection, "/v1/load", QJsonObject{{"uri", uri}});
        QCOMPARE(load->result.value_or(QJsonObject()).value("loaded"), QJsonValue(true));
        QCOMPARE(simulator.loadedURIs(), QStringList{uri});

        // The bridge's own sentences reach the user as written, and nothing is loaded.
        QCOMPARE(send(connection, "/v1/load", QJsonObject{{"uri", "query:Nowhere#Nothing"}})->error,
                 "Ableton's browser no longer has this plug-in. Check that it is still installed, then find it again in Search.");
        QCOMPARE(send(connection, "/v1/load", QJsonObject{{"uri", "query:AudioFx#Refuser"}})->error,
                 "Ableton could not load this item. Select a track that can hold it, then try again.");
        QCOMPARE(simulator.loadedURIs(), QStringList{uri});

        // A file that is not valid changes nothing; a valid one replaces address and token.
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(configPath()));
        writeFile(configPath(), R"({"port": 0, "token": "x"})");
        connection.refreshConfiguration();
        QCOMPARE(connection.bridgeURL() + ' ' + connection.token(), simulator.bridgeURL() + ' ' + simulator.token());
        writeFile(configPath(), QJsonDocument(QJsonObject{{"port", simulator.port()}, {"token", "not-the-token"}}).toJson());
        connection.refreshConfiguration();
        QCOMPARE(send(connection, "/v1/browser/search?query=reverb")->error, keyMismatch);
        QCOMPARE(runCheck(connection), checkEvents(false));
    }
    void answersAreMapped_data()
    {
        // body: sent as POST when present
        addColumns<S::Response, std::optional<QJsonObject>, QJsonObject, QString>({"response", "body", "data", "error"});
        const QString none;
        const std::optional<QJsonObject> get, load = QJsonObject{{"uri", "query:A#b c/日本"}};
        QTest::newRow("ok") << S::json(200, R"({"ok":true,"data":{"items":[]}})") << get << object(R"({"items":[]})") << none;
        QTest::newRow("load ok") << S::json(200, R"({"ok":true,"data":{"loaded":true}})") << load << object(R"({"loaded":true})") << none;
        QTest::newRow("data not an object") << S::json(200, R"({"ok":true,"data":[1]})") << get << QJsonObject() << none;
        QTest::newRow("500 though ok") << S::json(500, R"({"ok":true,"data":{"loaded":true}})") << load << QJsonObject() << incomplete;
        QTest::newRow("400 with message") << S::json(400, R"({"ok":false,"error":{"code":"x","message":"Too long."}})") << get << QJsonObject() << "Too long.";
        QTest::newRow("unauthorised with challenge") << S::json(401, R"({"ok":false,"error":{"code":"unauthorised"}})", "WWW-Authenticate: Bearer\r\n")
                                                     << load << QJsonObject() << keyMismatch;
        QTest::newRow("unauthorised 200") << S::json(200, R"({"ok":false,"error":{"code":"unauthorised"}})") << get << QJsonObject() << keyMismatch;
        QTest::newRow("ok not a boolean") << S::json(200, R"({"ok":"true","data":{}})") << get << QJsonObject() << incomplete;
        QTest::newRow("message not text") << S::json(404, R"({"ok":false,"error":{"message":42}})") << get << QJsonObject() << incomplete;
        QTest::newRow("not JSON") << S::json(200, "<html>ok</html>") << get << QJsonObject() << incomplete;
        QTest::newRow("JSON array") << S::json(200, R"([{"ok":true}])") << get << QJsonObject() << incomplete;
        QTest::newRow("redirect not followed") << S::json(307, "{}", "Location: /v1/health\r\n") << get << QJsonObject() << incomplete;
        // Qt sends a request again when the connection closes before any answer: never a load.
        QTest::newRow("load closed unanswered") << S::close() << load << QJsonObject() << unavailable;
        // Silence ends at the request's time-out; a trickle, each byte restarting it, at the whole-request limit.
        QTest::newRow("silent") << S::hang() << load << QJsonObject() << timedOut;
        QTest::newRow("trickling") << S::trickle() << load << QJsonObject() << timedOut;
    }
    void answersAreMapped()
    {
        QFETCH(S::Response, response); QFETCH(std::optional<QJsonObject>, body); QFETCH(QJsonObject, data); QFETCH(QString, error);
        S server;
        server.fallback = response; // also for a request sent again
        const auto connection = connectionTo(server);
        connection->setResourceTimeout(3000);
        const QString path = body ? "/v1/load" : "/v1/browser/search?query=x";
        const auto answer = send(*connection, path, body, 2);
        QCOMPARE(answer->result, error.isEmpty() ? std::optional(data) : std::nullopt);
        QCOMPARE(answer->error, error.isEmpty() ? std::nullopt : std::optional(error));
        QTest::qWait(100);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(server.requests.size(), 1);
        const auto &request = server.requests.first();
        const auto headers = [&](const QByteArray &name) { return name + '=' + request.header(name).value_or("<none>") + ' '; };
        QCOMPARE(request.method + ' ' + request.target + ' ' + headers("Authorization") + headers("Cookie") + headers("Content-Type") + request.body,
                 (body ? "POST " : "GET ") + path.toUtf8() + " Authorization=Bearer t0ken Cookie=<none> Content-Type=" +
                     (body ? "application/json " + QJsonDocument(*body).toJson(QJsonDocument::Compact) : "<none> "));
    }

    // Only loopback addresses are ever contacted; a closed port is unavailable.
    void addresses_data()
    {
        addColumns<QString, QString, QString>({"bridgeURL", "path", "error"}); // %1: the server's port, %2: a closed one
        const QString health = "/v1/health";
        QTest::newRow("127.0.0.1") << "http://127.0.0.1:%1" << health << QString();
        QTest::newRow("localhost") << "http://localhost:%1" << health << QString();
        QTest::newRow("closed port") << "http://127.0.0.1:%2" << health << unavailable;
        QTest::newRow("https") << "https://127.0.0.1:%1" << health << localOnly;
        QTest::newRow("any address") << "http://0.0.0.0:%1" << health << localOnly;
        QTest::newRow("name ending like loopback") << "http://127.0.0.1.nip.io:%1" << health << localOnly;
        QTest::newRow("user info") << "http://127.0.0.1@0.0.0.0:%1" << health << localOnly;
        QTest::newRow("path moves the host") << "http://127.0.0.1" << "@0.0.0.0:%1/v1/health" << localOnly;
        QTest::newRow("no scheme") << "127.0.0.1:%1" << health << localOnly;
        QTest::newRow("empty") << "" << health << localOnly;
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol)
                QTest::newRow(qPrintable("this machine " + address.toString())) << "http://" + address.toString() + ":%1" << health << localOnly;
    }
    void addresses()
    {
        QFETCH(QString, bridgeURL); QFETCH(QString, path); QFETCH(QString, error);
        // Listening on every address: a request that got through would be seen here.
        S server(QHostAddress::Any);
        server.script << S::json(200, R"({"ok":true,"data":{"configured":true}})");
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost));
        const QString closedPort = QString::number(closed.serverPort()), port = QString::number(server.port());
        closed.close();
        VintrelleNativeConnection connection;
        connection.setBridgeURL(QString(bridgeURL).replace("%1", port).replace("%2", closedPort));
        connection.setToken("secret");
        const auto answer = send(connection, QString(path).replace("%1", port), QJsonObject{{"uri", "u"}}, 5, false);
        if (error == localOnly) QCOMPARE(answer->calls, 1); // refused before request() returned
        QVERIFY(QTest::qWaitFor([&] { return answer->calls == 1; }, 10000));
        QCOMPARE(answer->error.value_or(QString()), error);
        if (error.isEmpty()) return;
        QCOMPARE(runCheck(connection), checkEvents(false));
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);
    }
    void checkSteps_data()
    {
        addColumns<QString, QList<S::Response>, bool, int>({"token", "script", "connected", "requests"});
        const S::Response healthy = S::json(200, R"({"ok":true,"data":{"configured":true}})");
        const S::Response accepted = S::json(400, R"({"ok":false,"error":{"code":"invalid_request","message":"Type."}})");
        const auto health = [](const QByteArray &data) { return S::json(200, R"({"ok":true,"data":)" + data + "}"); };
        QTest::newRow("accepted") << "t" << QList{healthy, accepted} << true << 2;
        QTest::newRow("not configured") << "t" << QList{health(R"({"configured":false})"), accepted} << false << 1;
        QTest::newRow("configured as text") << "t" << QList{health(R"({"configured":"true"})"), accepted} << false << 1;
        QTest::newRow("health failed") << "t" << QList{S::json(503, R"({"ok":false})"), accepted} << false << 1;
        QTest::newRow("empty token") << "" << QList{healthy, accepted} << false << 1;
        QTest::newRow("empty query accepted") << "t" << QList{healthy, health(R"({"items":[]})")} << false << 2;
        QTest::newRow("token refused") << "t" << QList{healthy, S::json(401, R"({"ok":false,"error":{"code":"unauthorised"}})")} << false << 2;
        QTest::newRow("400 other code") << "t" << QList{healthy, S::json(400, R"({"ok":false,"error":{"code":"bad"}})")} << false << 2;
        QTest::newRow("invalid_request with 422") << "t" << QList{healthy, S::json(422, R"({"ok":false,"error":{"code":"invalid_request"}})")} << false << 2;
    }

    // Each check starts from a connected client, so a failed one must clear it.
    void checkSteps()
    {
        QFETCH(QString, token); QFETCH(QList<S::Response>, script); QFETCH(bool, connected); QFETCH(int, requests);
        S server;
        server.script = QList{S::json(200, R"({"ok":true,"data":{"configured":true}})"), S::json(400, R"({"ok":false,"error":{"code":"invalid_request"}})")} + script;
        const auto connection = connectionTo(server);
        QCOMPARE(runCheck(*connection), checkEvents(true));
        connection->setToken(token);
        QCOMPARE(runCheck(*connection), checkEvents(connected));
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), 2 + requests);
        QCOMPARE(server.requests.value(2).target, "/v1/health");
        QCOMPARE(server.requests.value(2).header("Authorization").value_or("<none>").trimmed(), ("Bearer " + token.toUtf8()).trimmed());
        if (requests == 2)
            QCOMPARE(server.requests[3].method + ' ' + server.requests[3].target + ' ' + server.requests[3].header("Authorization").value_or("<none>"), "GET /v1/browser/search?query= Bearer " + token.toUtf8());
    }
};

QTEST_GUILESS_MAIN(TestNativeConnection)
#include "tst_native_connection.moc"
