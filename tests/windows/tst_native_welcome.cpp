#include "VintrelleGlassButton.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomeStatus.h"

#include <QLabel>

// The welcome window on the offscreen platform: its texts, its buttons and when its background moves.
class TestNativeWelcome : public QObject
{
    Q_OBJECT

private slots:
    // Each state from the opposite one, so every text has to change; the buttons leave closing
    // to their owner, and Connect is off without a settings window to open.
    void statesAndButtons_data()
    {
        addColumns<bool, bool, QString>({"connected", "hasLibrary", "texts"});
        QTest::newRow("connected, empty library, no settings window")
            << true << false << "CONNECTED|Connected to Ableton.|CONNECTED TO ABLETON ✓|CREATE YOUR FIRST CATEGORY";
        QTest::newRow("not connected, categories")
            << false << true << "NOT CONNECTED|Not connected to Ableton.|CONNECT TO ABLETON|OPEN YOUR LIBRARY";
    }
    void statesAndButtons()
    {
        QFETCH(bool, connected); QFETCH(bool, hasLibrary);
        VintrelleNativeWelcome welcome(false);
        int connects = 0, libraries = 0, closes = 0;
        if (!connected)
            welcome.onConnect = [&] { ++connects; };
        welcome.onLibrary = [&] { ++libraries; };
        welcome.onClose = [&] { ++closes; };
        welcome.updateConnected(!connected, !hasLibrary);
        welcome.updateConnected(connected, hasLibrary);
        const QStringList texts{VintrelleWelcomeStatus::statusText(welcome.header()->connected()), welcome.header()->accessibleName(),
                                welcome.connectButton()->text(), welcome.libraryButton()->text()};
        QTEST(texts.join('|'), "texts");
        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QCOMPARE(welcome.header()->isPulsing(), !connected); // while not connected the status pulses
        QCOMPARE(welcome.connectButton()->isEnabled(), !connected);
        QTest::mouseClick(welcome.connectButton(), Qt::LeftButton);
        QTest::mouseClick(welcome.libraryButton(), Qt::LeftButton);
        QCOMPARE(QList<int>({connects, libraries, closes}), QList<int>({connected ? 0 : 1, 1, 0}));
    }

    // Shown, the background moves, unless the desktop asks for reduced motion, when it stays exactly
    // still. However the window goes (Escape and the window manager say so, hide() is quiet), nothing
    // runs until it opens again.
    void motionAndClosing_data()
    {
        addColumns<QString, bool, int>({"how", "reduced", "closes"});
        QTest::newRow("Escape") << "escape" << false << 1;
        QTest::newRow("window manager, reduced motion") << "close" << true << 1;
        QTest::newRow("hidden by the program") << "hide" << false << 0;
    }
    void motionAndClosing()
    {
        QFETCH(QString, how); QFETCH(bool, reduced);
        VintrelleNativeWelcome welcome(false);
        VintrelleWelcomeArt *art = welcome.art();
        int closed = 0;
        welcome.onClose = [&] { ++closed; };
        welcome.setReducedMotion(reduced);
        welcome.updateConnected(true, true); // a steady status, so only the background can change
        QVERIFY(!art->isAnimating()); // nothing before the first opening
        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QCOMPARE(art->isAnimating(), !reduced);
        const QImage before = art->grab().toImage();
        QTest::qWait(300);
        QCOMPARE(before == art->grab().toImage(), reduced);
        QCOMPARE(art->animationSeconds().has_value(), !reduced); // still is the resting picture, not a frozen frame

        if (how == "escape")
            QTest::keyClick(welcome.window(), Qt::Key_Escape);
        else if (how == "close")
            welcome.window()->close();
        else
            welcome.hide();
        QVERIFY(!welcome.isVisible());
        QTEST(closed, "closes");
        QVERIFY(!art->isAnimating());
        welcome.openAtPoint({10, 10});
        QCOMPARE(art->isAnimating(), !reduced);
    }

    // With a compositor the corners are clear; without one the art paints every pixel.
    void corners()
    {
        for (const bool translucent : {true, false}) {
            VintrelleNativeWelcome welcome(translucent);
            QImage image(welcome.art()->size(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            welcome.art()->render(&image, {}, {}, QWidget::DrawWindowBackground);
            QCOMPARE(qAlpha(image.pixel(0, 0)) + qAlpha(image.pixel(439, 241)), translucent ? 0 : 510);
            QCOMPARE(qAlpha(image.pixel(220, 5)) + qAlpha(image.pixel(8, 8)), 510);
        }
    }
};

QTEST_MAIN(TestNativeWelcome)
#include "tst_native_welcome.moc"
