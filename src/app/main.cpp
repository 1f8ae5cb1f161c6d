#include "VintrelleCommandLine.h"
#include "VintrelleLocations.h"
#include "VintrelleNativeStore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

// Runs commands against the library file in this process. A missing file is a first start
// without a previous library; a file that cannot be read is left untouched and every command
// answers why.
int runInProcess(const QList<QJsonObject> &commands, QTextStream &out)
{
    VintrelleNativeStore store(VintrelleNativeLibraryPath());
    VintrelleError openError;
    const bool ready = store.initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), &openError);
    const QString openFailure = QStringLiteral("Library could not open: %1")
                                    .arg(openError.value_or(QStringLiteral("Your original library is unchanged.")));
    return VintrelleCommandLine::run(commands, [&](const QJsonObject &command, VintrelleReply reply) {
        if (!ready)
            return reply(std::nullopt, openFailure);
        VintrelleError error;
        const auto result = store.perform(command, &error);
        if (result)
            reply(result, std::nullopt);
        else
            reply(std::nullopt, error.value_or(QStringLiteral("Unable to complete action.")));
    }, out);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Vintrelle"));
    QCoreApplication::setApplicationName(QStringLiteral("Vintrelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINTRELLE_VERSION));

    QTextStream out(stdout);
    QTextStream err(stderr);
    const auto invocation = VintrelleCommandLine::parse(application.arguments().mid(1));
    switch (invocation.mode) {
    case VintrelleCommandLine::Mode::Help:
        out << VintrelleCommandLine::helpText();
        return 0;
    case VintrelleCommandLine::Mode::Version:
        out << "vintrelle " << VINTRELLE_VERSION << '\n';
        return 0;
    case VintrelleCommandLine::Mode::UsageError:
        err << "vintrelle: " << invocation.problem << '\n';
        return VintrelleCommandLine::usageError;
    case VintrelleCommandLine::Mode::Commands:
        return runInProcess(invocation.commands, out);
    case VintrelleCommandLine::Mode::Application:
        break;
    }
    err << "vintrelle: the desktop interface is not part of this build yet; the command line works (see --help).\n";
    return 1;
}
