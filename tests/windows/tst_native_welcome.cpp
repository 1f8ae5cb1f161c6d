#include "VintrelleGlassButton.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomeStatus.h"

// The welcome window's states and motion (its buttons are checked through the program in tests/app).
class TestNativeWelcome : public QObject
{
    Q_OBJECT

private slots:
    // Each state set from the opposite one; the background moves only while shown, and never with reduced motion.
    void statesMotionAndClosing_data()
    {
        addColumns<bool, QString, bool, QString, int>({"connected", "texts", "reduced", "how", "closes"});
        QTest::newRow("not connected, Escape") << false << "NOT CONNECTED|Not connected to Ableton." << false << "escape" << 1;
        QTest::newRow("connected, reduced motion, closed by the window manager")
            << true << "CONNECTED|Connected to Ableton." << true << "close" << 1;
        QTest::newRow("connected, hidden by the program") << true << "CONNECTED|Connected to Ableton." << false << "hide" << 0;
    }
    void statesMotionAndClosing()
    {
        QFETCH(bool, connected); QFETCH(bool, reduced); QFETCH(QString, how);
        VintrelleNativeWelcome welcome(false);
        VintrelleWelcomeArt *art = welcome.art();
        int closed = 0;
        welcome.onClose = [&] { ++closed; };
        if (!connected)
            welcome.onConnect = [] {};
        welcome.setReducedMotion(reduced);
        welcome.updateConnected(!connected, true);
        welcome.updateConnected(connected, true);
        QTEST(VintrelleWelcomeStatus::statusText(welcome.header()->connected()) + '|' + welcome.header()->accessibleName(), "texts");
        QVERIFY(!art->isAnimating()); // nothing before the first opening
        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QCOMPARE(welcome.header()->isPulsing(), !connected);
        QCOMPARE(welcome.connectButton()->isEnabled(), !connected);
        QCOMPARE(art->isAnimating(), !reduced);
        const QImage before = art->grab().toImage();
        QTest::qWait(300);
        QCOMPARE(before == art->grab().toImage(), reduced);
        QCOMPARE(art->animationSeconds().has_value(), !reduced); // still is the resting picture, not a frozen frame
        if (how == "escape")
            QTest::keyClick(welcome.window(), Qt::Key_Escape);
        else
            how == "close" ? void(welcome.window()->close()) : welcome.hide();
        QVERIFY(!welcome.isVisible() && !art->isAnimating());
        QTEST(closed, "closes");
        welcome.openAtPoint({10, 10});
        QCOMPARE(art->isAnimating(), !reduced);
    }
};

QTEST_MAIN(TestNativeWelcome)
#include "tst_native_welcome.moc"
