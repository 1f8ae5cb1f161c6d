#include "VintrelleBridgeSimulator.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePageEvaluator.h"
#include "VintrelleScriptedServer.h"

#include <QJsonArray>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QUuid>

#include <memory>

Q_DECLARE_METATYPE(VintrelleScriptedServer::Response)

namespace {

const QString emptyQuery = "Enter a plug-in name.";
const QString busy = "A plug-in is already loading. Check Ableton before trying again.";
const QString missingEntry = "Plug-in is no longer available.";
const QString notConfirmed =
    "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.";
const QString notReady = "Library is not ready. Try again.";
const QString forwardTimedOut = "Action timed out. Check Ableton before retrying a load.";
const QString cancelled = "Installation cancelled. Your files were not changed.";
const QString unavailable = "Ableton is unavailable. Open Ableton and check Connection in Settings.";
const QString localOnly =
    "The Ableton connection must use a local address. Reinstall the connection in Settings.";

const QByteArray catalogue = R"({"roots": {"plugins": {"name": "Plug-Ins", "children": [
  {"name": "Q&A +=?# Tool"}, {"name": "Ré Verb 日本"}, {"name": "Tool"}]}}})";

const QString entryURI = "query:Plugins#VST3:Vendor:Pad Machine";

struct Answer
{
    int calls = 0;
    std::optional<QJsonObject> result;
    std::optional<QString> error;
};

std::shared_ptr<Answer> send(VintrelleCommandRouter &router, const QJsonObject &command)
{
    auto answer = std::make_shared<Answer>();
    router.executeNativeCommand(command, [answer](std::optional<QJsonObject> result, std::optional<QString> error) {
        ++answer->calls;
        answer->result = result;
        answer->error = error;
    });
    return answer;
}

std::shared_ptr<Answer> sendAndWait(VintrelleCommandRouter &router, const QJsonObject &command)
{
    auto answer = send(router, command);
    (void)QTest::qWaitFor([&] { return answer->calls > 0; }, 15000); // callers check what arrived
    return answer;
}

// Stands in for the palette web view, which evaluates script asynchronously.
class FakePage : public VintrellePageEvaluator
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
    static QJsonArray arguments(const QString &script)
    {
        const QString start = "(()=>{const [command,requestID]=";
        const qsizetype end = script.indexOf(";Promise.resolve()");
        if (!script.startsWith(start) || end < 0) return {};
        return QJsonDocument::fromJson(script.mid(start.size(), end - start.size()).toUtf8()).array();
    }
};

} // namespace

class TestCommandRouter : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    QString m_entryID;

    // Points the bridge configuration at `port` with the given token, as an installed bridge would.
    void configureBridge(quint16 port, const QString &token = "router-token")
    {
        const QString path = m_home.filePath("bridge-config.json");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(QJsonDocument(QJsonObject{{"port", port}, {"token", token}}).toJson());
        file.close();
        qputenv("VINTRELLE_BRIDGE_CONFIG", path.toUtf8());
    }

    void noBridgeConfiguration() { qputenv("VINTRELLE_BRIDGE_CONFIG", m_home.filePath("missing.json").toUtf8()); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.filePath("home").toUtf8());
        qputenv("XDG_CONFIG_HOME", m_home.filePath("config").toUtf8());
        qunsetenv("WINEPREFIX");
        QDir().mkpath(m_home.filePath("home"));
        QDir().mkpath(m_home.filePath("simulator"));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.filePath("simulator"), catalogue);
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
    }

    void init()
    {
        QFile::remove(m_home.filePath("library/native-library.json"));
        m_store = std::make_unique<VintrelleNativeStore>(m_home.filePath("library/native-library.json"));
        QVERIFY(m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        const QJsonObject add{{"op", "addPlugin"}, {"categoryID", "starter-0"},
                              {"entry", QJsonObject{{"name", "Pad Machine"}, {"uri", entryURI}, {"path", "VST3/Vendor"}}}};
        QVERIFY(m_store->perform(add, nullptr));
        m_entryID = m_store->state()->value("categories")[0]["entries"][0]["id"].toString();
        QVERIFY(!m_entryID.isEmpty());
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

    // ---- search

    void blankSearchSendsNothing_data()
    {
        QTest::addColumn<QJsonValue>("query");
        QTest::newRow("empty") << QJsonValue("");
        QTest::newRow("spaces and line breaks") << QJsonValue(" \n\t\r  ");
        QTest::newRow("Unicode spaces") << QJsonValue(QStringLiteral("\u3000\u00a0\u2003"));
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
        QTest::newRow("not text") << QJsonValue(42);
    }

    void blankSearchSendsNothing()
    {
        QFETCH(QJsonValue, query);
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"items":[]}})");
        configureBridge(server.port());
        QJsonObject command{{"op", "search"}};
        if (!query.isUndefined()) command.insert("query", query);
        const auto blank = send(*m_router, command);
        QCOMPARE(blank->calls, 1);
        QCOMPARE(blank->error, emptyQuery);
        // A real search afterwards is the first and only request the bridge sees.
        QCOMPARE(sendAndWait(*m_router, {{"op", "search"}, {"query", "pad"}})->error, std::nullopt);
        QCOMPARE(server.requests.size(), 1);
        QCOMPARE(server.requests[0].target, "/v1/browser/search?query=pad");
    }

    void searchQueryIsEncoded_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QByteArray>("encoded");
        QTest::newRow("ampersand") << "a&b" << QByteArray("a%26b");
        QTest::newRow("plus") << "C++" << QByteArray("C%2B%2B");
        QTest::newRow("equals") << "x=y" << QByteArray("x%3Dy");
        QTest::newRow("question mark") << "what?" << QByteArray("what%3F");
        QTest::newRow("hash") << "#1" << QByteArray("%231");
        QTest::newRow("all five") << "&+=?#" << QByteArray("%26%2B%3D%3F%23");
        QTest::newRow("inner spaces, outer trimmed") << "  two  words \n" << QByteArray("two%20%20words");
        QTest::newRow("Unicode") << "Ré 日本" << QByteArray("R%C3%A9%20%E6%97%A5%E6%9C%AC");
        QTest::newRow("percent") << "100%" << QByteArray("100%25");
        QTest::newRow("kept as written") << "a/b:c;d@e!$'()*,-._~" << QByteArray("a/b:c;d@e!$'()*,-._~");
    }

    void searchQueryIsEncoded()
    {
        QFETCH(QString, query);
        QFETCH(QByteArray, encoded);
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"items":[]}})");
        configureBridge(server.port());
        const auto answer = sendAndWait(*m_router, {{"op", "search"}, {"query", query}});
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(server.requests.size(), 1);
        const auto &request = server.requests[0];
        QCOMPARE(request.method, "GET");
        QCOMPARE(request.target, "/v1/browser/search?query=" + encoded);
        QCOMPARE(request.header("Authorization"), "Bearer router-token");
    }

    void searchReachesTheBridgeIntact_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("the whole name") << "q&a +=?# tool" << QStringList{"Q&A +=?# Tool"};
        QTest::newRow("ampersand") << "&" << QStringList{"Q&A +=?# Tool"};
        QTest::newRow("plus and equals") << "+=" << QStringList{"Q&A +=?# Tool"};
        QTest::newRow("question mark and hash") << "?#" << QStringList{"Q&A +=?# Tool"};
        QTest::newRow("Unicode") << " ré verb 日本 " << QStringList{"Ré Verb 日本"};
        QTest::newRow("nothing matches") << "a&query=verb" << QStringList{};
    }

    void searchReachesTheBridgeIntact()
    {
        QFETCH(QString, query);
        QFETCH(QStringList, names);
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
        const auto answer = sendAndWait(*m_router, {{"op", "search"}, {"query", query}});
        QCOMPARE(answer->error, std::nullopt);
        QStringList found;
        for (const QJsonValue item : answer->result->value("items").toArray())
            found << item["name"].toString();
        QCOMPARE(found, names);
    }

    // ---- load

    void loadOutcomes_data()
    {
        using S = VintrelleScriptedServer;
        QTest::addColumn<S::Response>("response");
        QTest::addColumn<QString>("error"); // empty: success with the bridge's data
        QTest::newRow("loaded") << S::json(200, R"({"ok":true,"data":{"loaded":true,"name":"Pad Machine"}})") << QString();
        QTest::newRow("loaded false") << S::json(200, R"({"ok":true,"data":{"loaded":false}})") << notConfirmed;
        QTest::newRow("empty data") << S::json(200, R"({"ok":true,"data":{}})") << notConfirmed;
        QTest::newRow("no data") << S::json(200, R"({"ok":true})") << notConfirmed;
        QTest::newRow("loaded as text") << S::json(200, R"({"ok":true,"data":{"loaded":"true"}})") << notConfirmed;
        QTest::newRow("bridge's message") << S::json(409, R"({"ok":false,"error":{"code":"not_loadable","message":"Not here."},"data":{"loaded":false}})")
                                          << "Not here.";
        QTest::newRow("connection dropped") << S::close() << unavailable;
    }

    void loadOutcomes()
    {
        QFETCH(VintrelleScriptedServer::Response, response);
        QFETCH(QString, error);
        VintrelleScriptedServer server;
        server.script << response;
        server.fallback = response;
        configureBridge(server.port());
        const auto answer = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QVERIFY(m_connection->loading());
        QVERIFY(QTest::qWaitFor([&] { return answer->calls > 0; }, 15000));
        QVERIFY(!m_connection->loading());
        if (error.isEmpty()) {
            QCOMPARE(answer->error, std::nullopt);
            QCOMPARE(answer->result, QJsonObject({{"loaded", true}, {"name", "Pad Machine"}}));
        } else {
            QCOMPARE(answer->error, error);
        }
        const auto &request = server.requests.value(0);
        QCOMPARE(request.method, "POST");
        QCOMPARE(request.target, "/v1/load");
        QCOMPARE(QJsonDocument::fromJson(request.body).object(), QJsonObject({{"uri", entryURI}}));
        QCOMPARE(request.header("Authorization"), "Bearer router-token");
    }

    void secondLoadWhileBusyIsRefused()
    {
        VintrelleScriptedServer server;
        server.script << VintrelleScriptedServer::hang()
                      << VintrelleScriptedServer::json(200, R"({"ok":true,"data":{"loaded":true}})");
        configureBridge(server.port());
        const auto first = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QTRY_COMPARE(server.requests.size(), 1);

        const auto second = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QCOMPARE(second->calls, 1);
        QCOMPARE(second->error, busy);
        QVERIFY(m_connection->loading());
        // Even an unknown entry is refused by the guard first.
        QCOMPARE(send(*m_router, {{"op", "load"}, {"id", "gone"}})->error, busy);

        // The first answers with an error; loading is possible again.
        server.answerHeld(VintrelleScriptedServer::json(500, R"({"ok":false,"error":{"code":"load_failed","message":"Could not."}})"));
        QTRY_COMPARE(first->calls, 1);
        QCOMPARE(first->error, "Could not.");
        QVERIFY(!m_connection->loading());
        const auto third = sendAndWait(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QCOMPARE(third->error, std::nullopt);
        QCOMPARE(server.requests.size(), 2);
        QCOMPARE(first->calls, 1);
    }

    void unknownEntryIsNotLoaded_data()
    {
        QTest::addColumn<QJsonValue>("id");
        QTest::newRow("deleted") << QJsonValue("5E1D7A0C-0000-4000-8000-000000000000");
        QTest::newRow("a category's id") << QJsonValue("starter-0");
        QTest::newRow("empty") << QJsonValue("");
        QTest::newRow("not text") << QJsonValue(7);
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined);
    }

    void unknownEntryIsNotLoaded()
    {
        QFETCH(QJsonValue, id);
        VintrelleScriptedServer server;
        configureBridge(server.port());
        QJsonObject command{{"op", "load"}};
        if (!id.isUndefined()) command.insert("id", id);
        const auto answer = send(*m_router, command);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, missingEntry);
        QVERIFY(!m_connection->loading());
        QTest::qWait(100);
        QCOMPARE(server.connections, 0);
    }

    void refusedAddressClearsBusy()
    {
        noBridgeConfiguration();
        m_connection->setBridgeURL("https://127.0.0.1:45873");
        const auto answer = send(*m_router, {{"op", "load"}, {"id", m_entryID}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, localOnly);
        QVERIFY(!m_connection->loading());
    }

    // ---- connection, store, install

    void connectionIsAResultNeverAnError()
    {
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
        auto answer = sendAndWait(*m_router, {{"op", "connection"}});
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result, QJsonObject({{"connected", true}}));

        VintrelleScriptedServer server; // answers 500 to everything
        configureBridge(server.port());
        answer = sendAndWait(*m_router, {{"op", "connection"}});
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result, QJsonObject({{"connected", false}}));
        QVERIFY(!m_connection->connected());
    }

    void otherOperationsGoToTheStore()
    {
        const auto added = send(*m_router, {{"op", "addCategory"}, {"name", "Routed"}});
        QCOMPARE(added->calls, 1);
        QCOMPARE(added->error, std::nullopt);
        QVERIFY(QJsonDocument(m_store->state()->value("categories").toArray()).toJson().contains("\"Routed\""));
        const auto unknown = send(*m_router, {{"op", "frobnicate"}});
        QCOMPARE(unknown->error, "Unknown library action.");
    }

    void installWithoutUserLibraryIsCancelled()
    {
        FakePage page;
        m_router->setStore(nullptr); // still preparing: install works all the same
        m_router->setPage(&page);
        const auto answer = send(*m_router, {{"op", "install"}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, cancelled);
        QCOMPARE(answer->result, std::nullopt);
        QVERIFY(page.scripts.isEmpty());
        QVERIFY(!QDir(m_home.filePath("home/Music")).exists());
    }

    void installUsesTheNewTokenAtOnce()
    {
        const QString userLibrary = m_home.filePath("User Library");
        QVERIFY(QDir().mkpath(userLibrary));
        QSettings("Vintrelle", "Vintrelle").setValue("VintrelleUserLibrary", userLibrary);
        m_connection->setBridgeURL("http://127.0.0.1:1");
        m_connection->setToken("before");
        const auto answer = send(*m_router, {{"op", "install"}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->error, std::nullopt);
        QCOMPARE(answer->result->value("ok"), QJsonValue(true));

        QFile installed(userLibrary + "/Remote Scripts/VintrelleBridge/config.json");
        QVERIFY(installed.open(QIODevice::ReadOnly));
        const QJsonObject settings = QJsonDocument::fromJson(installed.readAll()).object();
        QCOMPARE(m_connection->token(), settings["token"].toString());
        QCOMPARE(m_connection->token().size(), 64);
        QCOMPARE(m_connection->bridgeURL(), "http://127.0.0.1:45873");
    }

    // ---- forwarding to the palette page while the library is being prepared

    void forwardedUntilTheLibraryIsReady_data()
    {
        QTest::addColumn<QJsonObject>("command");
        QTest::newRow("connection") << QJsonObject{{"op", "connection"}};
        QTest::newRow("search") << QJsonObject{{"op", "search"}, {"query", ""}};
        QTest::newRow("load") << QJsonObject{{"op", "load"}, {"id", "x"}};
        QTest::newRow("store command") << QJsonObject{{"op", "undo"}, {"note", "</script>\"'\u2028"}};
    }

    void forwardedUntilTheLibraryIsReady()
    {
        QFETCH(QJsonObject, command);
        VintrelleNativeStore preparing(m_home.filePath("not-yet/native-library.json"));
        m_router->setStore(&preparing);
        FakePage page;
        m_router->setPage(&page);
        VintrelleScriptedServer server;
        configureBridge(server.port());

        const auto answer = send(*m_router, command);
        QCOMPARE(answer->calls, 0);
        QCOMPARE(page.scripts.size(), 1);
        const QJsonArray arguments = FakePage::arguments(page.scripts[0]);
        QCOMPARE(arguments.size(), 2);
        QCOMPARE(arguments[0].toObject(), command);
        const QString requestID = arguments[1].toString();
        QCOMPARE(requestID, requestID.toUpper());
        QVERIFY(!QUuid::fromString(requestID).isNull());
        QVERIFY(page.scripts[0].contains("window.vintrelleNativeCommand(command)"));

        m_router->nativeCommandResult({{"action", "nativeCommandResult"}, {"requestID", requestID}, {"result", QJsonObject{{"page", 1}}}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result, QJsonObject({{"page", 1}}));
        QCOMPARE(answer->error, std::nullopt);
        m_router->nativeCommandResult({{"requestID", requestID}, {"error", "late"}});
        QCOMPARE(answer->calls, 1);
        QCOMPARE(server.connections, 0);
        QVERIFY(!preparing.state());
    }

    void forwardedResultShapes_data()
    {
        QTest::addColumn<QJsonObject>("message");
        QTest::addColumn<QJsonObject>("result");
        QTest::addColumn<QString>("error");
        QTest::newRow("no result") << QJsonObject{} << QJsonObject{} << QString();
        QTest::newRow("result not an object") << QJsonObject{{"result", QJsonArray{1}}} << QJsonObject{} << QString();
        QTest::newRow("error") << QJsonObject{{"error", "Page says no."}} << QJsonObject{} << "Page says no.";
        QTest::newRow("error not text") << QJsonObject{{"error", 5}, {"result", QJsonObject{{"a", 1}}}}
                                        << QJsonObject{{"a", 1}} << QString();
    }

    void forwardedResultShapes()
    {
        QFETCH(QJsonObject, message);
        QFETCH(QJsonObject, result);
        QFETCH(QString, error);
        m_router->setStore(nullptr);
        FakePage page;
        m_router->setPage(&page);
        const auto answer = send(*m_router, {{"op", "export"}});
        message.insert("requestID", FakePage::arguments(page.scripts.value(0)).at(1));
        m_router->nativeCommandResult(message);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result, result);
        QCOMPARE(answer->error.value_or(QString()), error);
    }

    void forwardedRepliesAreKeptApart()
    {
        m_router->setStore(nullptr);
        FakePage page;
        m_router->setPage(&page);
        const auto first = send(*m_router, {{"op", "export"}});
        const auto second = send(*m_router, {{"op", "export"}});
        const QString firstID = FakePage::arguments(page.scripts.value(0)).at(1).toString();
        const QString secondID = FakePage::arguments(page.scripts.value(1)).at(1).toString();
        QVERIFY(firstID != secondID);
        m_router->nativeCommandResult({{"requestID", "unknown"}, {"result", QJsonObject{}}});
        m_router->nativeCommandResult({{"requestID", secondID}, {"result", QJsonObject{{"n", 2}}}});
        m_router->nativeCommandResult({{"requestID", firstID}, {"result", QJsonObject{{"n", 1}}}});
        QCOMPARE(first->result, QJsonObject({{"n", 1}}));
        QCOMPARE(second->result, QJsonObject({{"n", 2}}));
        QCOMPARE(first->calls + second->calls, 2);
    }

    void unansweredForwardTimesOutOnce()
    {
        m_router->setStore(nullptr);
        m_router->setForwardTimeout(200);
        FakePage page;
        m_router->setPage(&page);
        const auto answer = send(*m_router, {{"op", "connection"}});
        QTest::qWait(50);
        QCOMPARE(answer->calls, 0); // a successful evaluation is no answer
        QTRY_COMPARE(answer->calls, 1);
        QCOMPARE(answer->error, forwardTimedOut);
        m_router->nativeCommandResult({{"requestID", FakePage::arguments(page.scripts.value(0)).at(1)}, {"result", QJsonObject{}}});
        QCOMPARE(answer->calls, 1);
    }

    void withoutAPageOnlyTheTimeOutAnswers()
    {
        m_router->setStore(nullptr);
        m_router->setForwardTimeout(100);
        const auto answer = send(*m_router, {{"op", "search"}, {"query", "x"}});
        QTRY_COMPARE(answer->calls, 1);
        QCOMPARE(answer->error, forwardTimedOut);
    }

    void failedEvaluationAnswersOnce()
    {
        m_router->setStore(nullptr);
        m_router->setForwardTimeout(200);
        FakePage page;
        page.failure = "ReferenceError";
        m_router->setPage(&page);
        const auto answer = send(*m_router, {{"op", "connection"}});
        QTRY_COMPARE(answer->calls, 1);
        QCOMPARE(answer->error, notReady);
        QTest::qWait(400);
        QCOMPARE(answer->calls, 1);
    }
};

QTEST_GUILESS_MAIN(TestCommandRouter)
#include "tst_command_router.moc"
