#include "VintrelleGlassButton.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomeMotion.h"
#include "VintrelleWelcomePanel.h"
#include "VintrelleWelcomeStatus.h"

#include <QLabel>
#include <QtTest>

#include <cmath>

// The welcome window on the offscreen platform: its texts, its buttons and when its background
// moves.
class TestNativeWelcome : public QObject
{
    Q_OBJECT

    // Counts the paintings of one widget.
    class PaintCounter : public QObject
    {
    public:
        explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
        int paints = 0;

    protected:
        bool eventFilter(QObject *, QEvent *event) override
        {
            if (event->type() == QEvent::Paint)
                ++paints;
            return false;
        }
    };

private slots:
    void texts_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<bool>("hasLibrary");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("accessible");
        QTest::addColumn<QString>("connect");
        QTest::addColumn<QString>("library");
        QTest::newRow("connected, empty library") << true << false << "CONNECTED" << "Connected to Ableton."
                                                  << "CONNECTED TO ABLETON ✓" << "CREATE YOUR FIRST CATEGORY";
        QTest::newRow("not connected, categories") << false << true << "NOT CONNECTED" << "Not connected to Ableton."
                                                   << "CONNECT TO ABLETON" << "OPEN YOUR LIBRARY";
    }

    void texts()
    {
        QFETCH(bool, connected);
        QFETCH(bool, hasLibrary);
        QFETCH(QString, status);
        QFETCH(QString, accessible);
        QFETCH(QString, connect);
        QFETCH(QString, library);
        VintrelleNativeWelcome welcome(false);
        // From the opposite state, so that every text has to change.
        welcome.updateConnected(!connected, !hasLibrary);
        welcome.updateConnected(connected, hasLibrary);
        QCOMPARE(welcome.header()->connected(), connected);
        QCOMPARE(VintrelleWelcomeStatus::statusText(welcome.header()->connected()), status);
        QCOMPARE(welcome.header()->accessibleName(), accessible);
        QCOMPARE(welcome.connectButton()->text(), connect);
        QCOMPARE(welcome.libraryButton()->text(), library);
        // While not connected the status pulses (it redraws itself), once shown.
        welcome.openAtPoint({40, 40});
        QCOMPARE(welcome.header()->isPulsing(), !connected);
    }

    // The second line wraps rather than being cut, and the buttons stay inside the window.
    void layoutKeepsEverythingInside()
    {
        VintrelleNativeWelcome welcome(false);
        welcome.openAtPoint({0, 0});
        QVERIFY(welcome.secondLine()->height() >= 2 * welcome.secondLine()->fontMetrics().height());
        QVERIFY(welcome.window()->rect().contains(welcome.libraryButton()->geometry()));
        QVERIFY(welcome.connectButton()->geometry().bottom() < welcome.libraryButton()->geometry().top());
    }

    void buttons_data()
    {
        QTest::addColumn<bool>("connectSet");
        QTest::addColumn<bool>("connectEnabled");
        QTest::addColumn<int>("connects");
        QTest::newRow("settings window present") << true << true << 1;
        QTest::newRow("no settings window") << false << false << 0;
    }

    void buttons()
    {
        QFETCH(bool, connectSet);
        QFETCH(bool, connectEnabled);
        QFETCH(int, connects);
        VintrelleNativeWelcome welcome(false);
        int connected = 0, library = 0, closed = 0;
        if (connectSet)
            welcome.onConnect = [&] { ++connected; };
        welcome.onLibrary = [&] { ++library; };
        welcome.onClose = [&] { ++closed; };
        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QCOMPARE(welcome.connectButton()->isEnabled(), connectEnabled);
        QTest::mouseClick(welcome.connectButton(), Qt::LeftButton);
        QTest::mouseClick(welcome.libraryButton(), Qt::LeftButton);
        QCOMPARE(connected, connects);
        QCOMPARE(library, 1);
        QCOMPARE(closed, 0); // the buttons leave closing to their owner
    }

    // Shown, the background moves, unless the desktop asks for reduced motion, when it stays
    // exactly still. However the window goes (Escape and the window manager say so, hide() is
    // quiet), nothing runs and nothing paints until it opens again.
    void motionAndClosing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("reduced");
        QTest::addColumn<int>("closes");
        QTest::newRow("Escape") << "escape" << false << 1;
        QTest::newRow("window manager, reduced motion") << "close" << true << 1;
        QTest::newRow("hidden by the program") << "hide" << false << 0;
    }

    void motionAndClosing()
    {
        QFETCH(QString, how);
        QFETCH(bool, reduced);
        QFETCH(int, closes);
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
        // Still means the resting picture, not a frozen frame.
        QCOMPARE(art->animationSeconds().has_value(), !reduced);

        if (how == u"escape")
            QTest::keyClick(welcome.window(), Qt::Key_Escape);
        else if (how == u"close")
            welcome.window()->close();
        else
            welcome.hide();
        QVERIFY(!welcome.isVisible());
        QCOMPARE(closed, closes);
        PaintCounter counter(art);
        QTest::qWait(250);
        QVERIFY(!art->isAnimating());
        QVERIFY(!welcome.header()->isPulsing());
        QCOMPARE(counter.paints, 0);
        welcome.openAtPoint({10, 10});
        QCOMPARE(art->isAnimating(), !reduced);
    }

    // With a compositor the corners are clear; without one the art paints every pixel.
    void corners_data()
    {
        QTest::addColumn<bool>("translucent");
        QTest::newRow("compositor") << true;
        QTest::newRow("no compositor") << false;
    }

    void corners()
    {
        QFETCH(bool, translucent);
        VintrelleNativeWelcome welcome(translucent);
        QImage image(welcome.art()->size(), QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        welcome.art()->render(&image, {}, {}, QWidget::DrawWindowBackground);
        QCOMPARE(qAlpha(image.pixel(0, 0)) == 0, translucent);
        QCOMPARE(qAlpha(image.pixel(439, 241)) == 0, translucent);
        QCOMPARE(qAlpha(image.pixel(220, 5)), 255);
        QCOMPARE(qAlpha(image.pixel(8, 8)), 255);
    }

    // The background's drift: 16 s out, 16 s back, eased (0.42, 0, 0.58, 1) both ways, repeating.
    // A quarter out is the curve at 0.25, worked out independently.
    void drift_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("rotation");
        QTest::newRow("start") << 0.0 << -38.0 << -0.12;
        QTest::newRow("a quarter out") << 4.0 << -28.183693 << -0.089001;
        QTest::newRow("turning point") << 16.0 << 38.0 << 0.12;
        QTest::newRow("a quarter back") << 20.0 << 28.183693 << 0.089001;
        QTest::newRow("an hour later: 112 cycles and a half") << 3600.0 << 38.0 << 0.12;
        QTest::newRow("before the start") << -8.0 << 0.0 << 0.0;
    }

    void drift()
    {
        QFETCH(double, seconds);
        QFETCH(double, x);
        QFETCH(double, rotation);
        const VintrelleWelcomeTransform t = VintrelleWelcomeDrift(seconds);
        QVERIFY2(std::abs(t.translateX - x) < 1e-4 && std::abs(t.rotation - rotation) < 1e-4,
                 qPrintable(QStringLiteral("%1 %2").arg(t.translateX).arg(t.rotation)));
        QVERIFY(std::abs(t.translateY / 26.0 - t.translateX / 38.0) < 1e-4); // both axes on one curve
    }

    // The curve never runs backwards (a shape would twitch) and is clamped outside 0...1; shape i
    // runs 13 + 3i s, 3.7i s ahead, so one cycle later it stands where it stood.
    void easingAndShapes()
    {
        QCOMPARE(VintrelleWelcomeEase(-0.5), 0.0);
        QCOMPARE(VintrelleWelcomeEase(1.5), 1.0);
        for (int step = 1; step <= 1000; ++step)
            QVERIFY2(VintrelleWelcomeEase(step / 1000.0) >= VintrelleWelcomeEase((step - 1) / 1000.0), qPrintable(QString::number(step)));
        for (int index = 0; index < 4; ++index) {
            const VintrelleWelcomeTransform start = VintrelleWelcomeShapeFlow(index, -3.7 * index);
            const VintrelleWelcomeTransform later = VintrelleWelcomeShapeFlow(index, -3.7 * index + 13 + 3 * index);
            const VintrelleWelcomeTransform middle = VintrelleWelcomeShapeFlow(index, -3.7 * index + (13 + 3 * index) / 2.0);
            QVERIFY(std::abs(start.scaleX - 0.85) < 1e-4 && std::abs(start.rotation + 0.22) < 1e-4);
            QVERIFY(std::abs(later.scaleX - 0.85) < 1e-4 && std::abs(later.scaleY - 1.15) < 1e-4);
            QVERIFY(std::abs(middle.scaleX - 1.07) < 1e-4);
            QCOMPARE(qRound(middle.translateX), index % 2 ? -15 : 8);
        }
    }
};

QTEST_MAIN(TestNativeWelcome)
#include "tst_native_welcome.moc"
