#include "VintrelleGestureRecognizer.h"
#include "VintrelleLocalClicks.h"

#include <QRegularExpression>
#include <QTest>

// Event scripts: tokens "<Kind><modifiers>@<seconds>[:x,y][!]".
// Kind: M modifier change, K key, L left down, R right down, U right up, O other button down.
// Modifiers held after the event: a Alt, s Shift, c Control, w Super, f Function, l Caps Lock.
// "!" marks an event that arrives while the quick menu is open.
// Expected: the gestures that fire, as "t<index>" (double tap) and "c<index>" (double right-click).

namespace {

using Kind = VintrelleInputEvent::Kind;

struct ScriptedEvent
{
    VintrelleInputEvent event;
    bool menuOpen = false;
};

QList<ScriptedEvent> parseScript(const QString &script)
{
    static const QRegularExpression token(R"(^([MKLRUO])([ascwfl]*)@([0-9.]+)(?::([0-9.]+),([0-9.]+))?(!)?$)");
    QList<ScriptedEvent> events;
    for (const QString &word : script.split(u' ', Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch match = token.match(word);
        if (!match.hasMatch())
            qFatal("bad script token %s", qPrintable(word));
        ScriptedEvent scripted;
        VintrelleInputEvent &event = scripted.event;
        const QHash<QChar, Kind> kinds{{u'M', Kind::ModifierChange}, {u'K', Kind::KeyDown}, {u'L', Kind::LeftMouseDown},
                                       {u'R', Kind::RightMouseDown}, {u'U', Kind::RightMouseUp}, {u'O', Kind::OtherMouseDown}};
        const QHash<QChar, quint32> bits{{u'a', VintrelleModifier::option}, {u's', VintrelleModifier::shift},
                                         {u'c', VintrelleModifier::control}, {u'w', VintrelleModifier::command},
                                         {u'f', VintrelleModifier::function}, {u'l', VintrelleModifier::capsLock}};
        event.kind = kinds.value(match.captured(1).at(0));
        for (QChar c : match.captured(2))
            event.modifiers |= bits.value(c);
        event.timestamp = match.captured(3).toDouble();
        event.location = QPointF(match.captured(4).toDouble(), match.captured(5).toDouble());
        event.keyCode = event.kind == Kind::KeyDown ? 7 : -1;
        scripted.menuOpen = !match.captured(6).isEmpty();
        events << scripted;
    }
    return events;
}

QString run(const QString &script, const QString &combo, const QRectF &ownWindow, double interval)
{
    VintrelleGestureRecognizer recognizer;
    QStringList fired;
    const QList<ScriptedEvent> events = parseScript(script);
    for (int i = 0; i < events.size(); ++i) {
        VintrelleGestureRecognizer::Context context;
        context.combo = combo;
        context.menuOpen = events[i].menuOpen;
        context.overOwnWindows = [ownWindow](QPointF p) { return ownWindow.contains(p); };
        context.doubleClickInterval = interval;
        switch (recognizer.handle(events[i].event, context)) {
        case VintrelleGestureRecognizer::Gesture::OptionDoubleTap: fired << QStringLiteral("t%1").arg(i); break;
        case VintrelleGestureRecognizer::Gesture::DoubleRightClick: fired << QStringLiteral("c%1").arg(i); break;
        case VintrelleGestureRecognizer::Gesture::None: break;
        }
    }
    return fired.join(u' ');
}

} // namespace

class GestureTest : public QObject
{
    Q_OBJECT

private slots:
    void gestures_data();
    void gestures();
    void rightClickPair_data();
    void rightClickPair();
    void panels_data();
    void panels();
    void releaseSuppression_data();
    void releaseSuppression();
};

void GestureTest::gestures_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QRectF>("ownWindow");
    QTest::addColumn<QString>("expected");
    const QString tap = QStringLiteral("double-option");
    const QRectF none;

    // Double tap of Alt.
    QTest::newRow("two quick taps") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << tap << none << "t3";
    QTest::newRow("holds of exactly 0.25 s") << "Ma@1 M@1.25 Ma@1.3 M@1.55" << tap << none << "t3";
    QTest::newRow("first hold too long") << "Ma@0 M@0.3 Ma@0.4 M@0.5" << tap << none << "";
    QTest::newRow("second hold too long") << "Ma@0 M@0.1 Ma@0.2 M@0.46" << tap << none << "";
    QTest::newRow("long hold then a pair") << "Ma@0 M@0.3 Ma@0.4 M@0.5 Ma@0.6 M@0.7" << tap << none << "t5";
    QTest::newRow("gap of exactly 0.4 s") << "Ma@1 M@1.1 Ma@1.3 M@1.5" << tap << none << "t3";
    QTest::newRow("gap of 0.5 s starts a new pair")
        << "Ma@0 M@0.1 Ma@0.4 M@0.6 Ma@0.7 M@0.8" << tap << none << "t5";
    QTest::newRow("three taps toggle once, four twice")
        << "Ma@0 M@0.1 Ma@0.2 M@0.3 Ma@0.4 M@0.5 Ma@0.6 M@0.7" << tap << none << "t3 t7";
    QTest::newRow("shift held in the first tap") << "Mas@0 Ms@0.1 Ma@0.2 M@0.3" << tap << none << "";
    QTest::newRow("shift held in the second tap") << "Ma@0 M@0.1 Mas@0.2 Ms@0.3 M@0.35" << tap << none << "";
    QTest::newRow("control, super, function cancel")
        << "Ma@0 M@0.1 Mc@0.15 M@0.16 Ma@0.2 M@0.3 Mw@0.35 M@0.36 Ma@0.4 M@0.45 Mf@0.5 M@0.51 Ma@0.55 M@0.6"
        << tap << none << "";
    QTest::newRow("caps lock on does not cancel") << "Mal@0 Ml@0.2 Mal@0.3 Ml@0.5" << tap << none << "t3";
    QTest::newRow("caps lock switched between taps") << "Ma@0 M@0.1 Ml@0.15 Mal@0.2 Ml@0.3" << tap << none << "t4";
    QTest::newRow("a key between the taps") << "Ma@0 M@0.1 K@0.15 Ma@0.2 M@0.3" << tap << none << "";
    QTest::newRow("a key while Alt is down") << "Ma@0 M@0.1 Ma@0.2 Ka@0.25 M@0.3" << tap << none << "";
    QTest::newRow("a left click between the taps") << "Ma@0 M@0.1 L@0.15 Ma@0.2 M@0.3" << tap << none << "";
    QTest::newRow("a right press between the taps") << "Ma@0 M@0.1 R@0.15 Ma@0.2 M@0.3" << tap << none << "";
    QTest::newRow("a right release alone does not cancel") << "Ma@0 M@0.1 U@0.15 Ma@0.2 M@0.3" << tap << none << "t4";
    QTest::newRow("Alt pressed under Shift, Shift let go first") << "Ms@0 Mas@0.05 Ma@0.1 M@0.15 Ma@0.2 M@0.3"
                                                                   << tap << none << "";
    QTest::newRow("another shortcut chosen") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "control-option" << none << "";
    QTest::newRow("unknown stored value") << "Ma@0 M@0.2 Ma@0.3 M@0.5" << "" << none << "";

    // Double right-click.
    QTest::newRow("5 px apart") << "U@1:100,100 U@1.2:105,100" << tap << none << "c1";
    QTest::newRow("8 px apart exactly") << "U@1:100,100 U@1.2:100,108" << tap << none << "c1";
    QTest::newRow("9 px apart") << "U@0:100,100 U@0.2:109,100" << tap << none << "";
    QTest::newRow("diagonal just over 8 px") << "U@0:100,100 U@0.2:105.7,105.7" << tap << none << "";
    QTest::newRow("at the interval") << "U@1:100,100 U@1.4:100,100" << tap << none << "c1";
    QTest::newRow("past the interval, then a pair") << "U@0:100,100 U@0.41:100,100 U@0.6:100,100" << tap << none << "c2";
    QTest::newRow("time zero means no first click") << "U@0:1,1 U@0.2:1,1 U@0.3:1,1" << tap << none << "c2";
    QTest::newRow("same instant") << "U@1:100,100 U@1:100,100" << tap << none << "";
    QTest::newRow("clock going back") << "U@2:100,100 U@1.9:100,100" << tap << none << "";
    QTest::newRow("presses between do not matter") << "R@0:1,1 U@0.1:1,1 R@0.2:1,1 U@0.3:1,1" << tap << none << "c3";
    QTest::newRow("keys between do not matter") << "U@0.1:1,1 K@0.2 Mc@0.25 M@0.26 U@0.3:1,1" << tap << none << "c4";
    QTest::newRow("left click between cancels") << "U@0:1,1 L@0.1:1,1 U@0.2:1,1" << tap << none << "";
    QTest::newRow("other button between cancels") << "U@0:1,1 O@0.1:1,1 U@0.2:1,1" << tap << none << "";
    QTest::newRow("control held on the second") << "U@0:1,1 Uc@0.2:1,1" << tap << none << "";
    QTest::newRow("control held on the first") << "Uc@0:1,1 U@0.2:1,1" << tap << none << "";
    QTest::newRow("shift, alt, super held") << "U@0:1,1 Us@0.1:1,1 U@0.2:1,1 Ua@0.3:1,1 U@0.4:1,1 Uw@0.5:1,1"
                                            << tap << none << "";
    QTest::newRow("caps lock and function do not matter") << "Ul@1:1,1 Uf@1.2:1,1" << tap << none << "c1";
    QTest::newRow("four releases open twice") << "U@1:1,1 U@1.1:1,1 U@1.2:1,1 U@1.3:1,1" << tap << none << "c1 c3";
    QTest::newRow("over an own window") << "U@0:50,50 U@0.2:52,50" << tap << QRectF(0, 0, 100, 100) << "";
    QTest::newRow("first over an own window") << "U@0:99,50 U@0.2:102,50" << tap << QRectF(0, 0, 100, 100) << "";
    QTest::newRow("beside an own window") << "U@1:150,50 U@1.2:152,50" << tap << QRectF(0, 0, 100, 100) << "c1";
    QTest::newRow("menu open: ignored, state kept") << "U@1:1,1 U@1.1:1,1! U@1.2:1,1" << tap << none << "c2";
    QTest::newRow("works whatever the shortcut") << "U@1:1,1 U@1.2:1,1" << "command-shift" << none << "c1";

    // The two together.
    QTest::newRow("a double right-click ends a half tap")
        << "Ma@0 M@0.1 U@0.15:1,1 U@0.2:1,1 Ma@0.25 M@0.3" << tap << none << "c3";
    QTest::newRow("a pair after a double tap") << "Ma@0 M@0.1 Ma@0.2 M@0.3 U@0.35:1,1 U@0.4:1,1" << tap << none
                                               << "t3 c5";
}

void GestureTest::gestures()
{
    QFETCH(QString, script);
    QFETCH(QString, combo);
    QFETCH(QRectF, ownWindow);
    QFETCH(QString, expected);
    QCOMPARE(run(script, combo, ownWindow, 0.4), expected);
}

void GestureTest::rightClickPair_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<bool>("overOwn");
    QTest::addColumn<double>("previous");
    QTest::addColumn<double>("now");
    QTest::addColumn<double>("interval");
    QTest::addColumn<bool>("qualifies");
    QTest::addColumn<bool>("pair");
    const quint32 caps = VintrelleModifier::capsLock;
    QTest::newRow("plain release") << int(Kind::RightMouseUp) << 0u << false << 1.0 << 1.3 << 0.4 << true << true;
    QTest::newRow("right press") << int(Kind::RightMouseDown) << 0u << false << 1.0 << 1.3 << 0.4 << false << true;
    QTest::newRow("left press") << int(Kind::LeftMouseDown) << 0u << false << 1.0 << 1.3 << 0.4 << false << true;
    QTest::newRow("caps lock") << int(Kind::RightMouseUp) << caps << false << 1.0 << 1.3 << 0.4 << true << true;
    QTest::newRow("own window") << int(Kind::RightMouseUp) << 0u << true << 1.0 << 1.3 << 0.4 << false << true;
    QTest::newRow("no first click") << int(Kind::RightMouseUp) << 0u << false << 0.0 << 0.1 << 0.4 << true << false;
    QTest::newRow("desktop interval shorter") << int(Kind::RightMouseUp) << 0u << false << 1.0 << 1.3 << 0.25 << true
                                              << false;
    QTest::newRow("desktop interval longer") << int(Kind::RightMouseUp) << 0u << false << 1.0 << 1.9 << 1.0 << true
                                             << true;
}

void GestureTest::rightClickPair()
{
    QFETCH(int, kind);
    QFETCH(quint32, modifiers);
    QFETCH(bool, overOwn);
    QFETCH(double, previous);
    QFETCH(double, now);
    QFETCH(double, interval);
    QFETCH(bool, qualifies);
    QFETCH(bool, pair);
    QCOMPARE(VintrelleShouldOpenForMouseEvent(Kind(kind), modifiers, overOwn), qualifies);
    QCOMPARE(VintrelleIsQuickRightClickPair(previous, now, QPointF(10, 10), QPointF(13, 14), interval), pair);
}

void GestureTest::panels_data()
{
    QTest::addColumn<QList<VintrellePanelFrame>>("panels");
    QTest::addColumn<QPointF>("pointer");
    QTest::addColumn<bool>("inside");
    const QRectF frame(100, 100, 200, 100);
    const VintrellePanelFrame shown{true, true, frame};
    const VintrellePanelFrame hidden{true, false, frame};
    const VintrellePanelFrame missing{false, true, frame};
    const VintrellePanelFrame elsewhere{true, true, QRectF(500, 500, 10, 10)};
    QTest::newRow("no windows") << QList<VintrellePanelFrame>{} << QPointF(150, 150) << false;
    QTest::newRow("inside a shown one") << QList{shown} << QPointF(150, 150) << true;
    QTest::newRow("top left corner") << QList{shown} << QPointF(100, 100) << true;
    QTest::newRow("just outside") << QList{shown} << QPointF(99.5, 150) << false;
    QTest::newRow("hidden editor") << QList{hidden} << QPointF(150, 150) << false;
    QTest::newRow("never created") << QList{missing} << QPointF(150, 150) << false;
    QTest::newRow("a later window matches") << QList{hidden, missing, elsewhere, shown} << QPointF(150, 150) << true;
    QTest::newRow("none matches") << QList{hidden, elsewhere} << QPointF(150, 150) << false;
}

void GestureTest::panels()
{
    QFETCH(QList<VintrellePanelFrame>, panels);
    QFETCH(QPointF, pointer);
    QFETCH(bool, inside);
    QCOMPARE(mouseInsideVisiblePanels(panels, pointer), inside);
}

void GestureTest::releaseSuppression_data()
{
    // Each row: a request at 0, then events "<U|R|L>@time"; expected: which ones are swallowed.
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("swallowed");
    QTest::newRow("the release is swallowed once") << "U@0.1 U@0.2" << "U@0.1";
    QTest::newRow("lapses after half a second") << "U@0.6" << "";
    QTest::newRow("just in time") << "U@0.5" << "U@0.5";
    QTest::newRow("a new press ends the request") << "R@0.1 U@0.2" << "";
    QTest::newRow("a left press ends the request") << "L@0.1 U@0.2" << "";
    QTest::newRow("clock going back") << "U@-1" << "";
}

void GestureTest::releaseSuppression()
{
    QFETCH(QString, events);
    QFETCH(QString, swallowed);
    VintrelleContextReleaseSuppression suppression;
    suppression.request(0);
    QStringList taken;
    for (const QString &word : events.split(u' ')) {
        const Kind kind = word.startsWith(u'U') ? Kind::RightMouseUp
                        : word.startsWith(u'R') ? Kind::RightMouseDown
                                                : Kind::LeftMouseDown;
        if (suppression.swallow(kind, word.mid(2).toDouble()))
            taken << word;
    }
    QCOMPARE(taken.join(u' '), swallowed);
    QVERIFY(!suppression.pending());
}

QTEST_GUILESS_MAIN(GestureTest)
#include "tst_gestures.moc"
