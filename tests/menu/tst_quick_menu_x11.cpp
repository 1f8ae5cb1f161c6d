// The quick menu on a real X server with a window manager, driven by xdotool like a user.

#include "QuickMenuTestSupport.h"
#include "VintrelleBridgeSimulator.h"

#include "VintrelleCommandRouter.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrelleWindowHelpers.h"

#include <QCursor>
#include <QScreen>

#include <memory>

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

    VintrelleTestHome m_home;
    std::unique_ptr<VintrelleBridgeSimulator> m_simulator;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleNativeConnection> m_connection;
    std::unique_ptr<VintrelleCommandRouter> m_router;
    std::unique_ptr<VintrelleQuickMenuPresenter> m_presenter;
    QStringList m_chosen;
    QList<QJsonObject> m_rowCommands;
    QList<QPoint> m_moves, m_shown;
    QList<std::optional<QString>> m_loadErrors;

    QMenu *openMenu(const QPoint &at, bool connected = true)
    {
        movePointer(at);
        m_presenter->setConnected(connected);
        if (!m_presenter->showAtPoint(m_store->state()->value("categories").toArray(), QCursor::pos())
            || !QTest::qWaitForWindowExposed(m_presenter->menu()))
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
    void initTestCase()
    {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_home.apply();
        QVERIFY(QDir().mkpath(m_home.path("simulator")));
        m_simulator = std::make_unique<VintrelleBridgeSimulator>(m_home.path("simulator"));
        QVERIFY2(m_simulator->ready(), "the bridge simulator did not start");
        qputenv("VINTRELLE_BRIDGE_CONFIG", m_simulator->configPath().toUtf8());
        m_store = std::make_unique<VintrelleNativeStore>(m_home.libraryPath());
        QVERIFY(m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        VintrelleError error;
        QJsonObject state = with(stateWith(demoCategories()), "bridgeUrl", m_simulator->bridgeURL());
        QVERIFY2(m_store->commit(with(state, "token", m_simulator->token()), &error), qPrintable(error.value_or("")));
        m_connection = std::make_unique<VintrelleNativeConnection>();
        m_connection->setBridgeURL(m_simulator->bridgeURL());
        m_connection->setToken(m_simulator->token());
        m_router = std::make_unique<VintrelleCommandRouter>(m_connection.get());
        m_router->setStore(m_store.get());
    }

    void init()
    {
        m_chosen.clear();
        m_rowCommands.clear();
        m_moves.clear();
        m_shown.clear();
        m_loadErrors.clear();
        m_presenter = std::make_unique<VintrelleQuickMenuPresenter>();
        // As the application does: the load command through the router.
        m_presenter->onChoosePlugin = [this](const QString &id) {
            m_chosen << id;
            m_router->executeNativeCommand({{"op", "load"}, {"id", id}},
                                           [this](std::optional<QJsonObject>, std::optional<QString> error) { m_loadErrors << error; });
        };
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
    // click must open RENAME/DELETE at the pointer, whose `rowChoice` is then clicked.
    void clicks_data()
    {
        addColumns<QString, QString, int, QString, QString, QJsonObject>({"submenu", "row", "button", "rowChoice", "loaded", "command"});
        // rowChoice empty: no row menu may open; loaded: the uri Live must load
        QTest::newRow("choosing a plug-in loads it through the bridge")
            << "REVERB && SPACE" << "TIDEPOOL REVERB" << 1 << "" << "query:Plugins#VST3:Mireau%20Labs:Tidepool%20Reverb" << QJsonObject();
        QTest::newRow("right click on a plug-in, then DELETE")
            << "MIXING" << "GLUE COMPRESSOR" << 3 << "DELETE" << ""
            << QJsonObject{{"op", "deletePrompt"}, {"id", "glue"}, {"name", "Glue Compressor"}, {"returnToBrowse", true}};
        QTest::newRow("right click on a category, then RENAME")
            << "" << "MIXING" << 3 << "RENAME" << ""
            << QJsonObject{{"op", "renamePrompt"}, {"id", "mixing"}, {"name", "Mixing"}, {"returnToBrowse", true}};
        QTest::newRow("right click on SETTINGS does nothing special") << "" << "SETTINGS" << 3 << "" << "" << QJsonObject();
    }

    void clicks()
    {
        QFETCH(QString, submenu); QFETCH(QString, row); QFETCH(int, button); QFETCH(QString, rowChoice); QFETCH(QString, loaded);
        QFETCH(QJsonObject, command);
        const qsizetype loadsBefore = m_simulator->loadedURIs().size();
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
        if (button == 3) {
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
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(m_loadErrors.size(), 1, 15000);
            QCOMPARE(m_loadErrors.first(), std::nullopt);
        }
        QTRY_VERIFY(!m_presenter->isOpen());
        QCOMPARE(m_simulator->loadedURIs().mid(loadsBefore), loaded.isEmpty() ? QStringList() : QStringList{loaded});
    }

    void draggingTheHeaderMovesTheMenu()
    {
        QMenu *menu = openMenu({300, 200});
        QVERIFY(menu);
        const QPoint grip = menu->findChild<VintrelleMenuHeader *>()->mapToGlobal(QPoint(40, 20));
        movePointer(grip);
        QVERIFY(xdotool("mousedown 1"));
        QTest::qWait(50);
        movePointer(grip + QPoint(2, 1)); // under 3 pixels: stays
        QTest::qWait(150);
        QCOMPARE(serverPosition(menu), QPoint(300, 200));
        QVERIFY(m_moves.isEmpty());
        movePointer(grip + QPoint(60, 40));
        QTRY_COMPARE(serverPosition(menu), QPoint(360, 240));
        QVERIFY(xdotool("mouseup 1"));
        QTRY_VERIFY(!m_moves.isEmpty());
        QCOMPARE(m_moves.last(), QPoint(360, 240));
        QVERIFY(m_presenter->menu()); // a drag does not close the menu
        QCOMPARE(m_presenter->openMenuTopLeft(), std::optional<QPoint>(QPoint(360, 240)));
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
        (void)QTest::qWaitFor([&] {
            properties = outputOf("xprop", {"-id", QString::number(window.windowHandle()->winId()), "_NET_WM_STATE", "_NET_WM_DESKTOP"});
            return std::all_of(wanted.begin(), wanted.end(), [&](const QString &atom) { return properties.contains(atom); });
        }, 3000);
        for (const QString &atom : wanted)
            QVERIFY2(properties.contains(atom), qPrintable(properties));
    }
};

QTEST_MAIN(TestQuickMenuX11)
#include "tst_quick_menu_x11.moc"
