// All that needs a real X server and window manager: global input driven by xdotool while xev (the stand-in
// for Live) has the focus, the desktop's wish for less motion, and the quick menu and floating windows.

#include "menu/QuickMenuTestSupport.h"

#include "VintrelleGlobalInput.h"
#include "VintrelleShortcut.h"
#include "VintrelleWindowHelpers.h"
#include "VintrelleX11ErrorTrap.h"
#include "VintrelleX11Platform.h"

#include <QCursor>
#include <QScreen>
#include <QSignalSpy>

#include <X11/keysym.h>

// XSETTINGS bytes as a settings daemon publishes them: "i <name> <integer>", "s <name> <text> [<length written>]", "c <name>".
static QByteArray xsettings(const QStringList &settings, bool bigEndian = false)
{
    QByteArray out(1, char(bigEndian));
    const auto number = [&](quint32 value, int bytes) { for (int i = 0; i < bytes; ++i) out.append(char(value >> 8 * (bigEndian ? bytes - 1 - i : i))); };
    const auto padded = [&](const QString &text) { out.append(text.toLatin1()).append((4 - text.size() % 4) % 4, '\0'); };
    out.append(3, '\0'), number(7, 4), number(settings.size(), 4); // byte order, serial, count
    for (const QString &setting : settings) {
        const QStringList parts = setting.split(' ');
        const int type = QStringLiteral("isc").indexOf(parts[0]);
        out.append(char(type)).append('\0'), number(parts[1].size(), 2), padded(parts[1]), number(3, 4); // last change serial
        if (type == 0)
            number(parts[2].toInt(), 4);
        else if (type == 1)
            number(parts.value(3, QString::number(parts[2].size())).toUInt(), 4), padded(parts[2]);
        else
            out.append(8, '\x7f'); // a colour
    }
    return out;
}

// Another client of the same server: holds keys as a desktop shortcut would, or plays the settings daemon.
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

static bool movePointer(const QPoint &p) { return xdotool(QStringLiteral("mousemove %1 %2").arg(p.x()).arg(p.y())); }
static QPoint rowCentre(QMenu *menu, const QString &title) { return menu->mapToGlobal(menu->actionGeometry(actionTitled(menu->actions(), title)).center()); }

// Where the X server has the window, as xdotool reports it.
static QPoint serverPosition(QWidget *window)
{
    const auto match = QRegularExpression(R"(Position: (-?\d+),(-?\d+))").match(outputOf("xdotool", {"getwindowgeometry", QString::number(window->winId())}));
    return match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint(-9999, -9999);
}

// The brightest pixel of the header's status line on screen, and how many of its pixels are green.
static std::pair<QColor, int> statusPixels(VintrelleMenuHeader *header)
{
    const QPoint origin = header->mapToGlobal(QPoint(header->textInset(), 27));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, origin.x(), origin.y(), 110, 15).toImage();
    std::pair<QColor, int> found{Qt::black, 0};
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor colour = shot.pixelColor(x, y);
            found.second += colour.green() > colour.red() + 40 && colour.green() > colour.blue() + 25;
            found.first = colour.lightness() > found.first.lightness() ? colour : found.first;
        }
    return found;
}

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
    std::unique_ptr<VintrelleQuickMenuPresenter> m_presenter;
    QStringList m_events; // what the quick menu's callbacks were asked for, in order

    std::unique_ptr<VintrelleGlobalInput> startInput()
    {
        std::unique_ptr<VintrelleGlobalInput> input = VintrelleGlobalInput::create();
        VintrelleError error;
        if (!input->available() || !input->startObserving(&error))
            qFatal("no global input: %s %s", qPrintable(input->unavailableReason()), qPrintable(error.value_or("")));
        input->combo = [this] { return m_combo; };
        input->pointerOverOwnWindows = [this](QPointF point) { return m_ownWindow.contains(point); };
        return input;
    }

    // Gives the stand-in the focus and forgets what it received; the pause keeps one row's taps from the next's.
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

    QMenu *openMenu(const QPoint &at)
    {
        m_events.clear();
        m_presenter = std::make_unique<VintrelleQuickMenuPresenter>();
        m_presenter->onChoosePlugin = [this](const QString &id) { m_events << "plugin " + id; };
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_events << QJsonDocument(command).toJson(QJsonDocument::Compact); };
        m_presenter->onSettings = [this] { m_events << "settings"; };
        m_presenter->onEdit = [this] { m_events << "edit"; };
        m_presenter->onClosed = [this] { m_events << "closed"; };
        m_presenter->onShown = [this](const QPoint &topLeft) { m_events << QStringLiteral("shown %1,%2").arg(topLeft.x()).arg(topLeft.y()); };
        m_presenter->onMoved = [this](const QPoint &topLeft) { m_events << QStringLiteral("moved %1,%2").arg(topLeft.x()).arg(topLeft.y()); };
        m_presenter->setConnected(true);
        movePointer(at);
        if (!m_presenter->showAtPoint(demoCategories(), QCursor::pos()) || !QTest::qWaitForWindowExposed(m_presenter->menu()))
            return nullptr;
        QTest::qWait(100);
        return m_presenter->menu();
    }

    // Moves the pointer onto a row of `menu` and clicks `button` there.
    bool clickRow(QMenu *menu, const QString &title, int button)
    {
        if (!menu || !actionTitled(menu->actions(), title) || !movePointer(rowCentre(menu, title)))
            return false;
        QTest::qWait(100);
        return xdotool(QStringLiteral("click %1").arg(button));
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

    void cleanup() { xdotool("mouseup 1"); m_presenter.reset(); }

    void gestures_data()
    {
        // fired: "hotkey", "tap", "click x,y" or nothing; received: what the stand-in must receive, "<keys> / <buttons>"
        addColumns<QString, QString, QString, QRectF, QString>({"combo", "script", "fired", "ownWindow", "received"});
        const QString tap = "double-option", shortcut = "control-option";
        const QString tapTwice = "keydown alt sleep 0.05 keyup alt sleep 0.1 keydown alt sleep 0.05 keyup alt";
        const QString clickTwice = "mousemove 400 300 click 3 sleep 0.1 mousemove 405 300 click 3";
        QTest::newRow("Ctrl+Alt+P") << shortcut << "key ctrl+alt+p" << "hotkey" << QRectF() << "Control_L Alt_L / ";
        QTest::newRow("Ctrl+Alt+O is not it") << shortcut << "key ctrl+alt+o" << "" << QRectF() << "Control_L Alt_L o / ";
        QTest::newRow("double tap of Alt") << tap << tapTwice << "tap" << QRectF() << "Alt_L Alt_L / ";
        QTest::newRow("click between the taps") << tap << "key alt sleep 0.05 click 1 sleep 0.05 key alt" << "" << QRectF() << "Alt_L Alt_L / 1";
        QTest::newRow("right clicks 5 px apart") << tap << clickTwice << "click 405,300" << QRectF() << " / 3 3";
        QTest::newRow("right clicks over an own window") << tap << clickTwice << "" << QRectF(350, 250, 100, 100) << " / 3 3";
    }
    void gestures()
    {
        QFETCH(QString, combo); QFETCH(QString, script); QFETCH(QRectF, ownWindow); QFETCH(QString, received);
        QVERIFY2(focusStandIn(), "the stand-in window did not get the focus");
        m_combo = combo;
        m_ownWindow = ownWindow;
        QSignalSpy hotKey(m_input.get(), &VintrelleGlobalInput::hotKeyPressed), tapped(m_input.get(), &VintrelleGlobalInput::optionDoubleTapped),
            clicked(m_input.get(), &VintrelleGlobalInput::doubleRightClick);
        QVERIFY(xdotool(script));
        // Nothing but the hot key itself is taken from the focused program; the extra wait lets a wrong gesture show.
        (void)QTest::qWaitFor([&] { return standIn().size() >= received.size(); }, 5000);
        QTest::qWait(300);
        QCOMPARE(standIn(), received);
        QStringList seen = QStringList(hotKey.size(), "hotkey") + QStringList(tapped.size(), "tap");
        for (const QList<QVariant> &click : clicked)
            seen << QStringLiteral("click %1,%2").arg(click[0].toPointF().x()).arg(click[0].toPointF().y());
        QTEST(seen.join(' '), "fired");
    }

    // A shortcut held elsewhere is refused, the old one kept; the double tap or teardown leaves no grab, nor a lock variant.
    void grabs_data()
    {
        addColumns<QString>({"how"});
        for (const char *how : {"refused", "double tap", "torn down"})
            QTest::newRow(how) << how;
    }
    void grabs()
    {
        QFETCH(QString, how);
        std::unique_ptr<VintrelleGlobalInput> input = startInput();
        VintrelleError error;
        OtherClient other;
        QVERIFY(input->applyShortcut("command-shift", "J", &error) && !other.grab(XK_j, Mod4Mask | ShiftMask));
        if (how == "refused") {
            QVERIFY(other.grab(XK_k, ControlMask | ShiftMask) && !input->applyShortcut("control-shift", "K", &error));
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
        QVERIFY(other.grab(XK_j, Mod4Mask | ShiftMask) && other.grab(XK_j, Mod4Mask | ShiftMask | LockMask));
    }

    // Another client holds the stored shortcut at start: the key is observed instead, until a new shortcut is saved.
    void observedFallbackWhenTheGrabIsTaken()
    {
        QVERIFY(focusStandIn());
        m_combo = VintrelleShortcutCombo::controlOption;
        m_input->clearHotKey();
        OtherClient other;
        QVERIFY(other.grab(XK_p, ControlMask | Mod1Mask) && VintrelleStoreShortcut("control-option", "P"));
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
        QVERIFY(second->applyShortcut("control-shift", "K", &error) && !second->observingFallbackKeys());
    }

    // A settings daemon (another client owning the XSETTINGS selection) wins over the files unless its bytes are damaged.
    void reducedMotion_data()
    {
        addColumns<QString, QByteArray, QByteArray, bool>({"file", "contents", "daemon", "reduced"});
        const QString gtk3 = "gtk-3.0/settings.ini", kde = "kdeglobals", theme = "s Net/ThemeName Adwaita-dark", on = "i Gtk/EnableAnimations 1";
        const QByteArray gtkOff("[Settings]\ngtk-enable-animations=false\n");
        QTest::newRow("nothing configured") << "" << QByteArray() << QByteArray() << false;
        QTest::newRow("GTK off as 0, spaced") << gtk3 << QByteArray("[Settings]\ngtk-theme-name=Adwaita\ngtk-enable-animations = 0\n") << QByteArray() << true;
        QTest::newRow("KDE instant animations") << kde << QByteArray("[KDE]\nAnimationDurationFactor=0\n") << QByteArray() << true;
        QTest::newRow("daemon on, big-endian, after a string and a colour; GTK off") << gtk3 << gtkOff << xsettings({theme, "c Gtk/Colour", on}, true) << false;
        QTest::newRow("daemon's string length past the end; GTK off") << gtk3 << gtkOff << xsettings({"s Net/ThemeName Adwaita 4294967292", on}) << true;
    }
    void reducedMotion()
    {
        QFETCH(QString, file); QFETCH(QByteArray, contents); QFETCH(QByteArray, daemon);
        QTemporaryDir config;
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        if (!file.isEmpty())
            writeFile(config.filePath(file), contents);
        const OtherClient settingsDaemon;
        Display *const display = settingsDaemon.display;
        const Window owner = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
        const Atom selection = XInternAtom(display, ("_XSETTINGS_S" + QByteArray::number(DefaultScreen(display))).constData(), False);
        const Atom settings = XInternAtom(display, "_XSETTINGS_SETTINGS", False);
        if (!daemon.isEmpty()) {
            XChangeProperty(display, owner, settings, settings, 8, PropModeReplace, reinterpret_cast<const uchar *>(daemon.constData()), int(daemon.size()));
            XSetSelectionOwner(display, selection, owner, CurrentTime);
        }
        XSync(display, False);
        QCOMPARE(XGetSelectionOwner(display, selection) != 0, !daemon.isEmpty());
        QTEST(VintrelleX11Platform().prefersReducedMotion(), "reduced");
    }

    // Open, click `submenu` open, then left-click `row`, or right-click it and click `rowChoice` in the row menu
    // that opens at the pointer. Each choice closes the menu first; a plug-in is chosen on the next turn.
    void clicks_data()
    {
        addColumns<QString, QString, QString, QString>({"submenu", "row", "rowChoice", "events"});
        const QString prompt = R"({"id":"%1","name":"%2","op":"%3Prompt","returnToBrowse":true})";
        QTest::newRow("choosing a plug-in") << "REVERB && SPACE" << "TIDEPOOL" << "" << "closed, plugin tidepool";
        QTest::newRow("SETTINGS") << "" << "SETTINGS" << "" << "settings, closed";
        QTest::newRow("EDIT") << "" << "EDIT" << "" << "edit, closed";
        QTest::newRow("right click on a plug-in, then DELETE") << "MIXING" << "GLUE COMPRESSOR" << "DELETE" << prompt.arg("glue", "Glue Compressor", "delete") + ", closed";
        QTest::newRow("right click on a category, then RENAME") << "" << "MIXING" << "RENAME" << prompt.arg("mixing", "Mixing", "rename") + ", closed";
    }
    void clicks()
    {
        QFETCH(QString, submenu); QFETCH(QString, row); QFETCH(QString, rowChoice); QFETCH(QString, events);
        QMenu *menu = openMenu({250, 120});
        QVERIFY(menu);
        QCOMPARE(serverPosition(menu), QPoint(250, 120));
        QTRY_COMPARE(m_events, QStringList{"shown 250,120"});
        if (!submenu.isEmpty()) {
            QVERIFY(clickRow(menu, submenu, 1));
            menu = actionTitled(menu->actions(), submenu)->menu();
            QTRY_VERIFY(menu->isVisible());
            QTest::qWait(100);
        }
        const QPoint point = rowCentre(menu, row);
        QVERIFY(clickRow(menu, row, rowChoice.isEmpty() ? 1 : 3));
        if (!rowChoice.isEmpty()) {
            QTest::qWait(300); // the click's release has long arrived: it chose nothing
            QCOMPARE(m_events, QStringList{"shown 250,120"});
            QVERIFY(QTest::qWaitForWindowExposed(m_presenter->rowMenu()));
            QCOMPARE(serverPosition(m_presenter->rowMenu()), point);
            QVERIFY(clickRow(m_presenter->rowMenu(), rowChoice, 1));
        }
        QTRY_COMPARE(m_events.join(", "), "shown 250,120, " + events);
        QVERIFY(!m_presenter->isOpen());
    }

    // A press on the header drags the menu once the pointer has moved 3 pixels from it, until the release.
    void draggingTheHeaderMovesTheMenu()
    {
        QMenu *menu = openMenu({300, 200});
        QVERIFY(menu && movePointer(menu->findChild<VintrelleMenuHeader *>()->mapToGlobal(QPoint(40, 20))));
        const QList<std::pair<const char *, QPoint>> steps{{"mousedown 1", {300, 200}}, {"mousemove_relative 2 2", {300, 200}}, {"mousemove_relative -- -2 1", {300, 203}},
                                                           {"mousemove_relative 60 37", {360, 240}}, {"mouseup 1", {360, 240}}, {"mousemove_relative 40 60", {360, 240}}};
        for (const auto &[step, topLeft] : steps) {
            QVERIFY(xdotool(step));
            QTest::qWait(150);
            QTRY_COMPARE(serverPosition(menu), topLeft);
        }
        QVERIFY(m_events.contains("moved 360,240") && m_presenter->isOpen());
    }

    // Pixels on screen: green "CONNECTED" while connected; warm and pulsing while not.
    void headerStatusColourOnScreen()
    {
        QMenu *menu = openMenu({100, 100});
        QVERIFY(menu);
        auto *header = menu->findChild<VintrelleMenuHeader *>();
        const auto [connected, green] = statusPixels(header);
        const QColor expected = VintrelleMenuHeader::statusColor(true, true);
        QVERIFY2(green > 10 && qAbs(connected.green() - expected.green()) <= 30 && qAbs(connected.red() - expected.red()) <= 30, qPrintable(connected.name()));
        m_presenter->setConnected(false);
        int dimmest = 255, brightest = 0;
        for (int i = 0; i < 12; ++i) { // a little over one period of 1.8 s
            QTest::qWait(160);
            const auto [colour, greenPixels] = statusPixels(header);
            QVERIFY2(greenPixels == 0 && colour.red() > colour.blue(), qPrintable(colour.name()));
            dimmest = std::min(dimmest, colour.lightness());
            brightest = std::max(brightest, colour.lightness());
        }
        QVERIFY2(brightest - dimmest > 40, qPrintable(QStringLiteral("%1..%2").arg(dimmest).arg(brightest)));
        m_presenter->menu()->hide();
        QVERIFY(!header->isPulsing());
    }

    // Floating windows hold their window manager states when configured after showing (with other flags or theirs
    // already), or configured before showing, then hidden (the manager drops its states) and shown again.
    void overlayWindowsAskTheWindowManagerToFloat()
    {
        for (const QString scenario : {"shown", "flags", "again"}) {
            QWidget window(nullptr, scenario == "flags" ? Qt::Tool | Qt::WindowStaysOnTopHint : Qt::WindowFlags());
            window.resize(300, 200);
            const auto showAndSettle = [&] { window.show(); return QTest::qWaitForWindowExposed(&window) && (QTest::qWait(200), true); };
            if (scenario == "again") {
                VintrelleConfigureOverlayWindow(&window);
                QVERIFY(showAndSettle());
                window.hide();
                QTest::qWait(300);
            }
            QVERIFY(showAndSettle());
            if (scenario != "again")
                VintrelleConfigureOverlayWindow(&window);
            const QStringList wanted{"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_DESKTOP(CARDINAL) = 4294967295"};
            const auto properties = [&] { return outputOf("xprop", {"-id", QString::number(window.windowHandle()->winId()), "_NET_WM_STATE", "_NET_WM_DESKTOP"}); };
            QVERIFY2(QTest::qWaitFor([&] { return std::all_of(wanted.begin(), wanted.end(), [p = properties()](const QString &atom) { return p.contains(atom); }); }, 3000),
                     qPrintable(scenario + ": " + properties()));
        }
    }
};

QTEST_MAIN(TestX11Platform)
#include "tst_x11_platform.moc"
