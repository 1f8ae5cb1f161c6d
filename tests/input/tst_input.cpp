// The pure logic of opening: the gesture recognisers, the shortcut preference, window placement,
// and the session without global input.

#include "VintrelleFrameAtTopLeft.h"
#include "VintrelleGestureRecognizer.h"
#include "VintrelleGlobalInput.h"
#include "VintrelleLocalClicks.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWindowAnchor.h"

#include <QRegularExpression>
#include <QSettings>

using namespace VintrelleModifier;
using Kind = VintrelleInputEvent::Kind;
using Gesture = VintrelleGestureRecognizer::Gesture;

// Event scripts: tokens "<Kind><modifiers>@<seconds>[:x,y][!]". Kind: M modifier change, K key, L left
// down, R right down, U right up, O other button down. Modifiers held after the event: a Alt, s Shift,
// c Control, w Super, f Function, l Caps Lock. "!": the quick menu is open. "D<seconds>": the desktop's
// double-click interval from then on (0.4 before). Our own window covers (0,0)-(100,100).
// Answers the gestures fired: "t<token index>" a double tap, "c<token index>" a double right-click.
static QString run(const QString &script, const QString &combo)
{
    static const QRegularExpression token(R"(^([MKLRUO])([ascwfl]*)@([0-9.-]+)(?::([0-9.]+),([0-9.]+))?(!)?$)");
    const quint32 bits[] = {option, shift, control, command, function, capsLock};
    VintrelleGestureRecognizer recognizer;
    VintrelleGestureRecognizer::Context context{combo, false, [](QPointF p) { return QRectF(0, 0, 100, 100).contains(p); }, 0.4};
    QStringList fired;
    const QStringList words = script.split(u' ');
    for (int i = 0; i < words.size(); ++i) {
        const QRegularExpressionMatch match = token.match(words[i]);
        if (words[i].startsWith(u'D')) {
            context.doubleClickInterval = words[i].mid(1).toDouble();
            continue;
        }
        if (!match.hasMatch())
            qFatal("bad script token %s", qPrintable(words[i]));
        VintrelleInputEvent event{Kind(QStringLiteral("MKLRUO").indexOf(match.captured(1))), 0, match.captured(3).toDouble(), -1,
                                  QPointF(match.captured(4).toDouble(), match.captured(5).toDouble())};
        for (QChar c : match.captured(2))
            event.modifiers |= bits[QStringLiteral("ascwfl").indexOf(c)];
        event.keyCode = event.kind == Kind::KeyDown ? 7 : -1;
        context.menuOpen = !match.captured(6).isEmpty();
        if (const Gesture gesture = recognizer.handle(event, context); gesture != Gesture::None)
            fired << QStringLiteral("%1%2").arg(gesture == Gesture::OptionDoubleTap ? 't' : 'c').arg(i);
    }
    return fired.join(u' ');
}

class TestInput : public QObject
{
    Q_OBJECT
    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    void gestures_data()
    {
        addColumns<QString, QString, QString>({"script", "combo", "expected"});
        const QString tap = QStringLiteral("double-option");
        // Double tap of Alt.
        QTest::newRow("holds of exactly 0.25 s") << "Ma@1 M@1.25 Ma@1.3 M@1.55" << tap << "t3";
        QTest::newRow("first hold too long") << "Ma@0 M@0.3 Ma@0.4 M@0.5" << tap << "";
        QTest::newRow("second hold too long") << "Ma@0 M@0.1 Ma@0.2 M@0.46" << tap << "";
        QTest::newRow("gap of exactly 0.4 s") << "Ma@1 M@1.1 Ma@1.3 M@1.5" << tap << "t3";
        QTest::newRow("gap of 0.5 s starts a new pair") << "Ma@0 M@0.1 Ma@0.4 M@0.6 Ma@0.7 M@0.8" << tap << "t5";
        QTest::newRow("three taps toggle once, four twice") << "Ma@0 M@0.1 Ma@0.2 M@0.3 Ma@0.4 M@0.5 Ma@0.6 M@0.7" << tap << "t3 t7";
        QTest::newRow("shift held in the first tap") << "Mas@0 Ms@0.1 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("control, super, function cancel")
            << "Ma@0 M@0.1 Mc@0.15 M@0.16 Ma@0.2 M@0.3 Mw@0.35 M@0.36 Ma@0.4 M@0.45 Mf@0.5 M@0.51 Ma@0.55 M@0.6" << tap << "";
        QTest::newRow("caps lock switched between taps") << "Ma@0 M@0.1 Ml@0.15 Mal@0.2 Ml@0.3" << tap << "t4";
        QTest::newRow("a key between the taps") << "Ma@0 M@0.1 K@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("a left click between the taps") << "Ma@0 M@0.1 L@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("a right release alone does not cancel") << "Ma@0 M@0.1 U@0.15 Ma@0.2 M@0.3" << tap << "t4";
        QTest::newRow("Alt pressed under Shift, Shift let go first") << "Ms@0 Mas@0.05 Ma@0.1 M@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("another shortcut chosen") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "control-option" << "";
        // Double right-click, whatever the shortcut.
        QTest::newRow("8 px apart exactly") << "U@1:200,200 U@1.2:200,208" << "command-shift" << "c1";
        QTest::newRow("9 px apart") << "U@1:200,200 U@1.2:209,200" << tap << "";
        QTest::newRow("diagonal just over 8 px") << "U@1:200,200 U@1.2:205.7,205.7" << tap << "";
        QTest::newRow("at the interval") << "U@1:200,200 U@1.4:200,200" << tap << "c1";
        QTest::newRow("past the interval, then a pair") << "U@1:200,200 U@1.41:200,200 U@1.6:200,200" << tap << "c2";
        QTest::newRow("desktop interval shorter") << "D0.25 U@1:200,200 U@1.3:200,200" << tap << "";
        QTest::newRow("desktop interval longer") << "D1 U@1:200,200 U@1.9:200,200" << tap << "c2";
        QTest::newRow("time zero means no first click") << "U@0:200,200 U@0.2:200,200 U@0.3:200,200" << tap << "c2";
        QTest::newRow("same instant") << "U@1:200,200 U@1:200,200" << tap << "";
        QTest::newRow("clock going back") << "U@2:200,200 U@1.9:200,200" << tap << "";
        QTest::newRow("presses and keys between do not matter") << "R@1:200,200 U@1.1:200,200 K@1.15 Mc@1.2 M@1.25 U@1.3:200,200" << tap << "c5";
        QTest::newRow("left click between cancels") << "U@1:200,200 L@1.1:200,200 U@1.2:200,200" << tap << "";
        QTest::newRow("control, shift, alt, super held") << "Uc@1:200,200 U@1.1:200,200 Us@1.2:200,200 U@1.3:200,200 Ua@1.4:200,200 U@1.5:200,200 Uw@1.6:200,200" << tap << "";
        QTest::newRow("caps lock and function do not matter") << "Ul@1:200,200 Uf@1.2:200,200" << tap << "c1";
        QTest::newRow("four releases open twice") << "U@1:200,200 U@1.1:200,200 U@1.2:200,200 U@1.3:200,200" << tap << "c1 c3";
        QTest::newRow("over an own window") << "U@1:50,50 U@1.2:52,50" << tap << "";
        QTest::newRow("only the first over an own window") << "U@1:99,50 U@1.2:102,50" << tap << "";
        QTest::newRow("menu open: ignored, state kept") << "U@1:200,200 U@1.1:200,200! U@1.2:200,200" << tap << "c2";
        // The two together.
        QTest::newRow("a double right-click ends a half tap") << "Ma@0 M@0.1 U@0.15:200,200 U@0.2:200,200 Ma@0.25 M@0.3" << tap << "c3";
        QTest::newRow("a pair after a double tap") << "Ma@0 M@0.1 Ma@0.2 M@0.3 U@0.35:200,200 U@0.4:200,200" << tap << "t3 c5";
    }
    void gestures() { QFETCH(QString, script); QFETCH(QString, combo); QTEST(run(script, combo), "expected"); }

    // A request at 0, then events "<U|R|L>@time": which ones are swallowed.
    void releaseSuppression_data()
    {
        addColumns<QString, QString>({"events", "swallowed"});
        QTest::newRow("the release is swallowed once") << "U@0.1 U@0.2" << "U@0.1";
        QTest::newRow("lapses after half a second") << "U@0.6" << "";
        QTest::newRow("just in time") << "U@0.5" << "U@0.5";
        QTest::newRow("a new press ends the request") << "R@0.1 U@0.2" << "";
        QTest::newRow("clock going back") << "U@-1" << "";
    }
    void releaseSuppression()
    {
        QFETCH(QString, events);
        VintrelleContextReleaseSuppression suppression;
        suppression.request(0);
        QStringList taken;
        for (const QString &word : events.split(u' '))
            if (suppression.swallow(Kind(QStringLiteral("MKLRUO").indexOf(word[0])), word.mid(2).toDouble()))
                taken << word;
        QTEST(taken.join(u' '), "swallowed");
        QVERIFY(!suppression.pending());
    }

    // A key seen while the shortcut is only observed: further modifiers do not prevent a match.
    void observedKey_data()
    {
        addColumns<QString, QString, int, quint32, bool>({"combo", "letter", "keyCode", "modifiers", "matches"});
        const int p = ShortcutKeys().value("P");
        QTest::newRow("exact") << "command-shift" << "P" << p << (command | shift) << true;
        QTest::newRow("extra Alt still matches") << "command-shift" << "P" << p << (command | shift | option) << true;
        QTest::newRow("missing Shift") << "command-shift" << "P" << p << command << false;
        QTest::newRow("other letter") << "command-shift" << "P" << ShortcutKeys().value("O") << (command | shift) << false;
        QTest::newRow("stored letter invalid") << "command-shift" << "p" << p << (command | shift) << false;
        QTest::newRow("unknown combination means Control-Alt") << "bogus" << "P" << p << (control | option) << true;
    }
    void observedKey()
    {
        QFETCH(QString, combo); QFETCH(QString, letter); QFETCH(int, keyCode); QFETCH(quint32, modifiers);
        QTEST(VintrelleMatchesObservedShortcut(keyCode, modifiers, combo, letter), "matches");
    }

    // Each letter has a key code of its own, so the backend reads back the letter a key stands for.
    void everyLetterHasItsKey()
    {
        for (const QChar letter : QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ"))
            QCOMPARE(VintrelleShortcutLetterForKeyCode(ShortcutKeys().value(letter, -1)), QString(letter));
    }

    // The status item names the stored shortcut, the double tap when nothing is stored.
    void shortcutTitle()
    {
        QSettings("Vintrelle", "Vintrelle").clear();
        QCOMPARE(ShortcutTitle(), QStringLiteral("Hotkey: Double-tap Alt"));
        QVERIFY(VintrelleStoreShortcut("command-shift", "Q"));
        QCOMPARE(ShortcutTitle(), QStringLiteral("Hotkey: super-shift\u2013Q"));
    }

    // Without global input (offscreen here) the session says so and refuses all but the double tap, which grabs nothing.
    void withoutGlobalInput()
    {
        std::unique_ptr<VintrelleGlobalInput> input = VintrelleGlobalInput::create();
        QVERIFY(!input->available());
        QVERIFY(input->unavailableReason().contains("vintrelle --toggle"));
        VintrelleError error;
        QVERIFY(!input->startObserving(&error));
        QCOMPARE(error, std::optional(input->unavailableReason()));
        for (const auto &[combo, title] : {std::pair("control-option", "Enable global hotkey\u2026"), {"double-option", "Enable double-tap Alt\u2026"}}) {
            QVERIFY(VintrelleStoreShortcut(combo, "P"));
            const VintrelleGlobalInput::ShortcutStatus status = input->installGlobalMonitorFallback();
            QCOMPARE(status.title, QString(title));
            QVERIFY(status.opensHelp && !input->observingFallbackKeys());
        }
        QVERIFY(!input->applyShortcut("control-option", "Q", &error));
        QCOMPARE(error, std::optional<QString>("Could not register a shortcut. Your previous shortcut is unchanged."));
        QVERIFY(input->applyShortcut("double-option", "Q", &(error = std::nullopt)));
        QCOMPARE(error, std::nullopt);
    }

    // Two screens side by side on one top edge, a third below the first; the main one has panels of
    // 24 pixels on top and 40 at the bottom.
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
        QFETCH(QSize, size); QFETCH(QPoint, topLeft);
        const QList<VintrelleScreenArea> desk{{QRect(0, 0, 1920, 1080), QRect(0, 24, 1920, 1016)},
                                              {QRect(1920, 0, 1280, 1024), QRect(1920, 0, 1280, 1024)},
                                              {QRect(0, 1080, 1600, 900), QRect(0, 1080, 1600, 900)}};
        QTEST(VintrelleWindowFrameForTopLeft(size, topLeft, desk, 0), "frame");
        QCOMPARE(VintrelleWindowFrameForTopLeft(size, topLeft, {}, 0), QRect(topLeft, size)); // no screens known: unchanged
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
        QTest::newRow("moved window keeps the offset") << QStringList{"request 100 200", "shown 100 180", "closed", "window 500 500"} << QPoint(500, 500) << QPoint(500, 520);
        QTest::newRow("moved window without a frame: no offset") << QStringList{"request 100 200", "window 50 60"} << QPoint(50, 60) << QPoint(50, 60);
    }
    void anchor()
    {
        QFETCH(QStringList, steps);
        VintrelleWindowAnchor windowAnchor;
        std::optional<QPoint> open;
        for (const QString &step : steps) {
            const QStringList parts = step.split(' ');
            const QPoint point(parts.value(1).toInt(), parts.value(2).toInt());
            if (parts[0] == "request" || parts[0] == "closed")
                open.reset();
            if (parts[0] == "request")
                windowAnchor.menuRequestedAt(point);
            else if (parts[0] == "moved")
                windowAnchor.menuMovedTo(point);
            else if (parts[0] == "shown")
                windowAnchor.secondaryWindowAnchor(open = point, QPoint(7, 7));
            else if (parts[0] == "window")
                windowAnchor.rememberNativeWindowPosition(point);
        }
        QTEST(windowAnchor.secondaryWindowAnchor(open, QPoint(7, 7)), "anchor");
        QTEST(windowAnchor.mainMenuPoint(QPoint(7, 7)), "menuPoint");
    }
};

QTEST_MAIN(TestInput)
#include "tst_input.moc"
