#include "VintrelleAppDelegate.h"
#include "VintrelleCommandLine.h"
#include "VintrelleCommandRouter.h"
#include "VintrelleInstanceClient.h"
#include "VintrelleLibraryLock.h"
#include "VintrelleLocations.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrelleSingleInstance.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

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

// How long a launch waits for an instance that is starting to listen.
constexpr int instanceWait = 10000;

void nameApplication()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Vintrelle"));
    QCoreApplication::setApplicationName(QStringLiteral("Vintrelle"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VINTRELLE_VERSION));
}

// Commands go to the running instance when there is one, else run here. No display is needed.
int runCommands(int argc, char *argv[], const QList<QJsonObject> &commands)
{
    QCoreApplication application(argc, argv);
    nameApplication();
    QTextStream out(stdout);
    VintrelleError error;
    const QString folder = VintrelleSingleInstance::folder(&error);
    std::unique_ptr<VintrelleInstanceClient> instance;
    if (!folder.isEmpty())
        instance = VintrelleInstanceClient::connect(VintrelleSingleInstance::socketPath(folder),
                                                    VintrelleSingleInstance::instanceLockPath(folder), instanceWait);
    if (!instance)
        return runInProcess(commands, out);
    return VintrelleCommandLine::run(commands, [&](const QJsonObject &command, VintrelleReply reply) {
        instance->execute(command, reply);
    }, out);
}

int quitSignalPipe[2] = {-1, -1};

// SIGTERM, SIGINT and SIGHUP end the program as its Quit item does, so the tear-down runs and the
// instance's socket goes with it. The handler only writes a byte; the event loop does the rest.
void quitOnSignals(QObject *context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, quitSignalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(quitSignalPipe[1], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [] { QCoreApplication::quit(); });
    struct sigaction action {};
    action.sa_handler = [](int) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(quitSignalPipe[0], &byte, 1);
    };
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(signal, &action, nullptr);
}

int runApplication(int argc, char *argv[], VintrelleCommandLine::Mode mode)
{
    // The browser engine of a first start's migration page needs this before the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    nameApplication();
    // The program lives in the status item; closing a window never ends it.
    QApplication::setQuitOnLastWindowClosed(false);
    QTextStream err(stderr);

    VintrelleSingleInstance instance;
    VintrelleError error;
    switch (instance.claim(instanceWait, &error)) {
    case VintrelleSingleInstance::Claim::Failed:
        err << "vintrelle: " << error.value_or(QStringLiteral("Vintrelle could not start.")) << '\n';
        return 1;
    case VintrelleSingleInstance::Claim::AlreadyRunning: {
        const QString folder = VintrelleSingleInstance::folder(&error);
        auto running = VintrelleInstanceClient::connect(VintrelleSingleInstance::socketPath(folder),
                                                        VintrelleSingleInstance::instanceLockPath(folder), instanceWait);
        const QString request = mode == VintrelleCommandLine::Mode::Toggle    ? QStringLiteral("toggle")
                                : mode == VintrelleCommandLine::Mode::Welcome ? QStringLiteral("welcome")
                                                                              : QStringLiteral("open");
        if (running && running->ask({{"request", request}}))
            return 0;
        err << "vintrelle: the running Vintrelle did not answer.\n";
        return 1;
    }
    case VintrelleSingleInstance::Claim::Primary:
        break;
    }

    quitOnSignals(&instance);
    VintrelleAppDelegate delegate(mode == VintrelleCommandLine::Mode::Welcome);
    delegate.attachInstance(&instance);
    delegate.launch();
    return application.exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // Parsed before any application object exists: only the application modes need a display.
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const auto invocation = VintrelleCommandLine::parse(arguments);
    QTextStream out(stdout);
    QTextStream err(stderr);
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
        return runCommands(argc, argv, invocation.commands);
    case VintrelleCommandLine::Mode::Application:
    case VintrelleCommandLine::Mode::Toggle:
    case VintrelleCommandLine::Mode::Welcome:
        break;
    }
    return runApplication(argc, argv, invocation.mode);
}
