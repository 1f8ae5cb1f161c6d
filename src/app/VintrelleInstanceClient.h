#pragma once

#include "VintrelleLibraryDocument.h"
#include "VintrelleReply.h"

#include <QJsonObject>
#include <QString>

#include <memory>
#include <optional>

class QLocalSocket;

// A connection to the running Vintrelle (see VintrelleSingleInstance): one request per line of
// compact JSON, one answer line each, in order. Blocking; used by a second launch, which has
// nothing else to do meanwhile.
class VintrelleInstanceClient
{
public:
    ~VintrelleInstanceClient();

    // Connects to the instance listening at `socketPath`. While an instance is starting (it holds
    // `instanceLockPath` but does not listen yet) waits up to `waitMilliseconds` for it. None when
    // no instance runs or none answers in time.
    static std::unique_ptr<VintrelleInstanceClient> connect(const QString &socketPath, const QString &instanceLockPath,
                                                            int waitMilliseconds);
    // One attempt, no waiting.
    static std::unique_ptr<VintrelleInstanceClient> tryConnect(const QString &socketPath);

    // Sends one request and waits for its answer line; none when the instance closed first.
    std::optional<QJsonObject> ask(const QJsonObject &request);

    // Runs one router command in the instance; the reply is called before this returns.
    void execute(const QJsonObject &command, const VintrelleReply &reply);

private:
    explicit VintrelleInstanceClient(std::unique_ptr<QLocalSocket> socket);

    std::unique_ptr<QLocalSocket> m_socket;
};

// Whether another process holds the flock on "<path>.lock" right now.
bool VintrelleIsLockHeldElsewhere(const QString &path);
