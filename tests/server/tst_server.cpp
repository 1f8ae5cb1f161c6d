#include "VintrelleTestSupport.h"
#include "VintrelleHttpRequest.h"
#include "VintrelleServer.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTcpSocket>

#include <sys/socket.h>

namespace {

QByteArray get(quint16 port, const QByteArray &target)
{
    return exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
}

QByteArray response(int status, const QByteArray &type, const QByteArray &body, bool withBody = true)
{
    static const QMap<int, QByteArray> reasons{{200, "OK"}, {400, "Bad Request"}, {403, "Forbidden"}, {404, "Not Found"}, {405, "Method Not Allowed"},
                                               {431, "Request Header Fields Too Large"}, {503, "Service Unavailable"}};
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasons[status] + "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" + (withBody ? body : QByteArray());
}

QByteArray failed(int status, bool withBody = true, const QByteArray &type = "text/plain; charset=utf-8")
{
    return response(status, type, "Request failed (" + QByteArray::number(status) + ").", withBody);
}

const QByteArray html = "text/html; charset=utf-8", javascript = "text/javascript; charset=utf-8", json = "application/json; charset=utf-8";
const QByteArray indexPage = "<p>index</p>", indexAnswer = response(200, html, indexPage);

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

} // namespace

class ServerTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleServer> m_server;
    quint16 m_port = 0;

    QString standardFile() const { return m_home.home() + "/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json"; }

private slots:
    void initTestCase()
    {
        m_home.apply();
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(m_home.path("env/config.json")));
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        writeFile(m_home.path("launcher/index.html"), indexPage);
        writeFile(m_home.path("launcher/app.js"), "console.log('app');");
        m_server = std::make_unique<VintrelleServer>(m_home.path("launcher"));
        QCOMPARE(m_server->configPaths(), QStringList({m_home.path("env/config.json"), standardFile()}));
        QVERIFY(m_server->startOnPort(0));
        m_port = m_server->port();
    }
    // Whole answers to whole requests, each on a connection of its own; the fine points of what counts as our own origin.
    void answers_data()
    {
        addColumns<QByteArray, QByteArray>({"request", "expected"});
        const QByteArray host = "Host: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n", port = QByteArray::number(m_port);
        const auto request = [&](const QByteArray &line, const QByteArray &headers = {}) { return line + "\r\n" + (headers.isNull() ? host : headers) + "\r\n"; };
        const auto row = [](const QByteArray &tag, const QByteArray &bytes, const QByteArray &expected) { QTest::newRow(tag.constData()) << bytes << expected; };
        row("root", request("GET / HTTP/1.1"), indexAnswer);
        row("app.js", request("GET /app.js HTTP/1.1"), response(200, javascript, "console.log('app');"));
        row("migration page", request("GET /native-migration?v=2 HTTP/1.1"), response(200, html, "<!doctype html><meta charset='utf-8'><title>Library migration</title>"));
        row("HEAD file", request("HEAD /app.js HTTP/1.1"), response(200, javascript, "console.log('app');", false));
        row("missing file keeps its type", request("HEAD /library.js HTTP/1.1"), failed(404, false, javascript));
        row("HTTP/1.0 and same origin", request("GET / HTTP/1.0", host + "Sec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:" + port + "\r\n"), indexAnswer);
        row("header case and blanks", request("GET / HTTP/1.1", "hOsT: \t127.0.0.1:" + port + "  \r\n"), indexAnswer);
        for (const char *site : {"same-site", "none"}) row(site, request("GET / HTTP/1.1", host + "Sec-Fetch-Site: " + site + "\r\n"), indexAnswer);
        for (const char *path : {"/Index.html", "/../launcher/index.html", "/app%2Ejs", "http://127.0.0.1/", "/config.json"})
            row(path, request("GET " + QByteArray(path) + " HTTP/1.1"), failed(404));
        row("cross-site", request("GET / HTTP/1.1", host + "Sec-Fetch-Site: cross-site\r\n"), failed(403));
        // A body never supplies a header: here it would otherwise satisfy the host check.
        row("host only in body", request("GET / HTTP/1.1", "X: y\r\n") + host + "\r\n", failed(403));
        row("not UTF-8", request("GET /\xff HTTP/1.1"), failed(400));
        row("host in two cases", request("GET / HTTP/1.1", host + "HOST: 127.0.0.1:" + port + "\r\n"), failed(400));
        // The repeat ends header parsing, so the host check sees the first value only.
        row("foreign host then repeat", request("GET / HTTP/1.1", "Host: localhost:" + port + "\r\n" + host), failed(403));
        for (const QByteArray &headers : {QByteArray("Accept: */*\r\n"), "Host: evil.example:" + port + "\r\n", QByteArray("Host: 127.0.0.1\r\n"), host.chopped(2) + "/x\r\n",
                                          host + "Origin: http://127.0.0.1:1\r\n", host + "Origin: https://127.0.0.1:" + port + "\r\n", host + "Origin: null\r\n"})
            row(headers.simplified(), request("GET /launcher-config HTTP/1.1", headers), failed(403));
        // 403 is decided before the method, the method before a repeated header; a refused HEAD has no body.
        row("foreign POST", request("POST / HTTP/1.1", "Host: localhost:" + port + "\r\n"), failed(403));
        row("HEAD foreign host", request("HEAD / HTTP/1.1", "Host: localhost:" + port + "\r\n"), failed(403, false));
        row("POST with repeated header", request("POST / HTTP/1.1", host + "A: 1\r\nA: 2\r\n"), failed(405));
        for (const char *method : {"PUT", "get", ""}) row(*method ? method : "empty method", request(QByteArray(method) + " / HTTP/1.1"), failed(405));
        const QByteArray start = "GET / HTTP/1.1\r\n" + host + "X-Pad: ";
        const auto padded = [&](qsizetype size) { return start + QByteArray(size - start.size() - 4, 'a') + "\r\n\r\n"; };
        row("one below the limit", padded(VintrelleHttpRequest::limit - 1), indexAnswer);
        row("at the limit", padded(VintrelleHttpRequest::limit), failed(431));
        row("at the limit, not UTF-8", QByteArray(VintrelleHttpRequest::limit, '\xff'), failed(431));
    }
    void answers()
    {
        QFETCH(QByteArray, request); QFETCH(QByteArray, expected);
        bool closed = false;
        QCOMPARE(exchange(m_port, request, &closed), expected);
        QVERIFY(closed);
    }
    // Which file wins is the bridge configuration's test; here: read per request, the user default's file first.
    void launcherConfiguration()
    {
        QCOMPARE(get(m_port, "/launcher-config"), response(503, json, R"({"error":"Vintrelle Bridge configuration was not found."})"));
        // Plain literals: moc takes "//" or a backslash inside a raw string for the real thing.
        writeFile(standardFile(), "{\"port\": 45999, \"token\": \"from \\\"standard\\\"\"}");
        const QByteArray fromStandard = response(200, json, "{\"bridgeUrl\":\"http://127.0.0.1:45999\",\"token\":\"from \\\"standard\\\"\"}");
        QCOMPARE(get(m_port, "/launcher-config"), fromStandard);
        writeFile(m_home.path("User Library/Remote Scripts/VintrelleBridge/config.json"), R"({"port": 1234, "token": "user"})");
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_home.path("User Library"));
        QCOMPARE(get(m_port, "/launcher-config"), response(200, json, "{\"bridgeUrl\":\"http://127.0.0.1:1234\",\"token\":\"user\"}"));
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
    }

    void clientsThatMisbehaveDoNotStopIt()
    {
        {
            QTcpSocket impatient; // the answer meets a reset connection: no SIGPIPE may end the process
            QVERIFY(connectTo(impatient, m_port));
            impatient.write("GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n\r\n");
            impatient.waitForBytesWritten(1000);
            const linger abortive{1, 0};
            setsockopt(int(impatient.socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            impatient.abort();
        }
        // A head far beyond the limit, still being sent when the refusal comes, gets the refusal.
        QCOMPARE(exchange(m_port, "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\nX-Pad: " + QByteArray(200000, 'a')), failed(431));
        QCOMPARE(get(m_port, "/"), indexAnswer);
    }
    // A client trickling its head a byte at a time is dropped unanswered at the head deadline, long before it would finish.
    void tricklingClientIsDropped()
    {
        const QByteArray head = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\nX-Slow: " + QByteArray(100, 'a');
        QTcpSocket slow;
        QVERIFY(connectTo(slow, m_port));
        QElapsedTimer timer;
        timer.start();
        qsizetype sent = 0;
        QByteArray received;
        while (slow.state() == QAbstractSocket::ConnectedState && sent < head.size()) {
            slow.write(head.mid(sent++, 1));
            slow.waitForReadyRead(200);
            received += slow.readAll();
        }
        bool closed = false;
        QCOMPARE(received + readToEnd(slow, &closed), QByteArray());
        QVERIFY2(closed && sent < head.size() && timer.elapsed() >= 1900, qPrintable(QString("%1 bytes in %2 ms").arg(sent).arg(timer.elapsed())));
    }
    // stop() closes the listener; the port can be taken again, and a taken port is an error.
    void stopAndRestart()
    {
        VintrelleServer server(m_home.path("launcher"), {});
        QVERIFY(server.startOnPort(0));
        const quint16 port = server.port();
        server.stop();
        QTcpSocket probe;
        QVERIFY(!server.isListening() && !connectTo(probe, port));
        QVERIFY(server.startOnPort(port));
        QCOMPARE(get(port, "/"), indexAnswer);
        VintrelleServer second(m_home.path("launcher"), {});
        std::optional<QString> error;
        QVERIFY(!second.startOnPort(port, &error));
        QCOMPARE(error, std::optional(QString::fromLocal8Bit(strerror(EADDRINUSE))));
    }
};

QTEST_GUILESS_MAIN(ServerTest)
#include "tst_server.moc"
