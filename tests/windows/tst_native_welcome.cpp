#include "VintrelleGlassButton.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleTopDragView.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomePanel.h"
#include "VintrelleWelcomeStatus.h"

#include <QLabel>
#include <QtTest>

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
        QTest::newRow("first start") << false << false << "NOT CONNECTED" << "Not connected to Ableton." << "CONNECT TO ABLETON"
                                     << "CREATE YOUR FIRST CATEGORY";
        QTest::newRow("connected, empty library") << true << false << "CONNECTED" << "Connected to Ableton."
                                                  << "CONNECTED TO ABLETON ✓" << "CREATE YOUR FIRST CATEGORY";
        QTest::newRow("not connected, categories") << false << true << "NOT CONNECTED" << "Not connected to Ableton."
                                                   << "CONNECT TO ABLETON" << "OPEN YOUR LIBRARY";
        QTest::newRow("connected, categories") << true << true << "CONNECTED" << "Connected to Ableton."
                                               << "CONNECTED TO ABLETON ✓" << "OPEN YOUR LIBRARY";
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

    void fixedTextsAndLayout()
    {
        VintrelleNativeWelcome welcome(false);
        welcome.openAtPoint({0, 0});
        QWidget *window = welcome.window();
        QCOMPARE(window->windowTitle(), QStringLiteral("Welcome to Vintrelle"));
        QCOMPARE(welcome.heading()->text(), QStringLiteral("WELCOME TO VINTRELLE"));
        QCOMPARE(welcome.firstLine()->text(), QStringLiteral("YOUR FAVORITE PLUG-INS, ONE CLICK AWAY."));
        QCOMPARE(welcome.secondLine()->text(),
                 QStringLiteral("CONNECT TO ABLETON, THEN CREATE A CATEGORY AND ADD YOUR FAVORITE PLUG-INS."));
        QCOMPARE(window->size(), QSize(440, 242));
        QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(welcome.header()->geometry(), QRect(12, 12, 416, 18));
        // One column 12 from the edges, in order, 12 apart, the buttons 32 high, 12 or more from the bottom.
        const QList<QWidget *> column{welcome.header(), welcome.heading(), welcome.firstLine(), welcome.secondLine(),
                                      welcome.connectButton(), welcome.libraryButton()};
        for (int i = 0; i < column.size(); ++i) {
            const QRect frame = column.at(i)->geometry();
            QCOMPARE(frame.left(), 12);
            QCOMPARE(frame.width(), 416);
            if (i > 0)
                QCOMPARE(frame.top(), column.at(i - 1)->geometry().bottom() + 1 + 12);
        }
        QCOMPARE(welcome.connectButton()->height(), 32);
        QCOMPARE(welcome.libraryButton()->height(), 32);
        QVERIFY(welcome.libraryButton()->geometry().bottom() + 1 <= 242 - 12);
        // The second line wraps rather than being cut.
        QVERIFY(welcome.secondLine()->height() >= 2 * welcome.secondLine()->fontMetrics().height());
        // The top 30 pixels drag the window, the status line included.
        auto *strip = window->findChild<VintrelleTopDragView *>("vintrelle-top-drag");
        QVERIFY(strip);
        QCOMPARE(strip->stripHeight(), 30);
        QCOMPARE(strip->hitTest({20, 20}), strip);
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

    // Escape and the window manager close it and say so; hide() is quiet.
    void closing_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("closes");
        QTest::newRow("Escape") << "escape" << 1;
        QTest::newRow("window manager") << "close" << 1;
        QTest::newRow("hidden by the program") << "hide" << 0;
    }

    void closing()
    {
        QFETCH(QString, how);
        QFETCH(int, closes);
        VintrelleNativeWelcome welcome(false);
        int closed = 0;
        welcome.onClose = [&] { ++closed; };
        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QVERIFY(welcome.art()->isAnimating());
        if (how == u"escape")
            QTest::keyClick(welcome.window(), Qt::Key_Escape);
        else if (how == u"close")
            welcome.window()->close();
        else
            welcome.hide();
        QVERIFY(!welcome.isVisible());
        QVERIFY(!welcome.art()->isAnimating());
        QCOMPARE(closed, closes);
        // Reopening after a close moves again.
        welcome.openAtPoint({10, 10});
        QVERIFY(welcome.art()->isAnimating());
    }

    // Hidden, nothing runs and nothing paints; shown, the background moves, unless the desktop
    // asks for reduced motion, when it stays exactly still.
    void motion_data()
    {
        QTest::addColumn<bool>("reduced");
        QTest::newRow("moving") << false;
        QTest::newRow("reduced motion") << true;
    }

    void motion()
    {
        QFETCH(bool, reduced);
        VintrelleNativeWelcome welcome(false);
        VintrelleWelcomeArt *art = welcome.art();
        welcome.setReducedMotion(reduced);
        welcome.updateConnected(true, true); // a steady status, so only the background can change
        QVERIFY(!art->isAnimating()); // nothing before the first opening

        welcome.openAtPoint({10, 10});
        QVERIFY(QTest::qWaitForWindowExposed(welcome.window()));
        QCOMPARE(art->isAnimating(), !reduced);
        const QImage before = art->grab().toImage();
        QTest::qWait(300);
        const QImage after = art->grab().toImage();
        QCOMPARE(before == after, reduced);
        // Still means the resting picture, not a frozen frame.
        QCOMPARE(art->animationSeconds().has_value(), !reduced);

        welcome.hide();
        PaintCounter counter(art);
        QTest::qWait(250);
        QVERIFY(!art->isAnimating());
        QVERIFY(!welcome.header()->isPulsing());
        QCOMPARE(counter.paints, 0);
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
};

QTEST_MAIN(TestNativeWelcome)
#include "tst_native_welcome.moc"
