// The X11 backend against a real X server, driven by xdotool while another program (xev, the
// stand-in for Live) has the focus. Run inside tests/x11/with-x11-session.sh.

#include "VintrelleGlobalInput.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"
#include "VintrelleX11ErrorTrap.h"

#include <QGuiApplication>
#include <QSignalSpy>

#include <X11/keysym.h>

// Another client of the same server that holds a key combination, as a desktop shortcut would.
struct OtherClient
{
    Display *display = XOpenDisplay(nullptr);
    ~OtherClient() { XCloseDisplay(display); }
    bool grab(KeySym keysym, unsigned int modifiers)
    {
        VintrelleX11ErrorTrap trap(display);
        XGrabKey(display, XKeysymToKeycode(display, keysym), modifiers, DefaultRootWindow(display), False, GrabModeAsync, GrabModeAsync);
        return trap.sync() == 0;
    }
    void ungrab(KeySym keysym, unsigned int modifiers)
    {
        XUngrabKey(display, XKeysymToKeycode(display, keysym), modifiers, DefaultRootWindow(display));
        XSync(display, False);
    }
};

class X11GlobalInputTest : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    QProcess m_standIn;
    QByteArray m_standInOutput;
    QString m_standInWindow;
    std::unique_ptr<VintrelleGlobalInput> m_input;
    QString m_combo;
    QRectF m_ownWindow;

    std::unique_ptr<VintrelleGlobalInput> startInput()
    {
        std::unique_ptr<VintrelleGlobalInput> input = VintrelleGlobalInput::create();
        VintrelleError error;
        if (!input->available() || !input->startObserving(&error))
            qFatal("no global input: %s %s", qPrintable(input->unavailableReason()), qPrintable(error.value_or("")));
        input->combo = [this] { return m_combo; };
        input->menuOpen = [] { return false; };
        input->pointerOverOwnWindows = [this](QPointF point) { return m_ownWindow.contains(point); };
        return input;
    }

    // What the stand-in has received so far, in order: key names ("keys") or button numbers.
    QString standIn(const QString &what) const
    {
        static const QRegularExpression key(R"(KeyPress event.*?keysym 0x[0-9a-f]+, (\w+)\))", QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression button(R"(ButtonPress event.*?button (\d+),)", QRegularExpression::DotMatchesEverythingOption);
        QStringList seen;
        for (auto it = (what == "keys" ? key : button).globalMatch(QString::fromLatin1(m_standInOutput)); it.hasNext();)
            seen << it.next().captured(1);
        return seen.join(' ');
    }

    // Waits until the stand-in has the keys and buttons expected, and a little more, so that a
    // gesture that should not fire has time to show itself all the same. The caller compares.
    void waitForStandIn(const QString &keys, const QString &buttons)
    {
        (void)QTest::qWaitFor([&] { return standIn("keys").size() >= keys.size() && standIn("buttons").size() >= buttons.size(); }, 5000);
        QTest::qWait(300);
    }

private slots:
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QString("xcb"));
        m_home.apply();
        m_standIn.start("stdbuf", {"-oL", "xev", "-geometry", "900x600+100+100"});
        QVERIFY(m_standIn.waitForStarted());
        connect(&m_standIn, &QProcess::readyReadStandardOutput, this, [this] { m_standInOutput += m_standIn.readAllStandardOutput(); });
        m_standInWindow = outputOf("xdotool", {"search", "--sync", "--name", "^Event Tester$"}).split('\n').value(0);
        QVERIFY(!m_standInWindow.isEmpty());
        m_input = startInput();
        VintrelleError error;
        QVERIFY2(m_input->applyShortcut("control-option", "P", &error), qPrintable(error.value_or("")));
    }

    void init()
    {
        QTest::qWait(500); // keeps one row's last tap or click from pairing with the next row's first
        // The window manager may still be taking the stand-in on when the first row starts.
        QVERIFY2(QTest::qWaitFor([this] {
                     const QStringList activate{"windowactivate", "--sync", m_standInWindow, "mousemove", "500", "400", "getactivewindow"};
                     return outputOf("xdotool", activate).trimmed() == m_standInWindow;
                 }, 10000),
                 "the stand-in window did not get the focus");
        m_standInOutput += m_standIn.readAllStandardOutput();
        m_standInOutput.clear();
        m_combo = VintrelleShortcutCombo::controlOption;
        m_ownWindow = QRectF();
    }

    void cleanupTestCase()
    {
        m_input.reset();
        m_standIn.kill();
        m_standIn.waitForFinished();
    }

    void gestures_data()
    {
        addColumns<QString, QString, QString, QRectF, QString, QString>({"combo", "script", "fired", "ownWindow", "keys", "buttons"});
        // fired: hotkey, tap, click or nothing; keys and buttons: what the stand-in must receive
        const QString tap = "double-option", shortcut = "control-option";
        const QString tapTwice = "keydown alt sleep 0.05 keyup alt sleep 0.1 keydown alt sleep 0.05 keyup alt";
        const QString clickTwice = "mousemove 400 300 click 3 sleep 0.1 mousemove %1 300 click 3";
        QTest::newRow("Ctrl+Alt+P") << shortcut << "key ctrl+alt+p" << "hotkey" << QRectF() << "Control_L Alt_L" << "";
        QTest::newRow("Ctrl+Alt+O is not it") << shortcut << "key ctrl+alt+o" << "" << QRectF() << "Control_L Alt_L o" << "";
        QTest::newRow("double tap of Alt") << tap << tapTwice << "tap" << QRectF() << "Alt_L Alt_L" << "";
        QTest::newRow("double tap while the shortcut is chosen") << shortcut << tapTwice << "" << QRectF() << "Alt_L Alt_L" << "";
        QTest::newRow("held press") << tap << "keydown alt sleep 0.4 keyup alt sleep 0.05 keydown alt sleep 0.05 keyup alt" << "" << QRectF()
                                    << "Alt_L Alt_L" << "";
        QTest::newRow("key between the taps") << tap << "key alt sleep 0.05 key x sleep 0.05 key alt" << "" << QRectF() << "Alt_L x Alt_L" << "";
        QTest::newRow("click between the taps") << tap << "key alt sleep 0.05 click 1 sleep 0.05 key alt" << "" << QRectF() << "Alt_L Alt_L" << "1";
        QTest::newRow("right clicks 5 px apart") << tap << clickTwice.arg(405) << "click" << QRectF() << "" << "3 3";
        QTest::newRow("right clicks 9 px apart") << tap << clickTwice.arg(409) << "" << QRectF() << "" << "3 3";
        QTest::newRow("right clicks with Control held") << tap << "keydown ctrl " + clickTwice.arg(405) + " keyup ctrl" << "" << QRectF() << "Control_L"
                                                        << "3 3";
        QTest::newRow("right clicks over an own window") << tap << clickTwice.arg(405) << "" << QRectF(350, 250, 100, 100) << "" << "3 3";
        QTest::newRow("left clicks are not it") << tap << "mousemove 400 300 click 1 sleep 0.1 click 1" << "" << QRectF() << "" << "1 1";
    }

    void gestures()
    {
        QFETCH(QString, combo); QFETCH(QString, script); QFETCH(QString, fired); QFETCH(QRectF, ownWindow); QFETCH(QString, keys);
        QFETCH(QString, buttons);
        m_combo = combo;
        m_ownWindow = ownWindow;
        QSignalSpy hotKey(m_input.get(), &VintrelleGlobalInput::hotKeyPressed);
        QSignalSpy tapped(m_input.get(), &VintrelleGlobalInput::optionDoubleTapped);
        QSignalSpy clicked(m_input.get(), &VintrelleGlobalInput::doubleRightClick);
        QVERIFY(xdotool(script));
        waitForStandIn(keys, buttons);
        QCOMPARE(hotKey.size(), fired == "hotkey" ? 1 : 0);
        QCOMPARE(tapped.size(), fired == "tap" ? 1 : 0);
        QCOMPARE(clicked.size(), fired == "click" ? 1 : 0);
        if (fired == "click")
            QCOMPARE(clicked.at(0).at(0).toPointF(), QPointF(405, 300));
        // Nothing was taken from the focused program but the hot key itself.
        QCOMPARE(standIn("keys"), keys);
        QCOMPARE(standIn("buttons"), buttons);
    }

    void refusedShortcutKeepsThePreviousOne()
    {
        OtherClient other;
        QVERIFY(other.grab(XK_q, ControlMask | ShiftMask));
        VintrelleError error;
        QVERIFY(!m_input->applyShortcut("control-shift", "Q", &error));
        QCOMPARE(error.value_or(""), QStringLiteral("That shortcut is unavailable. Choose another; your previous shortcut is unchanged."));
        QVERIFY(m_input->hasHotKey());
        QSignalSpy hotKey(m_input.get(), &VintrelleGlobalInput::hotKeyPressed);
        QVERIFY(xdotool("key ctrl+alt+p"));
        QTRY_COMPARE(hotKey.size(), 1);

        // The refused attempt left no grab of its own behind.
        other.ungrab(XK_q, ControlMask | ShiftMask);
        QTest::qWait(100);
        m_standInOutput.clear();
        QVERIFY(xdotool("key ctrl+shift+q"));
        waitForStandIn("Control_L Shift_L Q", "");
        QCOMPARE(standIn("keys"), QString("Control_L Shift_L Q"));
        QCOMPARE(hotKey.size(), 1);
        QVERIFY(other.grab(XK_q, ControlMask | ShiftMask | LockMask));
    }

    void doubleTapReleasesTheGrab()
    {
        VintrelleError error;
        QVERIFY(m_input->applyShortcut("control-shift", "K", &error));
        QVERIFY(m_input->applyShortcut("double-option", "K", &error));
        QVERIFY(!m_input->hasHotKey());
        QSignalSpy hotKey(m_input.get(), &VintrelleGlobalInput::hotKeyPressed);
        QVERIFY(xdotool("key ctrl+alt+p key ctrl+shift+k"));
        waitForStandIn("Control_L Alt_L p Control_L Shift_L K", "");
        QCOMPARE(standIn("keys"), QString("Control_L Alt_L p Control_L Shift_L K"));
        QCOMPARE(hotKey.size(), 0);
        QVERIFY(m_input->applyShortcut("control-option", "P", &error));
    }

    // Another client holds the stored shortcut at start: the key is observed instead, until a new shortcut is saved.
    void observedFallbackWhenTheGrabIsTaken()
    {
        m_input->clearHotKey();
        OtherClient other;
        QVERIFY(other.grab(XK_p, ControlMask | Mod1Mask));
        QVERIFY(VintrelleStoreShortcut("control-option", "P"));
        std::unique_ptr<VintrelleGlobalInput> second = startInput();
        const VintrelleGlobalInput::ShortcutStatus status = second->installGlobalMonitorFallback();
        QCOMPARE(status.title, QString("Hotkey: control-alt\u2013P"));
        QVERIFY(!status.opensHelp);
        QVERIFY(second->observingFallbackKeys());
        QSignalSpy hotKey(second.get(), &VintrelleGlobalInput::hotKeyPressed);
        QVERIFY(xdotool("key ctrl+alt+p key ctrl+alt+shift+p key alt+p"));
        QTRY_COMPARE(hotKey.size(), 2);
        QTest::qWait(300);
        QCOMPARE(hotKey.size(), 2);
        VintrelleError error;
        QVERIFY(second->applyShortcut("control-shift", "K", &error));
        QVERIFY(!second->observingFallbackKeys());
        second.reset();
        other.ungrab(XK_p, ControlMask | Mod1Mask);
        QVERIFY(m_input->applyShortcut("control-option", "P", &error));
    }

    void tearDownReleasesTheGrab()
    {
        std::unique_ptr<VintrelleGlobalInput> input = startInput();
        VintrelleError error;
        QVERIFY(input->applyShortcut("command-shift", "J", &error));
        OtherClient other;
        QVERIFY(!other.grab(XK_j, Mod4Mask | ShiftMask));
        input.reset();
        QVERIFY(other.grab(XK_j, Mod4Mask | ShiftMask));
        QVERIFY(other.grab(XK_j, Mod4Mask | ShiftMask | LockMask)); // every lock variant was released
    }
};

QTEST_MAIN(X11GlobalInputTest)
#include "tst_x11_global_input.moc"
