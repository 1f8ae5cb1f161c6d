#include "VintrelleInstanceClient.h"

#include "VintrelleLibraryLock.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLocalSocket>
#include <QThread>

namespace {

const QString closedMessage =
    QStringLiteral("The running Vintrelle closed before answering. The command may have run; check before trying again.");

} // namespace

VintrelleInstanceClient::VintrelleInstanceClient(std::unique_ptr<QLocalSocket> socket) : m_socket(std::move(socket)) {}

VintrelleInstanceClient::~VintrelleInstanceClient() = default;

bool VintrelleIsLockHeldElsewhere(const QString &path)
{
    VintrelleLibraryLock probe(path);
    VintrelleError error;
    return !probe.acquire(0, &error);
}

std::unique_ptr<VintrelleInstanceClient> VintrelleInstanceClient::tryConnect(const QString &socketPath)
{
    auto socket = std::make_unique<QLocalSocket>();
    socket->connectToServer(socketPath);
    if (!socket->waitForConnected(1000))
        return nullptr;
    return std::unique_ptr<VintrelleInstanceClient>(new VintrelleInstanceClient(std::move(socket)));
}

std::unique_ptr<VintrelleInstanceClient> VintrelleInstanceClient::connect(const QString &socketPath,
                                                                          const QString &instanceLockPath,
                                                                          int waitMilliseconds)
{
    const QDeadlineTimer deadline(waitMilliseconds);
    for (;;) {
        if (auto client = tryConnect(socketPath))
            return client;
        // Nobody holds the instance lock: nothing runs, and whatever socket is left is stale.
        if (!VintrelleIsLockHeldElsewhere(instanceLockPath) || deadline.hasExpired())
            return nullptr;
        QThread::msleep(25);
    }
}

std::optional<QJsonObject> VintrelleInstanceClient::ask(const QJsonObject &request)
{
    m_socket->write(QJsonDocument(request).toJson(QJsonDocument::Compact) + '\n');
    if (!m_socket->waitForBytesWritten(5000) && m_socket->bytesToWrite() > 0)
        return std::nullopt;
    // An answer may take as long as the command does (a load, a folder chooser); the instance
    // answers every request, so wait for as long as the connection lasts.
    while (!m_socket->canReadLine()) {
        if (!m_socket->waitForReadyRead(-1) && !m_socket->canReadLine())
            return std::nullopt;
    }
    const QJsonDocument answer = QJsonDocument::fromJson(m_socket->readLine());
    if (!answer.isObject())
        return std::nullopt;
    return answer.object();
}

void VintrelleInstanceClient::execute(const QJsonObject &command, const VintrelleReply &reply)
{
    const std::optional<QJsonObject> answer = ask({{"request", "command"}, {"command", command}});
    if (!answer)
        return reply(std::nullopt, closedMessage);
    const QJsonValue error = answer->value("error");
    if (error.isString())
        return reply(std::nullopt, error.toString());
    reply(answer->value("result").toObject(), std::nullopt);
}
