#include "QuickMenuTestSupport.h"

#include "VintrelleCenteredAddRow.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleQuickMenu.h"
#include "VintrelleTopDragView.h"
#include "VintrelleWindowHelpers.h"

#include <QAccessible>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>

Q_DECLARE_METATYPE(QList<QPoint>)

namespace {

// Counts the paints a widget receives.
class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget *widget) { widget->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QAction *actionTitled(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

QPoint centreOf(QMenu *menu, QAction *action)
{
    return menu->actionGeometry(action).center();
}

} // namespace

class TestQuickMenuWidgets : public QObject
{
    Q_OBJECT

    VintrelleQuickMenuPresenter *m_presenter = nullptr;
    QList<QJsonObject> m_commands;
    QStringList m_events;

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
        m_presenter->onAddCategory = [this] {
            m_events << (m_presenter->menu() ? "add while open" : "add after close");
        };
        m_presenter->onClosed = [this] { m_events << "closed"; };
    }

    void cleanup()
    {
        delete m_presenter;
        m_presenter = nullptr;
    }

    // Opening every sub-menu of the presented menu reads back exactly the eagerly built model,
    // and no sub-menu holds a row before it is opened.
    void lazyMenuEqualsEagerModel_data()
    {
        QTest::addColumn<QJsonArray>("categories");
        QJsonArray chain;
        for (int i = 0; i < 66; ++i)
            chain.append(categoryObject(QString::number(i), QStringLiteral("Level & %1").arg(i),
                                        i ? QJsonValue(QString::number(i - 1)) : QJsonValue(),
                                        {entryObject(QStringLiteral("e%1").arg(i), QStringLiteral("Tool %1").arg(i), "u")}));
        QTest::newRow("demo library") << demoCategories();
        QTest::newRow("empty library") << QJsonArray();
        QTest::newRow("chain past the depth limit") << chain;
        QTest::newRow("malformed rows among good ones")
            << QJsonArray{categoryObject("a", "A"), QJsonValue(3),
                          QJsonObject{{"id", "b"}, {"name", 4}},
                          categoryObject("c", "C", "a", {entryObject("e", "E", "u"), QJsonValue("x"), QJsonObject{{"id", "f"}}})};
    }

    void lazyMenuEqualsEagerModel()
    {
        QFETCH(QJsonArray, categories);
        QVERIFY(m_presenter->showAtPoint(categories, {50, 40}));
        QMenu *menu = m_presenter->menu();
        QVERIFY(menu);
        bool lazy = true;
        const VintrelleQuickMenuRows presented = menuRows(menu, true, &lazy);
        QVERIFY(lazy);
        QCOMPARE(presented, VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(categories)));

        // Every level: the menu's title and font, and no shortcut of its own.
        QList<QMenu *> menus{menu};
        for (qsizetype i = 0; i < menus.size(); ++i)
            for (QAction *action : menus[i]->actions())
                if (action->menu())
                    menus << action->menu();
        for (QMenu *level : menus) {
            QCOMPARE(level->font().pixelSize(), 13);
            QCOMPARE(level->font().weight(), QFont::Medium);
            for (QAction *action : level->actions()) {
                QVERIFY(action->shortcut().isEmpty());
                QVERIFY(!action->isCheckable());
                QVERIFY2(!QKeySequence::mnemonic(action->text()).count(), qPrintable(action->text()));
            }
        }
        QCOMPARE(menu->title(), QStringLiteral("Vintrelle"));
        QVERIFY(menu->minimumWidth() >= VintrelleMenuHeader::preferredWidth());
    }

    void secondOpeningWhileOpenIsIgnored()
    {
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        QMenu *first = m_presenter->menu();
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {300, 300}));
        QCOMPARE(m_presenter->menu(), first);
        QCOMPARE(first->pos(), QPoint(10, 10));
        m_presenter->close();
        QTRY_VERIFY(!m_presenter->isOpen());
        QCOMPARE(m_events, QStringList{"closed"});
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {300, 300}));
    }

    void headerFollowsTheConnection()
    {
        m_presenter->setConnected(true);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        auto *header = m_presenter->menu()->findChild<VintrelleMenuHeader *>();
        QVERIFY(header);
        QVERIFY(header->connected());
        QVERIFY(!header->isPulsing());
        m_presenter->setConnected(false);
        QVERIFY(!header->connected());
        QVERIFY(header->isPulsing());
        QCOMPARE(header->accessibleName(), QStringLiteral("Vintrelle. Not connected to Ableton."));
    }

    // Not connected, the header redraws about every 0.15 s; connected, it stops redrawing.
    void headerPulsesOnlyWhileNotConnected()
    {
        VintrelleMenuHeader header;
        header.resize(200, 46);
        header.show();
        QVERIFY(QTest::qWaitForWindowExposed(&header));
        PaintCounter counter(&header);
        QTRY_VERIFY_WITH_TIMEOUT(counter.paints >= 4, 2000);
        header.setConnected(true);
        QTest::qWait(50);
        counter.paints = 0;
        QTest::qWait(600);
        QCOMPARE(counter.paints, 0);
        header.hide();
        header.setConnected(false);
        QVERIFY(!header.isPulsing()); // nothing to redraw while off screen
    }

    void statusOpacity_data()
    {
        QTest::addColumn<bool>("connected");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<double>("opacity");
        QTest::newRow("peak") << false << 0.0 << 1.0;
        QTest::newRow("half period: trough") << false << 0.9 << 0.3;
        QTest::newRow("quarter period") << false << 0.45 << 0.65;
        QTest::newRow("whole periods later") << false << 1.8 * 1000 + 0.9 << 0.3;
        QTest::newRow("connected at the trough's time") << true << 0.9 << 1.0;
    }

    void statusOpacity()
    {
        QFETCH(bool, connected);
        QFETCH(double, seconds);
        QFETCH(double, opacity);
        QVERIFY(qAbs(VintrelleMenuHeader::statusOpacity(connected, seconds) - opacity) < 1e-9);
    }

    void headerAccessibility()
    {
        VintrelleMenuHeader header;
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(&header);
        QVERIFY(accessible);
        QCOMPARE(accessible->role(), QAccessible::StaticText);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Not connected to Ableton."));
        QCOMPARE(accessible->text(QAccessible::Help), QStringLiteral("Drag the header to move Vintrelle."));
        header.setConnected(true);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Connected to Ableton."));
        QCOMPARE(header.objectName(), QStringLiteral("vintrelle-menu-brand"));
        QCOMPARE(header.cursor().shape(), Qt::PointingHandCursor);
    }

    // Pointer positions (offsets from the press) during one drag of the open menu's header.
    void headerDrag_data()
    {
        QTest::addColumn<QList<QPoint>>("offsets");
        QTest::addColumn<QPoint>("moved");
        QTest::addColumn<int>("reports");
        QTest::newRow("under the threshold") << QList<QPoint>{{2, 2}, {0, -2}, {1, 1}} << QPoint() << 0;
        QTest::newRow("exactly 3 pixels") << QList<QPoint>{{0, 3}} << QPoint(0, 3) << 1;
        QTest::newRow("small moves, then past the threshold") << QList<QPoint>{{1, 0}, {2, 2}, {10, -5}} << QPoint(10, -5) << 1;
        QTest::newRow("once dragging, small offsets move too") << QList<QPoint>{{5, 0}, {1, 0}, {0, 0}} << QPoint() << 3;
    }

    void headerDrag()
    {
        QFETCH(QList<QPoint>, offsets);
        QFETCH(QPoint, moved);
        QFETCH(int, reports);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {100, 120}));
        QList<QPoint> corners;
        m_presenter->onMoved = [&](const QPoint &topLeft) { corners << topLeft; };
        QMenu *menu = m_presenter->menu();
        auto *header = menu->findChild<VintrelleMenuHeader *>();
        QCOMPARE(header->ownerMenu(), menu);
        QCOMPARE(header->cursor().shape(), Qt::ArrowCursor);
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

    // The "+" row closes the menu before its action runs; a disabled row only closes it.
    void addRow_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("enabled") << true;
        QTest::newRow("disabled") << false;
    }

    void addRow()
    {
        QFETCH(bool, enabled);
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {10, 10}));
        QMenu *menu = m_presenter->menu();
        auto *row = menu->findChild<VintrelleCenteredAddRow *>();
        QVERIFY(row);
        QCOMPARE(row->button()->accessibleName(), QStringLiteral("Add category"));
        QCOMPARE(row->menuItem()->text(), QStringLiteral("+"));
        row->menuItem()->setEnabled(enabled);
        if (enabled)
            QTest::mouseClick(row->button(), Qt::LeftButton);
        else
            row->activate(); // a disabled item's button takes no clicks

        QVERIFY(!menu->isVisible());
        QTRY_VERIFY(!m_presenter->isOpen());
        QCOMPARE(m_events, (enabled ? QStringList{"add after close", "closed"} : QStringList{"closed"}));
        QCOMPARE(VintrelleCenteredAddRow().button()->accessibleName(), QStringLiteral("Add plug-in"));
    }

    void fixedRowsCallTheirActions_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("settings") << "SETTINGS" << QStringList{"settings", "closed"};
        QTest::newRow("edit") << "EDIT" << QStringList{"edit", "closed"};
        QTest::newRow("plug-in, on the next turn") << "ECHO" << QStringList{"closed", "plugin echo"};
    }

    void fixedRowsCallTheirActions()
    {
        QFETCH(QString, title);
        QFETCH(QStringList, events);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        QMenu *menu = m_presenter->menu();
        if (title == "ECHO") {
            QAction *space = actionTitled(menu, "REVERB && SPACE");
            QVERIFY(space);
            menu->setActiveAction(space);
            QTest::keyClick(menu, Qt::Key_Right);
            QTRY_VERIFY(space->menu()->isVisible());
            menu = space->menu();
        }
        QAction *action = actionTitled(menu, title);
        QVERIFY(action);
        QTest::mouseClick(menu, Qt::LeftButton, {}, centreOf(menu, action));
        QTRY_COMPARE(m_events, events);
    }

    // Right-clicking rows of the open menu: which rows open RENAME/DELETE, and for what.
    void rowRightClick_data()
    {
        QTest::addColumn<QString>("submenu"); // empty: the main level
        QTest::addColumn<QString>("title");
        QTest::addColumn<QJsonObject>("rename"); // empty: no row menu
        QTest::newRow("category") << "" << "MIXING"
                                  << QJsonObject{{"op", "renamePrompt"}, {"id", "mixing"}, {"name", "Mixing"}, {"returnToBrowse", true}};
        QTest::newRow("plug-in in a sub-menu") << "MIXING" << "GLUE COMPRESSOR"
                                               << QJsonObject{{"op", "renamePrompt"}, {"id", "glue"}, {"name", "Glue Compressor"}, {"returnToBrowse", true}};
        QTest::newRow("sub-category") << "MIXING" << "DIRT"
                                      << QJsonObject{{"op", "renamePrompt"}, {"id", "dirt"}, {"name", "Dirt"}, {"returnToBrowse", true}};
        QTest::newRow("settings") << "" << "SETTINGS" << QJsonObject();
        QTest::newRow("edit") << "" << "EDIT" << QJsonObject();
        QTest::newRow("empty marker") << "FOR LATER" << "EMPTY CATEGORY" << QJsonObject();
    }

    void rowRightClick()
    {
        QFETCH(QString, submenu);
        QFETCH(QString, title);
        QFETCH(QJsonObject, rename);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        QMenu *menu = m_presenter->menu();
        if (!submenu.isEmpty()) {
            QAction *category = actionTitled(menu, submenu);
            menu->setActiveAction(category);
            QTest::keyClick(menu, Qt::Key_Right);
            QTRY_VERIFY(category->menu()->isVisible());
            menu = category->menu();
        }
        QAction *row = actionTitled(menu, title);
        QVERIFY(row);
        const QPoint point = centreOf(menu, row);
        const QPoint globalPoint = menu->mapToGlobal(point);
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
        QTest::addColumn<int>("waitMilliseconds");
        QTest::addColumn<bool>("pressFirst");
        QTest::addColumn<int>("delivered");
        QTest::newRow("prompt release swallowed") << 0 << false << 0;
        QTest::newRow("late release passes") << 650 << false << 1;
        QTest::newRow("a press in between ends it") << 0 << true << 1;
    }

    void swallowedReleaseExpires()
    {
        QFETCH(int, waitMilliseconds);
        QFETCH(bool, pressFirst);
        QFETCH(int, delivered);
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        QMenu *menu = m_presenter->menu();
        QTest::mousePress(menu, Qt::RightButton, {}, centreOf(menu, actionTitled(menu, "SYNTHS")));
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        struct ReleaseCounter : QObject
        {
            int releases = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                releases += event->type() == QEvent::MouseButtonRelease;
                return false;
            }
        } counter;
        rowMenu->installEventFilter(&counter);
        QAction *deleteRow = rowMenu->actions().last();
        const QPoint point = centreOf(rowMenu, deleteRow);
        QTest::qWait(waitMilliseconds);
        rowMenu->setActiveAction(deleteRow);
        if (pressFirst)
            QTest::mousePress(rowMenu, Qt::RightButton, {}, point);
        QTest::mouseRelease(rowMenu, Qt::RightButton, {}, point);
        QCOMPARE(counter.releases, delivered);
        // Only a release that follows a press on the row menu chooses its row.
        QCOMPARE(m_commands.size(), pressFirst ? 1 : 0);
    }

    void closeCancelsAPendingRowMenu()
    {
        QVERIFY(m_presenter->showAtPoint(demoCategories(), {10, 10}));
        QMenu *menu = m_presenter->menu();
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
        QTest::addColumn<QString>("under"); // what lies under the point
        QTest::addColumn<bool>("drags");
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
        QFETCH(QString, under);
        QFETCH(bool, drags);
        QWidget window;
        window.resize(400, 300);
        QWidget *view = nullptr;
        if (under.endsWith("button")) {
            QWidget *parent = &window;
            if (under == "nested button") {
                parent = new QWidget(&window);
                parent->setGeometry(0, 0, 400, 100);
            }
            auto *button = new QPushButton("Done", parent);
            if (under == "transparent button") {
                auto *effect = new QGraphicsOpacityEffect(button);
                effect->setOpacity(0);
                button->setGraphicsEffect(effect);
            }
            button->setVisible(under != "hidden button");
            view = button;
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
        QCOMPARE(strip->objectName(), QStringLiteral("vintrelle-top-drag"));
        QCOMPARE(strip->geometry(), QRect(0, 0, 400, 56));
        window.show();
        window.resize(500, 300);
        QCOMPARE(strip->width(), 500);
        const QPoint point = under == "below" ? QPoint(20, 80) : QPoint(20, 20);
        QCOMPARE(strip->hitTest(point) == strip, drags);
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
        QCOMPARE(title->geometry(), QRect(80, 0, 240, 28));
        frameless.show();
        frameless.resize(100, 200);
        QCOMPARE(title->width(), 0);

        QWidget decorated;
        QVERIFY(!VintrelleCenterWindowTitle(&decorated)); // the window manager draws that title
    }
};

QTEST_MAIN(TestQuickMenuWidgets)
#include "tst_quick_menu_widgets.moc"
