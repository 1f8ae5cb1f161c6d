#include "VintrelleStatusItem.h"
#include "VintrelleTestSupport.h"

#include <QMenu>
#include <QSystemTrayIcon>

// On a real X server with a window manager: the status item docked by a tray host (trayer) and clicked with xdotool,
// or without any tray host (VINTRELLE_EXPECT_NO_TRAY); the real program started with --welcome.
class TestAppX11 : public QObject
{
    Q_OBJECT

    static bool expectTray() { return qEnvironmentVariableIsEmpty("VINTRELLE_EXPECT_NO_TRAY"); }
    // The visible windows of this name or class name.
    static QStringList windows(const QString &option, const QString &name) { return outputOf("xdotool", {"search", "--onlyvisible", option, name}).split(u'\n', Qt::SkipEmptyParts); }

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }
    void withoutTrayTheItemStillWorks()
    {
        if (expectTray())
            QSKIP("this session has a tray host");
        VintrelleStatusItem item;
        QTest::qWait(500);
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        QSignalSpy toggled(&item, &VintrelleStatusItem::toggleRequested);
        item.toggleAction()->trigger();
        QCOMPARE(toggled.size(), 1);
    }
    // A right or left click on the docked icon opens the menu; its first line asks to toggle.
    void clickOpensTheStatusMenu()
    {
        if (!expectTray())
            QSKIP("this session has no tray host");
        for (int button : {3, 1}) {
            VintrelleStatusItem item;
            QVERIFY(item.trayIcon());
            if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 30000))
                QFAIL(qPrintable("no tray after 30 s; running tray hosts: " + outputOf("pgrep", {"-a", "trayer"})));
            QTRY_VERIFY_WITH_TIMEOUT(item.trayIcon()->geometry().width() > 0, 10000);
            QVERIFY(!item.menu()->isVisible());
            // The docked window is this program's only one; the tray may still be embedding it, so a click that opened nothing is repeated.
            for (int attempt = 0; attempt < 5 && !item.menu()->isVisible(); ++attempt) {
                const QStringList docked = windows("--classname", QCoreApplication::applicationName());
                QCOMPARE(docked.size(), 1);
                QVERIFY(xdotool(QString("mousemove --window %1 11 11 click %2").arg(docked.first()).arg(button)));
                (void)QTest::qWaitFor([&] { return item.menu()->isVisible(); }, 1000);
            }
            QVERIFY2(item.menu()->isVisible(), qPrintable(QString("mouse button %1").arg(button)));
            QSignalSpy toggled(&item, &VintrelleStatusItem::toggleRequested);
            const QPoint target = item.menu()->mapToGlobal(item.menu()->actionGeometry(item.toggleAction()).center());
            QVERIFY(xdotool(QString("mousemove %1 %2 click 1").arg(target.x()).arg(target.y())));
            QTRY_COMPARE(toggled.size(), 1);
            QTRY_VERIFY(!item.menu()->isVisible());
        }
    }
    // `vintrelle --welcome` shows the welcome window; a later --toggle hides it, a later --welcome shows it again.
    void welcomeArgumentShowsTheWelcomeWindow()
    {
        if (!expectTray())
            QSKIP("runs in the session with a tray host");
        VintrelleTestHome home;
        writeFile(home.libraryPath(), compact(stateWith({})));
        VintrelleRunningApp app(home.processEnvironment(), {"--welcome"});
        QVERIFY(app.waitUntilListening(home.instanceSocket()));
        QTRY_COMPARE_WITH_TIMEOUT(windows("--name", "^Welcome to Vintrelle$").size(), 1, 10000);
        QCOMPARE(runVintrelle({"--toggle"}, home.processEnvironment()).status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(windows("--name", "^Welcome to Vintrelle$").size(), 0, 5000);
        QCOMPARE(runVintrelle({"--welcome"}, home.processEnvironment()).status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(windows("--name", "^Welcome to Vintrelle$").size(), 1, 5000);
        QVERIFY(app.isRunning());
    }
};

QTEST_MAIN(TestAppX11)
#include "tst_app_x11.moc"
