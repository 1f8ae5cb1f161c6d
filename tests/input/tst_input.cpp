// The pure logic of opening: gestures, window placement, and the session without global input.

#include "VintrelleFrameAtTopLeft.h"
#include "VintrelleGestureRecognizer.h"
#include "VintrelleGlobalInput.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWindowAnchor.h"

#include <QRegularExpression>

using namespace VintrelleModifier;
using Kind = VintrelleInputEvent::Kind;
using Gesture = VintrelleGestureRecognizer::Gesture;

class TestInput : public QObject
{
    Q_OBJECT

private slots:
    // Event scripts: tokens "<Kind><modifiers>@<seconds>[:x,y][!]". Kind: M modifier change, K key, L left down, R right
    // down, U right up, O other button down, D the desktop's double-click interval from now on (0.4 before). Modifiers
    // held after the event: a Alt, s Shift, c Control, w Super, f Function, l Caps Lock. "!": the quick menu is open.
    // Our own window covers (0,0)-(100,100). Answers "t<token index>" for a double tap, "c<index>" a double right-click.
    void gestures_data()
    {
        addColumns<QString, QString, QString>({"script", "combo", "expected"});
        const QString tap = QStringLiteral("double-option");
        QTest::newRow("holds of exactly 0.25 s") << "Ma@1 M@1.25 Ma@1.3 M@1.55" << tap << "t3";
        QTest::newRow("first hold too long") << "Ma@0 M@0.3 Ma@0.4 M@0.5" << tap << "";
        QTest::newRow("second hold too long") << "Ma@0 M@0.1 Ma@0.2 M@0.46" << tap << "";
        QTest::newRow("gap of exactly 0.4 s") << "Ma@1 M@1.1 Ma@1.3 M@1.5" << tap << "t3";
        QTest::newRow("gap of 0.5 s starts a new pair") << "Ma@0 M@0.1 Ma@0.4 M@0.6 Ma@0.7 M@0.8" << tap << "t5";
        QTest::newRow("three taps toggle once, four twice") << "Ma@0 M@0.1 Ma@0.2 M@0.3 Ma@0.4 M@0.5 Ma@0.6 M@0.7" << tap << "t3 t7";
        QTest::newRow("shift with the first tap; control, super, function between") << "Mas@0 Ms@0.1 Ma@0.2 M@0.3 Mc@0.35 M@0.36 Ma@0.4 M@0.45 Mw@0.5 M@0.51 Ma@0.55 M@0.6 Mf@0.65 M@0.66 Ma@0.7 M@0.75" << tap << "";
        QTest::newRow("caps lock switched between taps") << "Ma@0 M@0.1 Ml@0.15 Mal@0.2 Ml@0.3" << tap << "t4";
        QTest::newRow("a key or a left click between the taps") << "Ma@0 M@0.1 K@0.15 Ma@0.2 M@0.3 L@0.35 Ma@0.4 M@0.5" << tap << "";
        QTest::newRow("a right release alone does not cancel") << "Ma@0 M@0.1 U@0.15 Ma@0.2 M@0.3" << tap << "t4";
        QTest::newRow("another shortcut chosen") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "control-option" << "";
        QTest::newRow("8 px apart exactly") << "U@1:200,200 U@1.2:200,208" << "command-shift" << "c1";
        QTest::newRow("diagonal just over 8 px") << "U@1:200,200 U@1.2:205.7,205.7" << tap << "";
        QTest::newRow("at the interval") << "U@1:200,200 U@1.4:200,200" << tap << "c1";
        QTest::newRow("past the interval, then a pair") << "U@1:200,200 U@1.41:200,200 U@1.6:200,200" << tap << "c2";
        QTest::newRow("desktop interval shorter") << "D@0.25 U@1:200,200 U@1.3:200,200" << tap << "";
        QTest::newRow("desktop interval longer") << "D@1 U@1:200,200 U@1.9:200,200" << tap << "c2";
        QTest::newRow("time zero means no first click") << "U@0:200,200 U@0.2:200,200 U@0.3:200,200" << tap << "c2";
        QTest::newRow("same instant") << "U@1:200,200 U@1:200,200" << tap << "";
        QTest::newRow("presses and keys between do not matter") << "R@1:200,200 U@1.1:200,200 K@1.15 Mc@1.2 M@1.25 U@1.3:200,200" << tap << "c5";
        QTest::newRow("left click between cancels") << "U@1:200,200 L@1.1:200,200 U@1.2:200,200" << tap << "";
        QTest::newRow("control, shift, alt, super held") << "Uc@1:200,200 U@1.1:200,200 Us@1.2:200,200 U@1.3:200,200 Ua@1.4:200,200 U@1.5:200,200 Uw@1.6:200,200" << tap << "";
        QTest::newRow("four releases open twice") << "U@1:200,200 U@1.1:200,200 U@1.2:200,200 U@1.3:200,200" << tap << "c1 c3";
        QTest::newRow("over an own window") << "U@1:50,50 U@1.2:52,50" << tap << "";
        QTest::newRow("only the first over an own window") << "U@1:99,50 U@1.2:102,50" << tap << "";
        QTest::newRow("menu open: ignored, state kept") << "U@1:200,200 U@1.1:200,200! U@1.2:200,200" << tap << "c2";
        QTest::newRow("a double right-click ends a half tap") << "Ma@0 M@0.1 U@0.15:200,200 U@0.2:200,200 Ma@0.25 M@0.3" << tap << "c3";
    }
    void gestures()
    {
        QFETCH(QString, script); QFETCH(QString, combo);
        static const QRegularExpression token(R"(^([MKLRUOD])([ascwfl]*)@([0-9.-]+)(?::([0-9.]+),([0-9.]+))?(!)?$)");
        const quint32 bits[] = {option, shift, control, command, function, capsLock};
        VintrelleGestureRecognizer recognizer;
        VintrelleGestureRecognizer::Context context{combo, false, [](QPointF p) { return QRectF(0, 0, 100, 100).contains(p); }, 0.4};
        QStringList fired;
        const QStringList words = script.split(u' ');
        for (int i = 0; i < words.size(); ++i) {
            const QRegularExpressionMatch match = token.match(words[i]);
            if (!match.hasMatch())
                qFatal("bad script token %s", qPrintable(words[i]));
            if (match.captured(1) == u"D") {
                context.doubleClickInterval = match.captured(3).toDouble();
                continue;
            }
            VintrelleInputEvent event{Kind(QStringLiteral("MKLRUO").indexOf(match.captured(1))), 0, match.captured(3).toDouble(),
                                      match.captured(1) == u"K" ? 7 : -1, QPointF(match.captured(4).toDouble(), match.captured(5).toDouble())};
            for (QChar c : match.captured(2))
                event.modifiers |= bits[QStringLiteral("ascwfl").indexOf(c)];
            context.menuOpen = !match.captured(6).isEmpty();
            if (const Gesture gesture = recognizer.handle(event, context); gesture != Gesture::None)
                fired << QStringLiteral("%1%2").arg(gesture == Gesture::OptionDoubleTap ? 't' : 'c').arg(i);
        }
        QTEST(fired.join(u' '), "expected");
    }

    // Without global input (offscreen here) the session says why and takes only the double tap, which grabs nothing.
    void withoutGlobalInput()
    {
        std::unique_ptr<VintrelleGlobalInput> input = VintrelleGlobalInput::create();
        VintrelleError error;
        QVERIFY(!input->available() && !input->startObserving(&error));
        QVERIFY(input->unavailableReason().contains("vintrelle --toggle"));
        QCOMPARE(error, std::optional(input->unavailableReason()));
        QVERIFY(!input->applyShortcut("control-option", "Q", &error));
        QCOMPARE(error, std::optional<QString>("Could not register a shortcut. Your previous shortcut is unchanged."));
        QVERIFY(input->applyShortcut("double-option", "Q", &(error = std::nullopt)) && !error);
    }

    // Two screens side by side, the main one with panels of 24 px above and 40 below: the screen holding the corner takes the window.
    void windowFrameForTopLeft()
    {
        const QList<VintrelleScreenArea> desk{{QRect(0, 0, 1920, 1080), QRect(0, 24, 1920, 1016)}, {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)}};
        QCOMPARE(VintrelleWindowFrameForTopLeft({300, 200}, {500, 5}, desk, 0), QRect(500, 24, 300, 200));
        QCOMPARE(VintrelleWindowFrameForTopLeft({300, 200}, {1919, 1000}, desk, 0), QRect(1620, 840, 300, 200));
        QCOMPARE(VintrelleWindowFrameForTopLeft({300, 200}, {1920, 1000}, desk, 0), QRect(1920, 824, 300, 200));
        QCOMPARE(VintrelleWindowFrameForTopLeft({300, 200}, {5, 5}, {}, 0), QRect(5, 5, 300, 200)); // no screens known
    }
    // Secondary windows open where the quick menu stood, and follow the last one the user moved.
    void windowAnchor()
    {
        VintrelleWindowAnchor anchor;
        QCOMPARE(anchor.secondaryWindowAnchor(std::nullopt, {7, 7}), QPoint(7, 7)); // nothing known: the pointer
        anchor.menuRequestedAt({100, 100});
        QCOMPARE(anchor.secondaryWindowAnchor(std::nullopt, {7, 7}), QPoint(100, 100));
        QCOMPARE(anchor.secondaryWindowAnchor(QPoint(90, 80), {7, 7}), QPoint(90, 80)); // the menu on screen, nudged by placement
        anchor.rememberNativeWindowPosition({300, 300});
        QCOMPARE(anchor.mainMenuPoint({7, 7}), QPoint(310, 320)); // the menu keeps its offset from the moved window
        anchor.menuRequestedAt({50, 50});
        QCOMPARE(anchor.secondaryWindowAnchor(std::nullopt, {7, 7}), QPoint(50, 50)); // a new request forgets the old frame
    }
};

QTEST_MAIN(TestInput)
#include "tst_input.moc"
