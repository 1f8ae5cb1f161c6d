#include "VintrelleCommandRouter.h"

#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrellePageEvaluator.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QUuid>

namespace {

const QString emptyQueryMessage = QStringLiteral("Enter a plug-in name.");
const QString busyMessage = QStringLiteral("A plug-in is already loading. Check Ableton before trying again.");
const QString missingEntryMessage = QStringLiteral("Plug-in is no longer available.");
const QString notConfirmedMessage = QStringLiteral(
    "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.");
const QString notReadyMessage = QStringLiteral("Library is not ready. Try again.");
const QString forwardTimedOutMessage = QStringLiteral("Action timed out. Check Ableton before retrying a load.");

// Hands the command to the page's own router and posts its answer back as a script message.
const QString forwardScript = QStringLiteral(
    "(()=>{const [command,requestID]=%1;Promise.resolve().then(()=>window.vintrelleNativeCommand(command))"
    ".then(result=>window.webkit.messageHandlers.vintrelle.postMessage({action:'nativeCommandResult',requestID,"
    "result:result||{}}),error=>window.webkit.messageHandlers.vintrelle.postMessage({action:'nativeCommandResult',"
    "requestID,error:error.message||'Unable to complete action.'}));return true;})()");

} // namespace

VintrelleCommandRouter::VintrelleCommandRouter(VintrelleNativeConnection *connection, QObject *parent)
    : QObject(parent), m_connection(connection)
{
}

void VintrelleCommandRouter::executeNativeCommand(const QJsonObject &command, VintrelleReply reply)
{
    const QString op = command.value("op").toString();
    if (op == u"preferences")
        return reply(m_preferences.preferences(), std::nullopt);
    if (op == u"savePreferences")
        return savePreferences(command, std::move(reply));
    if (op == u"install")
        return install(std::move(reply));
    if (!m_store || !m_store->state())
        return forward(command, std::move(reply));
    if (op == u"connection")
        return m_connection->check([reply](bool connected) { reply(QJsonObject{{"connected", connected}}, std::nullopt); });
    if (op == u"search")
        return search(command, std::move(reply));
    if (op == u"load")
        return load(command, std::move(reply));

    VintrelleError error;
    const std::optional<QJsonObject> result = m_store->perform(command, &error);
    if (result)
        reply(result, std::nullopt);
    else
        reply(std::nullopt, error.value_or(QStringLiteral("Unable to complete action.")));
}

void VintrelleCommandRouter::savePreferences(const QJsonObject &command, VintrelleReply reply)
{
    // Every outcome, a refusal included, is a report whose message says what happened.
    const QJsonObject report = m_preferences.savePreferences(command);
    if (m_page) {
        const QByteArray json = QJsonDocument(report).toJson(QJsonDocument::Compact);
        m_page->evaluate(QStringLiteral("window.receivePreferences(%1)").arg(QString::fromUtf8(json)),
                         [](std::optional<QString>) {});
    }
    reply(report, std::nullopt);
}

void VintrelleCommandRouter::search(const QJsonObject &command, VintrelleReply reply)
{
    const QString query = command.value("query").toString().trimmed();
    if (query.isEmpty())
        return reply(std::nullopt, emptyQueryMessage);
    // The query characters a URL may carry unescaped, less & + = ? which would split or alter
    // the query on its way to the bridge.
    const QByteArray encoded = QUrl::toPercentEncoding(query, "!$'()*,/:;@");
    m_connection->refreshConfiguration();
    m_connection->request("/v1/browser/search?query=" + QString::fromLatin1(encoded), std::nullopt,
                          VintrelleNativeConnection::searchTimeout, std::move(reply));
}

void VintrelleCommandRouter::load(const QJsonObject &command, VintrelleReply reply)
{
    if (m_connection->loading())
        return reply(std::nullopt, busyMessage);
    const QJsonValue id = command.value("id");
    std::optional<QString> uri;
    for (const QJsonValue category : m_store->state()->value("categories").toArray()) {
        for (const QJsonValue entry : category["entries"].toArray()) {
            if (id.isString() && entry["id"] == id)
                uri = entry["uri"].toString();
        }
    }
    if (!uri)
        return reply(std::nullopt, missingEntryMessage);

    m_connection->setLoading(true);
    m_connection->refreshConfiguration();
    QPointer<VintrelleNativeConnection> connection(m_connection);
    QPointer<VintrelleCommandRouter> self(this);
    m_connection->request("/v1/load", QJsonObject{{"uri", *uri}}, VintrelleNativeConnection::loadTimeout,
                          [connection, self, reply](std::optional<QJsonObject> data, std::optional<QString> error) {
        if (connection)
            connection->setLoading(false);
        if (error)
            return reply(std::nullopt, error);
        if (data->value("loaded") != QJsonValue(true))
            return reply(std::nullopt, notConfirmedMessage);
        if (self && self->loadConfirmed)
            self->loadConfirmed();
        reply(data, std::nullopt);
    });
}

void VintrelleCommandRouter::install(VintrelleReply reply)
{
    // The installer answers this command's own reply, so a second installation started while the
    // folder chooser is open cannot take over the first one's answer.
    QPointer<VintrelleNativeConnection> connection(m_connection);
    VintrelleInstaller::installBridge(chooseUserLibrary, [connection, reply](std::optional<QJsonObject> result,
                                                                            std::optional<QString> error) {
        // An installation that ran may have written a new port or token: use them at once.
        if (result && connection)
            connection->refreshConfiguration();
        reply(result, error);
    });
}

void VintrelleCommandRouter::forward(const QJsonObject &command, VintrelleReply reply)
{
    const QString requestID = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    m_nativeReplies.insert(requestID, std::move(reply));
    const QByteArray arguments = QJsonDocument(QJsonArray{command, requestID}).toJson(QJsonDocument::Compact);
    if (m_page) {
        QPointer<VintrelleCommandRouter> self(this);
        m_page->evaluate(forwardScript.arg(QString::fromUtf8(arguments)), [self, requestID](std::optional<QString> error) {
            if (self && error)
                self->answerForwarded(requestID, std::nullopt, notReadyMessage);
        });
    }
    // Without a page (none yet, or torn down) only this answers.
    QTimer::singleShot(m_forwardTimeout, this, [this, requestID] {
        answerForwarded(requestID, std::nullopt, forwardTimedOutMessage);
    });
}

void VintrelleCommandRouter::nativeCommandResult(const QJsonObject &message)
{
    const QJsonValue error = message.value("error");
    answerForwarded(message.value("requestID").toString(), message.value("result").toObject(),
                    error.isString() ? std::optional<QString>(error.toString()) : std::nullopt);
}

void VintrelleCommandRouter::answerForwarded(const QString &requestID, std::optional<QJsonObject> result,
                                             std::optional<QString> error)
{
    // Removed before it runs: whichever answer comes first is the only one.
    const VintrelleReply reply = m_nativeReplies.take(requestID);
    if (reply)
        reply(result, error);
}
