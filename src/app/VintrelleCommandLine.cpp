#include "VintrelleCommandLine.h"

#include <QEventLoop>
#include <QFile>
#include <QJsonDocument>
#include <QTextStream>

namespace {

std::optional<QJsonObject> parseObject(const QByteArray &text)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

VintrelleCommandLine::Invocation usage(const QString &problem)
{
    return {VintrelleCommandLine::Mode::UsageError, {}, problem};
}

} // namespace

QString VintrelleCommandLine::helpText()
{
    return QStringLiteral(
        "Usage: vintrelle [option]\n"
        "Your favourite plug-ins, one gesture away in Ableton Live.\n"
        "Without an option: start Vintrelle, or open the quick menu of the one that runs.\n"
        "\n"
        "  --toggle               open the quick menu, or close what is open (bind it to a shortcut)\n"
        "  --welcome              start showing the welcome window\n"
        "  --command JSON         run one command object, e.g. '{\"op\":\"export\"}'\n"
        "  --commands FILE|-      run one command object per line of FILE (- for standard input)\n"
        "  --help                 show this help\n"
        "  --version              show the version\n"
        "\n"
        "With Vintrelle running, commands run in it; otherwise they run here.\n"
        "Each command prints one line: {\"result\": {...}} or {\"error\": \"message\"}.\n"
        "Exit status: 0 when every command succeeded, 1 when one failed, 2 for a usage error.\n");
}

VintrelleCommandLine::Invocation VintrelleCommandLine::parse(const QStringList &arguments)
{
    if (arguments.isEmpty())
        return {Mode::Application, {}, {}};
    const QString option = arguments.first();
    if (option == QLatin1String("--help") || option == QLatin1String("-h"))
        return {Mode::Help, {}, {}};
    if (option == QLatin1String("--version"))
        return {Mode::Version, {}, {}};
    for (const auto &[name, mode] : {std::pair{"--toggle", Mode::Toggle}, std::pair{"--welcome", Mode::Welcome}}) {
        if (option != QLatin1String(name))
            continue;
        if (arguments.size() != 1)
            return usage(QStringLiteral("%1 takes no argument (see --help)").arg(option));
        return {mode, {}, {}};
    }
    if (option != QLatin1String("--command") && option != QLatin1String("--commands"))
        return usage(QStringLiteral("unknown option %1 (see --help)").arg(option));
    if (arguments.size() != 2)
        return usage(QStringLiteral("%1 takes exactly one argument (see --help)").arg(option));

    if (option == QLatin1String("--command")) {
        const auto command = parseObject(arguments.at(1).toUtf8());
        if (!command)
            return usage(QStringLiteral("the command is not a JSON object"));
        return {Mode::Commands, {*command}, {}};
    }

    QFile file;
    const QString source = arguments.at(1);
    const bool opened = source == QLatin1String("-") ? file.open(stdin, QIODevice::ReadOnly)
                                                     : (file.setFileName(source), file.open(QIODevice::ReadOnly));
    if (!opened)
        return usage(QStringLiteral("could not read %1: %2").arg(source, file.errorString()));
    // Read in steps up to one byte past the limit: a source without end (/dev/zero, a pipe that
    // never closes on its data) must end in a usage error, not in exhausted memory.
    QByteArray text;
    while (text.size() <= commandsLimit) {
        const QByteArray chunk = file.read(qMin<qint64>(1024 * 1024, commandsLimit + 1 - text.size()));
        if (chunk.isEmpty())
            break;
        text += chunk;
    }
    if (file.error() != QFileDevice::NoError)
        return usage(QStringLiteral("could not read %1: %2").arg(source, file.errorString()));
    if (text.size() > commandsLimit)
        return usage(QStringLiteral("%1 holds more than 64 MiB of commands; nothing was run").arg(source));
    QList<QJsonObject> commands;
    qsizetype lineNumber = 0;
    for (const QByteArray &line : text.split('\n')) {
        ++lineNumber;
        if (line.trimmed().isEmpty())
            continue;
        const auto command = parseObject(line);
        if (!command)
            return usage(QStringLiteral("line %1 is not a JSON object; nothing was run").arg(lineNumber));
        commands.append(*command);
    }
    return {Mode::Commands, commands, {}};
}

int VintrelleCommandLine::run(const QList<QJsonObject> &commands, const VintrelleCommandExecutor &execute,
                              QTextStream &out)
{
    int status = 0;
    for (const QJsonObject &command : commands) {
        QEventLoop loop;
        bool answered = false;
        QJsonObject line;
        execute(command, [&](std::optional<QJsonObject> result, std::optional<QString> error) {
            if (answered)
                return;
            answered = true;
            if (error)
                line = {{"error", *error}};
            else
                line = {{"result", result.value_or(QJsonObject())}};
            loop.quit();
        });
        if (!answered)
            loop.exec();
        if (line.contains(QLatin1String("error")))
            status = 1;
        out << QJsonDocument(line).toJson(QJsonDocument::Compact) << '\n';
        out.flush();
    }
    return status;
}
