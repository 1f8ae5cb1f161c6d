// The quick menu on a real X server with a window manager, driven by xdotool like a user.

#include "QuickMenuTestSupport.h"

#include "VintrelleMenuHeader.h"
#include "VintrelleWindowHelpers.h"

#include <QCursor>
#include <QScreen>

static bool movePointer(const QPoint &p) { return xdotool(QStringLiteral("mousemove %1 %2").arg(p.x()).arg(p.y())); }

static QPoint rowCentre(QMenu *menu, const QString &title)
{
    QAction *action = actionTitled(menu, title);
    return action ? menu->mapToGlobal(menu->actionGeometry(action).center()) : QPoint(-1, -1);
}

// Where the X server has the window, as xdotool reports it.
static QPoint serverPosition(QWidget *window)
{
    const QRegularExpressionMatch match = QRegularExpression(R"(Position: (-?\d+),(-?\d+))")
                                              .match(outputOf("xdotool", {"getwindowgeometry", QString::number(window->winId())}));
    return match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint(-9999, -9999);
}

// The brightest pixel of the header's status line on screen, and how many of its pixels are green.
static std::pair<QColor, int> statusPixels(VintrelleMenuHeader *header)
{
    const QPoint origin = header->mapToGlobal(QPoint(header->textInset(), 27));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, origin.x(), origin.y(), 110, 15).toImage();
    QColor brightest(Qt::black);
    int green = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor colour = shot.pixelColor(x, y);
            green += colour.green() > colour.red() + 40 && colour.green() > colour.blue() + 25;
            if (colour.lightness() > brightest.lightness())
                brightest = colour;
        }
    return {brightest, green};
}

class TestQuickMenuX11 : public QObject
{
    Q_OBJECT

    std::unique_ptr<VintrelleQuickMenuPresenter> m_presenter;
    QStringList m_chosen;
    QList<QJsonObject> m_rowCommands;
    QList<QPoint> m_moves, m_shown;

    QMenu *openMenu(const QPoint &at, bool connected = true)
    {
        movePointer(at);
        m_presenter->setConnected(connected);
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
        m_chosen.clear();
        m_rowCommands.clear();
        m_moves.clear();
        m_shown.clear();
        m_presenter = std::make_unique<VintrelleQuickMenuPresenter>();
        m_presenter->onChoosePlugin = [this](const QString &id) { m_chosen << id; };
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_rowCommands << command; };
        m_presenter->onMoved = [this](const QPoint &topLeft) { m_moves << topLeft; };
        m_presenter->onShown = [this](const QPoint &topLeft) { m_shown << topLeft; };
    }

    void cleanup()
    {
        xdotool("mouseup 1");
        m_presenter.reset();
        QTest::qWait(50);
    }

    // Open at the pointer, go into `submenu` (a click opens it), click `row` with `button`; a right
    // click on a category or plug-in opens RENAME/DELETE at the pointer, whose `rowChoice` is clicked.
    void clicks_data()
    {
        addColumns<QString, QString, int, QString, QJsonObject>({"submenu", "row", "button", "rowChoice", "command"});
        const auto prompt = [](const char *op, const char *id, const char *name) {
            return QJsonObject{{"op", op}, {"id", id}, {"name", name}, {"returnToBrowse", true}};
        };
        QTest::newRow("choosing a plug-in") << "REVERB && SPACE" << "TIDEPOOL" << 1 << "" << QJsonObject();
        QTest::newRow("right click on a plug-in, then DELETE")
            << "MIXING" << "GLUE COMPRESSOR" << 3 << "DELETE" << prompt("deletePrompt", "glue", "Glue Compressor");
        QTest::newRow("right click on a category, then RENAME") << "" << "MIXING" << 3 << "RENAME" << prompt("renamePrompt", "mixing", "Mixing");
        QTest::newRow("right click on SETTINGS: no row menu") << "" << "SETTINGS" << 3 << "" << QJsonObject();
        QTest::newRow("right click on the empty marker: no row menu") << "FOR LATER" << "EMPTY CATEGORY" << 3 << "" << QJsonObject();
    }

    void clicks()
    {
        QFETCH(QString, submenu); QFETCH(QString, row); QFETCH(int, button); QFETCH(QString, rowChoice); QFETCH(QJsonObject, command);
        QMenu *menu = openMenu({250, 120});
        QVERIFY(menu);
        QCOMPARE(serverPosition(menu), QPoint(250, 120));
        QTRY_COMPARE(m_shown, QList<QPoint>{QPoint(250, 120)});
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {10, 10})); // a second request while open changes nothing
        QCOMPARE(serverPosition(menu), QPoint(250, 120));
        if (!submenu.isEmpty()) {
            QVERIFY(clickRow(menu, submenu, 1));
            QTRY_VERIFY(actionTitled(menu, submenu)->menu()->isVisible());
            menu = actionTitled(menu, submenu)->menu();
            QTest::qWait(100);
        }
        const QPoint point = rowCentre(menu, row);
        QVERIFY(clickRow(menu, row, button));
        if (button == 1) {
            QTRY_COMPARE(m_chosen, QStringList{"tidepool"});
        } else {
            QTest::qWait(300); // the click's release has long arrived: it chose nothing
            QCOMPARE(bool(m_presenter->rowMenu()), !rowChoice.isEmpty());
            QVERIFY(m_rowCommands.isEmpty());
            if (rowChoice.isEmpty()) {
                QVERIFY(m_presenter->menu());
                return;
            }
            QVERIFY(QTest::qWaitForWindowExposed(m_presenter->rowMenu()));
            QCOMPARE(serverPosition(m_presenter->rowMenu()), point);
            QVERIFY(clickRow(m_presenter->rowMenu(), rowChoice, 1));
            QTRY_COMPARE(m_rowCommands, QList<QJsonObject>{command});
            QVERIFY(m_chosen.isEmpty());
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
        QCOMPARE(m_moves.first(), QPoint(300, 203));
        QCOMPARE(m_moves.last(), QPoint(360, 240));
        QCOMPARE(m_presenter->openMenuTopLeft(), std::optional<QPoint>(QPoint(360, 240))); // a drag does not close the menu
    }

    // Pixels on screen: green "CONNECTED" while connected; warm and pulsing while not.
    void headerStatusColourOnScreen()
    {
        QMenu *menu = openMenu({100, 100}, true);
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

    void overlayWindowsAskTheWindowManagerToFloat_data()
    {
        addColumns<QString>({"scenario"});
        QTest::newRow("configured before showing") << "before";
        QTest::newRow("shown with other flags") << "shown";
        QTest::newRow("shown with the flags already: the manager is asked") << "flags";
        QTest::newRow("hidden and shown again") << "again";
    }

    void overlayWindowsAskTheWindowManagerToFloat()
    {
        QFETCH(QString, scenario);
        QWidget window(nullptr, scenario == "flags" ? Qt::Tool | Qt::WindowStaysOnTopHint : Qt::WindowFlags());
        window.resize(300, 200);
        const auto showAndSettle = [&] {
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QTest::qWait(200); // managed by the window manager
        };
        if (scenario == "before" || scenario == "again")
            VintrelleConfigureOverlayWindow(&window);
        showAndSettle();
        if (scenario == "shown" || scenario == "flags")
            VintrelleConfigureOverlayWindow(&window);
        if (scenario == "again") {
            window.hide();
            QTest::qWait(300); // withdrawn: the window manager drops its states
            showAndSettle();
        }
        const QStringList wanted{"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER",
                                 "_NET_WM_DESKTOP(CARDINAL) = 4294967295"};
        QString properties;
        QVERIFY2(QTest::qWaitFor([&] {
                     properties = outputOf("xprop", {"-id", QString::number(window.windowHandle()->winId()), "_NET_WM_STATE", "_NET_WM_DESKTOP"});
                     return std::all_of(wanted.begin(), wanted.end(), [&](const QString &atom) { return properties.contains(atom); });
                 }, 3000),
                 qPrintable(properties));
    }
};

QTEST_MAIN(TestQuickMenuX11)
#include "tst_quick_menu_x11.moc"
