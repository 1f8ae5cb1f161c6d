// The quick menu offscreen: rows built from the library, the presented menu, and the drag strip of floating windows.

#include "QuickMenuTestSupport.h"

#include "VintrelleCenteredAddRow.h"
#include "VintrelleQuickMenu.h"
#include "VintrelleTopDragView.h"

#include <QLabel>
#include <QPushButton>

using Kind = VintrelleQuickMenuRow::Kind;

struct ReleaseCounter : QObject
{
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override { count += event->type() == QEvent::MouseButtonRelease; return false; }
};

static QPoint centreOf(QMenu *menu, const QString &title) { return menu->actionGeometry(actionTitled(menu->actions(), title)).center(); }

// The rows a presented menu shows, each sub-menu opened and read too; `wasLazy` turns false when a
// sub-menu held rows before it was opened. A title whose "&" would make a mnemonic reads back marked.
static VintrelleQuickMenuRows menuRows(QMenu *menu, bool *wasLazy)
{
    VintrelleQuickMenuRows rows;
    for (QAction *action : menu->actions()) {
        VintrelleQuickMenuRow &row = rows.emplace_back();
        row.kind = VintrelleQuickMenuPresenter::rowKindOf(action).value_or(Kind::Separator);
        row.title = action->isSeparator() ? QString() : action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
        row.title.prepend(QKeySequence::mnemonic(action->text()).count() ? QStringLiteral("mnemonic! ") : QString());
        row.representedID = action->data().toString();
        row.enabled = action->isEnabled();
        if (QMenu *submenu = action->menu()) {
            row.submenuDepth = submenu->property("vintrelleDepth").toInt();
            *wasLazy = *wasLazy && submenu->actions().isEmpty();
            emit submenu->aboutToShow();
            row.children = menuRows(submenu, wasLazy);
        }
    }
    return rows;
}

class TestQuickMenu : public QObject
{
    Q_OBJECT

    VintrelleQuickMenuPresenter *m_presenter = nullptr;
    QStringList m_events;

    QMenu *openDemo() { return m_presenter->showAtPoint(demoCategories(), {10, 10}) ? m_presenter->menu() : nullptr; }

private slots:
    void init()
    {
        m_presenter = new VintrelleQuickMenuPresenter;
        m_events.clear();
        m_presenter->onRowCommand = [this](const QJsonObject &command, const QPoint &) { m_events << command["op"].toString(); };
        m_presenter->onAddCategory = [this] { m_events << (m_presenter->menu() ? "add while open" : "add after close"); };
        m_presenter->onClosed = [this] { m_events << "closed"; };
        m_presenter->onSettings = m_presenter->onEdit = [] {}; // rows without an action are disabled
    }

    void cleanup() { delete m_presenter; }

    // Depth 0 is the main level, else the sub-menu of category "a" at that depth. A row is "<kind> TITLE#id",
    // kinds in the order of Kind: Header, Category, Plugin, EmptyMarker (M), AddCategory, Separator, settings (T), Edit.
    void rows_data()
    {
        addColumns<QByteArray, int, QString>({"categories", "depth", "rows"});
        const QString end = ", S, T SETTINGS, E EDIT";
        const QByteArray deep(R"([{"id": "a", "name": "Deep", "entries": [{"id": "1", "label": "one"}]}, {"id": "b", "name": "Deeper", "parentId": "a"}])");
        QTest::newRow("empty library") << QByteArray("[]") << 0 << "H VINTRELLE, A +" + end;
        QTest::newRow("top level in library order, upper case of any script") << QByteArray(R"([{"id": "r", "name": "Straße & Échos"},
            {"id": "s", "name": "sub", "parentId": "r"}, {"id": "a", "name": "déjà", "parentId": null}, {"id": "e", "name": "Echo", "parentId": ""}])")
            << 0 << "H VINTRELLE, C STRASSE & ÉCHOS#r, C DÉJÀ#a, C ECHO#e" + end;
        QTest::newRow("malformed siblings left out") << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "x", "name": ["Reverb"]}, [], 1, null,
            {"id": "p", "name": "Parent number", "parentId": 4}, {"id": "", "name": "Empty id"}, {"id": 7, "name": "Number id"},
            {"id": "d", "name": "Delay", "entries": "not an array"}])") << 0 << "H VINTRELLE, C REVERB#r, C DELAY#d" + end;
        QTest::newRow("sub-categories first, then plug-ins in order, malformed entries left out") << QByteArray(R"([{"id": "a", "name": "Fx",
            "entries": [{"id": "e1", "label": "My Echo 2"}, {"id": "e2"}, {"id": 2, "label": "Num"}, "e3", {"id": "e4", "label": null}, {"id": "e5", "label": "Amp"}]},
            {"id": "b", "name": "Delays", "parentId": "a"}, {"id": "c", "name": "Other"}, {"id": "d", "name": "Verbs", "parentId": "a"}])")
            << 1 << "C DELAYS#b, C VERBS#d, P MY ECHO 2#e1, P AMP#e5";
        QTest::newRow("nothing inside: the disabled marker") << QByteArray(R"([{"id": "a", "name": "Empty", "entries": []}])") << 1 << "M EMPTY CATEGORY";
        QTest::newRow("at the depth limit only the marker") << deep << 64 << "M EMPTY CATEGORY";
        QTest::newRow("one level above the limit still lists") << deep << 63 << "C DEEPER#b, P ONE#1";
    }
    void rows()
    {
        QFETCH(QByteArray, categories); QFETCH(int, depth);
        const VintrelleQuickMenuLibrary library(QJsonDocument::fromJson(categories).array());
        QStringList described;
        for (const VintrelleQuickMenuRow &row : depth ? VintrelleQuickMenuSubmenu(library, "a", depth) : VintrelleQuickMenu(library)) {
            const QString id = row.representedID.isEmpty() ? QString() : '#' + row.representedID;
            described << QStringLiteral("%1 %2%3").arg(QLatin1Char("HCPMASTERD"[int(row.kind)])).arg(row.title, id).trimmed();
            QCOMPARE(row.enabled, row.kind != Kind::EmptyMarker);
            QVERIFY(row.children.isEmpty()); // nothing below the level asked for is built
            QCOMPARE(row.submenuDepth, row.kind == Kind::Category ? depth + 1 : 0);
        }
        QTEST(described.join(", "), "rows");
    }

    // Opening every sub-menu reads back the eagerly built model; none held rows before, no "&" made a mnemonic.
    void lazyMenuEqualsEagerModel_data()
    {
        addColumns<QJsonArray>({"categories"});
        QTest::newRow("demo library") << demoCategories();
        QTest::newRow("largest library, a chain past the depth limit") << limitsCategories();
    }
    void lazyMenuEqualsEagerModel()
    {
        QFETCH(QJsonArray, categories);
        QVERIFY(m_presenter->showAtPoint(categories, {50, 40}));
        bool lazy = true;
        QCOMPARE(menuRows(m_presenter->menu(), &lazy), VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(categories)));
        QVERIFY(lazy);
    }

    // A second opening changes nothing; a right-click takes only category and plug-in rows; close ends it all, once.
    void closeEndsEverything()
    {
        QMenu *menu = openDemo();
        QVERIFY(!m_presenter->showAtPoint(QJsonArray(), {300, 300}));
        QCOMPARE(m_presenter->menu(), menu);
        QCOMPARE(menu->pos(), QPoint(10, 10));
        QVERIFY(!m_presenter->handleContextAtPoint(menu->mapToGlobal(centreOf(menu, "SETTINGS"))));
        QVERIFY(m_presenter->handleContextAtPoint(menu->mapToGlobal(centreOf(menu, "SYNTHS"))));
        m_presenter->close();
        QTRY_VERIFY(!m_presenter->isOpen());
        QTest::qWait(20);
        QVERIFY(!m_presenter->rowMenu());
        QCOMPARE(m_events, QStringList{"closed"});
        QVERIFY(!m_presenter->handleContextAtPoint(QPoint(20, 20))); // closed: never handled
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {300, 300}));
    }

    // The add row of an empty library closes the menu before it asks for a category.
    void addRow()
    {
        QVERIFY(m_presenter->showAtPoint(QJsonArray(), {10, 10}));
        QTest::mouseClick(m_presenter->menu()->findChild<VintrelleCenteredAddRow *>()->button(), Qt::LeftButton);
        QTRY_COMPARE(m_events, (QStringList{"add after close", "closed"}));
        QVERIFY(!m_presenter->isOpen());
    }

    // The release of the right-click that opened the row menu is swallowed, until the next press or half a second.
    void swallowedReleaseExpires_data()
    {
        addColumns<int, bool>({"waitMilliseconds", "pressFirst"});
        QTest::newRow("prompt release swallowed") << 0 << false;
        QTest::newRow("late release passes") << 650 << false;
        QTest::newRow("a press in between ends it") << 0 << true;
    }
    void swallowedReleaseExpires()
    {
        QFETCH(int, waitMilliseconds); QFETCH(bool, pressFirst);
        QMenu *menu = openDemo();
        QTest::mousePress(menu, Qt::RightButton, {}, centreOf(menu, "SYNTHS"));
        QTRY_VERIFY(m_presenter->rowMenu());
        QMenu *rowMenu = m_presenter->rowMenu();
        ReleaseCounter releases;
        rowMenu->installEventFilter(&releases);
        QTest::qWait(waitMilliseconds);
        rowMenu->setActiveAction(actionTitled(rowMenu->actions(), "DELETE"));
        if (pressFirst)
            QTest::mousePress(rowMenu, Qt::RightButton, {}, centreOf(rowMenu, "DELETE"));
        QTest::mouseRelease(rowMenu, Qt::RightButton, {}, centreOf(rowMenu, "DELETE"));
        QCOMPARE(releases.count, int(waitMilliseconds > 0 || pressFirst));
        QCOMPARE(m_events.filter("deletePrompt").size(), int(pressFirst));
    }

    // The drag strip gives way to visible views a click must reach.
    void dragStripHitTest()
    {
        QWidget window;
        window.resize(700, 300);
        const auto place = [](QWidget *view, int x) { view->setGeometry(x, 10, 80, 30); return view; };
        place(new QPushButton("Done", &window), 0);
        place(new QPushButton("Nested", place(new QWidget(&window), 100)), 0)->move(0, 0);
        place(new QLabel("Title", &window), 200);
        static_cast<QLabel *>(place(new QLabel("Selectable", &window), 300))->setTextInteractionFlags(Qt::TextSelectableByMouse);
        place(new QPushButton("Hidden", &window), 400)->hide();
        VintrelleTopDragView *strip = VintrelleInstallTopDragging(&window, 56);
        window.show();
        QString drags; // button, nested button, label, selectable label, hidden button, below the strip
        for (const QPoint point : {QPoint(20, 20), {120, 20}, {220, 20}, {320, 20}, {420, 20}, {20, 80}})
            drags += strip->hitTest(point) == strip ? 'y' : 'n';
        QCOMPARE(drags, QString("nnynyn"));
    }
};

QTEST_MAIN(TestQuickMenu)
#include "tst_quick_menu.moc"
