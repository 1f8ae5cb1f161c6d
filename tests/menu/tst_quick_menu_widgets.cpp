#include "QuickMenuTestSupport.h"

#include "VintrelleCenteredAddRow.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleQuickMenu.h"
#include "VintrelleTopDragView.h"
#include "VintrelleWindowHelpers.h"

#include <QAccessible>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

Q_DECLARE_METATYPE(QList<QPoint>)

// Counts the events of one type a widget receives.
struct EventCounter : QObject
{
    EventCounter(QObject *target, QEvent::Type type) : type(type) { target->installEventFilter(this); }
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == type;
        return false;
    }
    QEvent::Type type;
    int count = 0;
};

static QPoint centreOf(QMenu *menu, QAction *action) { return menu->actionGeometry(action).center(); }

static QJsonObject editCommand(const char *op, const char *id, const char *name)
{
    return {{"op", op}, {"id", id}, {"name", name}, {"returnToBrowse", true}};
}

class TestQuickMenuWidgets : public QObject
{
    Q_OBJECT

    VintrelleQuickMenuPresenter *m_presenter = nullptr;
    QList<QJsonObject> m_commands;
    QStringList m_events;

    // The open demo menu, or the sub-menu `category` opened from it with the keyboard.
    QMenu *openDemo(const QString &category = {})
    {
        if (!m_presenter->showAtPoint(demoCategories(), {10, 10}))
            return nullptr;
        QMenu *menu = m_presenter->menu();
        if (category.isEmpty())
            return menu;
        QAction *action = actionTitled(menu, category);
        menu->setActiveAction(action);
        QTest::keyClick(menu, Qt::Key_Right);
        return QTest::qWaitFor([&] { return action->menu()->isVisible(); }) ? action->menu() : nullptr;
    }

private slots:
    void init()
    {
        m_presenter = new VintrelleQuickMenuPresenter;
        m_commands.clear();
        m_events.clear();
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_commands << command; };
        m_presenter->onChoosePlugin = [this](const QString &id) { m_events << "plugin " + id; };
        m_presenter->onSettings = [this] { m_events << "settings"; };
        m_presenter->onEdit = [this] { m_events << "edit"; };
        m_presenter->onAddCategory = [this] { m_events << (m_presenter->menu() ? "add while open" : "add after close"); };
        m_presenter->onClosed = [this] { m_events << "closed"; };
    }

    void cleanup() { delete m_presenter; }

    // Opening every sub-menu of the presented menu reads back exactly the eagerly built model,
    // no sub-menu holds a row before it is opened, and no name turns into a shortcut.
    void lazyMenuEqualsEagerModel_data()
    {
        addColumns<QJsonArray>({"categories"});
        QJsonArray chain;
        for (int i = 0; i < 66; ++i)
            chain.append(categoryObject(QString::number(i), QStringLiteral("Level & %1").arg(i), i ? QJsonValue(QString::number(i - 1)) : QJsonValue(),
                                        {entryObject(QStringLiteral("e%1").arg(i), QStringLiteral("Tool %1").arg(i), "u")}));
        QTest::newRow("demo library") << demoCategories();
        QTest::newRow("empty library") << QJsonArray();
        QTest::newRow("chain past the depth limit") << chain;
        QTest::newRow("malformed rows among good ones")
            << QJsonArray{categoryObject("a", "A"), QJsonValue(3), QJsonObject{{"id", "b"}, {"name", 4}},
                          categoryObject("c", "C", "a", {entryObject("e", "E", "u"), QJsonValue("x"), QJsonObject{{"id", "f"}}})};
    }

    void lazyMenuEqualsEagerModel()
    {
        QFETCH(QJsonArray, categories);
        QVERIFY(m_presenter->showAtPoint(categories, {50, 40}));
        QMenu *menu = m_presenter->menu();
        bool lazy = true;
        QCOMPARE(menuRows(menu, true, &lazy), VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(categories)));
        QVERIFY(lazy);
        QList<QMenu *> menus{menu};
        for (qsizetype i = 0; i < menus.size(); ++i)
            for (QAction *action : menus[i]->actions()) {
                if (action->menu())
                    menus << action->menu();
                QVERIFY(action->shortcut().isEmpty() && !action->isCheckable());
                QVERIFY2(!QKeySequence::mnemonic(action->text()).count(), qPrintable(action->text()));
            }
        QCOMPARE(menu->title(), QStringLiteral("Vintrelle"));
        QVERIFY(menu->minimumWidth() >= VintrelleMenuHeader::preferredWidth());
    }

    void secondOpeningWhileOpenIsIgnored()
    {
        QMenu *first = openDemo();
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {300, 300}));
        QCOMPARE(m_presenter->menu(), first);
        QCOMPARE(first->pos(), QPoint(10, 10));
        m_presenter->close();
        QTRY_VERIFY(!m_presenter->isOpen());
        QCOMPARE(m_events, QStringList{"closed"});
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {300, 300}));
    }

    // The header says whether Live is connected, and redraws (pulses) only while it is not and on screen.
    void headerFollowsTheConnection()
    {
        m_presenter->setConnected(true);
        auto *header = openDemo()->findChild<VintrelleMenuHeader *>();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(header);
        QCOMPARE(accessible->role(), QAccessible::StaticText);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Connected to Ableton."));
        QCOMPARE(accessible->text(QAccessible::Help), QStringLiteral("Drag the header to move Vintrelle."));
        QVERIFY(!header->isPulsing());
        m_presenter->setConnected(false);
        QVERIFY(!header->connected());
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Not connected to Ableton."));

        VintrelleMenuHeader alone;
        alone.resize(200, 46);
        alone.show();
        QVERIFY(QTest::qWaitForWindowExposed(&alone));
        EventCounter paints(&alone, QEvent::Paint);
        QTRY_VERIFY_WITH_TIMEOUT(paints.count >= 4, 2000);
        alone.setConnected(true);
        QTest::qWait(50);
        paints.count = 0;
        QTest::qWait(600);
        QCOMPARE(paints.count, 0);
        alone.hide();
        alone.setConnected(false);
        QVERIFY(!alone.isPulsing());
    }

    // Pointer positions (offsets from the press) during one drag of the open menu's header.
    void headerDrag_data()
    {
        addColumns<QList<QPoint>, QPoint, int>({"offsets", "moved", "reports"});
        QTest::newRow("under the threshold") << QList<QPoint>{{2, 2}, {0, -2}, {1, 1}} << QPoint() << 0;
        QTest::newRow("exactly 3 pixels") << QList<QPoint>{{0, 3}} << QPoint(0, 3) << 1;
        QTest::newRow("small moves, then past the threshold") << QList<QPoint>{{1, 0}, {2, 2}, {10, -5}} << QPoint(10, -5) << 1;
        QTest::newRow("once dragging, small offsets move too") << QList<QPoint>{{5, 0}, {1, 0}, {0, 0}} << QPoint() << 3;
    }

    void headerDrag()
    {
        QFETCH(QList<QPoint>, offsets); QFETCH(QPoint, moved); QFETCH(int, reports);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {100, 120}));
        QList<QPoint> corners;
        m_presenter->onMoved = [&](const QPoint &topLeft) { corners << topLeft; };
        QMenu *menu = m_presenter->menu();
        auto *header = menu->findChild<VintrelleMenuHeader *>();
        QCOMPARE(header->ownerMenu(), menu);
        const QPoint start = header->mapToGlobal(QPoint(20, 20));
        header->beginHeaderDragAtPoint(start);
        for (const QPoint &offset : offsets)
            header->moveHeaderDragToPoint(start + offset);
        QCOMPARE(header->isDragging(), reports > 0);
        QCOMPARE(QGuiApplication::overrideCursor() ? QGuiApplication::overrideCursor()->shape() : Qt::ArrowCursor,
                 reports > 0 ? Qt::ClosedHandCursor : Qt::ArrowCursor);
        header->endHeaderDrag();
        QVERIFY(!QGuiApplication::overrideCursor());
        header->moveHeaderDragToPoint(start + QPoint(40, 40)); // after the release: nothing
        QCOMPARE(menu->pos(), QPoint(100, 120) + moved);
        QCOMPARE(corners.size(), reports);
        if (reports)
            QCOMPARE(corners.last(), menu->pos());
    }

    // Each row closes the menu; its action runs after the close ("+" when enabled, a plug-in on the next turn).
    void rowsCallTheirActions_data()
    {
        addColumns<QString, QString, QStringList>({"submenu", "title", "events"});
        QTest::newRow("settings") << "" << "SETTINGS" << QStringList{"settings", "closed"};
        QTest::newRow("edit") << "" << "EDIT" << QStringList{"edit", "closed"};
        QTest::newRow("plug-in") << "REVERB && SPACE" << "ECHO" << QStringList{"closed", "plugin echo"};
        QTest::newRow("add") << "+" << "" << QStringList{"add after close", "closed"};
        QTest::newRow("disabled add only closes") << "-" << "" << QStringList{"closed"};
    }

    void rowsCallTheirActions()
    {
        QFETCH(QString, submenu); QFETCH(QString, title); QFETCH(QStringList, events);
        if (submenu == "+" || submenu == "-") {
            QVERIFY(m_presenter->showAtPoint(QJsonArray(), {10, 10}));
            auto *row = m_presenter->menu()->findChild<VintrelleCenteredAddRow *>();
            QCOMPARE(row->button()->accessibleName(), QStringLiteral("Add category"));
            row->menuItem()->setEnabled(submenu == "+");
            if (submenu == "+")
                QTest::mouseClick(row->button(), Qt::LeftButton);
            else
                row->activate(); // a disabled item's button takes no clicks
            QVERIFY(!m_presenter->menu() || !m_presenter->menu()->isVisible());
        } else {
            QMenu *menu = openDemo(submenu);
            QVERIFY(menu);
            QTest::mouseClick(menu, Qt::LeftButton, {}, centreOf(menu, actionTitled(menu, title)));
        }
        QTRY_COMPARE(m_events, events);
        QVERIFY(!m_presenter->isOpen());
        QCOMPARE(VintrelleCenteredAddRow().button()->accessibleName(), QStringLiteral("Add plug-in"));
    }

    // Right-clicking rows of the open menu: which rows open RENAME/DELETE, and for what.
    void rowRightClick_data()
    {
        addColumns<QString, QString, QJsonObject>({"submenu", "title", "rename"}); // submenu empty: the main level; rename empty: no row menu
        QTest::newRow("category") << "" << "MIXING" << editCommand("renamePrompt", "mixing", "Mixing");
        QTest::newRow("plug-in in a sub-menu") << "MIXING" << "GLUE COMPRESSOR" << editCommand("renamePrompt", "glue", "Glue Compressor");
        QTest::newRow("sub-category") << "MIXING" << "DIRT" << editCommand("renamePrompt", "dirt", "Dirt");
        QTest::newRow("settings") << "" << "SETTINGS" << QJsonObject();
        QTest::newRow("edit") << "" << "EDIT" << QJsonObject();
        QTest::newRow("empty marker") << "FOR LATER" << "EMPTY CATEGORY" << QJsonObject();
    }

    void rowRightClick()
    {
        QFETCH(QString, submenu); QFETCH(QString, title); QFETCH(QJsonObject, rename);
        QMenu *menu = openDemo(submenu);
        QVERIFY(menu);
        const QPoint point = centreOf(menu, actionTitled(menu, title));
        const QPoint globalPoint = menu->mapToGlobal(point); // the menu goes when the row menu opens
        QTest::mousePress(menu, Qt::RightButton, {}, point);
        if (rename.isEmpty()) {
            QTest::qWait(20);
            QVERIFY(!m_presenter->rowMenu());
            QVERIFY(m_presenter->menu());
            return;
        }
        QVERIFY(!m_presenter->menu());
        QVERIFY(m_presenter->isOpen());
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        QCOMPARE(rowMenu->pos(), globalPoint);
        QCOMPARE(titlesOf(menuRows(rowMenu, false)), (QStringList{"RENAME", "DELETE"}));

        // The release that ends the right-click lands on RENAME and triggers nothing.
        QAction *renameRow = rowMenu->actions().first();
        rowMenu->setActiveAction(renameRow);
        QTest::mouseRelease(rowMenu, Qt::RightButton, {}, centreOf(rowMenu, renameRow));
        QTest::qWait(20);
        QVERIFY(m_commands.isEmpty());
        QVERIFY(m_presenter->rowMenu());
        QTest::mouseClick(rowMenu, Qt::LeftButton, {}, centreOf(rowMenu, renameRow));
        QCOMPARE(m_commands, QList<QJsonObject>{rename});
        QTRY_VERIFY(!m_presenter->isOpen());
        QVERIFY(m_events.endsWith("closed"));
    }

    // The wish to swallow the release ends at the next press or after half a second.
    void swallowedReleaseExpires_data()
    {
        addColumns<int, bool, int>({"waitMilliseconds", "pressFirst", "delivered"});
        QTest::newRow("prompt release swallowed") << 0 << false << 0;
        QTest::newRow("late release passes") << 650 << false << 1;
        QTest::newRow("a press in between ends it") << 0 << true << 1;
    }

    void swallowedReleaseExpires()
    {
        QFETCH(int, waitMilliseconds); QFETCH(bool, pressFirst); QFETCH(int, delivered);
        QMenu *menu = openDemo();
        QTest::mousePress(menu, Qt::RightButton, {}, centreOf(menu, actionTitled(menu, "SYNTHS")));
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        EventCounter releases(rowMenu, QEvent::MouseButtonRelease);
        QAction *deleteRow = rowMenu->actions().last();
        const QPoint point = centreOf(rowMenu, deleteRow);
        QTest::qWait(waitMilliseconds);
        rowMenu->setActiveAction(deleteRow);
        if (pressFirst)
            QTest::mousePress(rowMenu, Qt::RightButton, {}, point);
        QTest::mouseRelease(rowMenu, Qt::RightButton, {}, point);
        QCOMPARE(releases.count, delivered);
        // Only a release that follows a press on the row menu chooses its row.
        QCOMPARE(m_commands.size(), pressFirst ? 1 : 0);
    }

    void closeCancelsAPendingRowMenu()
    {
        QMenu *menu = openDemo();
        QVERIFY(m_presenter->handleContextAtPoint(menu->mapToGlobal(centreOf(menu, actionTitled(menu, "SYNTHS")))));
        m_presenter->close();
        QTRY_VERIFY(!m_presenter->isOpen());
        QTest::qWait(20);
        QVERIFY(!m_presenter->rowMenu());
        QCOMPARE(m_events, QStringList{"closed"});
        QVERIFY(!m_presenter->handleContextAtPoint(QPoint(20, 20))); // closed: never handled
    }

    // The drag strip gives way to the views a click must reach.
    void dragStripHitTest_data()
    {
        addColumns<QString, bool>({"under", "drags"}); // what lies under the point
        QTest::newRow("bare strip") << "nothing" << true;
        QTest::newRow("button") << "button" << false;
        QTest::newRow("button inside a container") << "nested button" << false;
        QTest::newRow("plain label") << "label" << true;
        QTest::newRow("selectable label") << "selectable label" << false;
        QTest::newRow("line edit") << "line edit" << false;
        QTest::newRow("hidden button") << "hidden button" << true;
        QTest::newRow("invisible button") << "transparent button" << true;
        QTest::newRow("below the strip") << "below" << false;
    }

    void dragStripHitTest()
    {
        QFETCH(QString, under); QFETCH(bool, drags);
        QWidget window;
        window.resize(400, 300);
        QWidget *view = nullptr;
        if (under.endsWith("button")) {
            QWidget *parent = under == "nested button" ? new QWidget(&window) : &window;
            parent->setGeometry(0, 0, 400, 100);
            view = new QPushButton("Done", parent);
            if (under == "transparent button") {
                auto *effect = new QGraphicsOpacityEffect(view);
                effect->setOpacity(0);
                view->setGraphicsEffect(effect);
            }
            view->setVisible(under != "hidden button");
        } else if (under.endsWith("label")) {
            auto *label = new QLabel("Title", &window);
            if (under == "selectable label")
                label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            view = label;
        } else if (under == "line edit") {
            view = new QLineEdit(&window);
        }
        if (view)
            view->setGeometry(10, 10, 80, 30);
        VintrelleTopDragView *strip = VintrelleInstallTopDragging(&window, 56);
        window.show();
        window.resize(500, 300);
        QCOMPARE(strip->geometry(), QRect(0, 0, 500, 56)); // follows the window's width
        QCOMPARE(strip->hitTest(under == "below" ? QPoint(20, 80) : QPoint(20, 20)) == strip, drags);
        QVERIFY(window.windowFlags() & Qt::Tool);
        QVERIFY(window.windowFlags() & Qt::WindowStaysOnTopHint);
    }

    void centredTitleIsAddedOnce()
    {
        QWidget frameless(nullptr, Qt::FramelessWindowHint);
        frameless.setWindowTitle("Library");
        frameless.resize(400, 200);
        QWidget *title = VintrelleCenterWindowTitle(&frameless);
        QVERIFY(title);
        QCOMPARE(VintrelleCenterWindowTitle(&frameless), title);
        QCOMPARE(frameless.findChildren<QWidget *>("vintrelle-centered-window-title").size(), 1);
        frameless.show();
        frameless.resize(100, 200);
        QCOMPARE(title->width(), 0); // never negative in a narrow window
        QWidget decorated;
        QVERIFY(!VintrelleCenterWindowTitle(&decorated)); // the window manager draws that title
    }
};

QTEST_MAIN(TestQuickMenuWidgets)
#include "tst_quick_menu_widgets.moc"
