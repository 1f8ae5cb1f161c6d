// Store start-up against the real browser engine: the file path that never starts the engine,
// migration out of the launcher page's storage, untrusted pages and frames, a busy launcher port,
// and commands forwarded to the page while the library is not ready.

#include "VintrelleTestSupport.h"

#include "VintrelleCommandRouter.h"
#include "VintrelleMigrationPage.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePaletteLibraryFiles.h"
#include "VintrelleServer.h"
#include "VintrelleStoreStartup.h"

#include <QGuiApplication>
#include <QJsonArray>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebEngineProfile>

#include <memory>
#include <unistd.h>

namespace {

const QString trustedPage = "http://127.0.0.1:48123/native-migration";
// The engine's first start on a busy machine can take many seconds; waits are generous.
constexpr int slowEngine = 60000;
const QString unreadable = "Your previous library could not be read. Original data is unchanged.";
const QString timedOut =
    "The previous library could not be opened. Quit other copies of Vintrelle and try again. Original data is unchanged.";

// The launcher page the tests serve from the trusted origin. As a main frame it holds back its own
// migration message, so the library stays not ready, and answers forwarded commands; as a
// sub-frame it tries every way it has to post a message and tells its parent what it found.
const QByteArray launcherPage = R"(<!doctype html><meta charset="utf-8"><title>launcher</title><script>
addEventListener('vintrelle-message', e => {
  if (JSON.parse(e.detail).action === 'migrateNativeLibrary') e.stopImmediatePropagation();
}, true);
let sets = 0, last;
Object.defineProperty(window, 'vintrelleScreenGeometry', {set(v) { sets++; last = v; }, get() { return last; }});
window.geometrySets = () => sets;
window.waiting = [];
window.calls = [];
window.receiveLibraryFile = text => calls.push('file:' + (text.length > 4096 ? 'length ' + text.length : text));
window.libraryFileStatus = message => calls.push('status:' + message);
window.vintrelleNativeCommand = command => {
  switch (command.op) {
  case 'echo': return {echo: command.value};
  case 'fail': throw new Error('The page refused.');
  case 'failBare': return Promise.reject({});
  case 'nothing': return undefined;
  case 'hang': return new Promise(resolve => waiting.push(resolve));
  default: return {forwarded: command.op};
  }
};
if (window !== top) {
  try { window.webkit.messageHandlers.vintrelle.postMessage({action: 'migrateNativeLibrary', state: null}); } catch (e) {}
  document.dispatchEvent(new CustomEvent('vintrelle-message', {detail: '{"action":"migrateNativeLibrary","state":null}'}));
  parent.postMessage('sub-frame handler: ' + typeof window.webkit, '*');
}
</script>)";

// Posts `message` the way only the trusted page's handler should: by raising the handler's event.
QByteArray forge(const QByteArray &message)
{
    return "document.dispatchEvent(new CustomEvent('vintrelle-message',{detail:JSON.stringify(" + message + ")}));";
}

// Serves one page for every request from another loopback port: another origin.
class ForeignPageServer : public QObject
{
public:
    explicit ForeignPageServer(QByteArray page) : m_page(std::move(page))
    {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                connect(socket, &QTcpSocket::readyRead, socket, [this, socket] {
                    if (!socket->peek(65536).contains("\r\n\r\n"))
                        return;
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                                  + QByteArray::number(m_page.size()) + "\r\nConnection: close\r\n\r\n" + m_page);
                    socket->disconnectFromHost();
                });
            }
        });
        m_server.listen(QHostAddress::LocalHost);
    }
    QUrl url() const { return QUrl(QString("http://127.0.0.1:%1/").arg(m_server.serverPort())); }

private:
    QTcpServer m_server;
    QByteArray m_page;
};

// QtWebEngine helper processes started by this process.
int webEngineChildren()
{
    int count = 0;
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QByteArray stat = readFile("/proc/" + entry + "/stat");
        const qsizetype open = stat.indexOf('('), close = stat.lastIndexOf(')');
        if (open < 0 || close < open)
            continue;
        const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
        if (fields.size() > 1 && fields[1].toLongLong() == ::getpid()
            && stat.mid(open + 1, close - open - 1).startsWith("QtWebEngine"))
            ++count;
    }
    return count;
}

// Writes `items` into the launcher origin's storage under `storagePath` through the program's own
// page. Done by a child process, as the previous generation did: the engine lets go of a storage
// folder only when its process ends, and a clean close is what commits the writes.
int seedInThisProcess(const QString &storagePath, const QJsonObject &items)
{
    VintrelleServer server;
    if (!server.startOnPort(VintrelleStoreStartup::launcherPort))
        return 2;
    auto profile = VintrelleMigrationPage::createProfile(storagePath);
    auto page = std::make_unique<VintrelleMigrationPage>(profile.get());
    page->load(QUrl(trustedPage));
    QString script = "localStorage.clear(),";
    for (auto item = items.begin(); item != items.end(); ++item) {
        const QByteArray arguments = QJsonDocument(QJsonArray{item.key(), item.value()}).toJson(QJsonDocument::Compact);
        script += "localStorage.setItem(..." + QString::fromUtf8(arguments) + "),";
    }
    script += QString("(()=>{if(localStorage.length!==%1)throw new Error('not stored')})()").arg(items.size());
    std::optional<QString> failure = QString("not run");
    page->evaluate(script, [&](std::optional<QString> error) { failure = error; });
    if (!QTest::qWaitFor([&] { return failure != QString("not run"); }, 20000) || failure)
        return 3;
    page.reset();
    profile.reset();
    server.stop();
    return 0;
}

void seedPreviousLibrary(const QString &storagePath, const QVariantMap &items)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {"--seed", storagePath, QString::fromUtf8(QJsonDocument(QJsonObject::fromVariantMap(items)).toJson())});
    QVERIFY(child.waitForFinished(40000));
    QCOMPARE(child.exitCode(), 0);
}

bool launcherPortAnswers()
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, VintrelleStoreStartup::launcherPort);
    return socket.waitForConnected(2000);
}

struct Answer
{
    int calls = 0;
    std::optional<QJsonObject> result;
    std::optional<QString> error;
};

// A start-up kept in its not-ready state by the test launcher page, for forwarding and messages.
struct PendingStartup
{
    VintrelleTestHome home;
    VintrelleNativeConnection connection;
    VintrelleCommandRouter router{&connection};
    std::unique_ptr<VintrelleStoreStartup> startup;

    std::shared_ptr<Answer> send(const QJsonObject &command)
    {
        auto answer = std::make_shared<Answer>();
        router.executeNativeCommand(command, [answer](std::optional<QJsonObject> result, std::optional<QString> error) {
            ++answer->calls;
            answer->result = result;
            answer->error = error;
        });
        return answer;
    }
};

} // namespace

class StoreStartupTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    // First: nothing of the engine may have started before it.
    void fileStart_data();
    void fileStart();
    void migration_data();
    void migration();
    void untrustedMessages_data();
    void untrustedMessages();
    void launcherCannotStart_data();
    void launcherCannotStart();
    void forwarding_data();
    void forwarding();
    void pageMessages_data();
    void pageMessages();
    void paletteFiles_data();
    void paletteFiles();

private:
    PendingStartup &pending();
    void postFromPage(const QString &script);

    QTemporaryDir m_resources;
    std::unique_ptr<PendingStartup> m_pending;
};

void StoreStartupTest::initTestCase()
{
    QLoggingCategory::setFilterRules("qt.webenginecontext.info=false\nqt.webenginecontext.debug=false\n"
                                     "js.critical=false\njs.warning=false\njs.info=false");
    writeFile(m_resources.filePath("launcher/index.html"), launcherPage);
    qputenv("VINTRELLE_RESOURCES", QFile::encodeName(m_resources.path()));
    QCOMPARE(webEngineChildren(), 0);
}

void StoreStartupTest::cleanupTestCase()
{
    m_pending.reset();
}

void StoreStartupTest::fileStart_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<QString>("failure"); // empty: ready

    QTest::newRow("valid library") << QByteArray(R"({"nativeVersion":1,"categories":[{"id":"A","name":"Synths",)"
                                                 R"("parentId":null,"entries":[]}],"bridgeUrl":"http://127.0.0.1:45873","token":"t"})")
                                   << QString();
    QTest::newRow("not JSON") << QByteArray("{\"nativeVersion\":1,")
                              << QString("The saved library is not valid JSON");
}

void StoreStartupTest::fileStart()
{
    QFETCH(QByteArray, contents);
    QFETCH(QString, failure);
    VintrelleTestHome home;
    home.apply();
    writeFile(home.libraryPath(), contents);

    VintrelleNativeConnection connection;
    VintrelleCommandRouter router(&connection);
    VintrelleStoreStartup startup(&router);
    QSignalSpy ready(&startup, &VintrelleStoreStartup::ready);
    QSignalSpy failed(&startup, &VintrelleStoreStartup::failed);
    startup.prepare(); // answers before it returns: no engine, no event loop

    QCOMPARE(ready.count(), failure.isEmpty() ? 1 : 0);
    QCOMPARE(failed.count(), failure.isEmpty() ? 0 : 1);
    if (!failure.isEmpty())
        QVERIFY2(failed.first().first().toString().startsWith(failure), qPrintable(failed.first().first().toString()));
    QCOMPARE(startup.isReady(), failure.isEmpty());
    QVERIFY(!startup.isStarting());
    QVERIFY(!startup.migrationPage());
    QVERIFY(!startup.hasLauncherServer());
    QCOMPARE(readFile(home.libraryPath()), contents);
    QTest::qWait(200);
    QCOMPARE(webEngineChildren(), 0);
}

void StoreStartupTest::migration_data()
{
    QTest::addColumn<QVariantMap>("storage");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QString>("token");

    const QString newer = R"({"categories":[{"id":"N","name":"Newer","entries":[{"id":"E","label":"Pad","uri":"u"}]}],)"
                          R"("bridgeUrl":"http://127.0.0.1:45999","token":"new"})";
    const QString older = R"({"categories":[{"id":"O","name":"Older"}],"token":7})";
    QTest::newRow("no previous library: starter categories")
        << QVariantMap{} << QString() << QStringList{"starter"} << QString();
    QTest::newRow("newer key wins") << QVariantMap{{"vintrelle-launcher-v2", newer}, {"vintrelle-launcher-v1", older}}
                                    << QString() << QStringList{"Newer"} << QString("new");
    QTest::newRow("older key alone") << QVariantMap{{"vintrelle-launcher-v1", older}} << QString()
                                     << QStringList{"Older"} << QString();
    QTest::newRow("unparsable newer text hides a good older one")
        << QVariantMap{{"vintrelle-launcher-v2", "{\"categories\":["}, {"vintrelle-launcher-v1", older}} << unreadable
        << QStringList{} << QString();
    // The store's own refusals pass through unchanged; the library tests list them.
    QTest::newRow("refused by the store")
        << QVariantMap{{"vintrelle-launcher-v2", "[1,2]"}}
        << QString("The previous library could not be read. Its original data is unchanged.") << QStringList{}
        << QString();
}

void StoreStartupTest::migration()
{
    QFETCH(QVariantMap, storage);
    QFETCH(QString, failure);
    QFETCH(QStringList, names);
    QFETCH(QString, token);
    VintrelleTestHome home;
    home.apply();
    seedPreviousLibrary(VintrelleMigrationPage::defaultStoragePath(), storage);
    if (QTest::currentTestFailed())
        return;

    VintrelleNativeConnection connection;
    VintrelleCommandRouter router(&connection);
    VintrelleStoreStartup startup(&router);
    QSignalSpy ready(&startup, &VintrelleStoreStartup::ready);
    QSignalSpy failed(&startup, &VintrelleStoreStartup::failed);
    startup.setWatchdogInterval(slowEngine);
    startup.prepare();
    QVERIFY(startup.isStarting());
    QVERIFY(startup.migrationPage());
    startup.prepare(); // under way: ignored
    QTRY_VERIFY_WITH_TIMEOUT(ready.count() + failed.count() > 0, slowEngine);
    QTest::qWait(100);
    QCOMPARE(ready.count() + failed.count(), 1);
    QVERIFY(webEngineChildren() > 0); // the engine ran, so the check of the file start can see one

    // Torn down either way: page gone, launcher port closed.
    QVERIFY(!startup.isStarting());
    QVERIFY(!startup.migrationPage());
    QVERIFY(!launcherPortAnswers());

    if (!failure.isEmpty()) {
        QCOMPARE(failed.first().first().toString(), failure);
        QVERIFY(!QFileInfo::exists(home.libraryPath()));
        QVERIFY(!startup.isReady());
        return;
    }
    QVERIFY(startup.isReady());
    const QJsonObject saved = QJsonDocument::fromJson(readFile(home.libraryPath())).object();
    QCOMPARE(saved, *startup.store()->state());
    const QJsonArray categories = saved["categories"].toArray();
    if (names == QStringList{"starter"}) {
        QCOMPARE(categories.size(), 16);
        QCOMPARE(categories.first()["id"].toString(), QString("starter-0"));
        QCOMPARE(saved["bridgeUrl"].toString(), QString("http://127.0.0.1:45873"));
    } else {
        QCOMPARE(categories.size(), names.size());
        for (qsizetype i = 0; i < names.size(); ++i) {
            QCOMPARE(categories[i]["name"].toString(), names[i]);
            QVERIFY(categories[i]["parentId"].isNull());
        }
    }
    QCOMPARE(saved["token"].toString("<missing>"), token);
}

void StoreStartupTest::untrustedMessages_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("seen"); // an action that must arrive, untrusted

    QTest::newRow("main frame of another origin")
        << "<!doctype html><script>" + forge("{action:'migrateNativeLibrary',state:null}")
               + forge("{action:'installBridge'}") + forge("{action:'seen'}") + "</script>"
        << QString("seen");
    QTest::newRow("launcher page in a sub-frame")
        << "<!doctype html><script>addEventListener('message',e=>{"
               + forge("{action:'frame',text:String(e.data)}") + "});</script><iframe src='"
               + VintrelleMigrationPage::trustedOrigin().toUtf8() + "/index.html'></iframe>"
        << QString("frame");
}

void StoreStartupTest::untrustedMessages()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, seen);
    VintrelleTestHome home;
    home.apply();
    ForeignPageServer foreign(page);

    VintrelleNativeConnection connection;
    VintrelleCommandRouter router(&connection);
    VintrelleStoreStartup startup(&router);
    startup.setWatchdogInterval(slowEngine);
    startup.setMigrationUrl(foreign.url());
    QSignalSpy failed(&startup, &VintrelleStoreStartup::failed);
    QSignalSpy actions(&startup, &VintrelleStoreStartup::pageAction);
    startup.prepare();
    QVERIFY(startup.migrationPage());
    QSignalSpy messages(startup.migrationPage(), &VintrelleMigrationPage::scriptMessage);

    auto seenArrived = [&] {
        for (const QList<QVariant> &message : messages)
            if (message.at(0).toJsonObject()["action"].toString() == seen)
                return true;
        return false;
    };
    QTRY_VERIFY_WITH_TIMEOUT(seenArrived(), slowEngine);
    QTest::qWait(300);
    QCOMPARE(failed.count(), 0);
    startup.setWatchdogInterval(300); // restarts it
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 5000);
    QCOMPARE(failed.first().first().toString(), timedOut);
    QVERIFY(!QFileInfo::exists(home.libraryPath()));
    QVERIFY(!startup.isReady());
    QCOMPARE(actions.count(), 0);

    for (const QList<QVariant> &message : messages) {
        QVERIFY2(!message.at(1).toBool(), "a message was taken as the launcher page's");
        const QJsonObject body = message.at(0).toJsonObject();
        if (body["action"].toString() == "frame") // the frame ran, and had no handler to post with
            QCOMPARE(body["text"].toString(), QString("sub-frame handler: undefined"));
    }
}

void StoreStartupTest::launcherCannotStart_data()
{
    QTest::addColumn<bool>("portTaken");
    QTest::addColumn<QString>("text");
    QTest::newRow("port taken") << true
                                << QString("Quit any other copy of Vintrelle and try again. If an older copy was forced to "
                                           "quit, restart your computer to close its background helper.");
    QTest::newRow("page files missing")
        << false << QString("The app's interface files are missing. Please install a fresh copy of Vintrelle.");
}

void StoreStartupTest::launcherCannotStart()
{
    QFETCH(bool, portTaken);
    QFETCH(QString, text);
    VintrelleTestHome home;
    home.apply();
    QTcpServer squatter;
    if (portTaken)
        QVERIFY(squatter.listen(QHostAddress::LocalHost, VintrelleStoreStartup::launcherPort));
    else
        qputenv("VINTRELLE_RESOURCES", QFile::encodeName(home.path("nowhere")));

    VintrelleNativeConnection connection;
    VintrelleCommandRouter router(&connection);
    VintrelleStoreStartup startup(&router);
    QSignalSpy ready(&startup, &VintrelleStoreStartup::ready);
    QSignalSpy launcherFailed(&startup, &VintrelleStoreStartup::launcherFailed);
    startup.prepare();
    QCOMPARE(launcherFailed.count(), 1);
    QCOMPARE(launcherFailed.first().first().toString(), text);
    QVERIFY(!startup.isStarting());
    QVERIFY(!startup.migrationPage());
    QVERIFY(!QFileInfo::exists(home.libraryPath()));

    // The next attempt, with the port free and the files back, starts from the beginning.
    squatter.close();
    qputenv("VINTRELLE_RESOURCES", QFile::encodeName(m_resources.path()));
    startup.setWatchdogInterval(slowEngine);
    startup.prepare();
    QTRY_COMPARE_WITH_TIMEOUT(ready.count(), 1, slowEngine);
    QCOMPARE(launcherFailed.count(), 1);
    QCOMPARE(QJsonDocument::fromJson(readFile(home.libraryPath()))["categories"].toArray().size(), 16);
}

PendingStartup &StoreStartupTest::pending()
{
    if (!m_pending) {
        m_pending = std::make_unique<PendingStartup>();
        m_pending->home.apply();
        m_pending->router.setForwardTimeout(10000);
        m_pending->startup = std::make_unique<VintrelleStoreStartup>(&m_pending->router);
        m_pending->startup->setWatchdogInterval(600000);
        m_pending->startup->setMigrationUrl(QUrl(VintrelleMigrationPage::trustedOrigin() + "/index.html"));
        m_pending->startup->prepare();
        // Loaded and answering before any row counts on it.
        std::optional<QString> done = QString("not run");
        m_pending->startup->migrationPage()->evaluate("0", [&](std::optional<QString> failure) { done = failure; });
        if (!QTest::qWaitFor([&] { return !done.has_value(); }, slowEngine))
            qFatal("The launcher page did not load.");
    }
    return *m_pending;
}

void StoreStartupTest::forwarding_data()
{
    QTest::addColumn<QJsonObject>("command");
    QTest::addColumn<QJsonObject>("result");
    QTest::addColumn<QString>("error"); // empty: none

    QTest::newRow("answered") << QJsonObject{{"op", "echo"}, {"value", "ü \"quoted\" </script>"}}
                              << QJsonObject{{"echo", "ü \"quoted\" </script>"}} << QString();
    QTest::newRow("connection goes to the page too")
        << QJsonObject{{"op", "connection"}} << QJsonObject{{"forwarded", "connection"}} << QString();
    QTest::newRow("no result is an empty one") << QJsonObject{{"op", "nothing"}} << QJsonObject{} << QString();
    QTest::newRow("thrown error") << QJsonObject{{"op", "fail"}} << QJsonObject{} << QString("The page refused.");
    QTest::newRow("rejection without a message")
        << QJsonObject{{"op", "failBare"}} << QJsonObject{} << QString("Unable to complete action.");
    QTest::newRow("never answered: time-out, late answer ignored")
        << QJsonObject{{"op", "hang"}} << QJsonObject{}
        << QString("Action timed out. Check Ableton before retrying a load.");
}

void StoreStartupTest::forwarding()
{
    QFETCH(QJsonObject, command);
    QFETCH(QJsonObject, result);
    QFETCH(QString, error);
    PendingStartup &fixture = pending();
    QVERIFY(fixture.startup->isStarting());

    auto answer = fixture.send(command);
    QTRY_COMPARE_WITH_TIMEOUT(answer->calls, 1, 30000);
    QCOMPARE(answer->error.value_or(QString()), error);
    if (error.isEmpty())
        QCOMPARE(answer->result.value_or(QJsonObject{{"missing", true}}), result);

    // Whatever the page does now is too late.
    std::optional<QString> released = QString("not run");
    fixture.startup->migrationPage()->evaluate("waiting.splice(0).forEach(resolve => resolve({late: true}))",
                                               [&](std::optional<QString> failure) { released = failure; });
    QTRY_VERIFY_WITH_TIMEOUT(!released.has_value(), 10000);
    QTest::qWait(300);
    QCOMPARE(answer->calls, 1);
    QVERIFY(!fixture.startup->isReady());
}

void StoreStartupTest::pageMessages_data()
{
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("actions"); // emitted to the rest of the application, in order
    QTest::addColumn<int>("geometrySets");    // screen geometry scripts that reached the page

    QTest::newRow("owned elsewhere") << QStringList{"{action:'installBridge'}", "{action:'exportLibrary',contents:'x'}"}
                                     << QStringList{"installBridge", "exportLibrary"} << 0;
    QTest::newRow("library with and without an array")
        << QStringList{"{action:'quickMenuLibrary',categories:'none'}", "{action:'quickMenuLibrary',categories:[]}"}
        << QStringList{"quickMenuLibrary"} << 0;
    QTest::newRow("palette panel only") << QStringList{"{action:'move',dx:4,dy:2}", "{action:'hide'}",
                                                       "{action:'interactiveRegions',regions:[]}"}
                                        << QStringList{} << 0;
    QTest::newRow("results of unknown or malformed requests")
        << QStringList{"{action:'nativeCommandResult',requestID:'NOPE',result:{}}",
                       "{action:'nativeCommandResult',requestID:7}"}
        << QStringList{} << 0;
    QTest::newRow("geometry asked for twice is sent twice")
        << QStringList{"{action:'getScreenGeometry'}", "{action:'getScreenGeometry'}"} << QStringList{} << 2;
    QTest::newRow("unchanged geometry is reported once")
        << QStringList{"{action:'getScreenGeometry'}", "{action:'resize',width:5}", "'not an object'"}
        << QStringList{} << 1;
}

void StoreStartupTest::postFromPage(const QString &script)
{
    std::optional<QString> done = QString("not run");
    pending().startup->migrationPage()->evaluate(script, [&](std::optional<QString> failure) { done = failure; });
    QTRY_VERIFY_WITH_TIMEOUT(!done.has_value(), 10000);
}

void StoreStartupTest::pageMessages()
{
    QFETCH(QStringList, messages);
    QFETCH(QStringList, actions);
    QFETCH(int, geometrySets);
    PendingStartup &fixture = pending();
    VintrelleMigrationPage *page = fixture.startup->migrationPage();
    QVERIFY(page);
    QSignalSpy emitted(fixture.startup.get(), &VintrelleStoreStartup::pageAction);
    QSignalSpy received(page, &VintrelleMigrationPage::scriptMessage);

    // Counts the geometry scripts that arrive before the last probe.
    auto probe = [&](const QString &name) {
        const qsizetype before = received.count();
        postFromPage("window.webkit.messageHandlers.vintrelle.postMessage({action:'" + name
                     + "',sets:geometrySets()})");
        if (!QTest::qWaitFor([&] { return received.count() > before; }, 10000))
            return -1;
        return received.last().first().toJsonObject()["sets"].toInt();
    };
    probe("probe"); // the first report of the page's life is sent; the second probe sees it
    const int setsBefore = probe("probe");
    QString script;
    for (const QString &message : messages)
        script += "window.webkit.messageHandlers.vintrelle.postMessage(" + message + "),";
    const qsizetype before = received.count();
    postFromPage(script + "0");
    QTRY_COMPARE_WITH_TIMEOUT(received.count(), before + messages.size(), 10000);
    QVERIFY(received.at(before).at(1).toBool()); // the launcher page's own main frame
    const int setsAfter = probe("probe");

    QCOMPARE(setsAfter - setsBefore, geometrySets);
    QStringList emittedActions;
    for (const QList<QVariant> &action : emitted)
        emittedActions << action.first().toString();
    QCOMPARE(emittedActions, actions);
}

void StoreStartupTest::paletteFiles_data()
{
    QTest::addColumn<QString>("request"); // posted by the page; "<n> units" exported, "status" reported directly
    QTest::addColumn<QString>("chosen");      // a name in the row's folder; empty: cancelled
    QTest::addColumn<QByteArray>("existing"); // the chosen file before; "<none>": missing
    QTest::addColumn<QStringList>("calls");   // what the page's functions received, in order
    QTest::addColumn<QByteArray>("after");    // the chosen file afterwards

    const QString quoted = "Lib \"ü\" 'x'\n\\ </script> \u2028 %1";
    const QByteArray quotedBytes = "Lib \"\xc3\xbc\" 'x'\n\\ </script> \xe2\x80\xa8 %1";
    const QByteArray none = "<none>";
    QTest::newRow("export replaces the chosen file")
        << "{action:'exportLibrary',contents:" + QString::fromUtf8(QJsonDocument(QJsonArray{quoted}).toJson(QJsonDocument::Compact)) + "[0]}"
        << "out.json" << QByteArray("old") << QStringList{"status:Library exported."} << quotedBytes;
    QTest::newRow("export cancelled") << "{action:'exportLibrary',contents:'x'}" << QString() << none
                                      << QStringList{"status:Export cancelled."} << none;
    QTest::newRow("export of no text") << "{action:'exportLibrary',contents:5}" << "out.json" << none
                                       << QStringList{"status:Library export is too large."} << none;
    QTest::newRow("export into a missing folder")
        << "{action:'exportLibrary',contents:'x'}" << "missing/out.json" << none
        << QStringList{"status:Could not save the library. Choose a writable folder and try again."} << none;
    QTest::newRow("export at the limit") << "5242880 units" << "out.json" << none
                                         << QStringList{"status:Library exported."} << QByteArray(5242880, 'x');
    QTest::newRow("export one unit over") << "5242881 units" << "out.json" << none
                                          << QStringList{"status:Library export is too large."} << none;
    QTest::newRow("status reaches the page unchanged") << "status" << QString() << none
                                                       << QStringList{"status:" + quoted} << none;
    QTest::newRow("import hands the text over unchanged")
        << "{action:'importLibrary'}" << "in.json" << quotedBytes << QStringList{"file:" + quoted} << quotedBytes;
    QTest::newRow("import cancelled") << "{action:'importLibrary'}" << QString() << none
                                      << QStringList{"status:Import cancelled."} << none;
    QTest::newRow("import of text that is not UTF-8")
        << "{action:'importLibrary'}" << "in.json" << QByteArray("{\"a\":\"\xff\"}")
        << QStringList{"status:Could not read this library file."} << QByteArray("{\"a\":\"\xff\"}");
    QTest::newRow("import cut inside a character")
        << "{action:'importLibrary'}" << "in.json" << QByteArray("ab\xc3")
        << QStringList{"status:Could not read this library file."} << QByteArray("ab\xc3");
    QTest::newRow("import at the size limit")
        << "{action:'importLibrary'}" << "in.json" << QByteArray(VintrelleLimits::importFileBytes, ' ')
        << QStringList{QString("file:length %1").arg(VintrelleLimits::importFileBytes)}
        << QByteArray(VintrelleLimits::importFileBytes, ' ');
    QTest::newRow("import one byte over")
        << "{action:'importLibrary'}" << "in.json" << QByteArray(VintrelleLimits::importFileBytes + 1, ' ')
        << QStringList{"status:" + VintrelleMessages::importFileTooLarge}
        << QByteArray(VintrelleLimits::importFileBytes + 1, ' ');
    QTest::newRow("import of a folder") << "{action:'importLibrary'}" << "." << none
                                        << QStringList{"status:" + VintrelleMessages::importFileTooLarge} << none;
}

void StoreStartupTest::paletteFiles()
{
    QFETCH(QString, request);
    QFETCH(QString, chosen);
    QFETCH(QByteArray, existing);
    QFETCH(QStringList, calls);
    QFETCH(QByteArray, after);
    PendingStartup &fixture = pending();
    QTemporaryDir folder;
    const QString path = folder.filePath(chosen);
    if (existing != "<none>")
        writeFile(path, existing);

    VintrellePaletteLibraryFiles files(fixture.startup.get());
    int asked = 0;
    files.chooseExportPath = files.chooseImportPath = [&]() -> std::optional<QString> {
        ++asked;
        return chosen.isEmpty() ? std::nullopt : std::optional<QString>(path);
    };
    QSignalSpy received(fixture.startup->migrationPage(), &VintrelleMigrationPage::scriptMessage);
    if (request == "status")
        files.libraryFileMessage(calls.first().mid(int(strlen("status:"))));
    else if (request.endsWith(" units"))
        files.exportLibrary(QString(request.section(' ', 0, 0).toInt(), 'x'));
    else
        postFromPage("window.webkit.messageHandlers.vintrelle.postMessage(" + request + ")");

    // Collects what the page's functions got until as many calls as expected have arrived.
    QStringList got;
    auto collect = [&] {
        const qsizetype before = received.count();
        postFromPage("window.webkit.messageHandlers.vintrelle.postMessage({action:'calls',calls:calls.splice(0)})");
        if (!QTest::qWaitFor([&] { return received.count() > before; }, 10000))
            return false;
        for (const QList<QVariant> &message : std::as_const(received))
            if (message.at(0).toJsonObject()["action"].toString() == "calls")
                for (const QJsonValue &call : message.at(0).toJsonObject()["calls"].toArray())
                    got << call.toString();
        received.clear();
        return got.size() >= calls.size();
    };
    QVERIFY(QTest::qWaitFor(collect, 30000));
    QTest::qWait(200);
    collect(); // nothing more may come
    QCOMPARE(got, calls);
    QCOMPARE(QFileInfo(path).isFile() ? readFile(path) : QByteArray("<none>"), after);
    // The dialog is never shown for text that cannot be exported.
    QCOMPARE(asked, request == "status" || calls.first() == "status:Library export is too large." ? 0 : 1);
}

int main(int argc, char **argv)
{
    const bool seeding = argc == 4 && qstrcmp(argv[1], "--seed") == 0;
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    if (qEnvironmentVariableIsEmpty("QTWEBENGINE_CHROMIUM_FLAGS"))
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
    QGuiApplication application(argc, argv);
    if (seeding)
        return seedInThisProcess(QString::fromLocal8Bit(argv[2]), QJsonDocument::fromJson(argv[3]).object());
    StoreStartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_store_startup.moc"
