#include "VintrelleBridgeSimulator.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePageEvaluator.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleTestSupport.h"

#include <QSettings>
#include <QTimer>
#include <QUuid>

Q_DECLARE_METATYPE(VintrelleScriptedServer::Response)

namespace {

const QString notConfirmed = "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.";
const QString forwardTimedOut = "Action timed out. Check Ableton before retrying a load.";
const QString entryURI = "query:Plugins#VST3:Vendor:Pad Machine";

std::shared_ptr<VintrelleAnswer> send(VintrelleCommandRouter &router, const QJsonObject &command, bool wait = false)
{
    return recordAnswer([&](VintrelleReply reply) { router.executeNativeCommand(command, reply); }, wait);
}

std::shared_ptr<VintrelleAnswer> sendAndWait(VintrelleCommandRouter &router, const QJsonObject &command) { return send(router, command, true); }

// Stands in for the palette web view (not part of this build), which evaluates script later.
class PageStandIn : public VintrellePageEvaluator
{
public:
    QStringList scripts;
    std::optional<QString> failure;

    void evaluate(const QString &script, Completion completion) override
    {
        scripts << script;
        QTimer::singleShot(0, [completion, failure = failure] { completion(failure); });
    }

    // The [command, requestID] the script carries.
    QJsonArray arguments(qsizetype index) const
    {
        const QString script = scripts.value(index), start = "(()=>{const [command,requestID]=";
        const qsizetype end = script.indexOf(";Promise.resolve()");
        if (!script.startsWith(start) || end < 0 || !script.contains("window.vintrelleNativeCommand(command)"))
            return {};
        return QJsonDocument::fromJson(script.mid(start.size(), end - start.size()).toUtf8()).array();
    }
};

} // namespace

class TestCommandRouter : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    QString m_entryID;

    // Points the bridge configuration at `port`, as an installed bridge would.
    void configureBridge(quint16 port)
    {
        writeFile(m_home.path("bridge-config.json"), compact({{"port", port}, {"token", "router-token"}}));
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.path("bridge-config.json").toUtf8());
    }

private slots:
    void initTestCase()
    {
        m_home.apply();
        QDir().mkpath(m_home.path("simulator"));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.path("simulator"));
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
    }

    void init()
    {
        QFile::remove(m_home.libraryPath());
        m_store = std::make_unique<VintrelleNativeStore>(m_home.libraryPath());
        QVERIFY(m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        QVERIFY(m_store->perform({{"op", "addPlugin"}, {"categoryID", "starter-0"}, {"entry", QJsonObject{{"name", "Pad Machine"}, {"uri", entryURI}}}}, nullptr));
        m_entryID = m_store->state()->value("categories")[0]["entries"][0]["id"].toString();
        m_connection = std::make_unique<VintrelleNativeConnection>();
        m_router = std::make_unique<VintrelleCommandRouter>(m_connection.get());
        m_router->setStore(m_store.get());
        m_router->chooseUserLibrary = [] { return std::optional<QString>(); };
    }

    void cleanup()
    {
        m_router.reset();
        m_connection.reset();
        m_store.reset();
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
    }

    void cleanupTestCase() { m_simulator.reset(); }

    void searchQuery_data()
    {
        // encoded empty: blank, nothing is sent
        addColumns<QJsonValue, QByteArray>({"query", "encoded"});
        QTest::newRow("empty") << QJsonValue("") << QByteArray();
        QTest::newRow("spaces and line breaks") << QJsonValue(" \n\t\r  ") << QByteArray();
        QTest::newRow("Unicode spaces") << QJsonValue(QStringLiteral("\u3000\u00a0\u2003")) << QByteArray();
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QByteArray();
        QTest::newRow("not text") << QJsonValue(42) << QByteArray();
        QTest::newRow("& + = ? #") << QJsonValue("a&b C++ x=y what? #1") << QByteArray("a%26b%20C%2B%2B%20x%3Dy%20what%3F%20%231");
        QTest::newRow("inner spaces, outer trimmed") << QJsonValue("  two  words \n") << QByteArray("two%20%20words");
        QTest::newRow("Unicode") << QJsonValue("Ré 日本") << QByteArray("R%C3%A9%20%E6%97%A5%E6%9C%AC");
        QTest::newRow("percent") << QJsonValue("100%") << QByteArray("100%25");
        QTest::newRow("kept as written") << QJsonValue("a/b:c;d@e!$'()*,-._~") << QByteArray("a/b:c;d@e!$'()*,-._~");
    }
    void searchQuery()
    {
        QFETCH(QJsonValue, query); QFETCH(QByteArray, encoded);
        VintrelleScriptedServer server;
        server.fallback = VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"items":[]}})");
        configureBridge(server.port());
        const auto answer = sendAndWait(*m_router, with({{"op", "search"}}, "query", query));
        QCOMPARE(answer->error, encoded.isEmpty() ? std::optional<QString>("Enter a plug-in name.") : std::nullopt);
        QCOMPARE(server.requests.size(), encoded.isEmpty() ? 0 : 1);
        if (encoded.isEmpty())
            return;
        QCOMPARE(server.requests[0].method, "GET");
        QCOMPARE(server.requests[0].target, "/v1/browser/search?query=" + encoded);
        QCOMPARE(server.requests[0].header("Authorization"), "Bearer router-token");
    }

    void loadOutcomes_data()
    {
        using S = VintrelleScriptedServer;
        // error empty: success with the bridge's data
        addColumns<S::Response, QString>({"response", "error"});
        QTest::newRow("loaded") << S::json(200, R"({"ok":true,"data":{"loaded":true,"name":"Pad Machine"}})") << QString();
        QTest::newRow("loaded false") << S::json(200, R"({"ok":true,"data":{"loaded":false}})") << notConfirmed;
        QTest::newRow("no data") << S::json(200, R"({"ok":true})") << notConfirmed;
        QTest::newRow("loaded as text") << S::json(200, R"({"ok":true,"data":{"loaded":"true"}})") << notConfirmed;
        QTest::newRow("bridge's message") << S::json(409, R"({"ok":false,"error":{"code":"not_loadable","message":"Not here."}})") << "Not here.";
        QTest::newRow("connection dropped") << S::close() << "Ableton is unavailable. Open Ableton and check Connection in Settings.";
    }
    void loadOutcomes()
    {
        QFETCH(VintrelleScriptedServer::Response, response); QFETCH(QString, error);
        VintrelleScriptedServer server;
        server.fallback = response;
        configureBridge(server.port());
        const auto answer = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QVERIFY(m_connection->loading());
        QVERIFY(QTest::qWaitFor([&] { return answer->calls > 0; }, 15000));
        QVERIFY(!m_connection->loading());
        QCOMPARE(answer->error.value_or(QString()), error);
        if (error.isEmpty())
            QCOMPARE(answer->result, QJsonObject({{"loaded", true}, {"name", "Pad Machine"}}));
        const auto &request = server.requests.value(0);
        QCOMPARE(request.method + ' ' + request.target, "POST /v1/load");
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), QJsonObject({{"uri", entryURI}}));
        QCOMPARE(request.header("Authorization"), "Bearer router-token");
    }

    void secondLoadWhileBusyIsRefused()
    {
        const QString busy = "A plug-in is already loading. Check Ableton before trying again.";
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::hang() << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"loaded":true}})");
        configureBridge(server.port());
        const auto first = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QTRY_COMPARE(server.requests.size(), 1);
        QCOMPARE(send(*m_router, {{"op", "load"}, {"id", m_entryID}})->error, busy);
        QCOMPARE(send(*m_router, {{"op", "load"}, {"id", "gone"}})->error, busy); // the guard comes first
        server.answerHeld(VintrelleScriptedServer::json(500, R"({"ok":false,"error":{"code":"load_failed","message":"Could not."}})"));
        QTRY_COMPARE(first->calls, 1);
        QCOMPARE(first->error, "Could not.");
        QCOMPARE(sendAndWait(*m_router, {{"op", "load"}, {"id", m_entryID}})->error, std::nullopt);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(first->calls, 1);
    }

    void unknownEntryIsNotLoaded_data()
    {
        QTest::addColumn<QJsonValue>("id");
        QTest::newRow("deleted") << QJsonValue("5E1D7A0C-0000-4000-8000-000000000000");
        QTest::newRow("a category's id") << QJsonValue("starter-0");
        QTest::newRow("not text") << QJsonValue(7);
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
    }
    void unknownEntryIsNotLoaded()
    {
        QFETCH(QJsonValue, id);
        VintrelleScriptedServer server;
        configureBridge(server.port());
        const auto answer = send(*m_router, with({{"op", "load"}}, "id", id));
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, "Plug-in is no longer available.");
        QVERIFY(!m_connection->loading());
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);
    }

    void refusedAddressClearsBusy()
    {
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.path("missing.json").toUtf8());
        m_connection->setBridgeURL("https://127.0.0.1:45873");
        const auto answer = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, "The Ableton connection must use a local address. Reinstall the connection in Settings.");
        QVERIFY(!m_connection->loading());
    }

    void connectionIsAResultNeverAnError()
    {
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
        QCOMPARE(sendAndWait(*m_router, {{"op", "connection"}})->result, QJsonObject({{"connected", true}}));
        VintrelleScriptedServer server; // answers 500 to everything
        configureBridge(server.port());
        const auto answer = sendAndWait(*m_router, {{"op", "connection"}});
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result, QJsonObject({{"connected", false}}));
    }

    void otherOperationsGoToTheStore()
    {
        QCOMPARE(send(*m_router, {{"op", "addCategory"}, {"name", "Routed"}})->result, QJsonObject());
        QCOMPARE(m_store->state()->value("categories").toArray().last()["name"], QJsonValue("Routed"));
        QCOMPARE(send(*m_router, {{"op", "frobnicate"}})->error, "Unknown library action.");
    }

    void installWorksBeforeTheLibraryAndUsesTheNewTokenAtOnce()
    {
        PageStandIn page;
        m_router->setStore(nullptr); // still preparing: install is never forwarded
        m_router->setPage(&page);
        QCOMPARE(send(*m_router, {{"op", "install"}})->error, "Installation cancelled. Your files were not changed.");
        QVERIFY(page.scripts.isEmpty());

        const QString userLibrary = m_home.path("User Library");
        QVERIFY(QDir().mkpath(userLibrary));
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", userLibrary);
        m_connection->setBridgeURL("http://127.0.0.1:1");
        m_connection->setToken("before");
        const auto answer = send(*m_router, {{"op", "install"}});
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result->value("ok"), QJsonValue(true));
        const QJsonDocument installed = QJsonDocument::fromJson(readFile(userLibrary + "/Remote Scripts/VintrelleBridge/config.json"));
        QCOMPARE(m_connection->token(), installed["token"].toString());
        QCOMPARE(m_connection->token().size(), 64);
        QCOMPARE(m_connection->bridgeURL(), "http://127.0.0.1:45873");
    }

    // Until the library is ready every command goes to the palette page and is answered once,
    // by the page's result with its request identifier (any shape), or by the time-out.
    void forwardedUntilTheLibraryIsReady_data()
    {
        // message: the page's answer
        addColumns<QJsonObject, QJsonObject, QJsonObject, QString>({"command", "message", "result", "error"});
        QTest::newRow("connection") << QJsonObject{{"op", "connection"}} << QJsonObject{{"result", QJsonObject{{"page", 1}}}} << QJsonObject{{"page", 1}} << QString();
        QTest::newRow("load") << QJsonObject{{"op", "load"}, {"id", "x"}} << QJsonObject{} << QJsonObject{} << QString();
        QTest::newRow("search, result not an object") << QJsonObject{{"op", "search"}, {"query", ""}} << QJsonObject{{"result", QJsonArray{1}}} << QJsonObject{} << QString();
        QTest::newRow("store command, error") << QJsonObject{{"op", "undo"}, {"note", "</script>\"'\u2028"}} << QJsonObject{{"error", "Page says no."}} << QJsonObject{} << "Page says no.";
        QTest::newRow("error not text") << QJsonObject{{"op", "export"}} << QJsonObject{{"error", 5}, {"result", QJsonObject{{"a", 1}}}} << QJsonObject{{"a", 1}} << QString();
    }
    void forwardedUntilTheLibraryIsReady()
    {
        QFETCH(QJsonObject, command); QFETCH(QJsonObject, message); QFETCH(QJsonObject, result); QFETCH(QString, error);
        VintrelleNativeStore preparing(m_home.path("not-yet/native-library.json"));
        m_router->setStore(&preparing);
        PageStandIn page;
        m_router->setPage(&page);
        VintrelleScriptedServer server;
        configureBridge(server.port());

        const auto answer = send(*m_router, command);
        const auto other = send(*m_router, command);
        QCOMPARE(answer->calls, 0);
        QCOMPARE(page.arguments(0).at(0).toObject(), command);
        const QString requestID = page.arguments(0).at(1).toString();
        QVERIFY(!QUuid::fromString(requestID).isNull() && requestID == requestID.toUpper());
        QVERIFY(page.arguments(1).at(1).toString() != requestID);

        m_router->nativeCommandResult({{"requestID", "unknown"}, {"result", QJsonObject{}}});
        m_router->nativeCommandResult(with(message, "requestID", requestID));
        m_router->nativeCommandResult({{"requestID", requestID}, {"error", "late"}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result.value_or(QJsonObject{{"none", true}}), result);
        QCOMPARE(answer->error.value_or(QString()), error);
        QCOMPARE(other->calls, 0);
        QCOMPARE(server.connections, 0);
        QVERIFY(!preparing.state());
    }

    void unansweredForwardTimesOutOnce_data()
    {
        addColumns<bool, QString, QString>({"hasPage", "evaluationFailure", "error"});
        QTest::newRow("page stays silent") << true << QString() << forwardTimedOut;
        QTest::newRow("no page") << false << QString() << forwardTimedOut;
        QTest::newRow("evaluation failed") << true << "ReferenceError" << "Library is not ready. Try again.";
    }
    void unansweredForwardTimesOutOnce()
    {
        QFETCH(bool, hasPage); QFETCH(QString, evaluationFailure); QFETCH(QString, error);
        m_router->setStore(nullptr);
        m_router->setForwardTimeout(200);
        PageStandIn page;
        if (!evaluationFailure.isEmpty())
            page.failure = evaluationFailure;
        m_router->setPage(hasPage ? &page : nullptr);
        const auto answer = send(*m_router, {{"op", "connection"}});
        QTest::qWait(50);
        QCOMPARE(answer->calls, evaluationFailure.isEmpty() ? 0 : 1); // a successful evaluation is no answer
        QTRY_COMPARE(answer->calls, 1);
        QCOMPARE(answer->error, error);
        if (hasPage)
            m_router->nativeCommandResult({{"requestID", page.arguments(0).at(1)}, {"result", QJsonObject{}}});
        QTest::qWait(300);
        QCOMPARE(answer->calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestCommandRouter)
#include "tst_command_router.moc"
