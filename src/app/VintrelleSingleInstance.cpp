#include "VintrelleSingleInstance.h"

#include "VintrelleInstanceClient.h"
#include "VintrelleLocations.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QPointer>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

// Properties kept on each connection: whether a request is being answered.
constexpr char busyProperty[] = "vintrelleBusy";

void sendLine(QLocalSocket *socket, const QJsonObject &line)
{
    socket->write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
}

} // namespace

VintrelleSingleInstance::VintrelleSingleInstance(QObject *parent) : QObject(parent) {}

VintrelleSingleInstance::~VintrelleSingleInstance()
{
    if (m_server)
        m_server->close(); // removes the socket file
    delete m_lock;
}

QString VintrelleSingleInstance::folder(VintrelleError *error)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir()
        ? runtime + QStringLiteral("/vintrelle")
        : QStringLiteral("/tmp/vintrelle-%1").arg(::geteuid());
    if (!VintrelleMakeOwnerOnlyPath(folder, error))
        return {};
    // In a shared folder such as /tmp someone else may have made it first: use it only when it is
    // a real folder of ours that nobody else can enter.
    struct stat status {};
    if (::lstat(QFile::encodeName(folder).constData(), &status) != 0 || !S_ISDIR(status.st_mode)
        || status.st_uid != ::geteuid() || (status.st_mode & 077) != 0) {
        VTFail(error, QStringLiteral("The folder %1 is not private to you, so Vintrelle will not use it. "
                                     "Remove it and start Vintrelle again.")
                          .arg(QDir::toNativeSeparators(folder)));
        return {};
    }
    return folder;
}

VintrelleSingleInstance::Claim VintrelleSingleInstance::claim(int waitMilliseconds, VintrelleError *error)
{
    const QString folder = VintrelleSingleInstance::folder(error);
    if (folder.isEmpty())
        return Claim::Failed;
    const QDeadlineTimer deadline(waitMilliseconds);
    auto *lock = new VintrelleLibraryLock(instanceLockPath(folder));
    for (;;) {
        if (VintrelleInstanceClient::tryConnect(socketPath(folder))) {
            delete lock;
            return Claim::AlreadyRunning;
        }
        VintrelleError lockError;
        if (lock->acquire(0, &lockError)) {
            // Whoever held the lock before us is gone; its socket is stale.
            QLocalServer::removeServer(socketPath(folder));
            auto *server = new QLocalServer(this);
            server->setSocketOptions(QLocalServer::UserAccessOption);
            if (!server->listen(socketPath(folder))) {
                VTFail(error, QStringLiteral("Vintrelle could not listen on %1: %2.")
                                  .arg(QDir::toNativeSeparators(socketPath(folder)), server->errorString()));
                delete server;
                delete lock;
                return Claim::Failed;
            }
            m_lock = lock;
            m_server = server;
            connect(server, &QLocalServer::newConnection, this, [this] {
                while (QLocalSocket *socket = m_server->nextPendingConnection())
                    serve(socket);
            });
            return Claim::Primary;
        }
        if (deadline.hasExpired()) {
            delete lock;
            VTFail(error, QStringLiteral("Another Vintrelle is starting but does not answer. Try again."));
            return Claim::Failed;
        }
        QThread::msleep(25);
    }
}

void VintrelleSingleInstance::serve(QLocalSocket *socket)
{
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answerNext(socket); });
    answerNext(socket);
}

// Requests of one connection are answered one at a time, in the order they were sent.
void VintrelleSingleInstance::answerNext(QLocalSocket *socket)
{
    if (socket->property(busyProperty).toBool())
        return;
    if (!socket->canReadLine()) {
        if (socket->bytesAvailable() > maximumRequestSize)
            socket->abort();
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(socket->readLine());
    const QJsonObject request = document.object();
    const QString kind = request.value("request").toString();
    if (kind == u"open" || kind == u"toggle" || kind == u"welcome") {
        sendLine(socket, {{"ok", true}});
        socket->flush();
        if (kind == u"open")
            emit openRequested();
        else if (kind == u"toggle")
            emit toggleRequested();
        else
            emit welcomeRequested();
    } else if (kind == u"command" && request.value("command").isObject() && executeCommand) {
        socket->setProperty(busyProperty, true);
        QPointer<QLocalSocket> client(socket);
        QPointer<VintrelleSingleInstance> self(this);
        executeCommand(request.value("command").toObject(),
                       [client, self](std::optional<QJsonObject> result, std::optional<QString> error) {
            // The client may have gone meanwhile; the command has run all the same.
            if (!client)
                return;
            sendLine(client, error ? QJsonObject{{"error", *error}}
                                   : QJsonObject{{"result", result.value_or(QJsonObject())}});
            client->setProperty(busyProperty, false);
            if (self)
                QMetaObject::invokeMethod(self, [self, client] {
                    if (self && client)
                        self->answerNext(client);
                }, Qt::QueuedConnection);
        });
        return;
    } else {
        sendLine(socket, {{"error", QStringLiteral("Vintrelle did not understand the request.")}});
    }
    QMetaObject::invokeMethod(this, [self = QPointer(this), client = QPointer(socket)] {
        if (self && client)
            self->answerNext(client);
    }, Qt::QueuedConnection);
}
