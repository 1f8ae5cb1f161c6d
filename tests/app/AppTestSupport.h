#pragma once

// What the application tests share besides tests/VintrelleTestSupport.h.

#include "VintrelleTestSupport.h"

#include <QStandardPaths>

#if __has_include("VintrelleCommandRouter.h")
#include "VintrelleCommandRouter.h"
#include "VintrellePageEvaluator.h"

#include <QTimer>

// Sends `command` through the router; with `wait`, waits for the reply.
inline std::shared_ptr<VintrelleAnswer> sendCommand(VintrelleCommandRouter &router, const QJsonObject &command, bool wait = false)
{
    return recordAnswer([&](VintrelleReply reply) { router.executeNativeCommand(command, reply); }, wait);
}

// Stands in for the palette page: records each script and completes it on the next turn.
class RecordingPage : public VintrellePageEvaluator
{
public:
    QStringList scripts;
    std::optional<QString> failure;

    void evaluate(const QString &script, Completion completion) override
    {
        scripts << script;
        QTimer::singleShot(0, [completion, failure = failure] { completion(failure); });
    }

    // The [command, requestID] a forwarded command's script carries; empty for any other script.
    QJsonArray arguments(qsizetype index) const
    {
        const QString script = scripts.value(index), start = "(()=>{const [command,requestID]=";
        const qsizetype end = script.indexOf(";Promise.resolve()");
        if (!script.startsWith(start) || end < 0 || !script.contains("window.vintrelleNativeCommand(command)"))
            return {};
        return QJsonDocument::fromJson(script.mid(start.size(), end - start.size()).toUtf8()).array();
    }
};
#endif

// The names (first 15 characters) of the processes whose parent is `pid`.
inline QStringList childProcesses(qint64 pid)
{
    if (QStandardPaths::findExecutable("pgrep").isEmpty()) return {"<pgrep is missing>"}; // never "no children"
    return outputOf("pgrep", {"-l", "-P", QString::number(pid)}).replace(QRegularExpression("^\\d+ ", QRegularExpression::MultilineOption), "").split('\n', Qt::SkipEmptyParts);
}

// A saved library with one category "Synths" holding "Pad Machine" (id E1), and this bridge.
inline QByteArray libraryWithBridge(const QString &bridgeURL, const QString &token)
{
    const QJsonArray categories{categoryObject("C1", "Synths", QJsonValue::Null, {entryObject("E1", "Pad Machine", "query:Synths#Pad")})};
    return compact(with(with(stateWith(categories), "bridgeUrl", bridgeURL), "token", token));
}
