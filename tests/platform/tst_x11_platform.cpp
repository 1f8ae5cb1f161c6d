// The X11 backend against a real X server: global input driven by xdotool while another program
// (xev, the stand-in for Live) has the focus, and the desktop's wish for less motion. Run inside
// tests/x11/with-x11-session.sh.

#include "VintrelleGlobalInput.h"
#include "VintrelleReducedMotion.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"
#include "VintrelleX11ErrorTrap.h"
#include "VintrelleX11Platform.h"

#include <QGuiApplication>
#include <QSignalSpy>

#include <X11/keysym.h>

// An XSETTINGS property as a settings daemon publishes it. Settings: "i <name> <integer>", "c <name>" (a
// colour), "s <name> <text> [<length written>]", "<number> <name>" (an unknown type, no value).
static QByteArray xsettings(const QStringList &settings, bool bigEndian = false, int declaredCount = -1)
{
    QByteArray out(4, '\0');
    out[0] = char(bigEndian);
    const auto number = [&](quint32 value, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.append(char(value >> 8 * (bigEndian ? bytes - 1 - i : i)));
    };
    const auto padded = [&](const QString &text) { out.append(text.toLatin1()).append((4 - text.size() % 4) % 4, '\0'); };
    number(7, 4); // serial
    number(declaredCount < 0 ? settings.size() : declaredCount, 4);
    for (const QString &setting : settings) {
        const QStringList parts = setting.split(' ');
        const int type = QStringLiteral("isc").indexOf(parts[0]);
        out.append(char(type < 0 ? parts[0].toInt() : type)).append('\0');
        number(parts[1].size(), 2);
        padded(parts[1]);
        number(3, 4); // last change serial
        if (type == 0)
            number(parts[2].toInt(), 4);
        if (type == 1) {
            number(parts.size() > 3 ? parts[3].toUInt() : parts[2].size(), 4);
            padded(parts[2]);
        }
        if (type == 2)
            out.append(8, '\x7f');
    }
    return out;
}

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
};

class TestX11Platform : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    QProcess m_standIn;
    QByteArray m_standInOutput;
    QString m_standInWindow;
    std::unique_ptr<VintrelleGlobalInput> m_input;
    QString m_combo = VintrelleShortcutCombo::controlOption;
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

    // Gives the stand-in the focus and forgets what it received. The pause keeps one row's last tap or
    // click from pairing with the next row's first; the window manager may still be taking it on.
    bool focusStandIn()
    {
        QTest::qWait(500);
        const QStringList activate{"windowactivate", "--sync", m_standInWindow, "mousemove", "500", "400", "getactivewindow"};
        const bool focused = QTest::qWaitFor([&] { return outputOf("xdotool", activate).trimmed() == m_standInWindow; }, 10000);
        m_standIn.readAllStandardOutput();
        m_standInOutput.clear();
        return focused;
    }

    // What the stand-in has received so far, in order: "<key names> / <button numbers>".
    QString standIn() const
    {
        static const QRegularExpression key(R"(KeyPress event.*?keysym 0x[0-9a-f]+, (\w+)\))", QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression button(R"(ButtonPress event.*?button (\d+),)", QRegularExpression::DotMatchesEverythingOption);
        QStringList seen[2];
        for (int i = 0; i < 2; ++i)
            for (auto it = (i ? button : key).globalMatch(QString::fromLatin1(m_standInOutput)); it.hasNext();)
                seen[i] << it.next().captured(1);
        return seen[0].join(' ') + " / " + seen[1].join(' ');
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

    void cleanupTestCase() { m_input.reset(); m_standIn.kill(); m_standIn.waitForFinished(); }

    void gestures_data()
    {
        // fired: hotkey, tap, click or nothing; received: what the stand-in must receive, "<keys> / <buttons>"
        addColumns<QString, QString, QString, QRectF, QString>({"combo", "script", "fired", "ownWindow", "received"});
        const QString tap = "double-option", shortcut = "control-option";
        const QString tapTwice = "keydown alt sleep 0.05 keyup alt sleep 0.1 keydown alt sleep 0.05 keyup alt";
        const QString clickTwice = "mousemove 400 300 click 3 sleep 0.1 mousemove 405 300 click 3";
        QTest::newRow("Ctrl+Alt+P") << shortcut << "key ctrl+alt+p" << "hotkey" << QRectF() << "Control_L Alt_L / ";
        QTest::newRow("Ctrl+Alt+O is not it") << shortcut << "key ctrl+alt+o" << "" << QRectF() << "Control_L Alt_L o / ";
        QTest::newRow("double tap of Alt") << tap << tapTwice << "tap" << QRectF() << "Alt_L Alt_L / ";
        QTest::newRow("double tap while the shortcut is chosen") << shortcut << tapTwice << "" << QRectF() << "Alt_L Alt_L / ";
        QTest::newRow("click between the taps") << tap << "key alt sleep 0.05 click 1 sleep 0.05 key alt" << "" << QRectF() << "Alt_L Alt_L / 1";
        QTest::newRow("right clicks 5 px apart") << tap << clickTwice << "click" << QRectF() << " / 3 3";
        QTest::newRow("right clicks with Control held") << tap << "keydown ctrl " + clickTwice + " keyup ctrl" << "" << QRectF() << "Control_L / 3 3";
        QTest::newRow("right clicks over an own window") << tap << clickTwice << "" << QRectF(350, 250, 100, 100) << " / 3 3";
    }
    void gestures()
    {
        QFETCH(QString, combo); QFETCH(QString, script); QFETCH(QString, fired); QFETCH(QRectF, ownWindow); QFETCH(QString, received);
        QVERIFY2(focusStandIn(), "the stand-in window did not get the focus");
        m_combo = combo;
        m_ownWindow = ownWindow;
        QSignalSpy hotKey(m_input.get(), &VintrelleGlobalInput::hotKeyPressed);
        QSignalSpy tapped(m_input.get(), &VintrelleGlobalInput::optionDoubleTapped);
        QSignalSpy clicked(m_input.get(), &VintrelleGlobalInput::doubleRightClick);
        QVERIFY(xdotool(script));
        // Nothing was taken from the focused program but the hot key itself; the extra wait gives a gesture
        // that should not fire the time to show itself all the same.
        (void)QTest::qWaitFor([&] { return standIn().size() >= received.size(); }, 5000);
        QTest::qWait(300);
        QCOMPARE(standIn(), received);
        QCOMPARE(hotKey.size(), fired == "hotkey" ? 1 : 0);
        QCOMPARE(tapped.size(), fired == "tap" ? 1 : 0);
        QCOMPARE(clicked.size(), fired == "click" ? 1 : 0);
        if (fired == "click")
            QCOMPARE(clicked.at(0).at(0).toPointF(), QPointF(405, 300));
    }

    // A shortcut another client holds is refused and the previous one keeps working; choosing the double tap
    // or tearing global input down releases the grab. No grab is left behind, not even for a lock variant.
    void grabs_data()
    {
        addColumns<QString>({"how"});
        QTest::newRow("refused") << "refused";
        QTest::newRow("double tap chosen") << "double tap";
        QTest::newRow("torn down") << "torn down";
    }
    void grabs()
    {
        QFETCH(QString, how);
        std::unique_ptr<VintrelleGlobalInput> input = startInput();
        VintrelleError error;
        QVERIFY(input->applyShortcut("command-shift", "J", &error));
        OtherClient other;
        QVERIFY(!other.grab(XK_j, Mod4Mask | ShiftMask));
        if (how == "refused") {
            QVERIFY(other.grab(XK_k, ControlMask | ShiftMask));
            QVERIFY(!input->applyShortcut("control-shift", "K", &error));
            QCOMPARE(error.value_or(""), QStringLiteral("That shortcut is unavailable. Choose another; your previous shortcut is unchanged."));
            QVERIFY(other.grab(XK_k, ControlMask | ShiftMask | LockMask));
            QSignalSpy hotKey(input.get(), &VintrelleGlobalInput::hotKeyPressed);
            QVERIFY(xdotool("key super+shift+j"));
            QTRY_COMPARE(hotKey.size(), 1);
            return;
        }
        if (how == "double tap")
            QVERIFY(input->applyShortcut("double-option", "J", &error) && !input->hasHotKey());
        else
            input.reset();
        QVERIFY(other.grab(XK_j, Mod4Mask | ShiftMask));
        QVERIFY(other.grab(XK_j, Mod4Mask | ShiftMask | LockMask));
    }

    // Another client holds the stored shortcut at start: the key is observed instead, until a new shortcut is saved.
    void observedFallbackWhenTheGrabIsTaken()
    {
        QVERIFY(focusStandIn());
        m_combo = VintrelleShortcutCombo::controlOption;
        m_input->clearHotKey();
        OtherClient other;
        QVERIFY(other.grab(XK_p, ControlMask | Mod1Mask));
        QVERIFY(VintrelleStoreShortcut("control-option", "P"));
        std::unique_ptr<VintrelleGlobalInput> second = startInput();
        const VintrelleGlobalInput::ShortcutStatus status = second->installGlobalMonitorFallback();
        QCOMPARE(status.title, QString("Hotkey: control-alt\u2013P"));
        QVERIFY(!status.opensHelp && second->observingFallbackKeys());
        QSignalSpy hotKey(second.get(), &VintrelleGlobalInput::hotKeyPressed);
        QVERIFY(xdotool("key ctrl+alt+p key ctrl+alt+shift+p key alt+p"));
        QTRY_COMPARE(hotKey.size(), 2);
        QTest::qWait(300);
        QCOMPARE(hotKey.size(), 2);
        VintrelleError error;
        QVERIFY(second->applyShortcut("control-shift", "K", &error));
        QVERIFY(!second->observingFallbackKeys());
    }

    // "Gtk/EnableAnimations" in the bytes a settings daemon publishes; -1: the property says nothing.
    void publishedSettings_data()
    {
        addColumns<QByteArray, int>({"property", "enabled"});
        const QString theme = "s Net/ThemeName Adwaita-dark", off = "i Gtk/EnableAnimations 0";
        QTest::newRow("on, big-endian, after a string and a colour") << xsettings({theme, "c Gtk/Colour", "i Gtk/EnableAnimations 1"}, true) << 1;
        QTest::newRow("off, little-endian, after a string") << xsettings({theme, off}) << 0;
        QTest::newRow("absent") << xsettings({"i Net/DoubleClickTime 400", theme}) << -1;
        QTest::newRow("empty property") << QByteArray() << -1;
        QTest::newRow("cut short in the value") << xsettings({off}).chopped(2) << -1;
        QTest::newRow("more settings declared than sent") << xsettings({theme}, false, 5) << -1;
        QTest::newRow("published as a string") << xsettings({"s Gtk/EnableAnimations 0"}) << -1;
        QTest::newRow("string length past the end") << xsettings({"s Net/ThemeName Adwaita 4294967292", off}) << -1;
        QTest::newRow("unknown type first") << xsettings({"9 Net/Unknown", off}) << -1;
    }
    void publishedSettings()
    {
        QFETCH(QByteArray, property);
        const std::optional<bool> read = VintrelleXSettingsAnimationsEnabled(property);
        QTEST(read ? int(*read) : -1, "enabled");
    }

    // A settings daemon, played by this test owning the XSETTINGS selection with one `daemon` setting, wins
    // over the settings files; without one (empty `daemon`) or without the setting, the files count.
    void reducedMotion_data()
    {
        addColumns<QString, QByteArray, QString, bool>({"file", "contents", "daemon", "reduced"});
        const QString gtk3 = "gtk-3.0/settings.ini", kde = "kdeglobals";
        const QByteArray gtkOff("[Settings]\ngtk-enable-animations=false\n");
        QTest::newRow("nothing configured") << "" << QByteArray() << "" << false;
        QTest::newRow("GTK 3 off as 0, spaced") << gtk3 << QByteArray("[Settings]\ngtk-theme-name=Adwaita\ngtk-enable-animations = 0\n") << "" << true;
        QTest::newRow("GTK 3 key in another group") << gtk3 << QByteArray("[Other]\ngtk-enable-animations=false\n") << "" << false;
        QTest::newRow("GTK 4 off") << "gtk-4.0/settings.ini" << QByteArray("[Settings]\ngtk-enable-animations=FALSE\n") << "" << true;
        QTest::newRow("KDE instant animations") << kde << QByteArray("[KDE]\nAnimationDurationFactor=0\n") << "" << true;
        QTest::newRow("KDE slower animations") << kde << QByteArray("[KDE]\nAnimationDurationFactor=0.5\n") << "" << false;
        QTest::newRow("KDE factor not a number") << kde << QByteArray("[KDE]\nAnimationDurationFactor=fast\n") << "" << false;
        QTest::newRow("settings file is a folder") << gtk3 + "/x" << QByteArray() << "" << false;
        QTest::newRow("daemon says on, GTK file off") << gtk3 << gtkOff << "i Gtk/EnableAnimations 1" << false;
        QTest::newRow("daemon without the setting, GTK file off") << gtk3 << gtkOff << "i Net/DoubleClickTime 400" << true;
    }
    void reducedMotion()
    {
        QFETCH(QString, file); QFETCH(QByteArray, contents); QFETCH(QString, daemon);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        if (!file.isEmpty())
            writeFile(config.filePath(file), contents);
        Display *display = XOpenDisplay(nullptr);
        QVERIFY(display);
        const Window owner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        const Atom selection = XInternAtom(display, ("_XSETTINGS_S" + QByteArray::number(DefaultScreen(display))).constData(), False);
        if (!daemon.isEmpty()) {
            const Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
            const QByteArray property = xsettings({"s Net/ThemeName Adwaita", daemon});
            XChangeProperty(display, owner, settings, settings, 8, PropModeReplace, reinterpret_cast<const uchar *>(property.constData()), int(property.size()));
            XSetSelectionOwner(display, selection, owner, CurrentTime);
        }
        XSync(display, False);
        const bool owned = XGetSelectionOwner(display, selection) != 0;
        const bool answer = VintrelleX11Platform().prefersReducedMotion();
        XDestroyWindow(display, owner); // gives up the selection too
        XCloseDisplay(display);
        QCOMPARE(owned, !daemon.isEmpty());
        QTEST(answer, "reduced");
    }
};

QTEST_MAIN(TestX11Platform)
#include "tst_x11_platform.moc"
