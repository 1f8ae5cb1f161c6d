#include "VintrelleTestSupport.h"
#include "VintrelleLocations.h"
#include "VintrelleServer.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <thread>

namespace {

// A blocking loopback client, so that the test controls exactly what is sent and when.
class Client
{
public:
    explicit Client(quint16 port)
    {
        m_fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) < 0) {
            m_error = errno;
            close();
            return;
        }
        const timeval timeout{10, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~Client() { close(); }

    bool connected() const { return m_fd >= 0; }
    int error() const { return m_error; }
    int fd() const { return m_fd; }

    bool send(const QByteArray &bytes)
    {
        for (qsizetype sent = 0; sent < bytes.size();) {
            const ssize_t n = ::send(m_fd, bytes.constData() + sent, bytes.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    // Everything until the server closes; `endOfStream` is false when it did not close in time.
    QByteArray readToEnd(bool *endOfStream = nullptr)
    {
        QByteArray bytes;
        char chunk[4096];
        ssize_t n;
        while ((n = recv(m_fd, chunk, sizeof chunk, 0)) > 0)
            bytes.append(chunk, n);
        if (endOfStream)
            *endOfStream = n == 0;
        return bytes;
    }

    // Closes with a reset instead of an orderly shutdown.
    void reset()
    {
        const linger abortive{1, 0};
        setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        close();
    }

    void close()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
    int m_error = 0;
};

QByteArray exchange(quint16 port, const QByteArray &request, bool *endOfStream = nullptr)
{
    Client client(port);
    if (!client.connected() || !client.send(request))
        return "client failed";
    return client.readToEnd(endOfStream);
}

QByteArray get(quint16 port, const QByteArray &target, const QByteArray &method = "GET")
{
    return exchange(port, method + ' ' + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n");
}

QByteArray response(int status, const char *reason, const QByteArray &type, const QByteArray &body, bool withBody = true)
{
    return "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason + "\r\nContent-Type: " + type
        + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n"
        + (withBody ? body : QByteArray());
}

const QByteArray html = "text/html; charset=utf-8";
const QByteArray javascript = "text/javascript; charset=utf-8";
const QByteArray css = "text/css; charset=utf-8";
const QByteArray json = "application/json; charset=utf-8";
const QByteArray plain = "text/plain; charset=utf-8";
const QByteArray migrationPage = "<!doctype html><meta charset='utf-8'><title>Library migration</title>";
const QByteArray missingConfiguration = R"({"error":"Vintrelle Bridge configuration was not found."})";

// True once the kernel holds no connection waiting to be accepted on 127.0.0.1:`port`, which is
// how a test knows that the server has taken a connection into its hands.
bool acceptQueueEmpty(quint16 port)
{
    QFile table("/proc/net/tcp");
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        // sl local remote state tx_queue:rx_queue ...; a listener's rx_queue is its accept queue.
        if (fields.size() > 4 && fields[1] == local && fields[3] == "0A")
            return fields[4].split(':').value(1).toInt(nullptr, 16) == 0;
    }
    return false;
}

} // namespace

class ServerTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void routes_data();
    void routes();
    void filesAreReadOnEveryRequest();
    void missingFileKeepsTheRouteType();
    void shippedPages();
    void launcherConfiguration();
    void sizeLimit_data();
    void sizeLimit();
    void clientsThatSendNothingComplete_data();
    void clientsThatSendNothingComplete();
    void trickleIsCutAtTheWindow();
    void clientThatGoesAway();
    void startOnPort();
    void portInUse();
    void stopDuringConnection();

private:
    QString resource(const QString &name) const { return m_root.path() + "/launcher/" + name; }
    QString environmentFile() const { return m_root.path() + "/env/config.json"; }
    QString standardFile() const { return m_root.path() + "/home/Music/Ableton/User Library/Remote Scripts/VintrelleBridge/config.json"; }
    QString userLibraryFile() const { return m_root.path() + "/User Library/Remote Scripts/VintrelleBridge/config.json"; }

    QTemporaryDir m_root;
    std::unique_ptr<VintrelleServer> m_server;
    quint16 m_port = 0;
};

void ServerTest::initTestCase()
{
    QVERIFY(m_root.isValid());
    // Before the first QSettings: it resolves its folder once per process.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_root.path() + "/config"));
    qputenv("HOME", QFile::encodeName(m_root.path() + "/home"));
    qputenv("VINTRELLE_BRIDGE_CONFIG", QFile::encodeName(environmentFile()));
    QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");

    writeFile(resource("index.html"), "<p>index</p>");
    writeFile(resource("app.js"), "console.log('app');");
    writeFile(resource("library.js"), "// library");
    writeFile(resource("styles.css"), "body { margin: 0 }");

    m_server = std::make_unique<VintrelleServer>(m_root.path() + "/launcher");
    QCOMPARE(m_server->configPaths(), (QStringList{environmentFile(), standardFile()}));
    std::optional<QString> error;
    QVERIFY(m_server->startOnPort(0, &error));
    QVERIFY(!error);
    m_port = m_server->port();
    QVERIFY(m_port != 0);
}

void ServerTest::routes_data()
{
    QTest::addColumn<QByteArray>("request"); // %1 stands for the server's port
    QTest::addColumn<QByteArray>("expected");

    const QByteArray host = "Host: 127.0.0.1:%1\r\n";
    const auto row = [&](const char *tag, const QByteArray &requestLine, const QByteArray &headers, const QByteArray &expected) {
        QTest::newRow(tag) << requestLine + "\r\n" + headers + "\r\n" << expected;
    };
    const QByteArray index = "<p>index</p>";
    const QByteArray notFound = response(404, "Not Found", plain, "Request failed (404).");
    const QByteArray forbidden = response(403, "Forbidden", plain, "Request failed (403).");

    row("root", "GET / HTTP/1.1", host, response(200, "OK", html, index));
    row("index", "GET /index.html HTTP/1.1", host, response(200, "OK", html, index));
    row("index with query", "GET /index.html?from=menu&x HTTP/1.1", host, response(200, "OK", html, index));
    row("app.js", "GET /app.js HTTP/1.1", host, response(200, "OK", javascript, "console.log('app');"));
    row("library.js", "GET /library.js HTTP/1.1", host, response(200, "OK", javascript, "// library"));
    row("styles.css", "GET /styles.css HTTP/1.1", host, response(200, "OK", css, "body { margin: 0 }"));
    row("migration page", "GET /native-migration HTTP/1.1", host, response(200, "OK", html, migrationPage));
    row("migration page with query", "GET /native-migration?v=2 HTTP/1.1", host, response(200, "OK", html, migrationPage));
    row("HTTP/1.0 and extra headers", "GET / HTTP/1.0", host + "Accept: */*\r\nSec-Fetch-Site: same-origin\r\nOrigin: http://127.0.0.1:%1\r\n", response(200, "OK", html, index));

    row("unknown path", "GET /missing HTTP/1.1", host, notFound);
    row("trailing slash", "GET /index.html/ HTTP/1.1", host, notFound);
    row("other case", "GET /Index.html HTTP/1.1", host, notFound);
    row("traversal", "GET /../launcher/index.html HTTP/1.1", host, notFound);
    row("encoded path", "GET /app%2Ejs HTTP/1.1", host, notFound);
    row("absolute form", "GET http://127.0.0.1:%1/ HTTP/1.1", host, notFound);
    row("file beside the pages", "GET /config.json HTTP/1.1", host, notFound);

    row("POST", "POST / HTTP/1.1", host + "Content-Length: 2\r\n", response(405, "Method Not Allowed", plain, "Request failed (405)."));
    row("OPTIONS", "OPTIONS /launcher-config HTTP/1.1", host, response(405, "Method Not Allowed", plain, "Request failed (405)."));
    row("malformed request line", "GET /index.html", host, response(400, "Bad Request", plain, "Request failed (400)."));
    row("two host headers", "GET / HTTP/1.1", host + host, response(400, "Bad Request", plain, "Request failed (400)."));

    row("host localhost", "GET /launcher-config HTTP/1.1", "Host: localhost:%1\r\n", forbidden);
    row("rebinding host", "GET /launcher-config HTTP/1.1", "Host: evil.example:%1\r\n", forbidden);
    row("no host", "GET / HTTP/1.1", "Accept: */*\r\n", forbidden);
    row("origin of another port", "GET /launcher-config HTTP/1.1", host + "Origin: http://127.0.0.1:1\r\n", forbidden);
    row("origin localhost", "GET /launcher-config HTTP/1.1", host + "Origin: http://localhost:%1\r\n", forbidden);
    row("cross-site fetch", "GET /launcher-config HTTP/1.1", host + "Sec-Fetch-Site: cross-site\r\n", forbidden);

    row("HEAD file", "HEAD /app.js HTTP/1.1", host, response(200, "OK", javascript, "console.log('app');", false));
    row("HEAD migration page", "HEAD /native-migration HTTP/1.1", host, response(200, "OK", html, migrationPage, false));
    row("HEAD unknown path", "HEAD /missing HTTP/1.1", host, response(404, "Not Found", plain, "Request failed (404).", false));
    row("HEAD foreign host", "HEAD / HTTP/1.1", "Host: localhost:%1\r\n", response(403, "Forbidden", plain, "Request failed (403).", false));
}

void ServerTest::routes()
{
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, expected);

    request.replace("%1", QByteArray::number(m_port));
    bool endOfStream = false;
    QCOMPARE(exchange(m_port, request, &endOfStream), expected);
    QVERIFY(endOfStream);
}

void ServerTest::filesAreReadOnEveryRequest()
{
    const QByteArray before = readFile(resource("app.js"));
    writeFile(resource("app.js"), "changed();");
    QCOMPARE(get(m_port, "/app.js"), response(200, "OK", javascript, "changed();"));
    writeFile(resource("app.js"), before);
    QCOMPARE(get(m_port, "/app.js"), response(200, "OK", javascript, before));
}

void ServerTest::missingFileKeepsTheRouteType()
{
    const QByteArray before = readFile(resource("styles.css"));
    QVERIFY(QFile::remove(resource("styles.css")));
    QCOMPARE(get(m_port, "/styles.css"), response(404, "Not Found", css, "Request failed (404)."));
    QCOMPARE(get(m_port, "/styles.css", "HEAD"), response(404, "Not Found", css, "Request failed (404).", false));
    // A folder in the file's place cannot be read either.
    QVERIFY(QDir().mkpath(resource("styles.css")));
    QCOMPARE(get(m_port, "/styles.css"), response(404, "Not Found", css, "Request failed (404)."));
    QVERIFY(QDir(resource("styles.css")).removeRecursively());
    writeFile(resource("styles.css"), before);
}

void ServerTest::shippedPages()
{
    // The default resource folder is the launcher folder of the resources the build ships.
    VintrelleServer server;
    QCOMPARE(server.resourcePath(), VintrelleResourcesPath() + "/launcher");
    QVERIFY(server.startOnPort(0));
    for (const char *file : {"index.html", "app.js", "library.js", "styles.css"}) {
        const QByteArray contents = readFile(server.resourcePath() + '/' + file);
        QVERIFY2(!contents.isEmpty(), file);
        const QByteArray type = QByteArray(file).endsWith(".js") ? javascript : QByteArray(file).endsWith(".css") ? css : html;
        QCOMPARE(get(server.port(), '/' + QByteArray(file)), response(200, "OK", type, contents));
    }
    QVERIFY(get(server.port(), "/").contains("Vintrelle launcher"));
}

void ServerTest::launcherConfiguration()
{
    const QByteArray request = "/launcher-config";
    const auto served = [](const QByteArray &body) { return response(200, "OK", json, body); };
    const QByteArray fromStandard = R"({"bridgeUrl":"http://127.0.0.1:45873","token":"standard"})";
    const QByteArray fromEnvironment = R"({"bridgeUrl":"http://127.0.0.1:45999","token":"from \"env\""})";
    const QByteArray fromUserDefault = R"({"bridgeUrl":"http://127.0.0.1:1234","token":"user"})";
    const QByteArray unavailable = response(503, "Service Unavailable", json, missingConfiguration);

    QCOMPARE(get(m_port, request), unavailable);
    QCOMPARE(get(m_port, request, "HEAD"), response(503, "Service Unavailable", json, missingConfiguration, false));
    QVERIFY(!m_server->configuration());

    // The standard location, then the environment's file ahead of it; read on every request.
    writeFile(standardFile(), R"({"token": "standard"})");
    QCOMPARE(get(m_port, request), served(fromStandard));
    writeFile(environmentFile(), R"({"port": 45999, "token": "from \"env\""})");
    QCOMPARE(get(m_port, request), served(fromEnvironment));
    QCOMPARE(m_server->configuration(), std::optional<QByteArray>(fromEnvironment));
    QCOMPARE(get(m_port, request + "?t=1", "HEAD"), response(200, "OK", json, fromEnvironment, false));

    // The user default's file comes first, and is looked up on every request too.
    writeFile(userLibraryFile(), R"({"port": 1234, "token": "user"})");
    QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", m_root.path() + "/User Library");
    QCOMPARE(get(m_port, request), served(fromUserDefault));

    // Invalid files are passed over.
    writeFile(userLibraryFile(), R"({"port": 65536, "token": "user"})");
    writeFile(environmentFile(), R"({"port": 45999, "token": ""})");
    QCOMPARE(get(m_port, request), served(fromStandard));
    writeFile(standardFile(), "not json");
    QCOMPARE(get(m_port, request), unavailable);

    // A request refused by the checks never reaches the configuration.
    writeFile(standardFile(), R"({"token": "standard"})");
    const QByteArray crossSite = "GET /launcher-config HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port)
        + "\r\nSec-Fetch-Site: cross-site\r\n\r\n";
    QCOMPARE(exchange(m_port, crossSite), response(403, "Forbidden", plain, "Request failed (403)."));

    QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
    for (const QString &path : {userLibraryFile(), environmentFile(), standardFile()})
        QFile::remove(path);
}

void ServerTest::sizeLimit_data()
{
    QTest::addColumn<qsizetype>("size");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("one byte below the limit") << qsizetype(16383) << true;
    QTest::newRow("exactly the limit") << qsizetype(16384) << false;
    QTest::newRow("one byte above") << qsizetype(16385) << false;
    // The client is still sending when the answer comes; it must get the answer all the same.
    QTest::newRow("far above") << qsizetype(200000) << false;
}

void ServerTest::sizeLimit()
{
    QFETCH(qsizetype, size);
    QFETCH(bool, accepted);

    const QByteArray start = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\nX-Pad: ";
    const QByteArray end = "\r\n\r\n";
    const QByteArray request = start + QByteArray(size - start.size() - end.size(), 'a') + end;
    QCOMPARE(request.size(), size);

    Client client(m_port);
    QVERIFY(client.connected());
    // Sent from another thread: a client that sends more than the server reads may block.
    std::thread sender([&] { client.send(request); });
    bool endOfStream = false;
    const QByteArray reply = client.readToEnd(&endOfStream);
    sender.join();
    QVERIFY(endOfStream);
    QCOMPARE(reply, accepted ? response(200, "OK", html, "<p>index</p>")
                             : response(431, "Request Header Fields Too Large", plain, "Request failed (431)."));
}

void ServerTest::clientsThatSendNothingComplete_data()
{
    QTest::addColumn<QByteArray>("sent");

    QTest::newRow("nothing") << QByteArray();
    QTest::newRow("head without its blank line") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:%1\r\n");
}

void ServerTest::clientsThatSendNothingComplete()
{
    QFETCH(QByteArray, sent);

    QElapsedTimer timer;
    timer.start();
    Client quiet(m_port);
    QVERIFY(quiet.connected());
    QVERIFY(quiet.send(sent.replace("%1", QByteArray::number(m_port))));

    // Served one at a time: a second client waits until the quiet one is dropped.
    QElapsedTimer waiting;
    waiting.start();
    const QByteArray second = get(m_port, "/native-migration");
    const qint64 secondAnsweredAfter = waiting.elapsed();

    bool endOfStream = false;
    QCOMPARE(quiet.readToEnd(&endOfStream), QByteArray());
    QVERIFY(endOfStream);
    QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(second, response(200, "OK", html, migrationPage));
    QVERIFY2(secondAnsweredAfter >= 1800, qPrintable(QString::number(secondAnsweredAfter)));
}

void ServerTest::trickleIsCutAtTheWindow()
{
    // One byte every 200 ms never completes a head; the 2-second window still ends the connection.
    const QByteArray request = "GET / HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\nX-Slow: " + QByteArray(100, 'a');
    QElapsedTimer timer;
    timer.start();
    Client client(m_port);
    QVERIFY(client.connected());
    qsizetype next = 0;
    QByteArray received;
    for (;;) {
        pollfd readable{client.fd(), POLLIN, 0};
        if (poll(&readable, 1, 200) == 0) {
            QVERIFY2(next < request.size(), "the server never ended the connection");
            QVERIFY(client.send(request.mid(next++, 1)));
            continue;
        }
        char chunk[256];
        const ssize_t n = recv(client.fd(), chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        received.append(chunk, n);
    }
    QCOMPARE(received, QByteArray());
    QVERIFY2(timer.elapsed() >= 1900 && timer.elapsed() < 3000, qPrintable(QString::number(timer.elapsed())));
}

void ServerTest::clientThatGoesAway()
{
    {
        Client early(m_port);
        QVERIFY(early.send("GET / HTTP/1.1\r\nHo"));
    }
    {
        // The answer meets a reset connection: no SIGPIPE may end the process.
        Client impatient(m_port);
        QVERIFY(impatient.send("GET /index.html HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n\r\n"));
        impatient.reset();
    }
    {
        Client silentThenGone(m_port);
    }
    QCOMPARE(get(m_port, "/"), response(200, "OK", html, "<p>index</p>"));
}

void ServerTest::startOnPort()
{
    VintrelleServer server(m_root.path() + "/launcher", {});
    QVERIFY(!server.isListening());
    std::optional<QString> error;
    QVERIFY(server.startOnPort(0, &error));
    QVERIFY(!error);
    const quint16 chosen = server.port();
    QVERIFY(chosen != 0 && chosen != m_port);
    QVERIFY(server.isListening());

    // Already listening: true at once, still on the same port.
    QVERIFY(server.startOnPort(chosen == 65535 ? 1 : chosen + 1, &error));
    QCOMPARE(server.port(), chosen);
    QCOMPARE(get(chosen, "/"), response(200, "OK", html, "<p>index</p>"));

    // Stopped: nothing listens any more; started again on the same port, it serves again.
    server.stop();
    QVERIFY(!server.isListening());
    Client refused(chosen);
    QVERIFY(!refused.connected());
    QCOMPARE(refused.error(), ECONNREFUSED);
    server.stop();
    QVERIFY(server.startOnPort(chosen, &error));
    QCOMPARE(server.port(), chosen);
    QCOMPARE(get(chosen, "/"), response(200, "OK", html, "<p>index</p>"));
}

void ServerTest::portInUse()
{
    QTcpServer other;
    QVERIFY(other.listen(QHostAddress::LocalHost));
    const QList<quint16> taken{other.serverPort(), m_port};
    for (const quint16 port : taken) {
        VintrelleServer server(m_root.path() + "/launcher", {});
        std::optional<QString> error;
        QVERIFY(!server.startOnPort(port, &error));
        QCOMPARE(error, std::optional<QString>(QString::fromLocal8Bit(strerror(EADDRINUSE))));
        QVERIFY(!server.isListening());
        // A failed start leaves the server able to start elsewhere.
        QVERIFY(server.startOnPort(0, &error));
        QCOMPARE(get(server.port(), "/native-migration"), response(200, "OK", html, migrationPage));
    }
    // The running server was not disturbed.
    QCOMPARE(get(m_port, "/native-migration"), response(200, "OK", html, migrationPage));
}

void ServerTest::stopDuringConnection()
{
    VintrelleServer server(m_root.path() + "/launcher", {});
    QVERIFY(server.startOnPort(0));
    const quint16 port = server.port();
    const QByteArray request = "GET /index.html HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";

    Client client(port);
    QVERIFY(client.send(request.left(20)));
    QTRY_VERIFY_WITH_TIMEOUT(acceptQueueEmpty(port), 1000);

    std::atomic<bool> stopped = false;
    std::thread stopper([&] {
        server.stop();
        stopped = true;
    });
    // The listening socket closes at once while the connection in progress stays open.
    QTRY_VERIFY_WITH_TIMEOUT(!Client(port).connected(), 1000);
    QVERIFY(!stopped);

    QVERIFY(client.send(request.mid(20)));
    bool endOfStream = false;
    QCOMPARE(client.readToEnd(&endOfStream), response(200, "OK", html, "<p>index</p>"));
    QVERIFY(endOfStream);
    stopper.join();
    QVERIFY(stopped);
    QVERIFY(!server.isListening());
}

QTEST_GUILESS_MAIN(ServerTest)
#include "tst_server.moc"
