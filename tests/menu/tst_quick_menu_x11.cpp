// The quick menu on a real X server with a window manager, driven by xdotool like a user.

#include "QuickMenuTestSupport.h"

#include "VintrelleMenuHeader.h"
#include "VintrelleWindowHelpers.h"

#include <QCursor>
#include <QScreen>

static bool movePointer(const QPoint &p) { return xdotool(QStringLiteral("mousemove %1 %2").arg(p.x()).arg(p.y())); }

static QPoint rowCentre(QMenu *menu, const QString &title) { return menu->mapToGlobal(menu->actionGeometry(actionTitled(menu, title)).center()); }

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

class TestQuickMenuX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<VintrelleQuickMenuPresenter> m_presenter;
    struct { QStringList chosen; QList<QJsonObject> rowCommands; QList<QPoint> moves, shown; } m_seen; // by the callbacks

    QMenu *openMenu(const QPoint &at)
    {
        movePointer(at);
        m_presenter->setConnected(true);
        if (!m_presenter->showAtPoint(demoCategories(), QCursor::pos()) || !QTest::qWaitForWindowExposed(m_presenter->menu()))
            return nullptr;
        QTest::qWait(100);
        return m_presenter->menu();
    }

    // Moves the pointer onto a row of `menu` and clicks `button` there.
    bool clickRow(QMenu *menu, const QString &title, int button)
    {
        if (!menu || !actionTitled(menu, title) || !movePointer(rowCentre(menu, title)))
            return false;
        QTest::qWait(100);
        return xdotool(QStringLiteral("click %1").arg(button));
    }

private slots:
    void initTestCase() { QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb")); }

    void init()
    {
        m_seen = {};
        m_presenter = std::make_unique<VintrelleQuickMenuPresenter>();
        m_presenter->onChoosePlugin = [this](const QString &id) { m_seen.chosen << id; };
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_seen.rowCommands << command; };
        m_presenter->onMoved = [this](const QPoint &topLeft) { m_seen.moves << topLeft; };
        m_presenter->onShown = [this](const QPoint &topLeft) { m_seen.shown << topLeft; };
    }

    void cleanup() { xdotool("mouseup 1"); m_presenter.reset(); QTest::qWait(50); }

    // Open at the pointer, go into `submenu` (a click opens it), then left-click `row`, or with a `rowChoice`
    // right-click it: RENAME/DELETE open at the pointer and `rowChoice` ("-": none may open) is clicked.
    void clicks_data()
    {
        addColumns<QString, QString, QString, QJsonObject>({"submenu", "row", "rowChoice", "command"});
        const auto prompt = [](const char *op, const char *id, const char *name) { return QJsonObject{{"op", op}, {"id", id}, {"name", name}, {"returnToBrowse", true}}; };
        QTest::newRow("choosing a plug-in") << "REVERB && SPACE" << "TIDEPOOL" << "" << QJsonObject();
        QTest::newRow("right click on a plug-in, then DELETE") << "MIXING" << "GLUE COMPRESSOR" << "DELETE" << prompt("deletePrompt", "glue", "Glue Compressor");
        QTest::newRow("right click on a category, then RENAME") << "" << "MIXING" << "RENAME" << prompt("renamePrompt", "mixing", "Mixing");
        QTest::newRow("right click on SETTINGS: no row menu, nothing chosen") << "" << "SETTINGS" << "-" << QJsonObject();
    }
    void clicks()
    {
        QFETCH(QString, submenu); QFETCH(QString, row); QFETCH(QString, rowChoice); QFETCH(QJsonObject, command);
        QMenu *menu = openMenu({250, 120});
        QVERIFY(menu);
        QCOMPARE(serverPosition(menu), QPoint(250, 120));
        QTRY_COMPARE(m_seen.shown, QList<QPoint>{QPoint(250, 120)});
        if (!submenu.isEmpty()) {
            QVERIFY(clickRow(menu, submenu, 1));
            menu = actionTitled(menu, submenu)->menu();
            QTRY_VERIFY(menu->isVisible());
            QTest::qWait(100);
        }
        const QPoint point = rowCentre(menu, row);
        QVERIFY(clickRow(menu, row, rowChoice.isEmpty() ? 1 : 3));
        if (rowChoice.isEmpty()) {
            QTRY_COMPARE(m_seen.chosen, QStringList{"tidepool"});
        } else {
            QTest::qWait(300); // the click's release has long arrived: it chose nothing
            QVERIFY(m_seen.rowCommands.isEmpty() && m_seen.chosen.isEmpty());
            QCOMPARE(bool(m_presenter->rowMenu()), rowChoice != "-");
            if (rowChoice == "-") {
                QVERIFY(m_presenter->menu());
                return;
            }
            QVERIFY(QTest::qWaitForWindowExposed(m_presenter->rowMenu()));
            QCOMPARE(serverPosition(m_presenter->rowMenu()), point);
            QVERIFY(clickRow(m_presenter->rowMenu(), rowChoice, 1));
            QTRY_COMPARE(m_seen.rowCommands, QList<QJsonObject>{command});
            QVERIFY(m_seen.chosen.isEmpty());
        }
        QTRY_VERIFY(!m_presenter->isOpen());
    }

    // A press on the header drags the menu once the pointer has moved 3 pixels from it, until the release.
    void draggingTheHeaderMovesTheMenu()
    {
        QMenu *menu = openMenu({300, 200});
        QVERIFY(menu);
        const QPoint grip = menu->findChild<VintrelleMenuHeader *>()->mapToGlobal(QPoint(40, 20));
        movePointer(grip);
        QVERIFY(xdotool("mousedown 1"));
        const QList<std::pair<QPoint, QPoint>> steps{{{2, 1}, {300, 200}}, {{2, 2}, {300, 200}}, {{0, 3}, {300, 203}}, {{60, 40}, {360, 240}}};
        for (const auto &[offset, topLeft] : steps) {
            movePointer(grip + offset);
            QTest::qWait(150);
            QTRY_COMPARE(serverPosition(menu), topLeft);
        }
        QCOMPARE(QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor, Qt::ClosedHandCursor);
        QVERIFY(xdotool("mouseup 1"));
        QTRY_VERIFY(!QGuiApplication::overrideCursor());
        movePointer(grip + QPoint(100, 100)); // after the release: nothing moves
        QTest::qWait(150);
        QCOMPARE(serverPosition(menu), QPoint(360, 240));
        QCOMPARE(QList<QPoint>({m_seen.moves.first(), m_seen.moves.last()}), QList<QPoint>({{300, 203}, {360, 240}}));
        QCOMPARE(m_presenter->openMenuTopLeft(), std::optional<QPoint>(QPoint(360, 240))); // a drag does not close the menu
    }

    // Pixels on screen: green "CONNECTED" while connected; warm and pulsing while not.
    void headerStatusColourOnScreen()
    {
        QMenu *menu = openMenu({100, 100});
        QVERIFY(menu);
        auto *header = menu->findChild<VintrelleMenuHeader *>();
        const auto [connected, green] = statusPixels(header);
        const QColor expected = VintrelleMenuHeader::statusColor(true, true);
        QVERIFY2(green > 10 && qAbs(connected.green() - expected.green()) <= 30 && qAbs(connected.red() - expected.red()) <= 30,
                 qPrintable(connected.name()));
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
    }

    // Floating windows hold their window manager states however they were configured and shown.
    void overlayWindowsAskTheWindowManagerToFloat_data()
    {
        addColumns<QString>({"scenario"});
        QTest::newRow("shown with other flags") << "shown";
        QTest::newRow("shown with the flags already: the manager is asked") << "flags";
        QTest::newRow("configured before showing, hidden and shown again") << "again";
    }
    void overlayWindowsAskTheWindowManagerToFloat()
    {
        QFETCH(QString, scenario);
        QWidget window(nullptr, scenario == "flags" ? Qt::Tool | Qt::WindowStaysOnTopHint : Qt::WindowFlags());
        window.resize(300, 200);
        // After the exposure the window manager still needs a moment to take the window on.
        const auto showAndSettle = [&] { window.show(); return QTest::qWaitForWindowExposed(&window) && (QTest::qWait(200), true); };
        if (scenario == "again")
            VintrelleConfigureOverlayWindow(&window);
        QVERIFY(showAndSettle());
        if (scenario == "again") {
            window.hide();
            QTest::qWait(300); // withdrawn: the window manager drops its states
            QVERIFY(showAndSettle());
        } else {
            VintrelleConfigureOverlayWindow(&window);
        }
        const QStringList wanted{"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER", "_NET_WM_DESKTOP(CARDINAL) = 4294967295"};
        QString properties;
        QVERIFY2(QTest::qWaitFor([&] {
                     properties = outputOf("xprop", {"-id", QString::number(window.windowHandle()->winId()), "_NET_WM_STATE", "_NET_WM_DESKTOP"});
                     return std::all_of(wanted.begin(), wanted.end(), [&](const QString &atom) { return properties.contains(atom); });
                 }, 3000), qPrintable(properties));
    }
};

QTEST_MAIN(TestQuickMenuX11)
#include "tst_quick_menu_x11.moc"
