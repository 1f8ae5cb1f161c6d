// A real browser engine attacks the launcher server from other origins: the server must refuse every such request.

#include "VintrelleTestSupport.h"
#include "VintrelleServer.h"
#include "bridge/VintrelleScriptedServer.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QWebEnginePage>
#include <QWebEngineProfile>

namespace {

const QByteArray secret = "attack-target-token-5b0e";

// Every way a page can ask for a cross-origin resource, in turn; window.attackDone turns true at the end.
QByteArray attackPage(const QByteArray &target)
{
    return R"(<!doctype html><meta charset="utf-8"><body><script>
window.attackDone = false;
const target = ')" + target + R"(/launcher-config';
const loaded = element => new Promise(resolve => { element.onload = element.onerror = resolve; setTimeout(resolve, 8000); element.src = target; document.body.appendChild(element); });
(async () => {
  for (const options of [{}, {mode: 'no-cors'}, {credentials: 'include'}]) await fetch(target, options).then(r => r.text()).catch(() => {});
  await new Promise(resolve => { const x = new XMLHttpRequest(); x.onloadend = resolve; x.open('GET', target); x.send(); });
  for (const tag of ['iframe', 'script']) await loaded(document.createElement(tag));
  attackDone = true;
})();
</script></body>)";
}

// A loopback server that answers every request with `html` and records each one.
std::unique_ptr<VintrelleScriptedServer> pageServer(const QByteArray &html)
{
    auto server = std::make_unique<VintrelleScriptedServer>();
    server->fallback.bytes = "HTTP/1.1 200 X\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(html.size()) + "\r\nConnection: close\r\n\r\n" + html;
    return server;
}

} // namespace

class ServerBrowserTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleServer> m_server;
    QWebEngineProfile m_profile; // off the record: nothing of the test reaches the disk
    QWebEnginePage m_page{&m_profile};

    bool load(const QUrl &url, bool expectSuccess = true)
    {
        QSignalSpy finished(&m_page, &QWebEnginePage::loadFinished);
        m_page.load(url);
        return finished.wait(20000) && finished.first().first().toBool() == expectSuccess;
    }

    QVariant evaluate(const QString &script)
    {
        QVariant result;
        QEventLoop loop;
        m_page.runJavaScript(script, [&](const QVariant &value) { result = value, loop.quit(); });
        QTimer::singleShot(5000, &loop, &QEventLoop::quit);
        loop.exec();
        return result;
    }

private slots:
    void initTestCase()
    {
        // The engine's start-up report and the attack pages' console errors are expected noise.
        QLoggingCategory::setFilterRules("qt.webenginecontext.info=false\njs.critical=false\njs.warning=false");
        writeFile(m_home.path("config.json"), R"({"port": 45873, "token": ")" + secret + R"("})");
        QVERIFY(QDir().mkpath(m_home.path("launcher")));
        m_server = std::make_unique<VintrelleServer>(m_home.path("launcher"), QStringList{m_home.path("config.json")});
        QVERIFY(m_server->startOnPort(0));
    }
    void browserRequestsFromOtherOriginsAreRefused()
    {
        // The browser hides cross-origin answers anyway, so the attack targets a recorder and its requests are replayed.
        const auto recorder = pageServer("");
        const QByteArray recordedHost = "127.0.0.1:" + QByteArray::number(recorder->port());
        const auto attacker = pageServer(attackPage("http://" + recordedHost));
        QVERIFY(load(QUrl(QString("http://localhost:%1/").arg(attacker->port()))));
        QTRY_VERIFY_WITH_TIMEOUT(evaluate("window.attackDone === true").toBool(), 40000); // its iframe and script loads may each wait 8 s
        QVERIFY(recorder->requests.size() >= 6);
        const QByteArray serverHost = "127.0.0.1:" + QByteArray::number(m_server->port());
        for (const VintrelleScriptedServer::Request &request : recorder->requests) {
            QByteArray head = request.raw;
            QVERIFY(head.startsWith("GET /launcher-config HTTP/1.1\r\n"));
            head.replace(recordedHost, serverHost);
            const QByteArray reply = exchange(m_server->port(), head);
            QVERIFY2(reply.startsWith("HTTP/1.1 403 Forbidden\r\n"), head.constData());
            QVERIFY(!reply.contains(secret));
            // Without the headers that give the origin away, the same request is served: they cause the refusal.
            QByteArray bare;
            for (const QByteArray &line : head.split('\n'))
                bare += line.toLower().startsWith("origin:") || line.toLower().startsWith("sec-fetch-site:") ? "" : line + '\n';
            QVERIFY2(exchange(m_server->port(), bare).contains(secret), bare.constData());
        }
    }
    void dnsRebindingIsRefused()
    {
        // evil.example resolves to 127.0.0.1 (see main), as under DNS rebinding: the configuration looks same-origin.
        const QString origin = QString("http://evil.example:%1").arg(m_server->port());
        QVERIFY(load(QUrl(origin + "/native-migration"), false)); // an error status fails the load
        QCOMPARE(m_page.url(), QUrl(origin + "/native-migration"));
        QCOMPARE(evaluate("document.body.innerText").toString(), QString("Request failed (403)."));
        evaluate("window.rebound = null; fetch('/launcher-config').then(r => r.text().then(t => window.rebound = r.status + ' ' + t), e => window.rebound = 'error: ' + e)");
        QTRY_VERIFY_WITH_TIMEOUT(!evaluate("window.rebound").isNull(), 20000);
        QCOMPARE(evaluate("window.rebound").toString(), QString("403 Request failed (403)."));
    }
    // The shipped launcher page shows where the bridge is, never its token.
    void shippedPageKeepsTheTokenToItself()
    {
        VintrelleServer server(VintrelleServer::defaultResourcePath(), m_server->configPaths());
        QVERIFY(server.startOnPort(0));
        QVERIFY(load(QUrl(QString("http://127.0.0.1:%1/").arg(server.port()))));
        const QString expected = "The Ableton connection is configured at http://127.0.0.1:45873.";
        QTRY_COMPARE_WITH_TIMEOUT(evaluate("document.getElementById('bridge-status').textContent").toString(), expected, 10000);
        QVERIFY(!evaluate("document.documentElement.outerHTML").toString().contains(secret));
    }
};

int main(int argc, char **argv)
{
    // Headless Chromium as root without GPU. QTWEBENGINE_CHROMIUM_FLAGS would hide the arguments and split at spaces.
    qunsetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    QTemporaryDir runtime, config; // settings of this test stay in a folder of its own
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QByteArrayList flags{"--webEngineArgs", "--disable-gpu", "--no-sandbox", "--host-resolver-rules=MAP evil.example 127.0.0.1"};
    QList<char *> arguments(argv, argv + argc);
    for (QByteArray &flag : flags) arguments << flag.data();
    int applicationArgc = int(arguments.size());
    arguments << nullptr;
    QGuiApplication application(applicationArgc, arguments.data());
    ServerBrowserTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_server_browser.moc"
