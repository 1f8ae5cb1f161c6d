#include "VintrelleTestSupport.h"

// `vintrelle --welcome` on a real X server with a window manager: the real program shows the
// welcome window, and toggling from a second launch hides it.
class TestWelcomeX11 : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

    static QString output(const QString &program, const QStringList &arguments)
    {
        QProcess process;
        process.start(program, arguments);
        process.waitForFinished(5000);
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

    // The visible windows titled "Welcome to Vintrelle".
    static QStringList welcomeWindows()
    {
        const QString found = output("xdotool", {"search", "--onlyvisible", "--name", "^Welcome to Vintrelle$"});
        return found.isEmpty() ? QStringList() : found.split(u'\n');
    }

private slots:
    void welcomeArgumentShowsTheWelcomeWindow()
    {
        writeFile(m_home.libraryPath(), compact(stateWith({})));
        VintrelleRunningApp app(m_home.processEnvironment(), {"--welcome"});
        QVERIFY(app.waitUntilListening(m_home.instanceSocket()));
        QTRY_COMPARE_WITH_TIMEOUT(welcomeWindows().size(), 1, 10000);

        // A second launch with --toggle reaches this instance, which hides the welcome window.
        const VintrelleRun toggle = runVintrelle({"--toggle"}, m_home.processEnvironment());
        QCOMPARE(toggle.status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(welcomeWindows().size(), 0, 5000);
        QVERIFY(app.isRunning());
    }
};

QTEST_GUILESS_MAIN(TestWelcomeX11)
#include "tst_welcome_x11.moc"
