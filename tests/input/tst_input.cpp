// The pure logic of opening: the gesture recognisers, the shortcut preference and window placement.

#include "VintrelleFrameAtTopLeft.h"
#include "VintrelleGestureRecognizer.h"
#include "VintrelleInputEvent.h"
#include "VintrelleLocalClicks.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWindowAnchor.h"

#include <QRegularExpression>
#include <QSettings>

using namespace VintrelleModifier;
using Kind = VintrelleInputEvent::Kind;

// Event scripts: tokens "<Kind><modifiers>@<seconds>[:x,y][!]".
// Kind: M modifier change, K key, L left down, R right down, U right up, O other button down.
// Modifiers held after the event: a Alt, s Shift, c Control, w Super, f Function, l Caps Lock.
// "!" marks an event that arrives while the quick menu is open. Our own window covers (0,0)-(100,100).
// Returns the gestures that fire, as "t<index>" (double tap) and "c<index>" (double right-click).
static QString run(const QString &script, const QString &combo)
{
    static const QRegularExpression token(R"(^([MKLRUO])([ascwfl]*)@([0-9.-]+)(?::([0-9.]+),([0-9.]+))?(!)?$)");
    const QHash<QChar, Kind> kinds{{u'M', Kind::ModifierChange}, {u'K', Kind::KeyDown}, {u'L', Kind::LeftMouseDown},
                                   {u'R', Kind::RightMouseDown}, {u'U', Kind::RightMouseUp}, {u'O', Kind::OtherMouseDown}};
    const QHash<QChar, quint32> bits{{u'a', VintrelleModifier::option}, {u's', VintrelleModifier::shift}, {u'c', VintrelleModifier::control},
                                     {u'w', VintrelleModifier::command}, {u'f', VintrelleModifier::function}, {u'l', VintrelleModifier::capsLock}};
    VintrelleGestureRecognizer recognizer;
    QStringList fired;
    const QStringList words = script.split(u' ', Qt::SkipEmptyParts);
    for (int i = 0; i < words.size(); ++i) {
        const QRegularExpressionMatch match = token.match(words[i]);
        if (!match.hasMatch())
            qFatal("bad script token %s", qPrintable(words[i]));
        VintrelleInputEvent event;
        event.kind = kinds.value(match.captured(1).at(0));
        for (QChar c : match.captured(2))
            event.modifiers |= bits.value(c);
        event.timestamp = match.captured(3).toDouble();
        event.location = QPointF(match.captured(4).toDouble(), match.captured(5).toDouble());
        event.keyCode = event.kind == Kind::KeyDown ? 7 : -1;
        VintrelleGestureRecognizer::Context context;
        context.combo = combo;
        context.menuOpen = !match.captured(6).isEmpty();
        context.overOwnWindows = [](QPointF p) { return QRectF(0, 0, 100, 100).contains(p); };
        context.doubleClickInterval = 0.4;
        switch (recognizer.handle(event, context)) {
        case VintrelleGestureRecognizer::Gesture::OptionDoubleTap: fired << QStringLiteral("t%1").arg(i); break;
        case VintrelleGestureRecognizer::Gesture::DoubleRightClick: fired << QStringLiteral("c%1").arg(i); break;
        case VintrelleGestureRecognizer::Gesture::None: break;
        }
    }
    return fired.join(u' ');
}

Q_DECLARE_METATYPE(VintrelleUpRect)

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
        QTest::newRow("shift held in the second tap") << "Ma@0 M@0.1 Mas@0.2 Ms@0.3 M@0.35" << tap << "";
        QTest::newRow("control, super, function cancel")
            << "Ma@0 M@0.1 Mc@0.15 M@0.16 Ma@0.2 M@0.3 Mw@0.35 M@0.36 Ma@0.4 M@0.45 Mf@0.5 M@0.51 Ma@0.55 M@0.6" << tap << "";
        QTest::newRow("caps lock switched between taps") << "Ma@0 M@0.1 Ml@0.15 Mal@0.2 Ml@0.3" << tap << "t4";
        QTest::newRow("a key between the taps") << "Ma@0 M@0.1 K@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("a key while Alt is down") << "Ma@0 M@0.1 Ma@0.2 Ka@0.25 M@0.3" << tap << "";
        QTest::newRow("a left click between the taps") << "Ma@0 M@0.1 L@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("a right press between the taps") << "Ma@0 M@0.1 R@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("a right release alone does not cancel") << "Ma@0 M@0.1 U@0.15 Ma@0.2 M@0.3" << tap << "t4";
        QTest::newRow("Alt pressed under Shift, Shift let go first") << "Ms@0 Mas@0.05 Ma@0.1 M@0.15 Ma@0.2 M@0.3" << tap << "";
        QTest::newRow("another shortcut chosen") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "control-option" << "";
        QTest::newRow("unknown stored value") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "" << "";
        // Double right-click, whatever the shortcut.
        QTest::newRow("8 px apart exactly") << "U@1:200,200 U@1.2:200,208" << "command-shift" << "c1";
        QTest::newRow("9 px apart") << "U@1:200,200 U@1.2:209,200" << tap << "";
        QTest::newRow("diagonal just over 8 px") << "U@1:200,200 U@1.2:205.7,205.7" << tap << "";
        QTest::newRow("at the interval") << "U@1:200,200 U@1.4:200,200" << tap << "c1";
        QTest::newRow("past the interval, then a pair") << "U@1:200,200 U@1.41:200,200 U@1.6:200,200" << tap << "c2";
        QTest::newRow("time zero means no first click") << "U@0:200,200 U@0.2:200,200 U@0.3:200,200" << tap << "c2";
        QTest::newRow("same instant") << "U@1:200,200 U@1:200,200" << tap << "";
        QTest::newRow("clock going back") << "U@2:200,200 U@1.9:200,200" << tap << "";
        QTest::newRow("presses and keys between do not matter") << "R@1:200,200 U@1.1:200,200 K@1.15 Mc@1.2 M@1.25 U@1.3:200,200" << tap << "c5";
        QTest::newRow("left click between cancels") << "U@1:200,200 L@1.1:200,200 U@1.2:200,200" << tap << "";
        QTest::newRow("other button between cancels") << "U@1:200,200 O@1.1:200,200 U@1.2:200,200" << tap << "";
        QTest::newRow("control held on the first") << "Uc@1:200,200 U@1.2:200,200" << tap << "";
        QTest::newRow("shift, alt, super held") << "U@1:200,200 Us@1.1:200,200 U@1.2:200,200 Ua@1.3:200,200 U@1.4:200,200 Uw@1.5:200,200" << tap << "";
        QTest::newRow("caps lock and function do not matter") << "Ul@1:200,200 Uf@1.2:200,200" << tap << "c1";
        QTest::newRow("four releases open twice") << "U@1:200,200 U@1.1:200,200 U@1.2:200,200 U@1.3:200,200" << tap << "c1 c3";
        QTest::newRow("over an own window") << "U@1:50,50 U@1.2:52,50" << tap << "";
        QTest::newRow("only the first over an own window") << "U@1:99,50 U@1.2:102,50" << tap << "";
        QTest::newRow("menu open: ignored, state kept") << "U@1:200,200 U@1.1:200,200! U@1.2:200,200" << tap << "c2";
        // The two together.
        QTest::newRow("a double right-click ends a half tap") << "Ma@0 M@0.1 U@0.15:200,200 U@0.2:200,200 Ma@0.25 M@0.3" << tap << "c3";
        QTest::newRow("a pair after a double tap") << "Ma@0 M@0.1 Ma@0.2 M@0.3 U@0.35:200,200 U@0.4:200,200" << tap << "t3 c5";
    }

    void gestures()
    {
        QFETCH(QString, script); QFETCH(QString, combo); QFETCH(QString, expected);
        QCOMPARE(run(script, combo), expected);
    }

    // The desktop's double-click interval decides a pair; a press or a release over our own window never opens.
    void rightClickPair_data()
    {
        addColumns<int, bool, double, double, bool>({"kind", "overOwn", "now", "interval", "opens"});
        QTest::newRow("release within the interval") << int(Kind::RightMouseUp) << false << 1.3 << 0.4 << true;
        QTest::newRow("right press") << int(Kind::RightMouseDown) << false << 1.3 << 0.4 << false;
        QTest::newRow("own window") << int(Kind::RightMouseUp) << true << 1.3 << 0.4 << false;
        QTest::newRow("desktop interval shorter") << int(Kind::RightMouseUp) << false << 1.3 << 0.25 << false;
        QTest::newRow("desktop interval longer") << int(Kind::RightMouseUp) << false << 1.9 << 1.0 << true;
    }

    void rightClickPair()
    {
        QFETCH(int, kind); QFETCH(bool, overOwn); QFETCH(double, now); QFETCH(double, interval); QFETCH(bool, opens);
        QCOMPARE(VintrelleShouldOpenForMouseEvent(Kind(kind), VintrelleModifier::capsLock, overOwn)
                     && VintrelleIsQuickRightClickPair(1.0, now, QPointF(10, 10), QPointF(13, 14), interval),
                 opens);
    }

    void panels_data()
    {
        addColumns<QList<VintrellePanelFrame>, QPointF, bool>({"panels", "pointer", "inside"});
        const QRectF frame(100, 100, 200, 100);
        const VintrellePanelFrame shown{true, true, frame}, hidden{true, false, frame}, missing{false, true, frame},
            elsewhere{true, true, QRectF(500, 500, 10, 10)};
        QTest::newRow("no windows") << QList<VintrellePanelFrame>{} << QPointF(150, 150) << false;
        QTest::newRow("top left corner") << QList{shown} << QPointF(100, 100) << true;
        QTest::newRow("just outside") << QList{shown} << QPointF(99.5, 150) << false;
        QTest::newRow("hidden editor") << QList{hidden} << QPointF(150, 150) << false;
        QTest::newRow("never created") << QList{missing} << QPointF(150, 150) << false;
        QTest::newRow("a later window matches") << QList{hidden, missing, elsewhere, shown} << QPointF(150, 150) << true;
    }

    void panels()
    {
        QFETCH(QList<VintrellePanelFrame>, panels); QFETCH(QPointF, pointer); QFETCH(bool, inside);
        QCOMPARE(mouseInsideVisiblePanels(panels, pointer), inside);
    }

    // A request at 0, then events "<U|R|L>@time": which ones are swallowed.
    void releaseSuppression_data()
    {
        addColumns<QString, QString>({"events", "swallowed"});
        QTest::newRow("the release is swallowed once") << "U@0.1 U@0.2" << "U@0.1";
        QTest::newRow("lapses after half a second") << "U@0.6" << "";
        QTest::newRow("just in time") << "U@0.5" << "U@0.5";
        QTest::newRow("a new press ends the request") << "R@0.1 U@0.2" << "";
        QTest::newRow("a left press ends the request") << "L@0.1 U@0.2" << "";
        QTest::newRow("clock going back") << "U@-1" << "";
    }

    void releaseSuppression()
    {
        QFETCH(QString, events); QFETCH(QString, swallowed);
        VintrelleContextReleaseSuppression suppression;
        suppression.request(0);
        QStringList taken;
        for (const QString &word : events.split(u' ')) {
            const Kind kind = word[0] == u'U' ? Kind::RightMouseUp : word[0] == u'R' ? Kind::RightMouseDown : Kind::LeftMouseDown;
            if (suppression.swallow(kind, word.mid(2).toDouble()))
                taken << word;
        }
        QCOMPARE(taken.join(u' '), swallowed);
        QVERIFY(!suppression.pending());
    }

    // Letters A-Z only, each with its own key code, and back.
    void keyTable()
    {
        const QHash<QString, int> &keys = ShortcutKeys();
        QCOMPARE(keys.size(), 26);
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            QCOMPARE(VintrelleShortcutLetterForKeyCode(keys.value(QString(QChar::fromLatin1(letter)), -1)), QString(QChar::fromLatin1(letter)));
        QCOMPARE(keys.value("P"), 35);
        for (const char *invalid : {"p", "", "AA", "É", " P"})
            QVERIFY2(!keys.contains(QString::fromUtf8(invalid)), invalid);
        for (int code : {-1, 10, 36, 1000})
            QVERIFY(VintrelleShortcutLetterForKeyCode(code).isEmpty());
    }

    void combos_data()
    {
        addColumns<QString, bool, quint32, quint32, QString>({"combo", "valid", "mask", "required", "title"});
        QTest::newRow("double tap") << "double-option" << true << 0x1800u << (control | option) << "Hotkey: Double-tap Alt";
        QTest::newRow("control-option") << "control-option" << true << 0x1800u << (control | option) << "Hotkey: control-alt\u2013K";
        QTest::newRow("command-shift") << "command-shift" << true << 0x0300u << (command | shift) << "Hotkey: super-shift\u2013K";
        QTest::newRow("control-shift") << "control-shift" << true << 0x1200u << (control | shift) << "Hotkey: control-shift\u2013K";
        QTest::newRow("unknown") << "option-shift" << false << 0x1800u << (control | option) << "Hotkey: alt-shift\u2013K";
        QTest::newRow("wrong case") << "Command-Shift" << false << 0x1800u << (control | option) << "Hotkey: Command-Shift\u2013K";
        QTest::newRow("empty") << "" << false << 0x1800u << (control | option) << "Hotkey: \u2013K";
    }

    void combos()
    {
        QFETCH(QString, combo); QFETCH(bool, valid); QFETCH(quint32, mask); QFETCH(quint32, required); QFETCH(QString, title);
        QCOMPARE(VintrelleIsShortcutCombo(combo), valid);
        QCOMPARE(ShortcutModifiers(combo), mask);
        QCOMPARE(VintrelleShortcutRequiredModifiers(combo), required);
        QCOMPARE(VintrelleShortcutTitle(combo, "K"), title);
    }

    void observedKey_data()
    {
        addColumns<QString, QString, int, quint32, bool>({"combo", "letter", "keyCode", "modifiers", "matches"});
        QTest::newRow("exact") << "command-shift" << "P" << 35 << (command | shift) << true;
        QTest::newRow("extra Alt still matches") << "command-shift" << "P" << 35 << (command | shift | option) << true;
        QTest::newRow("caps lock on") << "control-option" << "P" << 35 << (control | option | capsLock) << true;
        QTest::newRow("missing Shift") << "command-shift" << "P" << 35 << command << false;
        QTest::newRow("other letter") << "command-shift" << "P" << 34 << (command | shift) << false;
        QTest::newRow("not a letter") << "command-shift" << "P" << -1 << (command | shift) << false;
        QTest::newRow("control-shift without Control") << "control-shift" << "A" << 0 << (shift | option) << false;
        QTest::newRow("stored letter invalid") << "command-shift" << "p" << 35 << (command | shift) << false;
        QTest::newRow("unknown combination means Control-Alt") << "bogus" << "P" << 35 << (control | option) << true;
    }

    void observedKey()
    {
        QFETCH(QString, combo); QFETCH(QString, letter); QFETCH(int, keyCode); QFETCH(quint32, modifiers); QFETCH(bool, matches);
        QCOMPARE(VintrelleMatchesObservedShortcut(keyCode, modifiers, combo, letter), matches);
    }

    // Values from the settings page, against a stored control-option with K.
    void savePlan_data()
    {
        addColumns<QByteArray, int, bool>({"values", "action", "login"});
        const int refuse = int(VintrelleShortcutSavePlan::Action::Refuse), keep = int(VintrelleShortcutSavePlan::Action::KeepShortcut),
                  apply = int(VintrelleShortcutSavePlan::Action::ApplyShortcut);
        QTest::newRow("same shortcut, login 1") << QByteArray(R"({"letter":"K","combo":"control-option","login":1})") << keep << true;
        QTest::newRow("same shortcut, login true") << QByteArray(R"({"letter":"K","combo":"control-option","login":true})") << keep << true;
        QTest::newRow("login missing is off") << QByteArray(R"({"letter":"K","combo":"control-option"})") << keep << false;
        QTest::newRow("login as text is off") << QByteArray(R"({"letter":"K","combo":"control-option","login":"1"})") << keep << false;
        QTest::newRow("new letter") << QByteArray(R"({"letter":"L","combo":"control-option","login":0})") << apply << false;
        QTest::newRow("new combination") << QByteArray(R"({"letter":"K","combo":"double-option","login":0})") << apply << false;
        QTest::newRow("lower-case letter") << QByteArray(R"({"letter":"p","combo":"command-shift","login":1})") << refuse << true;
        QTest::newRow("two letters") << QByteArray(R"({"letter":"KK","combo":"control-option"})") << refuse << false;
        QTest::newRow("letter as number") << QByteArray(R"({"letter":35,"combo":"control-option"})") << refuse << false;
        QTest::newRow("letter missing") << QByteArray(R"({"combo":"control-option"})") << refuse << false;
        QTest::newRow("unknown combination") << QByteArray(R"({"letter":"K","combo":"alt-shift"})") << refuse << false;
        QTest::newRow("combination as array") << QByteArray(R"({"letter":"K","combo":["control-option"]})") << refuse << false;
        QTest::newRow("double tap with any letter") << QByteArray(R"({"letter":"Z","combo":"double-option"})") << apply << false;
    }

    void savePlan()
    {
        QFETCH(QByteArray, values); QFETCH(int, action); QFETCH(bool, login);
        const VintrelleShortcutSavePlan plan = VintrellePlanShortcutSave(QJsonDocument::fromJson(values).object(), "control-option", "K");
        QCOMPARE(int(plan.action), action);
        QCOMPARE(plan.login, login);
    }

    // What was stored (nothing: "-"), what is read back, and that a new shortcut reaches the file.
    void storedValues_data()
    {
        addColumns<QString, QString, QString>({"combo", "letter", "readBack"});
        QTest::newRow("nothing stored") << "-" << "-" << "double-option P Hotkey: Double-tap Alt";
        QTest::newRow("stored") << "command-shift" << "Q" << "command-shift Q Hotkey: super-shift\u2013Q";
        QTest::newRow("only the letter") << "-" << "Q" << "double-option Q Hotkey: Double-tap Alt";
    }

    void storedValues()
    {
        QFETCH(QString, combo); QFETCH(QString, letter); QFETCH(QString, readBack);
        {
            QSettings settings("Vintrelle", "Vintrelle");
            settings.clear();
            if (combo != "-")
                settings.setValue("ShortcutCombo", combo);
            if (letter != "-")
                settings.setValue("ShortcutLetter", letter);
        }
        QCOMPARE(ShortcutCombo() + ' ' + ShortcutLetter() + ' ' + ShortcutTitle(), readBack);
        QVERIFY(VintrelleStoreShortcut("control-shift", "B"));
        QCOMPARE(ShortcutCombo() + ShortcutLetter(), QString("control-shiftB"));
        // What the next start reads comes from the file, not from this process's cache.
        QVERIFY(readFile(m_home.config() + "/Vintrelle/Vintrelle.conf").contains("ShortcutCombo=control-shift"));
    }

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

QTEST_GUILESS_MAIN(TestInput)
#include "tst_input.moc"
