#include "VintrelleFrameAtTopLeft.h"
#include "VintrelleWindowAnchor.h"

#include "VintrelleTestSupport.h"

Q_DECLARE_METATYPE(VintrelleUpRect)

class TestWindowPlacement : public QObject
{
    Q_OBJECT

private slots:
    // The rules with y upwards, on a visible frame (100, 50, 800, 600): top edge at 650.
    void frameAtTopLeft_data()
    {
        addColumns<QSize, QPoint, VintrelleUpRect>({"size", "topLeft", "frame"});
        const QSize window(200, 100);
        QTest::newRow("fits") << window << QPoint(300, 400) << VintrelleUpRect{300, 300, 200, 100};
        QTest::newRow("right edge touches the frame's right edge") << window << QPoint(850, 400) << VintrelleUpRect{700, 300, 200, 100};
        QTest::newRow("left of the frame") << window << QPoint(20, 400) << VintrelleUpRect{100, 300, 200, 100};
        QTest::newRow("above the frame: top at the frame's top") << window << QPoint(300, 700) << VintrelleUpRect{300, 550, 200, 100};
        QTest::newRow("too low: bottom on the frame's bottom") << window << QPoint(300, 80) << VintrelleUpRect{300, 50, 200, 100};
        QTest::newRow("exactly at the top-right corner") << window << QPoint(700, 650) << VintrelleUpRect{700, 550, 200, 100};
        QTest::newRow("taller than the frame keeps its top at bottom + height") << QSize(200, 900) << QPoint(300, 650) << VintrelleUpRect{300, 50, 200, 900};
        QTest::newRow("larger both ways: left edge") << QSize(900, 700) << QPoint(-50, -50) << VintrelleUpRect{100, 50, 900, 700};
    }

    void frameAtTopLeft()
    {
        QFETCH(QSize, size); QFETCH(QPoint, topLeft); QFETCH(VintrelleUpRect, frame);
        const VintrelleUpRect r = VintrelleFrameAtTopLeft(size, topLeft, VintrelleUpRect{100, 50, 800, 600});
        QVERIFY2(r == frame, qPrintable(QStringLiteral("got %1,%2 %3x%4").arg(r.x).arg(r.y).arg(r.width).arg(r.height)));
    }

    // The same rules reached from Qt's coordinates, across screens: two side by side on one top
    // edge, a third below the first; the main one has panels of 24 pixels on top and 40 at the bottom.
    void windowFrameForTopLeft_data()
    {
        addColumns<QSize, QPoint, QRect>({"size", "topLeft", "frame"});
        const QSize window(300, 200);
        QTest::newRow("in the top panel: below it") << window << QPoint(500, 5) << QRect(500, 24, 300, 200);
        QTest::newRow("near the bottom: above the bottom panel") << window << QPoint(500, 1000) << QRect(500, 840, 300, 200);
        QTest::newRow("near the right edge of the second screen") << window << QPoint(3100, 100) << QRect(2900, 100, 300, 200);
        QTest::newRow("second screen's left edge") << window << QPoint(1920, 500) << QRect(1920, 500, 300, 200);
        QTest::newRow("main screen's right edge column") << window << QPoint(1919, 500) << QRect(1620, 500, 300, 200);
        QTest::newRow("corner on the lower screen's top edge stays on it") << window << QPoint(100, 1080) << QRect(100, 1080, 300, 200);
        QTest::newRow("one row above the lower screen is the main one") << window << QPoint(100, 1079) << QRect(100, 840, 300, 200);
        QTest::newRow("outside every screen: the main one") << window << QPoint(2000, 1500) << QRect(1620, 840, 300, 200);
        QTest::newRow("taller than the main screen: bottom on its usable bottom") << QSize(300, 1200) << QPoint(10, 10) << QRect(10, -160, 300, 1200);
        QTest::newRow("wider than the lower screen: its left edge") << QSize(1700, 100) << QPoint(400, 1200) << QRect(0, 1200, 1700, 100);
    }

    void windowFrameForTopLeft()
    {
        QFETCH(QSize, size); QFETCH(QPoint, topLeft); QFETCH(QRect, frame);
        const QList<VintrelleScreenArea> desk{{QRect(0, 0, 1920, 1080), QRect(0, 24, 1920, 1016)},
                                              {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)},
                                              {QRect(0, 1080, 1600, 900), QRect(0, 1080, 1600, 900)}};
        QCOMPARE(VintrelleWindowFrameForTopLeft(size, topLeft, desk, 0), frame);
    }

    void screenOrderDecidesOverlaps()
    {
        // Mirrored screens: the first in order wins, whichever is primary; no screens at all: unchanged.
        const QList<VintrelleScreenArea> mirrored{{QRect(0, 0, 800, 600), QRect(0, 0, 800, 600)}, {QRect(0, 0, 1024, 768), QRect(0, 100, 1024, 668)}};
        QCOMPARE(VintrelleWindowFrameForTopLeft(QSize(100, 100), QPoint(10, 10), mirrored, 1), QRect(10, 10, 100, 100));
        QCOMPARE(VintrelleWindowFrameForTopLeft(QSize(100, 100), QPoint(10, 10), {}, 0), QRect(10, 10, 100, 100));
    }

    // Steps "request x y", "moved x y" (header drag), "shown x y" (menu on screen at), "closed",
    // "window x y" (moved window); then the anchor for other windows and the next menu's point.
    void anchor_data()
    {
        addColumns<QStringList, QPoint, QPoint>({"steps", "anchor", "menuPoint"});
        QTest::newRow("nothing known: the pointer") << QStringList{} << QPoint(7, 7) << QPoint(7, 7);
        QTest::newRow("requested: the point") << QStringList{"request 100 200"} << QPoint(100, 200) << QPoint(100, 200);
        QTest::newRow("open menu: its frame") << QStringList{"request 100 200", "shown 100 180"} << QPoint(100, 180) << QPoint(100, 200);
        QTest::newRow("frame kept after the menu closed") << QStringList{"request 100 200", "shown 100 180", "closed"} << QPoint(100, 180) << QPoint(100, 200);
        QTest::newRow("a new request forgets the frame") << QStringList{"request 100 200", "shown 100 180", "request 5 6"} << QPoint(5, 6) << QPoint(5, 6);
        QTest::newRow("header drag moves both") << QStringList{"request 100 200", "moved 300 310"} << QPoint(300, 310) << QPoint(300, 310);
        QTest::newRow("moved window keeps the offset") << QStringList{"request 100 200", "shown 100 180", "closed", "window 500 500"} << QPoint(500, 500)
                                                       << QPoint(500, 520);
        QTest::newRow("moved window without a frame: no offset") << QStringList{"request 100 200", "window 50 60"} << QPoint(50, 60) << QPoint(50, 60);
    }

    void anchor()
    {
        QFETCH(QStringList, steps); QFETCH(QPoint, anchor); QFETCH(QPoint, menuPoint);
        VintrelleWindowAnchor windowAnchor;
        std::optional<QPoint> open;
        for (const QString &step : steps) {
            const QStringList parts = step.split(' ');
            const QPoint point = parts.size() == 3 ? QPoint(parts[1].toInt(), parts[2].toInt()) : QPoint();
            if (parts[0] == "request") {
                windowAnchor.menuRequestedAt(point);
                open.reset();
            } else if (parts[0] == "moved") {
                windowAnchor.menuMovedTo(point);
            } else if (parts[0] == "shown") {
                windowAnchor.secondaryWindowAnchor(open = point, QPoint(7, 7));
            } else if (parts[0] == "closed") {
                open.reset();
            } else {
                windowAnchor.rememberNativeWindowPosition(point);
            }
        }
        QCOMPARE(windowAnchor.secondaryWindowAnchor(open, QPoint(7, 7)), anchor);
        QCOMPARE(windowAnchor.mainMenuPoint(QPoint(7, 7)), menuPoint);
    }
};

QTEST_GUILESS_MAIN(TestWindowPlacement)
#include "tst_window_placement.moc"
