// The quick menu offscreen: rows built from the library, the presented menu with its header, row
// menu and add row, and the drag strip of floating windows.

#include "QuickMenuTestSupport.h"

#include "VintrelleCenteredAddRow.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleQuickMenu.h"
#include "VintrelleQuickMenuOpening.h"
#include "VintrelleTopDragView.h"

#include <QAccessible>
#include <QGraphicsOpacityEffect>
#include <QLabel>
#include <QPushButton>

using Kind = VintrelleQuickMenuRow::Kind;

struct ReleaseCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override { count += event->type() == QEvent::MouseButtonRelease; return false; }
};

static QPoint centreOf(QMenu *menu, const QString &title) { return menu->actionGeometry(actionTitled(menu, title)).center(); }

class TestQuickMenu : public QObject
{
    Q_OBJECT

    VintrelleQuickMenuPresenter *m_presenter = nullptr;
    QStringList m_events;

    // The open demo menu, or the sub-menu `category` opened from it with the keyboard.
    QMenu *openDemo(const QString &category = {})
    {
        if (!m_presenter->showAtPoint(demoCategories(), {10, 10}) || category.isEmpty())
            return m_presenter->menu();
        QAction *action = actionTitled(m_presenter->menu(), category);
        m_presenter->menu()->setActiveAction(action);
        QTest::keyClick(m_presenter->menu(), Qt::Key_Right);
        return QTest::qWaitFor([&] { return action->menu()->isVisible(); }) ? action->menu() : nullptr;
    }

private slots:
    void init()
    {
        m_presenter = new VintrelleQuickMenuPresenter;
        m_events.clear();
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_events << command["op"].toString(); };
        m_presenter->onChoosePlugin = [this](const QString &id) { m_events << "plugin " + id; };
        m_presenter->onSettings = [this] { m_events << "settings"; };
        m_presenter->onEdit = [this] { m_events << "edit"; };
        m_presenter->onAddCategory = [this] { m_events << (m_presenter->menu() ? "add while open" : "add after close"); };
        m_presenter->onClosed = [this] { m_events << "closed"; };
    }

    void cleanup() { delete m_presenter; }

    // Depth 0 is the main level, else the sub-menu of category "a" at that depth. A row is "<kind> TITLE#id",
    // kinds in the order of Kind: Header, Category, Plugin, EmptyMarker (M), AddCategory, Separator, settings (T), Edit.
    void rows_data()
    {
        addColumns<QByteArray, int, QString>({"categories", "depth", "rows"});
        const QString end = ", S, T SETTINGS, E EDIT";
        const QByteArray deep(R"([{"id": "a", "name": "Deep", "entries": [{"id": "1", "label": "one"}]},
                                 {"id": "b", "name": "Deeper", "parentId": "a"}])");
        QTest::newRow("empty library") << QByteArray("[]") << 0 << "H VINTRELLE, A +" + end;
        QTest::newRow("top level in library order")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "s", "name": "sub", "parentId": "r"},
                             {"id": "a", "name": "Amps", "parentId": null}, {"id": "e", "name": "Echo", "parentId": ""}])")
            << 0 << "H VINTRELLE, C REVERB#r, C AMPS#a, C ECHO#e" + end;
        QTest::newRow("malformed siblings left out")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "x", "name": ["Reverb"]}, [], 1, null,
                             {"id": "p", "name": "Parent number", "parentId": 4}, {"id": "", "name": "Empty id"},
                             {"id": 7, "name": "Number id"}, {"id": "d", "name": "Delay", "entries": "not an array"}])")
            << 0 << "H VINTRELLE, C REVERB#r, C DELAY#d" + end;
        QTest::newRow("upper case of any script") << QByteArray(R"([{"id": "1", "name": "Straße & Échos"}, {"id": "2", "name": "déjà"}])")
                                                  << 0 << "H VINTRELLE, C STRASSE & ÉCHOS#1, C DÉJÀ#2" + end;
        QTest::newRow("sub-categories first, then plug-ins in order")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1", "label": "My Echo 2"}, {"id": "e2", "label": "Amp"}]},
                             {"id": "b", "name": "Delays", "parentId": "a"}, {"id": "c", "name": "Other"},
                             {"id": "d", "name": "Verbs", "parentId": "a"}])")
            << 1 << "C DELAYS#b, C VERBS#d, P MY ECHO 2#e1, P AMP#e2";
        QTest::newRow("nothing inside: the disabled marker") << QByteArray(R"([{"id": "a", "name": "Empty", "entries": []}])") << 1
                                                              << "M EMPTY CATEGORY";
        QTest::newRow("malformed entries left out")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1"}, {"id": 2, "label": "Num"}, "e3",
                             {"id": "e4", "label": null}, {"id": "e5", "label": "Kept"}]}])")
            << 1 << "P KEPT#e5";
        QTest::newRow("at the depth limit only the marker") << deep << 64 << "M EMPTY CATEGORY";
        QTest::newRow("one level above the limit still lists") << deep << 63 << "C DEEPER#b, P ONE#1";
    }
    void rows()
    {
        QFETCH(QByteArray, categories); QFETCH(int, depth); QFETCH(QString, rows);
        const VintrelleQuickMenuLibrary library(jsonArray(categories));
        QStringList described;
        for (const VintrelleQuickMenuRow &row : depth ? VintrelleQuickMenuSubmenu(library, "a", depth) : VintrelleQuickMenu(library)) {
            const QString id = row.representedID.isEmpty() ? QString() : '#' + row.representedID;
            described << QStringLiteral("%1 %2%3").arg(QLatin1Char("HCPMASTERD"[int(row.kind)])).arg(row.title, id).trimmed();
            QCOMPARE(row.enabled, row.kind != Kind::EmptyMarker);
            QVERIFY(row.children.isEmpty()); // nothing below the level asked for is built
            QCOMPARE(row.submenuDepth, row.kind == Kind::Category ? depth + 1 : 0);
        }
        QCOMPARE(described.join(", "), rows);
    }

    // A request while the library loads waits with its last point; the name prompt and an open menu win.
    void opening()
    {
        using D = VintrelleQuickMenuOpening::Decision;
        VintrelleQuickMenuOpening opening;
        QCOMPARE(opening.request({1, 1}, true, true, false), D::RaiseNamePrompt);
        QCOMPARE(opening.request({1, 1}, false, true, false), D::Ignore);
        QCOMPARE(opening.request({1, 1}, false, false, false), D::Defer);
        QCOMPARE(opening.request({5, 6}, false, false, false), D::Defer);
        QCOMPARE(opening.request({7, 7}, false, false, true), D::Open);
        QCOMPARE(opening.takePending(), std::optional<QPoint>(QPoint(5, 6)));
        QVERIFY(!opening.takePending()); // taken once
    }

    // Opening every sub-menu of the presented menu reads back exactly the eagerly built model,
    // no sub-menu holds a row before it is opened, and no "&" in a name turns into a mnemonic.
    void lazyMenuEqualsEagerModel_data()
    {
        addColumns<QJsonArray>({"categories"});
        QJsonArray chain;
        for (int i = 0; i < 66; ++i)
            chain.append(categoryObject(QString::number(i), QStringLiteral("Level & %1").arg(i), i ? QJsonValue(QString::number(i - 1)) : QJsonValue(),
                                        {entryObject(QStringLiteral("e%1").arg(i), QStringLiteral("Tool %1").arg(i), "u")}));
        QTest::newRow("demo library") << demoCategories();
        QTest::newRow("chain past the depth limit") << chain;
    }
    void lazyMenuEqualsEagerModel()
    {
        QFETCH(QJsonArray, categories);
        QVERIFY(m_presenter->showAtPoint(categories, {50, 40}));
        bool lazy = true;
        QCOMPARE(menuRows(m_presenter->menu(), &lazy), VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(categories)));
        QVERIFY(lazy);
    }

    // A second opening while open changes nothing; closing drops a pending row menu and reports once.
    void closeEndsEverything()
    {
        QMenu *menu = openDemo();
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {300, 300}));
        QCOMPARE(m_presenter->menu(), menu);
        QCOMPARE(menu->pos(), QPoint(10, 10));
        QVERIFY(m_presenter->handleContextAtPoint(menu->mapToGlobal(centreOf(menu, "SYNTHS"))));
        m_presenter->close();
        QTRY_VERIFY(!m_presenter->isOpen());
        QTest::qWait(20);
        QVERIFY(!m_presenter->rowMenu());
        QCOMPARE(m_events, QStringList{"closed"});
        QVERIFY(!m_presenter->handleContextAtPoint(QPoint(20, 20))); // closed: never handled
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {300, 300}));
    }

    // The header says whether Live is connected, and pulses only while it is not and on screen.
    void headerFollowsTheConnection()
    {
        m_presenter->setConnected(true);
        auto *header = openDemo()->findChild<VintrelleMenuHeader *>();
        QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(header);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Connected to Ableton."));
        QVERIFY(!header->isPulsing());
        m_presenter->setConnected(false);
        QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Vintrelle. Not connected to Ableton."));
        QVERIFY(header->isPulsing());
        m_presenter->menu()->hide();
        QVERIFY(!header->isPulsing());
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
            row->menuItem()->setEnabled(submenu == "+");
            if (submenu == "+")
                QTest::mouseClick(row->button(), Qt::LeftButton);
            else
                row->activate(); // a disabled item's button takes no clicks
        } else {
            QMenu *menu = openDemo(submenu);
            QVERIFY(menu);
            QTest::mouseClick(menu, Qt::LeftButton, {}, centreOf(menu, title));
        }
        QTRY_COMPARE(m_events, events);
        QVERIFY(!m_presenter->isOpen());
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
        QTest::mousePress(menu, Qt::RightButton, {}, centreOf(menu, "SYNTHS"));
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        ReleaseCounter releases;
        rowMenu->installEventFilter(&releases);
        const QPoint point = centreOf(rowMenu, "DELETE");
        QTest::qWait(waitMilliseconds);
        rowMenu->setActiveAction(actionTitled(rowMenu, "DELETE"));
        if (pressFirst)
            QTest::mousePress(rowMenu, Qt::RightButton, {}, point);
        QTest::mouseRelease(rowMenu, Qt::RightButton, {}, point);
        QCOMPARE(releases.count, delivered);
        // Only a release that follows a press on the row menu chooses its row.
        QCOMPARE(m_events.filter("deletePrompt").size(), pressFirst ? 1 : 0);
    }

    // The drag strip gives way to the views a click must reach.
    void dragStripHitTest_data()
    {
        addColumns<QString, bool>({"under", "drags"}); // what lies under the point (a button below the strip)
        QTest::newRow("button") << "button" << false;
        QTest::newRow("button inside a container") << "nested button" << false;
        QTest::newRow("plain label") << "label" << true;
        QTest::newRow("selectable label") << "selectable label" << false;
        QTest::newRow("hidden button") << "hidden button" << true;
        QTest::newRow("invisible button") << "transparent button" << true;
        QTest::newRow("below the strip") << "below" << false;
    }
    void dragStripHitTest()
    {
        QFETCH(QString, under); QFETCH(bool, drags);
        QWidget window;
        QWidget *parent = under == "nested button" ? new QWidget(&window) : &window;
        parent->resize(400, 100);
        QWidget *view = under.endsWith("label") ? static_cast<QWidget *>(new QLabel("Title", parent)) : new QPushButton("Done", parent);
        if (under == "selectable label")
            static_cast<QLabel *>(view)->setTextInteractionFlags(Qt::TextSelectableByMouse);
        view->setGeometry(10, 10, 80, 30);
        view->setVisible(under != "hidden button");
        auto *effect = new QGraphicsOpacityEffect(view);
        effect->setOpacity(under == "transparent button" ? 0 : 1);
        view->setGraphicsEffect(effect);
        VintrelleTopDragView *strip = VintrelleInstallTopDragging(&window, 56);
        window.show();
        window.resize(500, 300);
        QCOMPARE(strip->geometry(), QRect(0, 0, 500, 56)); // follows the window's width
        QCOMPARE(strip->hitTest(under == "below" ? QPoint(20, 80) : QPoint(20, 20)) == strip, drags);
    }
};

QTEST_MAIN(TestQuickMenu)
#include "tst_quick_menu.moc"
