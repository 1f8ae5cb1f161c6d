#pragma once

#include "VintrelleLibraryDocument.h"
#include "VintrelleLibraryLock.h"
#include "VintrelleReply.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;
class QLocalSocket;

// Keeps Vintrelle to one running instance per user. The instance holds a lock and listens on a
// local socket in a folder only its user can enter; a later launch connects and asks it to open,
// toggle or run commands. The kernel drops the lock of a killed instance, so its leftover socket
// is recognised as stale and replaced.
class VintrelleSingleInstance : public QObject
{
    Q_OBJECT

public:
    enum class Claim { Primary, AlreadyRunning, Failed };
    // The longest one request line may be (an imported library travels inside one).
    static constexpr qint64 maximumRequestSize = 16 * 1024 * 1024;

    explicit VintrelleSingleInstance(QObject *parent = nullptr);
    ~VintrelleSingleInstance() override;

    // The private folder: "vintrelle" in $XDG_RUNTIME_DIR, else /tmp/vintrelle-<uid>; created
    // 0700 when missing. Empty, with the reason, when it exists but is not this user's alone.
    static QString folder(VintrelleError *error);
    static QString socketPath(const QString &folder) { return folder + QStringLiteral("/vintrelle.socket"); }
    // The instance lock is "<instanceLockPath>.lock".
    static QString instanceLockPath(const QString &folder) { return folder + QStringLiteral("/vintrelle"); }

    // Becomes the running instance (listening), or finds the one that runs. Two launches at the
    // same moment end with one Primary; the other waits up to `waitMilliseconds` for it to listen.
    Claim claim(int waitMilliseconds, VintrelleError *error);

    // Runs a command for a client; the reply may come later.
    std::function<void(const QJsonObject &command, VintrelleReply reply)> executeCommand;

signals:
    void openRequested();
    void toggleRequested();
    void welcomeRequested();

private:
    void serve(QLocalSocket *socket);
    void answerNext(QLocalSocket *socket);

    VintrelleLibraryLock *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
};
