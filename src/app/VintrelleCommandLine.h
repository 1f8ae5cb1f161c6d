#pragma once

#include "VintrelleReply.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QTextStream;

// Runs one command and answers through the reply exactly once, now or later on the main thread.
using VintrelleCommandExecutor = std::function<void(const QJsonObject &command, VintrelleReply reply)>;

// `vintrelle --command JSON` and `vintrelle --commands FILE|-`: one line of compact JSON per
// command on stdout. Exit status 0 when every command succeeded, 1 when one failed, 2 for a usage
// error (in which case nothing runs).
class VintrelleCommandLine
{
public:
    enum class Mode { Help, Version, Commands, Application, Toggle, Welcome, UsageError };
    static constexpr int usageError = 2;
    static constexpr qint64 commandsLimit = 64 * 1024 * 1024; // bytes --commands reads at most

    struct Invocation
    {
        Mode mode = Mode::Application;
        QList<QJsonObject> commands;
        QString problem; // for UsageError
    };

    // Reads the arguments (without the program name) and, for the command modes, every command
    // before any runs.
    static Invocation parse(const QStringList &arguments);

    // Runs the commands in order, whatever the earlier ones answered; waits for each reply.
    static int run(const QList<QJsonObject> &commands, const VintrelleCommandExecutor &execute, QTextStream &out);

    static QString helpText();
};
