// The quick menu on a real X server with a window manager, driven by xdotool like a user.

#include "QuickMenuTestSupport.h"
#include "VintrelleBridgeSimulator.h"
#include "VintrelleTestSupport.h"

#include "VintrelleCommandRouter.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleNativeStore.h"
#include "VintrelleWindowHelpers.h"

#include <QApplication>
#include <QCursor>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QTest>

#include <memory>

namespace {

bool xdotool(const QStringList &arguments)
{
    return QProcess::execute("xdotool", arguments) == 0;
}

QString commandOutput(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Where the X server has the window, as xdotool reports it.
QPoint serverPosition(QWidget *window)
{
    const QString geometry = commandOutput("xdotool", {"getwindowgeometry", QString::number(window->winId())});
    const QRegularExpressionMatch match = QRegularExpression(R"(Position: (-?\d+),(-?\d+))").match(geometry);
    return match.hasMatch() ? QPoint(match.captured(1).toInt(), match.captured(2).toInt()) : QPoint(-9999, -9999);
}

void movePointer(const QPoint &point)
{
    QVERIFY(xdotool({"mousemove", QString::number(point.x()), QString::number(point.y())}));
}

QAction *actionTitled(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

QPoint rowCentre(QMenu *menu, const QString &title)
{
    QAction *action = actionTitled(menu, title);
    return action ? menu->mapToGlobal(menu->actionGeometry(action).center()) : QPoint(-1, -1);
}

// The brightest pixel of the header's status line on screen, and how many pixels there are green.
struct StatusPixels
{
    QColor brightest;
    int green = 0;
};

StatusPixels statusPixels(VintrelleMenuHeader *header)
{
    const QPoint origin = header->mapToGlobal(QPoint(header->textInset(), 27));
    const QImage shot = QGuiApplication::primaryScreen()->grabWindow(0, origin.x(), origin.y(), 110, 15).toImage();
    StatusPixels pixels;
    int best = -1;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QColor colour = shot.pixelColor(x, y);
            if (colour.green() > colour.red() + 40 && colour.green() > colour.blue() + 25)
                ++pixels.green;
            if (colour.lightness() > best) {
                best = colour.lightness();
                pixels.brightest = colour;
            }
        }
    return pixels;
}

} // namespace

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
    QList<QPoint> m_moves;
    QList<QPoint> m_shown;
    QList<std::optional<QString>> m_loadErrors;

    QMenu *openMenu(const QPoint &at, bool connected = true)
    {
        movePointer(at);
        m_presenter->setConnected(connected);
        if (!m_presenter->showAtPoint(m_store->state()->value("categories").toArray(), QCursor::pos()))
            return nullptr;
        QMenu *menu = m_presenter->menu();
        if (!QTest::qWaitForWindowExposed(menu))
            return nullptr;
        QTest::qWait(100);
        return menu;
    }

    // Clicking a category row opens its sub-menu at once.
    QMenu *openSubmenu(QMenu *menu, const QString &title)
    {
        QAction *category = actionTitled(menu, title);
        if (!category)
            return nullptr;
        movePointer(rowCentre(menu, title));
        xdotool({"click", "1"});
        if (!QTest::qWaitFor([&] { return category->menu()->isVisible(); }, 3000))
            return nullptr;
        QTest::qWait(100);
        return category->menu();
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
        QJsonObject state = stateWith(demoCategories());
        state["bridgeUrl"] = m_simulator->bridgeURL();
        state["token"] = m_simulator->token();
        VintrelleError error;
        QVERIFY2(m_store->commit(state, &error), qPrintable(error.value_or("")));

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
        // As the controller's launchQuickMenuItem does: the load command through the router.
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
        xdotool({"mouseup", "1"});
        m_presenter.reset();
        QTest::qWait(50);
    }

    void opensWithItsTopLeftAtThePointer()
    {
        QMenu *menu = openMenu({300, 200});
        QVERIFY(menu);
        QCOMPARE(serverPosition(menu), QPoint(300, 200));
        QTRY_COMPARE(m_shown, QList<QPoint>{QPoint(300, 200)});
        QCOMPARE(m_presenter->openMenuTopLeft(), std::optional<QPoint>(QPoint(300, 200)));
        // A second request while it is open changes nothing.
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {10, 10}));
        QCOMPARE(serverPosition(menu), QPoint(300, 200));
    }

    void choosingAPluginLoadsItThroughTheBridge()
    {
        QMenu *menu = openMenu({200, 150});
        QVERIFY(menu);
        QMenu *space = openSubmenu(menu, "REVERB && SPACE");
        QVERIFY(space);
        movePointer(rowCentre(space, "TIDEPOOL REVERB"));
        QTest::qWait(100);
        QVERIFY(xdotool({"click", "1"}));
        QTRY_COMPARE(m_chosen, QStringList{"tidepool"});
        QTRY_COMPARE_WITH_TIMEOUT(m_loadErrors.size(), 1, 15000);
        QCOMPARE(m_loadErrors.first(), std::nullopt);
        QCOMPARE(m_simulator->loadedURIs(), QStringList{"query:Plugins#VST3:Mireau%20Labs:Tidepool%20Reverb"});
        QTRY_VERIFY(!m_presenter->isOpen());
    }

    void rightClickOnAPluginOpensRenameAndDelete()
    {
        QMenu *menu = openMenu({250, 120});
        QVERIFY(menu);
        QMenu *mixing = openSubmenu(menu, "MIXING");
        QVERIFY(mixing);
        const QPoint row = rowCentre(mixing, "GLUE COMPRESSOR");
        movePointer(row);
        QTest::qWait(100);
        QVERIFY(xdotool({"click", "3"}));
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        QVERIFY(QTest::qWaitForWindowExposed(rowMenu));
        QCOMPARE(serverPosition(rowMenu), row);
        QCOMPARE(titlesOf(menuRows(rowMenu, false)), (QStringList{"RENAME", "DELETE"}));
        QTest::qWait(300); // the click's release has long arrived: it chose nothing
        QVERIFY(m_rowCommands.isEmpty());
        QVERIFY(m_chosen.isEmpty());
        QVERIFY(m_presenter->rowMenu());

        movePointer(rowCentre(rowMenu, "DELETE"));
        QTest::qWait(100);
        QVERIFY(xdotool({"click", "1"}));
        QTRY_COMPARE(m_rowCommands.size(), 1);
        QCOMPARE(m_rowCommands.first(),
                 (QJsonObject{{"op", "deletePrompt"}, {"id", "glue"}, {"name", "Glue Compressor"}, {"returnToBrowse", true}}));
        QTRY_VERIFY(!m_presenter->isOpen());
        QVERIFY(m_chosen.isEmpty());
    }

    void rightClickOnSettingsDoesNothingSpecial()
    {
        QMenu *menu = openMenu({250, 120});
        QVERIFY(menu);
        movePointer(rowCentre(menu, "SETTINGS"));
        QTest::qWait(100);
        QVERIFY(xdotool({"mousedown", "3"}));
        QTest::qWait(200);
        QVERIFY(!m_presenter->rowMenu());
        QVERIFY(m_presenter->menu());
        xdotool({"mouseup", "3"});
    }

    void draggingTheHeaderMovesTheMenu()
    {
        QMenu *menu = openMenu({300, 200});
        QVERIFY(menu);
        auto *header = menu->findChild<VintrelleMenuHeader *>();
        QVERIFY(header);
        const QPoint grip = header->mapToGlobal(QPoint(40, 20));
        movePointer(grip);
        QVERIFY(xdotool({"mousedown", "1"}));
        QTest::qWait(50);
        movePointer(grip + QPoint(2, 1)); // under 3 pixels: stays
        QTest::qWait(150);
        QCOMPARE(serverPosition(menu), QPoint(300, 200));
        QVERIFY(m_moves.isEmpty());
        movePointer(grip + QPoint(60, 40));
        QTRY_COMPARE(serverPosition(menu), QPoint(360, 240));
        QVERIFY(xdotool({"mouseup", "1"}));
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
        const StatusPixels connected = statusPixels(header);
        QVERIFY2(connected.green > 10, qPrintable(connected.brightest.name()));
        const QColor expected = VintrelleMenuHeader::statusColor(true, true);
        QVERIFY2(qAbs(connected.brightest.green() - expected.green()) <= 30 && qAbs(connected.brightest.red() - expected.red()) <= 30,
                 qPrintable(connected.brightest.name()));

        m_presenter->setConnected(false);
        int dimmest = 255, brightest = 0;
        for (int i = 0; i < 12; ++i) { // a little over one period of 1.8 s
            QTest::qWait(160);
            const StatusPixels pulsing = statusPixels(header);
            QCOMPARE(pulsing.green, 0);
            QVERIFY2(pulsing.brightest.red() > pulsing.brightest.blue(), qPrintable(pulsing.brightest.name()));
            dimmest = std::min(dimmest, pulsing.brightest.lightness());
            brightest = std::max(brightest, pulsing.brightest.lightness());
        }
        QVERIFY2(brightest - dimmest > 40, qPrintable(QStringLiteral("%1..%2").arg(dimmest).arg(brightest)));
    }

    void overlayWindowsAskTheWindowManagerToFloat_data()
    {
        QTest::addColumn<QString>("scenario");
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
        auto showAndSettle = [&] {
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
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString id = QString::number(window.windowHandle()->winId());
        QString properties;
        const QStringList wanted{"_NET_WM_STATE_ABOVE", "_NET_WM_STATE_SKIP_TASKBAR", "_NET_WM_STATE_SKIP_PAGER"};
        (void)QTest::qWaitFor(
            [&] {
                properties = commandOutput("xprop", {"-id", id, "_NET_WM_STATE", "_NET_WM_DESKTOP"});
                return std::all_of(wanted.begin(), wanted.end(), [&](const QString &atom) { return properties.contains(atom); });
            },
            3000);
        for (const QString &atom : wanted)
            QVERIFY2(properties.contains(atom), qPrintable(properties));
        QVERIFY2(properties.contains("_NET_WM_DESKTOP(CARDINAL) = 4294967295"), qPrintable(properties));
    }

    // With VINTRELLE_QUICK_MENU_SHOT set, saves the open menu with a category opened.
    void screenshot()
    {
        const QString path = qEnvironmentVariable("VINTRELLE_QUICK_MENU_SHOT");
        if (path.isEmpty())
            QSKIP("VINTRELLE_QUICK_MENU_SHOT is not set");
        QMenu *menu = openMenu({40, 40}, true);
        QVERIFY(menu);
        QMenu *mixing = openSubmenu(menu, "MIXING");
        QVERIFY(mixing);
        movePointer(rowCentre(mixing, "GLUE COMPRESSOR"));
        QTest::qWait(400);
        const QRect area = menu->geometry().united(mixing->geometry()).adjusted(-20, -20, 20, 20);
        const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height());
        QVERIFY(shot.save(path));
    }
};

QTEST_MAIN(TestQuickMenuX11)
#include "tst_quick_menu_x11.moc"
