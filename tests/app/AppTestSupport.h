#pragma once

// What the application tests share besides tests/VintrelleTestSupport.h.

#include "VintrelleTestSupport.h"

#include <QStandardPaths>

#if __has_include("VintrelleCommandRouter.h")
#include "VintrelleCommandRouter.h"

// Sends `command` through the router; with `wait`, waits for the reply.
inline std::shared_ptr<VintrelleAnswer> sendCommand(VintrelleCommandRouter &router, const QJsonObject &command, bool wait = false)
{
    return recordAnswer([&](VintrelleReply reply) { router.executeNativeCommand(command, reply); }, wait);
}
#endif

// The names (first 15 characters) of the processes whose parent is `pid`.
inline QStringList childProcesses(qint64 pid)
{
    if (QStandardPaths::findExecutable("pgrep").isEmpty()) return {"<pgrep is missing>"}; // never "no children"
    return outputOf("pgrep", {"-l", "-P", QString::number(pid)}).replace(QRegularExpression("^\\d+ ", QRegularExpression::MultilineOption), "").split('\n', Qt::SkipEmptyParts);
}
