#include "VintrelleCommandLine.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleLibraryLock.h"
#include "VintrelleLocations.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"

#include <QCoreApplication>
#include <QTextStream>

namespace {

// Runs commands against the library file in this process, through the router and bridge client
// set up as the application sets them up. A missing file is a first start without a previous
// library; a file that cannot be read is left untouched and every command answers why.
int runInProcess(const QList<QJsonObject> &commands, QTextStream &out)
{
    // Held for the whole run, so that another Vintrelle cannot save in between our commands.
    VintrelleLibraryLock lock(VintrelleNativeLibraryPath());
    VintrelleNativeStore store(VintrelleNativeLibraryPath());
    VintrelleError openError;
    bool ready = false;
    QString openFailure;
    if (!lock.acquire(VintrelleLibraryLock::defaultWait, &openError)) {
        openFailure = openError.value_or(QString());
    } else {
        ready = store.initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), &openError);
        openFailure = QStringLiteral("Library could not open: %1")
                          .arg(openError.value_or(QStringLiteral("Your original library is unchanged.")));
    }
    VintrelleNativeConnection connection;
    VintrelleCommandRouter router(&connection);
    router.setStore(&store);
    // No one to ask for a folder here: an undetected User Library cancels the installation.
    router.chooseUserLibrary = [] { return std::optional<QString>(); };
    if (ready) {
        connection.setBridgeURL(store.state()->value("bridgeUrl").toString());
        connection.setToken(store.state()->value("token").toString());
    }
    return VintrelleCommandLine::run(commands, [&](const QJsonObject &command, VintrelleReply reply) {
        if (!ready)
            return reply(std::nullopt, openFailure);
        router.executeNativeCommand(command, std::move(reply));
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
