#include "VintrelleGestureRecognizer.h"
#include "VintrelleLocalClicks.h"

#include <QRegularExpression>
#include "VintrelleTestSupport.h"

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

class GestureTest : public QObject
{
    Q_OBJECT

private slots:
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
};

QTEST_GUILESS_MAIN(GestureTest)
#include "tst_gestures.moc"
