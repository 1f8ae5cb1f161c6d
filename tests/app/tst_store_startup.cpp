// Store start-up in the real browser engine: migration out of the launcher page's storage, untrusted pages and frames, a
// launcher that cannot start, and the page's exchanges (a saved library starts without the engine: the command-line test).

#include "VintrelleCommandRouter.h"
#include "VintrelleMigrationPage.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePaletteLibraryFiles.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleServer.h"
#include "VintrelleStoreStartup.h"
#include "VintrelleTestSupport.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QSignalSpy>
#include <QWebEngineProfile>

namespace {

constexpr int slowEngine = 60000; // the engine's first start on a busy machine can take many seconds

// The launcher page the tests serve. As a main frame it holds back its own migration message (the library stays not ready)
// and reports the calls it gets; as a sub-frame it tries every way it has to post a message and tells its parent what it found.
const QByteArray launcherPage = R"(<!doctype html><meta charset="utf-8"><title>launcher</title><script>
addEventListener('vintrelle-message', e => {
  if (JSON.parse(e.detail).action === 'migrateNativeLibrary') e.stopImmediatePropagation();
}, true);
const called = call => window.webkit.messageHandlers.vintrelle.postMessage({action: 'called', call});
window.receiveLibraryFile = text => called('file:' + text);
window.libraryFileStatus = message => called('status:' + message);
if (window !== top) {
  try { window.webkit.messageHandlers.vintrelle.postMessage({action: 'migrateNativeLibrary', state: null}); } catch (e) {}
  document.dispatchEvent(new CustomEvent('vintrelle-message', {detail: '{"action":"migrateNativeLibrary","state":null}'}));
  parent.postMessage('sub-frame handler: ' + typeof window.webkit, '*');
}
</script>)";

// Posts `message` the way only the trusted page's handler should: by raising the handler's event.
QByteArray forge(const QByteArray &message) { return "document.dispatchEvent(new CustomEvent('vintrelle-message',{detail:JSON.stringify(" + message + ")}));"; }

// Runs `script` in `page` and waits for it; false when it failed or never finished.
bool evaluated(VintrellePageEvaluator *page, const QString &script, int timeout = 10000)
{
    std::optional<std::optional<QString>> failure;
    page->evaluate(script, [&](std::optional<QString> error) { failure = error; });
    return QTest::qWaitFor([&] { return failure.has_value(); }, timeout) && !*failure;
}

// Writes `items` into the launcher origin's storage in a child process: the engine commits them only when its process ends.
int seedInThisProcess(const QString &storagePath, const QJsonObject &items)
{
    VintrelleServer server;
    if (!server.startOnPort(VintrelleStoreStartup::launcherPort))
        return 2;
    auto profile = VintrelleMigrationPage::createProfile(storagePath);
    auto page = std::make_unique<VintrelleMigrationPage>(profile.get());
    page->load(QUrl(VintrelleMigrationPage::trustedOrigin() + "/native-migration"));
    QString script = "localStorage.clear(),";
    for (auto item = items.begin(); item != items.end(); ++item)
        script += "localStorage.setItem(..." + QString::fromUtf8(QJsonDocument(QJsonArray{item.key(), item.value()}).toJson(QJsonDocument::Compact)) + "),";
    script += QString("(()=>{if(localStorage.length!==%1)throw new Error('not stored')})()").arg(items.size());
    return evaluated(page.get(), script, 20000) ? 0 : 3; // page, profile, then server go, in that order
}

// A start-up of its own in a fresh home (applied before the start-up reads its paths).
struct Startup
{
    VintrelleTestHome home;
    bool applied = (home.apply(), true);
    VintrelleNativeConnection connection;
    VintrelleCommandRouter router{&connection};
    VintrelleStoreStartup startup{&router};
    QSignalSpy ready{&startup, &VintrelleStoreStartup::ready}, failed{&startup, &VintrelleStoreStartup::failed};
};

} // namespace

class StoreStartupTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_resources;
    std::unique_ptr<Startup> m_pending; // kept in its not-ready state by the test launcher page
    Startup &pending()
    {
        if (!m_pending) {
            m_pending = std::make_unique<Startup>();
            m_pending->startup.setWatchdogInterval(600000);
            m_pending->startup.setMigrationUrl(QUrl(VintrelleMigrationPage::trustedOrigin() + "/index.html"));
            m_pending->startup.prepare();
            if (!m_pending->startup.migrationPage() || !evaluated(m_pending->startup.migrationPage(), "0", slowEngine)) // loaded before any row counts on it
                qFatal("The launcher page did not load.");
        }
        return *m_pending;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules("js.critical=false\njs.warning=false\njs.info=false");
        writeFile(m_resources.filePath("launcher/index.html"), launcherPage);
        qputenv("VINTRELLE_RESOURCES", QFile::encodeName(m_resources.path()));
    }
    void cleanupTestCase() { m_pending.reset(); }
    // The previous library's read paths; a first start without one is launcherCannotStart's retry.
    void migration_data()
    {
        addColumns<QVariantMap, QString, QString>({"storage", "failure", "saved"}); // saved: categories, first id, bridge, token
        const QString newer = R"({"categories":[{"id":"N","name":"Newer","entries":[{"id":"E","label":"Pad","uri":"u"}]}],"bridgeUrl":"http://127.0.0.1:45999","token":"new"})";
        const QString older = R"({"categories":[{"id":"O","name":"Older"}],"token":7})";
        QTest::newRow("newer key wins") << QVariantMap{{"vintrelle-launcher-v2", newer}, {"vintrelle-launcher-v1", older}} << QString() << "1 N http://127.0.0.1:45999 new";
        QTest::newRow("older key alone") << QVariantMap{{"vintrelle-launcher-v1", older}} << QString() << "1 O http://127.0.0.1:45873 ";
        QTest::newRow("unparsable newer text hides a good older one") << QVariantMap{{"vintrelle-launcher-v2", "{\"categories\":["}, {"vintrelle-launcher-v1", older}}
                                                                      << "Your previous library could not be read. Original data is unchanged." << QString();
        QTest::newRow("refused by the store") // its own refusals pass through unchanged
            << QVariantMap{{"vintrelle-launcher-v2", "[1,2]"}} << "The previous library could not be read. Its original data is unchanged." << QString();
    }
    void migration()
    {
        QFETCH(QVariantMap, storage); QFETCH(QString, failure);
        Startup fixture;
        const QStringList seed{"--seed", VintrelleMigrationPage::defaultStoragePath(), QString::fromUtf8(compact(QJsonObject::fromVariantMap(storage)))};
        QCOMPARE(runProgram(QCoreApplication::applicationFilePath(), seed, QProcessEnvironment::systemEnvironment(), {}, 40000).status, 0);
        VintrelleStoreStartup &startup = fixture.startup;
        startup.setWatchdogInterval(slowEngine);
        startup.prepare();
        QVERIFY(startup.isStarting() && startup.migrationPage());
        startup.prepare(); // under way: ignored
        QTRY_VERIFY_WITH_TIMEOUT(fixture.ready.count() + fixture.failed.count() > 0, slowEngine);
        QTest::qWait(100);
        QCOMPARE(fixture.ready.count() + fixture.failed.count(), 1);
        QVERIFY(!startup.isStarting() && !startup.migrationPage()); // torn down either way, launcher port closed
        QCOMPARE(exchange(VintrelleStoreStartup::launcherPort, ""), "client failed");
        QCOMPARE(fixture.failed.isEmpty() ? QString() : fixture.failed.first().first().toString(), failure);
        QCOMPARE(startup.isReady(), failure.isEmpty());
        QCOMPARE(QFileInfo::exists(fixture.home.libraryPath()), failure.isEmpty());
        if (!failure.isEmpty())
            return;
        const QJsonObject saved = QJsonDocument::fromJson(readFile(fixture.home.libraryPath())).object();
        QCOMPARE(saved, *startup.store()->state());
        const QJsonArray categories = saved["categories"].toArray();
        QTEST(QString("%1 %2 %3 %4").arg(categories.size()).arg(categories[0]["id"].toString(), saved["bridgeUrl"].toString(), saved["token"].toString("<missing>")), "saved");
    }
    // A page of another origin, or the launcher page framed by one, can post nothing that counts.
    void untrustedMessages_data()
    {
        addColumns<QByteArray, QString>({"page", "seen"}); // seen: an action that must arrive, untrusted
        QTest::newRow("main frame of another origin")
            << "<!doctype html><script>" + forge("{action:'migrateNativeLibrary',state:null}") + forge("{action:'installBridge'}")
                   + forge("{action:'seen'}") + "</script>" << "seen";
        QTest::newRow("launcher page in a sub-frame")
            << "<!doctype html><script>addEventListener('message',e=>{" + forge("{action:'frame',text:String(e.data)}")
                   + "});</script><iframe src='" + VintrelleMigrationPage::trustedOrigin().toUtf8() + "/index.html'></iframe>" << "frame";
    }
    void untrustedMessages()
    {
        QFETCH(QByteArray, page); QFETCH(QString, seen);
        VintrelleScriptedServer foreign;
        foreign.fallback = {VintrelleScriptedServer::Response::Answer, "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: "
                                                                            + QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page};
        Startup fixture;
        QSignalSpy actions(&fixture.startup, &VintrelleStoreStartup::pageAction);
        fixture.startup.setWatchdogInterval(slowEngine);
        fixture.startup.setMigrationUrl(QUrl(foreign.url() + "/"));
        fixture.startup.prepare();
        QVERIFY(fixture.startup.migrationPage());
        QSignalSpy messages(fixture.startup.migrationPage(), &VintrelleMigrationPage::scriptMessage);
        QTRY_VERIFY_WITH_TIMEOUT(std::any_of(messages.begin(), messages.end(), [&](const QList<QVariant> &message) {
                                     return message.at(0).toJsonObject()["action"].toString() == seen; }), slowEngine);
        QTest::qWait(300);
        QCOMPARE(fixture.failed.count(), 0);
        fixture.startup.setWatchdogInterval(300); // restarts it
        QTRY_COMPARE_WITH_TIMEOUT(fixture.failed.count(), 1, 5000);
        QCOMPARE(fixture.failed.first().first().toString(),
                 "The previous library could not be opened. Quit other copies of Vintrelle and try again. Original data is unchanged.");
        QVERIFY(!QFileInfo::exists(fixture.home.libraryPath()) && !fixture.startup.isReady());
        QCOMPARE(actions.count(), 0);
        for (const QList<QVariant> &message : messages) {
            QVERIFY2(!message.at(1).toBool(), "a message was taken as the launcher page's");
            if (message.at(0).toJsonObject()["action"].toString() == "frame") // the frame ran, and had no handler to post with
                QCOMPARE(message.at(0).toJsonObject()["text"].toString(), QString("sub-frame handler: undefined"));
        }
    }
    // The launcher cannot start; the next attempt, port free and files back, starts over: no previous library, starter categories.
    void launcherCannotStart_data()
    {
        addColumns<bool, QString>({"portTaken", "text"});
        QTest::newRow("port taken") << true << "Quit any other copy of Vintrelle and try again. If an older copy was forced to "
                                               "quit, restart your computer to close its background helper.";
        QTest::newRow("page files missing") << false << "The app's interface files are missing. Please install a fresh copy of Vintrelle.";
    }
    void launcherCannotStart()
    {
        QFETCH(bool, portTaken); QFETCH(QString, text);
        Startup fixture;
        QTcpServer squatter;
        if (portTaken)
            QVERIFY(squatter.listen(QHostAddress::LocalHost, VintrelleStoreStartup::launcherPort));
        else
            qputenv("VINTRELLE_RESOURCES", QFile::encodeName(fixture.home.path("nowhere")));
        QSignalSpy launcherFailed(&fixture.startup, &VintrelleStoreStartup::launcherFailed);
        fixture.startup.prepare();
        QCOMPARE(launcherFailed.count(), 1);
        QCOMPARE(launcherFailed.first().first().toString(), text);
        QVERIFY(!fixture.startup.isStarting() && !fixture.startup.migrationPage() && !QFileInfo::exists(fixture.home.libraryPath()));
        squatter.close();
        qputenv("VINTRELLE_RESOURCES", QFile::encodeName(m_resources.path()));
        fixture.startup.setWatchdogInterval(slowEngine);
        fixture.startup.prepare();
        QTRY_VERIFY_WITH_TIMEOUT(fixture.ready.count() == 1 || launcherFailed.count() > 1, slowEngine);
        QVERIFY2(launcherFailed.count() == 1, qPrintable(launcherFailed.last().first().toString())); // port taken by another run?
        QCOMPARE(fixture.ready.count(), 1);
        const QJsonObject saved = QJsonDocument::fromJson(readFile(fixture.home.libraryPath())).object();
        QCOMPARE(QString::number(saved["categories"].toArray().size()) + ' ' + saved["categories"][0]["id"].toString() + ' ' + saved["bridgeUrl"].toString(), "16 starter-0 http://127.0.0.1:45873");
    }
    // The page's library export and import: the export limit and the lines the page receives (file rules: the settings window's test).
    void paletteFiles_data()
    {
        // request: posted by the page, or "<n> units" exported; chosen: empty when cancelled; existing/after: the file ("<none>": missing)
        addColumns<QString, QString, QByteArray, QString, QByteArray>({"request", "chosen", "existing", "call", "after"});
        const QString quoted = "Lib \"ü\" 'x'\n\\ </script> \u2028 %1", import = "{action:'importLibrary'}", tooLarge = "status:Library export is too large.";
        const QByteArray quotedBytes = "Lib \"\xc3\xbc\" 'x'\n\\ </script> \xe2\x80\xa8 %1", none = "<none>", notUtf8 = "{\"a\":\"\xff\"}";
        const QByteArray overLimit(VintrelleLimits::importFileBytes + 1, ' ');
        QTest::newRow("export into a missing folder") << "{action:'exportLibrary',contents:'x'}" << "missing/out.json" << none
                                                      << "status:Could not save the library. Choose a writable folder and try again." << none;
        QTest::newRow("export at the limit") << "5242880 units" << "out.json" << none << "status:Library exported." << QByteArray(5242880, 'x');
        QTest::newRow("export one unit over") << "5242881 units" << "out.json" << none << tooLarge << none;
        QTest::newRow("import hands the text over unchanged") << import << "in.json" << quotedBytes << "file:" + quoted << quotedBytes;
        QTest::newRow("import cancelled") << import << QString() << none << "status:Import cancelled." << none;
        QTest::newRow("import of text that is not UTF-8") << import << "in.json" << notUtf8 << "status:Could not read this library file." << notUtf8;
        QTest::newRow("import one byte over") << import << "in.json" << overLimit << "status:" + VintrelleMessages::importFileTooLarge << overLimit;
    }
    void paletteFiles()
    {
        QFETCH(QString, request); QFETCH(QString, chosen); QFETCH(QByteArray, existing); QFETCH(QString, call); QFETCH(QByteArray, after);
        Startup &fixture = pending();
        QTemporaryDir folder;
        const QString path = folder.filePath(chosen);
        if (existing != "<none>")
            writeFile(path, existing);
        VintrellePaletteLibraryFiles files(&fixture.startup);
        int asked = 0;
        files.chooseExportPath = files.chooseImportPath = [&] { return ++asked, chosen.isEmpty() ? std::nullopt : std::optional<QString>(path); };
        QSignalSpy received(fixture.startup.migrationPage(), &VintrelleMigrationPage::scriptMessage);
        if (request.endsWith(" units"))
            files.exportLibrary(QString(request.section(' ', 0, 0).toInt(), 'x'));
        else
            QVERIFY(evaluated(fixture.startup.migrationPage(), "window.webkit.messageHandlers.vintrelle.postMessage(" + request + ")")); // as its own handler would
        QTRY_VERIFY_WITH_TIMEOUT(!received.isEmpty() && received.last()[0].toJsonObject()["action"] == "called", 30000);
        QTest::qWait(200); // nothing more may come
        QCOMPARE(received.last()[0].toJsonObject()["call"].toString(), call);
        QCOMPARE(received.size(), request.endsWith(" units") ? 1 : 2); // the posted request, then one call
        QCOMPARE(QFileInfo(path).isFile() ? readFile(path) : QByteArray("<none>"), after);
        QCOMPARE(asked, call.endsWith("too large.") ? 0 : 1); // never asked for text that cannot be exported
    }
};

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc == 4 && qstrcmp(argv[1], "--seed") == 0)
        return seedInThisProcess(QString::fromLocal8Bit(argv[2]), QJsonDocument::fromJson(argv[3]).object());
    StoreStartupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_store_startup.moc"
