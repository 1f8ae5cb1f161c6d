#include "VintrelleTestSupport.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleScriptedServer.h"

#include <QNetworkInterface>

using S = VintrelleScriptedServer;
Q_DECLARE_METATYPE(S::Response)
Q_DECLARE_METATYPE(std::optional<QJsonObject>)

namespace {

const QString localOnly = "The Ableton connection must use a local address. Reinstall the connection in Settings.";
const QString timedOut = "Ableton timed out. Check the selected track before retrying; a requested plug-in may already have loaded.";
const QString unavailable = "Ableton is unavailable. Open Ableton and check Connection in Settings.";
const QString keyMismatch = "The connection key does not match. Reinstall the connection in Settings, then restart Ableton.";
const QString incomplete = "Ableton could not complete the request.";

std::shared_ptr<VintrelleAnswer> send(VintrelleNativeConnection &connection, const QString &path, const std::optional<QJsonObject> &body = std::nullopt)
{
    return recordAnswer([&](VintrelleReply reply) { connection.request(path, body, 5, reply); }, true);
}

// The check's callbacks in order, each with its result and `connected()` as it was seen then.
QStringList runCheck(VintrelleNativeConnection &connection)
{
    QStringList events;
    const auto record = [&](const char *what) { return [&, what](bool connected) { events << QStringLiteral("%1:%2:%3").arg(what).arg(connected).arg(connection.connected()); }; };
    connection.statusChanged = record("status");
    connection.check(record("completion"));
    (void)QTest::qWaitFor([&] { return events.size() == 2; }, 15000);
    connection.statusChanged = nullptr;
    return events;
}

QStringList checkEvents(bool connected) { return {QStringLiteral("status:%1:%1").arg(connected), QStringLiteral("completion:%1:%1").arg(connected)}; }

} // namespace

class TestNativeConnection : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

private slots:
    void init()
    {
        m_home.apply();
        QFile::remove(m_home.path("bridge-config.json")); // the only candidate, missing unless a test writes it
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(m_home.path("bridge-config.json")));
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
        const QJsonArray items = send(connection, "/v1/browser/search?query=reverb")->result.value_or(QJsonObject())["items"].toArray();
        QCOMPARE(items.size(), 1);
        const QString uri = items[0]["uri"].toString();
        QCOMPARE(send(connection, "/v1/load", QJsonObject{{"uri", uri}})->result.value_or(QJsonObject()).value("loaded"), QJsonValue(true));
        QCOMPARE(send(connection, "/v1/load", QJsonObject{{"uri", "query:AudioFx#Refuser"}})->error,
                 "Ableton could not load this item. Select a track that can hold it, then try again."); // the bridge's own sentence
        QCOMPARE(simulator.loadedURIs(), QStringList{uri});
        // A valid file replaces address and token.
        writeFile(m_home.path("bridge-config.json"), QJsonDocument(QJsonObject{{"port", simulator.port()}, {"token", "not-the-token"}}).toJson());
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(m_home.path("bridge-config.json")));
        connection.refreshConfiguration();
        QCOMPARE(send(connection, "/v1/browser/search?query=reverb")->error, keyMismatch);
        QCOMPARE(runCheck(connection), checkEvents(false));
    }
    void answersAreMapped_data()
    {
        // bridgeURL: %1 is the server's port; body: sent as POST when present
        addColumns<QString, S::Response, std::optional<QJsonObject>, QJsonObject, QString>({"bridgeURL", "response", "body", "data", "error"});
        const QString server = "http://127.0.0.1:%1", none;
        const std::optional<QJsonObject> get, load = QJsonObject{{"uri", "query:A#b c/日本"}};
        const S::Response found = S::json(200, R"({"ok":true,"data":{"items":[]}})");
        QTest::newRow("ok") << server << found << get << QJsonObject{{"items", QJsonArray()}} << none;
        QTest::newRow("load ok") << server << S::json(200, R"({"ok":true,"data":{"loaded":true}})") << load << QJsonObject{{"loaded", true}} << none;
        QTest::newRow("500 though ok") << server << S::json(500, R"({"ok":true,"data":{"loaded":true}})") << load << QJsonObject() << incomplete;
        QTest::newRow("400 with message") << server << S::json(400, R"({"ok":false,"error":{"code":"x","message":"Too long."}})") << get << QJsonObject() << "Too long.";
        QTest::newRow("unauthorised with challenge") << server << S::json(401, R"({"ok":false,"error":{"code":"unauthorised"}})", "WWW-Authenticate: Bearer\r\n")
                                                     << load << QJsonObject() << keyMismatch;
        QTest::newRow("message not text") << server << S::json(404, R"({"ok":false,"error":{"message":42}})") << get << QJsonObject() << incomplete;
        QTest::newRow("not JSON") << server << S::json(200, "<html>ok</html>") << get << QJsonObject() << incomplete;
        QTest::newRow("redirect not followed") << server << S::json(307, "{}", "Location: /v1/health\r\n") << get << QJsonObject() << incomplete;
        // Qt sends a request again when the connection closes before any answer: never a load.
        QTest::newRow("load closed unanswered") << server << S::close() << load << QJsonObject() << unavailable;
        // Silence ends at the request's time-out; a trickle, each byte restarting it, at the whole-request limit.
        QTest::newRow("silent") << server << S::hang() << load << QJsonObject() << timedOut;
        QTest::newRow("trickling") << server << S::trickle() << load << QJsonObject() << timedOut;
        // Only loopback addresses are ever contacted.
        QStringList foreign{"https://127.0.0.1:%1", "http://0.0.0.0:%1", "http://127.0.0.1.nip.io:%1", "http://127.0.0.1@0.0.0.0:%1", ""};
        for (const QHostAddress &address : QNetworkInterface::allAddresses())
            if (!address.isLoopback() && address.protocol() == QAbstractSocket::IPv4Protocol) foreign << "http://" + address.toString() + ":%1";
        for (const QString &address : foreign) QTest::newRow(qPrintable("refused " + address)) << address << found << load << QJsonObject() << localOnly;
    }
    void answersAreMapped()
    {
        QFETCH(QString, bridgeURL); QFETCH(S::Response, response); QFETCH(std::optional<QJsonObject>, body); QFETCH(QJsonObject, data); QFETCH(QString, error);
        S server(QHostAddress::Any); // a request that reached any address of this machine would be seen here
        server.fallback = response; // also for a request sent again
        VintrelleNativeConnection connection;
        connection.setBridgeURL(QString(bridgeURL).replace("%1", QString::number(server.port())));
        connection.setToken("t0ken");
        connection.setResourceTimeout(3000);
        const QString path = body ? "/v1/load" : "/v1/browser/search?query=x";
        const auto answer = recordAnswer([&](VintrelleReply reply) { connection.request(path, body, 2, reply); });
        QCOMPARE(answer->calls, error == localOnly ? 1 : 0); // a refusal comes before request() returns
        QVERIFY(QTest::qWaitFor([&] { return answer->calls > 0; }, 15000));
        QCOMPARE(answer->result, error.isEmpty() ? std::optional(data) : std::nullopt);
        QCOMPARE(answer->error, error.isEmpty() ? std::nullopt : std::optional(error));
        QTest::qWait(100);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(server.requests.size(), error == localOnly ? 0 : 1);
        if (error == localOnly) { QCOMPARE(server.connections, 0); return; }
        const auto &request = server.requests.first();
        const auto headers = [&](const QByteArray &name) { return name + '=' + request.header(name).value_or("<none>") + ' '; };
        QCOMPARE(request.method + ' ' + request.target + ' ' + headers("Authorization") + headers("Cookie") + headers("Content-Type") + request.body,
                 (body ? "POST " : "GET ") + path.toUtf8() + " Authorization=Bearer t0ken Cookie=<none> Content-Type=" +
                     (body ? "application/json " + QJsonDocument(*body).toJson(QJsonDocument::Compact) : "<none> "));
    }
};

QTEST_GUILESS_MAIN(TestNativeConnection)
#include "tst_native_connection.moc"
