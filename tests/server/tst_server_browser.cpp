// A real browser engine attacks the launcher server from other origins: pages served from another
// loopback port and a DNS-rebinding host must never read the bridge token, and every request the
// engine makes on their behalf must be refused by the server itself, not only by the browser.

#include "VintrelleTestSupport.h"
#include "VintrelleServer.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

const QByteArray secret = "attack-target-token-5b0e";

// Every way a page can try to read a cross-origin resource, run in order; window.attackResults
// holds what each attempt saw once window.attackDone is true.
QByteArray attackPage(const QByteArray &target)
{
    return R"(<!doctype html><meta charset="utf-8"><title>attack</title><body><script>
window.attackDone = false;
window.attackResults = {};
const target = ')" + target + R"(/launcher-config';
async function attempt(name, run) {
  try { attackResults[name] = String(await run()); } catch (e) { attackResults[name] = 'error: ' + e; }
}
function loaded(element) {
  return new Promise(resolve => {
    element.onload = () => resolve(element);
    element.onerror = () => resolve(null);
    setTimeout(() => resolve(null), 8000);
    document.body.appendChild(element);
  });
}
(async () => {
  await attempt('fetch', async () => { const r = await fetch(target); return r.status + ' ' + await r.text(); });
  await attempt('fetch no-cors', async () => { const r = await fetch(target, {mode: 'no-cors'}); return r.type + ' ' + r.status + ' ' + await r.text(); });
  await attempt('fetch with credentials', async () => { const r = await fetch(target, {credentials: 'include'}); return r.status + ' ' + await r.text(); });
  await attempt('xhr', () => new Promise(resolve => {
    const x = new XMLHttpRequest();
    x.open('GET', target);
    x.onload = () => resolve(x.status + ' ' + x.responseText);
    x.onerror = () => resolve('error');
    x.send();
  }));
  await attempt('iframe', async () => {
    const frame = document.createElement('iframe');
    frame.src = target;
    if (!await loaded(frame)) return 'not loaded';
    return frame.contentDocument ? frame.contentDocument.body.innerText : 'no access';
  });
  await attempt('script', async () => {
    const script = document.createElement('script');
    script.src = target;
    return await loaded(script) ? 'loaded' : 'not loaded';
  });
  attackDone = true;
})();
</script></body>)";
}

// A tiny HTTP server on the main thread: answers every request with `page` and keeps each request
// head it received.
class PageServer : public QTcpServer
{
public:
    explicit PageServer(QByteArray page) : m_page(std::move(page))
    {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    QByteArray &buffer = m_buffers[socket];
                    buffer += socket->readAll();
                    if (!buffer.contains("\r\n\r\n")) return;
                    const QByteArray received = m_buffers.take(socket);
                    m_heads << received.left(received.indexOf("\r\n\r\n") + 4);
                    socket->write("HTTP/1.1 200 X\r\nContent-Type: text/html\r\nContent-Length: " +
                                  QByteArray::number(m_page.size()) + "\r\nConnection: close\r\n\r\n" + m_page);
                    socket->disconnectFromHost();
                });
            }
        });
    }

    bool listen() { return QTcpServer::listen(QHostAddress::LocalHost); }
    quint16 port() const { return serverPort(); }
    const QList<QByteArray> &heads() const { return m_heads; }

private:
    QByteArray m_page;
    QList<QByteArray> m_heads;
    QHash<QTcpSocket *, QByteArray> m_buffers;
};

// Everything the server answers to `request`, sent on a connection of its own.
QByteArray rawExchange(quint16 port, const QByteArray &request)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    socket.write(request);
    while (socket.waitForConnected(5000) && socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(10000)) {}
    return socket.readAll();
}

} // namespace

class ServerBrowserTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleServer> m_server;
    QWebEngineProfile *m_profile = nullptr; // off the record: nothing of the test reaches the disk
    QWebEnginePage *m_page = nullptr;

    bool load(const QUrl &url, bool expectSuccess = true)
    {
        QSignalSpy finished(m_page, &QWebEnginePage::loadFinished);
        m_page->load(url);
        return finished.wait(20000) && finished.first().first().toBool() == expectSuccess;
    }

    QVariant evaluate(const QString &script)
    {
        QVariant result;
        QEventLoop loop;
        m_page->runJavaScript(script, [&](const QVariant &value) {
            result = value;
            loop.quit();
        });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        return result;
    }

    QJsonObject runAttack()
    {
        // Requests wait in line behind each other at the server; allow for its read windows.
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 40000) {
            if (evaluate("window.attackDone === true").toBool())
                return QJsonDocument::fromJson(evaluate("JSON.stringify(window.attackResults)").toString().toUtf8()).object();
            QTest::qWait(50);
        }
        return {};
    }

private slots:
    void initTestCase()
    {
        // The engine's start-up report and the attack pages' console errors are expected noise.
        QLoggingCategory::setFilterRules("qt.webenginecontext.info=false\njs.critical=false\njs.warning=false");
        writeFile(m_home.path("config.json"), R"({"port": 45873, "token": ")" + secret + R"("})");
        writeFile(m_home.path("launcher/index.html"), attackPage(""));
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        m_server = std::make_unique<VintrelleServer>(m_home.path("launcher"), QStringList{m_home.path("config.json")});
        QVERIFY(m_server->startOnPort(0));
        m_profile = new QWebEngineProfile(this);
        m_page = new QWebEnginePage(m_profile, this);
    }

    void cleanupTestCase()
    {
        delete m_page;
        delete m_profile;
    }

    // Every way a page can read a resource, from the server's own origin (the control: it must
    // read the token, so a leak would be noticed) and from other loopback origins (never).
    void otherOriginsCannotReadTheToken_data()
    {
        QTest::addColumn<QString>("host"); // empty: the server's own page
        QTest::newRow("own origin") << QString();
        QTest::newRow("localhost") << "localhost";
        QTest::newRow("127.0.0.1, other port") << "127.0.0.1";
    }

    void otherOriginsCannotReadTheToken()
    {
        QFETCH(QString, host);
        PageServer attacker(attackPage("http://127.0.0.1:" + QByteArray::number(m_server->port())));
        QVERIFY(attacker.listen());
        QVERIFY(load(host.isEmpty() ? QUrl(QString("http://127.0.0.1:%1/").arg(m_server->port()))
                                    : QUrl(QString("http://%1:%2/").arg(host).arg(attacker.port()))));
        const QJsonObject results = runAttack();
        QCOMPARE(results.size(), 6);
        for (auto it = results.begin(); it != results.end(); ++it) {
            const bool readable = host.isEmpty() && it.key() != "script";
            QVERIFY2(it.value().toString().contains(secret) == readable, qPrintable(it.key() + ": " + it.value().toString()));
        }
    }

    void browserRequestsFromOtherOriginsAreRefused()
    {
        // The browser's own rules already hide cross-origin answers, so the attack above cannot tell
        // whether the server refused. Here the attack targets a recorder instead, and the exact
        // requests the engine sent are replayed to the server with only the port swapped.
        PageServer recorder("");
        QVERIFY(recorder.listen());
        const QByteArray recordedHost = "127.0.0.1:" + QByteArray::number(recorder.port());
        PageServer attacker(attackPage("http://" + recordedHost));
        QVERIFY(attacker.listen());
        QVERIFY(load(QUrl(QString("http://localhost:%1/").arg(attacker.port()))));
        QVERIFY2(!runAttack().isEmpty(), "the attack page did not finish");

        QVERIFY(recorder.heads().size() >= 6);
        const QByteArray serverHost = "127.0.0.1:" + QByteArray::number(m_server->port());
        for (QByteArray head : recorder.heads()) {
            QVERIFY(head.startsWith("GET /launcher-config HTTP/1.1\r\n"));
            head.replace(recordedHost, serverHost);
            const QByteArray reply = rawExchange(m_server->port(), head);
            QVERIFY2(reply.startsWith("HTTP/1.1 403 Forbidden\r\n"), head.constData());
            QVERIFY(!reply.contains(secret));
            // Without the headers that give the origin away, the same request would be served:
            // the refusal comes from them.
            QByteArray bare;
            for (const QByteArray &line : head.split('\n')) {
                const QByteArray lower = line.toLower();
                if (!lower.startsWith("origin:") && !lower.startsWith("sec-fetch-site:"))
                    bare += line + '\n';
            }
            QVERIFY2(rawExchange(m_server->port(), bare).contains(secret), bare.constData());
        }
    }

    void dnsRebindingIsRefused()
    {
        // The engine resolves evil.example to 127.0.0.1 (see main), as a rebinding attacker's DNS
        // would: the page's origin is then http://evil.example:<server port>, and to the browser the
        // configuration is a same-origin resource it would happily hand to the page.
        const QString origin = QString("http://evil.example:%1").arg(m_server->port());
        QVERIFY(load(QUrl(origin + "/native-migration"), false)); // an error status fails the load
        QCOMPARE(m_page->url(), QUrl(origin + "/native-migration"));
        QCOMPARE(evaluate("document.body.innerText").toString(), QString("Request failed (403)."));

        evaluate("window.rebound = null; fetch('/launcher-config').then(r => r.text().then(t => window.rebound = r.status + ' ' + t), e => window.rebound = 'error: ' + e)");
        QTRY_VERIFY_WITH_TIMEOUT(!evaluate("window.rebound").isNull(), 20000);
        QCOMPARE(evaluate("window.rebound").toString(), QString("403 Request failed (403)."));
    }

    void shippedPageKeepsTheTokenToItself()
    {
        VintrelleServer server(VintrelleServer::defaultResourcePath(), m_server->configPaths());
        QVERIFY(server.startOnPort(0));
        QVERIFY(load(QUrl(QString("http://127.0.0.1:%1/").arg(server.port()))));
        QCOMPARE(m_page->title(), QString("Vintrelle launcher"));
        const QString expected = "The Ableton connection is configured at http://127.0.0.1:45873.";
        QTRY_COMPARE_WITH_TIMEOUT(evaluate("document.getElementById('bridge-status').textContent").toString(), expected, 10000);
        QVERIFY(!evaluate("document.documentElement.outerHTML").toString().contains(secret));
    }
};

int main(int argc, char **argv)
{
    // Headless Chromium as root on a machine without a GPU. The engine drops the application's
    // arguments when QTWEBENGINE_CHROMIUM_FLAGS is set, and splits that variable at spaces, which
    // the resolver rule contains: so every flag travels as an argument instead.
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    // Settings of this test stay in a folder of its own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));

    QList<char *> arguments(argv, argv + argc);
    char separator[] = "--webEngineArgs";
    char noGpu[] = "--disable-gpu";
    char noSandbox[] = "--no-sandbox";
    char resolver[] = "--host-resolver-rules=MAP evil.example 127.0.0.1";
    arguments << separator << noGpu << noSandbox << resolver;
    int applicationArgc = int(arguments.size());
    arguments << nullptr;
    QGuiApplication application(applicationArgc, arguments.data());
    ServerBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_server_browser.moc"
