#include "VintrelleWelcomeMotion.h"

#include <QtTest>

#include <cmath>

// The welcome background's motion on plain numbers. Expected values come from the key frames and
// from the ease-in-ease-out curve (0.42, 0, 0.58, 1) evaluated independently.
class TestWelcomeMotion : public QObject
{
    Q_OBJECT

    static bool near(double a, double b) { return std::abs(a - b) < 1e-4; }

private slots:
    void ease_data()
    {
        QTest::addColumn<double>("fraction");
        QTest::addColumn<double>("eased");
        QTest::newRow("start") << 0.0 << 0.0;
        QTest::newRow("a tenth") << 0.1 << 0.019722;
        QTest::newRow("a quarter") << 0.25 << 0.129162;
        QTest::newRow("half way") << 0.5 << 0.5;
        QTest::newRow("three quarters") << 0.75 << 0.870838;
        QTest::newRow("end") << 1.0 << 1.0;
        QTest::newRow("before the start clamps") << -0.5 << 0.0;
        QTest::newRow("after the end clamps") << 1.5 << 1.0;
    }

    void ease()
    {
        QFETCH(double, fraction);
        QFETCH(double, eased);
        QVERIFY2(near(VintrelleWelcomeEase(fraction), eased), qPrintable(QString::number(VintrelleWelcomeEase(fraction))));
    }

    // Never runs backwards: a shape would twitch.
    void easeIsMonotonic()
    {
        double previous = 0;
        for (int step = 1; step <= 1000; ++step) {
            const double value = VintrelleWelcomeEase(step / 1000.0);
            QVERIFY2(value >= previous, qPrintable(QString::number(step)));
            previous = value;
        }
    }

    // 16 s out, 16 s back, eased both ways.
    void drift_data()
    {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("y");
        QTest::addColumn<double>("rotation");
        QTest::newRow("start") << 0.0 << -38.0 << -26.0 << -0.12;
        QTest::newRow("a quarter out") << 4.0 << -28.183693 << -19.283580 << -0.089001;
        QTest::newRow("half way out") << 8.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("turning point") << 16.0 << 38.0 << 26.0 << 0.12;
        QTest::newRow("a quarter back") << 20.0 << 28.183693 << 19.283580 << 0.089001;
        QTest::newRow("half way back") << 24.0 << 0.0 << 0.0 << 0.0;
        QTest::newRow("second cycle") << 32.0 + 4.0 << -28.183693 << -19.283580 << -0.089001;
        QTest::newRow("an hour later") << 3600.0 << 38.0 << 26.0 << 0.12; // 3600 = 112 × 32 + 16
        QTest::newRow("before the start") << -8.0 << 0.0 << 0.0 << 0.0;
    }

    void drift()
    {
        QFETCH(double, seconds);
        QFETCH(double, x);
        QFETCH(double, y);
        QFETCH(double, rotation);
        const VintrelleWelcomeTransform t = VintrelleWelcomeDrift(seconds);
        QVERIFY2(near(t.translateX, x) && near(t.translateY, y) && near(t.rotation, rotation),
                 qPrintable(QStringLiteral("%1 %2 %3").arg(t.translateX).arg(t.translateY).arg(t.rotation)));
        QCOMPARE(t.scaleX, 1.0);
        QCOMPARE(t.scaleY, 1.0);
    }

    // Shape i runs 13 + 3i s, 3.7i s ahead. At its cycle's start it stands on the first key
    // frame; half way through its eased cycle, half way between the second and the third.
    void shapeFlow_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QList<double>>("expected"); // scale x, scale y, x, y, rotation
        const QList<double> first{0.85, 1.15, 0, 0, -0.22};
        const QList<double> evenMiddle{1.07, 0.94, 8, -3, 0.065};
        const QList<double> oddMiddle{1.07, 0.94, -15, 8, 0.065};
        QTest::newRow("0 at the start") << 0 << 0.0 << first;
        QTest::newRow("0 half way") << 0 << 6.5 << evenMiddle;
        QTest::newRow("0 a cycle later") << 0 << 13.0 << first;
        QTest::newRow("1 starts 3.7 s in") << 1 << 16.0 - 3.7 << first;
        QTest::newRow("1 half way") << 1 << 16.0 - 3.7 + 8.0 << oddMiddle;
        QTest::newRow("2 half way") << 2 << 19.0 - 7.4 + 9.5 << evenMiddle;
        QTest::newRow("3 half way") << 3 << 22.0 - 11.1 + 11.0 << oddMiddle;
        QTest::newRow("3 just before the start") << 3 << -0.1 << oddMiddle;
    }

    void shapeFlow()
    {
        QFETCH(int, index);
        QFETCH(double, seconds);
        QFETCH(QList<double>, expected);
        const VintrelleWelcomeTransform t = VintrelleWelcomeShapeFlow(index, seconds);
        const QList<double> actual{t.scaleX, t.scaleY, t.translateX, t.translateY, t.rotation};
        for (int i = 0; i < actual.size(); ++i)
            QVERIFY2(near(actual.at(i), expected.at(i)),
                     qPrintable(QStringLiteral("value %1: %2, expected %3").arg(i).arg(actual.at(i)).arg(expected.at(i))));
    }
};

QTEST_APPLESS_MAIN(TestWelcomeMotion)
#include "tst_welcome_motion.moc"
