#include "VintrelleStatusItem.h"
#include "VintrelleTestSupport.h"

#include <QMenu>
#include <QSystemTrayIcon>

// The status item on a real X server with a tray host (trayer) and a window manager, clicked
// with xdotool like a user would. With VINTRELLE_EXPECT_NO_TRAY the session has no tray host.
class TestStatusItemX11 : public QObject
{
    Q_OBJECT

    static bool expectTray() { return qEnvironmentVariableIsEmpty("VINTRELLE_EXPECT_NO_TRAY"); }

    static QStringList titles(const QMenu *menu)
    {
        QStringList list;
        for (QAction *action : menu->actions())
            list << (action->isSeparator() ? QStringLiteral("—") : action->text() + (action->isEnabled() ? "" : " (off)"));
        return list;
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
    }

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

    void clickOpensTheStatusMenu_data()
    {
        QTest::addColumn<int>("button");
        QTest::newRow("right click") << 3;
        QTest::newRow("left click") << 1;
    }

    void clickOpensTheStatusMenu()
    {
        if (!expectTray())
            QSKIP("this session has no tray host");
        QFETCH(int, button);
        VintrelleStatusItem item;
        QVERIFY(item.trayIcon());
        if (!QTest::qWaitFor([] { return QSystemTrayIcon::isSystemTrayAvailable(); }, 30000)) {
            QProcess trayHosts;
            trayHosts.start("pgrep", {"-a", "trayer"});
            trayHosts.waitForFinished(5000);
            QFAIL(qPrintable("no tray after 30 s; running tray hosts: " + QString::fromLocal8Bit(trayHosts.readAllStandardOutput())));
        }
        QTRY_VERIFY_WITH_TIMEOUT(item.trayIcon()->geometry().width() > 0, 10000);
        QCOMPARE(item.trayIcon()->toolTip(), QStringLiteral("Vintrelle"));
        QVERIFY(!item.menu()->isVisible());

        // Qt reports the icon's place inside the tray; xdotool finds the docked window itself, the
        // only one of this program on screen before the menu opens. On a busy machine the tray
        // may still be embedding it when first found, so a click that opened nothing is repeated.
        for (int attempt = 0; attempt < 5 && !item.menu()->isVisible(); ++attempt) {
            QProcess search;
            search.start("xdotool", {"search", "--onlyvisible", "--classname", QCoreApplication::applicationName()});
            QVERIFY(search.waitForFinished(5000));
            const QList<QByteArray> windows = search.readAllStandardOutput().trimmed().split('\n');
            QCOMPARE(windows.size(), 1);
            QCOMPARE(QProcess::execute("xdotool", {"mousemove", "--window", QString::fromLatin1(windows.first()), "11", "11",
                                                   "click", QString::number(button)}), 0);
            if (QTest::qWaitFor([&] { return item.menu()->isVisible(); }, 1000))
                break;
        }
        QVERIFY(item.menu()->isVisible());
        QCOMPARE(titles(item.menu()),
                 QStringList({"Show / Hide Vintrelle", "Checking hotkey access… (off)", "Open: Double right-click (off)", "—",
                              "Quit Vintrelle"}));

        // Choosing the first line asks to toggle and closes the menu.
        QSignalSpy toggled(&item, &VintrelleStatusItem::toggleRequested);
        const QRect row = item.menu()->actionGeometry(item.toggleAction());
        const QPoint target = item.menu()->mapToGlobal(row.center());
        QCOMPARE(QProcess::execute("xdotool", {"mousemove", QString::number(target.x()), QString::number(target.y()),
                                               "click", "1"}), 0);
        QTRY_COMPARE(toggled.size(), 1);
        QTRY_VERIFY(!item.menu()->isVisible());
    }
};

QTEST_MAIN(TestStatusItemX11)
#include "tst_status_item_x11.moc"
