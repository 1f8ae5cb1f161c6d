#include "VintrelleTestSupport.h"
#include "VintrelleHttpRequest.h"
#include "VintrelleServer.h"

#include <QSettings>
#include <QTcpSocket>

#include <sys/socket.h>

#include <atomic>
#include <thread>

namespace {

QByteArray get(quint16 port, const QByteArray &target, const QByteArray &method = "GET")
{
    return exchange(port, method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
}

QByteArray response(int status, const char *reason, const QByteArray &type, const QByteArray &body, bool withBody = true)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size()) +
           "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n" + (withBody ? body : QByteArray());
}

QByteArray failed(int status, const char *reason, bool withBody = true)
{
    return response(status, reason, "text/plain; charset=utf-8", "Request failed (" + QByteArray::number(status) + ").", withBody);
}

const QByteArray html = "text/html; charset=utf-8", javascript = "text/javascript; charset=utf-8", css = "text/css; charset=utf-8", json = "application/json; charset=utf-8";
const QByteArray migrationPage = "<!doctype html><meta charset='utf-8'><title>Library migration</title>", indexPage = "<p>index</p>";

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(5000);
}

// True once no connection waits in the kernel's accept queue of 127.0.0.1:`port`: the server has taken it.
bool acceptQueueEmpty(quint16 port)
{
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : readFile("/proc/net/tcp").split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' '); // sl local remote state tx_queue:rx_queue; a listener's rx_queue is its accept queue
        if (fields.size() > 4 && fields[1] == local && fields[3] == "0A") return fields[4].endsWith(":00000000");
    }
    return false;
}

} // namespace

class ServerTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleServer> m_server;
    quint16 m_port = 0;

    QString resource(const QString &name) const { return m_home.path("launcher/" + name); }
    QString environmentFile() const { return m_home.path("env/config.json"); }
    QString standardFile() const { return m_home.home() + "/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json"; }

private slots:
    void initTestCase()
    {
        m_home.apply();
        qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        writeFile(resource("index.html"), indexPage);
        writeFile(resource("app.js"), "console.log('app');");
        writeFile(resource("styles.css"), "body { margin: 0 }");
        m_server = std::make_unique<VintrelleServer>(m_home.path("launcher"));
        QCOMPARE(m_server->configPaths(), QStringList({environmentFile(), standardFile()}));
        QVERIFY(m_server->startOnPort(0));
        m_port = m_server->port();
    }

    // The parser alone, for the fine points of what counts as our own origin.
    void parse_data()
    {
        addColumns<QByteArray, int, QByteArray, QByteArray>({"bytes", "status", "method", "path"}); // also what a refusal understood
        const auto row = [](const QByteArray &tag, const QByteArray &bytes, int status, const QByteArray &method = "GET", const QByteArray &path = "/") {
            QTest::newRow(tag.constData()) << bytes << status << method << path;
        };
        const QByteArray host = "Host: 127.0.0.1:48123\r\n";
        const auto request = [&](const QByteArray &line, const QByteArray &headers = {}) { return line + "\r\n" + (headers.isNull() ? host : headers) + "\r\n"; };
        row("query cut", request("GET /index.html?a=1?b HTTP/1.1"), 200, "GET", "/index.html");
        row("header case and blanks", request("GET / HTTP/1.1", "hOsT: \t127.0.0.1:48123  \r\n"), 200);
        for (const char *site : {"same-origin", "same-site", "none"}) row(site, request("GET / HTTP/1.1", host + "Sec-Fetch-Site: " + site + "\r\n"), 200);
        row("cross-site", request("GET / HTTP/1.1", host + "Sec-Fetch-Site: cross-site\r\n"), 403);
        // A body never supplies a header: here it would otherwise satisfy the host check.
        row("host only in body", request("GET / HTTP/1.1", "X: y\r\n") + host + "\r\n", 403);
        row("double space", request("GET  / HTTP/1.1"), 400, {}, {});
        row("no blank line", "GET / HTTP/1.1\r\n" + host, 400);
        row("bare line feeds", "GET / HTTP/1.1\nHost: 127.0.0.1:48123\n\n", 400, {}, {});
        row("not UTF-8", request("GET /\xff HTTP/1.1"), 400, {}, {});
        row("host in two cases", request("GET / HTTP/1.1", host + "HOST: 127.0.0.1:48123\r\n"), 400);
        // The repeat ends header parsing, so the host check sees the first value only.
        row("foreign host then repeat", request("GET / HTTP/1.1", "Host: localhost:48123\r\n" + host), 403);
        for (const char *headers : {"Accept: */*\r\n", "Host: evil.example:48123\r\n", "Host: 127.0.0.1\r\n", "Host: 127.0.0.1:48123/x\r\n",
                                    "Host: 127.0.0.1:48123\r\nOrigin: http://127.0.0.1:48124\r\n", "Host: 127.0.0.1:48123\r\nOrigin: https://127.0.0.1:48123\r\n",
                                    "Host: 127.0.0.1:48123\r\nOrigin: null\r\n"})
            row(QByteArray(headers).replace("\r\n", " ").trimmed(), request("GET /launcher-config HTTP/1.1", headers), 403, "GET", "/launcher-config");
        // 403 is decided before the method; the method before a repeated header.
        row("foreign POST", request("POST / HTTP/1.1", "Host: localhost:48123\r\n"), 403, "POST");
        row("POST with repeated header", request("POST / HTTP/1.1", host + "A: 1\r\nA: 2\r\n"), 405, "POST");
        for (const char *method : {"PUT", "get", ""}) row(*method ? method : "empty method", request(QByteArray(method) + " / HTTP/1.1"), 405, method);
        const QByteArray start = "GET / HTTP/1.1\r\n" + host + "X-Pad: ";
        const auto padded = [&](qsizetype size) { return start + QByteArray(size - start.size() - 4, 'a') + "\r\n\r\n"; };
        row("one below the limit", padded(VintrelleHttpRequest::limit - 1), 200);
        row("at the limit", padded(VintrelleHttpRequest::limit), 431);
        row("at the limit, not UTF-8", QByteArray(VintrelleHttpRequest::limit, '\xff'), 431, {}, {});
    }
    void parse()
    {
        QFETCH(QByteArray, bytes); QFETCH(int, status); QFETCH(QByteArray, method); QFETCH(QByteArray, path);
        const VintrelleHttpRequest parsed = VintrelleParseHttpRequest(bytes, 48123);
        QCOMPARE(parsed.status, status);
        QCOMPARE(parsed.method, method);
        QCOMPARE(parsed.path, path);
    }
    void routes_data()
    {
        addColumns<QByteArray, QByteArray>({"request", "expected"}); // %1: the server's port
        const QByteArray host = "Host: 127.0.0.1:%1\r\n";
        const auto row = [&](const char *tag, const QByteArray &requestLine, const QByteArray &headers, const QByteArray &expected) {
            QTest::newRow(tag) << requestLine + "\r\n" + headers + "\r\n" << expected;
        };
        row("root", "GET / HTTP/1.1", host, response(200, "OK", html, indexPage));
        row("index with query", "GET /index.html?from=menu&x HTTP/1.1", host, response(200, "OK", html, indexPage));
        row("app.js", "GET /app.js HTTP/1.1", host, response(200, "OK", javascript, "console.log('app');"));
        row("styles.css", "GET /styles.css HTTP/1.1", host, response(200, "OK", css, "body { margin: 0 }"));
        row("migration page with query", "GET /native-migration?v=2 HTTP/1.1", host, response(200, "OK", html, migrationPage));
        row("HTTP/1.0 and same origin", "GET / HTTP/1.0", host + "Sec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:%1\r\n", response(200, "OK", html, indexPage));
        for (const char *path : {"/Index.html", "/../launcher/index.html", "/app%2Ejs", "http://127.0.0.1:%1/", "/config.json"})
            row(path, "GET " + QByteArray(path) + " HTTP/1.1", host, failed(404, "Not Found"));
        row("POST", "POST / HTTP/1.1", host + "Content-Length: 2\r\n", failed(405, "Method Not Allowed"));
        row("two host headers", "GET / HTTP/1.1", host + host, failed(400, "Bad Request"));
        row("HEAD file", "HEAD /app.js HTTP/1.1", host, response(200, "OK", javascript, "console.log('app');", false));
        row("HEAD foreign host", "HEAD / HTTP/1.1", "Host: localhost:%1\r\n", failed(403, "Forbidden", false));
        // A file missing from its route keeps the route's type.
        row("missing file", "HEAD /library.js HTTP/1.1", host, response(404, "Not Found", javascript, "Request failed (404).", false));
    }
    void routes()
    {
        QFETCH(QByteArray, request); QFETCH(QByteArray, expected);
        bool closed = false;
        QCOMPARE(exchange(m_port, request.replace("%1", QByteArray::number(m_port)), &closed), expected);
        QVERIFY(closed);
    }
    // Which file wins is the bridge configuration's test; here: read per request, the user default's file first.
    void launcherConfiguration()
    {
        const QByteArray missing = R"({"error":"Vintrelle Bridge configuration was not found."})";
        QCOMPARE(get(m_port, "/launcher-config"), response(503, "Service Unavailable", json, missing));
        // Plain literals: moc takes "//" or a backslash inside a raw string for the real thing.
        writeFile(standardFile(), "{\"port\": 45999, \"token\": \"from \\\"standard\\\"\"}");
        const QByteArray fromStandard = "{\"bridgeUrl\":\"http://127.0.0.1:45999\",\"token\":\"from \\\"standard\\\"\"}";
        QCOMPARE(get(m_port, "/launcher-config"), response(200, "OK", json, fromStandard));
        writeFile(m_home.path("User Library/Remote Scripts/VintrelleBridge/config.json"), R"({"port": 1234, "token": "user"})");
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_home.path("User Library"));
        QCOMPARE(get(m_port, "/launcher-config"), response(200, "OK", json, "{\"bridgeUrl\":\"http://127.0.0.1:1234\",\"token\":\"user\"}"));
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        QCOMPARE(get(m_port, "/launcher-config"), response(200, "OK", json, fromStandard));
    }

    // Dropped unanswered after 2 seconds while the next client waits in line; a trickle does not stretch the window.
    void incompleteClientsAreDropped_data()
    {
        addColumns<QByteArray, bool>({"sent", "trickled"});
        QTest::newRow("head without its blank line") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n") << false;
        QTest::newRow("one byte every 200 ms") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\nX-Slow: " + QByteArray(100, 'a')) << true;
    }
    void incompleteClientsAreDropped()
    {
        QFETCH(QByteArray, sent); QFETCH(bool, trickled);
        sent.replace("%1", QByteArray::number(m_port));
        QElapsedTimer timer;
        timer.start();
        QTcpSocket slow;
        QVERIFY(connectTo(slow, m_port));
        QByteArray received;
        if (trickled) {
            for (qsizetype next = 0; slow.state() == QAbstractSocket::ConnectedState && next < sent.size(); ++next) {
                slow.write(sent.mid(next, 1));
                slow.waitForReadyRead(200);
                received += slow.readAll();
            }
        } else {
            slow.write(sent);
            slow.waitForBytesWritten(1000);
            QCOMPARE(get(m_port, "/native-migration"), response(200, "OK", html, migrationPage));
            QVERIFY2(timer.elapsed() >= 1800, qPrintable(QString::number(timer.elapsed())));
        }
        bool closed = false;
        QCOMPARE(received + readToEnd(slow, &closed), QByteArray());
        QVERIFY(closed);
        QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    }
    void clientsThatMisbehaveDoNotStopIt()
    {
        {
            QTcpSocket early; // leaves mid-head
            QVERIFY(connectTo(early, m_port));
            early.write("GET / HTTP/1.1\r\nHo");
            early.waitForBytesWritten(1000);
        }
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
        const QByteArray huge = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\nX-Pad: " + QByteArray(200000, 'a');
        QCOMPARE(exchange(m_port, huge), failed(431, "Request Header Fields Too Large"));
        QCOMPARE(get(m_port, "/"), response(200, "OK", html, indexPage));
    }

    // stop() closes the listener at once and returns once the open connection is answered; a taken port is an error.
    void stopAndRestart()
    {
        VintrelleServer server(m_home.path("launcher"), {});
        QVERIFY(server.startOnPort(0));
        const quint16 port = server.port();
        QVERIFY(server.startOnPort(port == 65535 ? 1 : port + 1)); // already listening: no change
        QCOMPARE(server.port(), port);
        const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
        QTcpSocket client;
        QVERIFY(connectTo(client, port));
        client.write(request.left(10));
        client.waitForBytesWritten(1000);
        QTRY_VERIFY_WITH_TIMEOUT(acceptQueueEmpty(port), 1000);
        std::atomic<bool> stopped = false;
        std::thread stopper([&] { server.stop(), stopped = true; });
        const auto refused = [port] { QTcpSocket probe; return !connectTo(probe, port) && probe.error() == QAbstractSocket::ConnectionRefusedError; };
        QTRY_VERIFY_WITH_TIMEOUT(refused(), 1000);
        QVERIFY(!stopped);
        client.write(request.mid(10));
        QCOMPARE(readToEnd(client), response(200, "OK", html, indexPage));
        stopper.join();
        QVERIFY(!server.isListening());
        QVERIFY(server.startOnPort(port));
        QCOMPARE(get(port, "/"), response(200, "OK", html, indexPage));
        VintrelleServer second(m_home.path("launcher"), {});
        std::optional<QString> error;
        QVERIFY(!second.startOnPort(port, &error));
        QCOMPARE(error, std::optional(QString::fromLocal8Bit(strerror(EADDRINUSE))));
        QVERIFY(second.startOnPort(0, &error));
    }
};

QTEST_GUILESS_MAIN(ServerTest)
#include "tst_server.moc"
