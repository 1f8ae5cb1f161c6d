#include "EditorHarness.h"
#include "VintrelleSearchModel.h"

namespace {

// The rows the list shows with `expanded` open, top to bottom.
QStringList visibleRows(const VintrelleEditModel &model, const QSet<QString> &expanded, const QString &parent = {})
{
    QStringList rows;
    for (const QString &id : model.childrenOf(parent))
        rows << id << (expanded.contains(id) ? visibleRows(model, expanded, id) : QStringList());
    return rows;
}

std::optional<QString> optionalId(const QString &id) { return id.isEmpty() ? std::nullopt : std::optional(id); }

} // namespace

// The windows' rules on plain data: the editor's tree, actions and drops; the search's destinations and replies.
class TestWindowModels : public QObject
{
    Q_OBJECT

    static constexpr double rowHeight = 24;
    const QJsonArray cycle{categoryObject("A", "A", "B"), categoryObject("B", "B", "A"), categoryObject("T", "Top")};

private slots:
    void treeBuilding_data()
    {
        addColumns<QJsonArray, QString, int>({"categories", "outline", "nodes"});
        QTest::newRow("sub-categories before plug-ins, library order") << sampleCategories() << sampleOutline << 14;
        QTest::newRow("a parent cycle is unreachable and never walked") << cycle << "T" << 1;
        QTest::newRow("a repeated id is shown once") << library("A[x] B[x]") << "A[x] B" << 3;
        QTest::newRow("a dangling parent hides the category") << QJsonArray{categoryObject("A", "A"), categoryObject("B", "B", "nowhere")} << "A" << 1;
    }
    void treeBuilding()
    {
        QFETCH(QJsonArray, categories);
        const VintrelleEditModel model(categories);
        QTEST(outlineText(model), "outline");
        QTEST(model.nodeCount(), "nodes");
    }

    // What is enabled for a selection, and which rows "up" and "down" move among.
    void actions_data()
    {
        addColumns<QJsonArray, QString, QString, QString, QString>({"categories", "selected", "enabled", "siblings", "category"});
        const QJsonArray sample = sampleCategories();
        QTest::newRow("nothing selected") << sample << "" << "" << "" << "";
        QTest::newRow("first of three top-level categories") << sample << "I" << "sub plugin down rename remove" << "I E M" << "I";
        QTest::newRow("only child") << sample << "R" << "sub plugin rename remove" << "R" << "R";
        QTest::newRow("middle plug-in") << sample << "i2" << "sub plugin up down rename remove move" << "i1 i2 i3" << "I";
        QTest::newRow("a plug-in's category is its owner") << sample << "r1" << "sub plugin rename remove move" << "r1" << "R";
        QTest::newRow("below the depth limit nothing is selectable") << chainCategories(70) << "L64" << "" << "" << "";
    }
    void actions()
    {
        QFETCH(QJsonArray, categories); QFETCH(QString, selected);
        const VintrelleEditModel model(categories);
        const VintrelleEditActions actions = model.actions(optionalId(selected));
        QStringList on;
        for (const auto &[flag, name] : {std::pair{actions.addSubcategory, "sub"}, {actions.addPlugin, "plugin"}, {actions.moveUp, "up"},
                                         {actions.moveDown, "down"}, {actions.rename, "rename"}, {actions.remove, "remove"}, {actions.moveTo, "move"}})
            on << (flag ? name : "");
        QTEST(on.join(' ').simplified(), "enabled");
        QTEST(model.siblings(optionalId(selected)).join(' '), "siblings");
        QTEST(model.selectedCategory(optionalId(selected)).value_or(QString()), "category");
    }

    void destinationsAndPaths_data()
    {
        addColumns<QJsonArray, QString, QStringList>({"categories", "parent", "paths"});
        QTest::newRow("whole tree, each category before its descendants") << sampleCategories() << ""
            << QStringList{"INSTRUMENTS", "INSTRUMENTS / SYNTHS", "INSTRUMENTS / KEYS", "EFFECTS", "EFFECTS / REVERB", "EMPTY"};
        QTest::newRow("a cycle below a parent stops at the first repeat") << cycle << "A" << QStringList{"A / B", "B / A"};
        QStringList chain;
        for (int level = 1; level <= 64; ++level)
            chain << QStringList(level, "LEVEL").join(" / ");
        QTest::newRow("the tree stops 64 levels down") << chainCategories(70) << "" << chain;
    }
    void destinationsAndPaths()
    {
        QFETCH(QJsonArray, categories); QFETCH(QString, parent);
        const QList<VintrelleEditCategory> list = VintrelleEditCategoriesFromJson(categories);
        const QList<const VintrelleEditCategory *> destinations = VintrelleEditDestinations(list, optionalId(parent));
        QStringList shown;
        for (const VintrelleEditCategory *destination : destinations)
            shown << VintrelleEditPath(list, *destination);
        QTEST(shown, "paths");
        if (categories.size() == 70)
            QCOMPARE(VintrelleEditPath(list, list.last()).count(" / "), 69); // a path has no depth limit
    }

    // Rows are 24 high; "x+" is the lower half of x's row, "x-" the upper half, "end" below the last row.
    void drop_data()
    {
        addColumns<QString, QString, QString, QString, int>({"dragged", "expanded", "pointer", "target", "index"}); // -1: refused
        QTest::newRow("second category to the upper half of the first") << "K" << "I" << "S-" << "I:0" << 0;
        QTest::newRow("onto its own lower half") << "i2" << "I" << "i2+" << "I:4" << -1;
        QTest::newRow("a category over a plug-in of its parent") << "S" << "I" << "i2+" << "" << -1;
        QTest::newRow("a sub-category over a row of another branch") << "S" << "I E" << "R-" << "" << -1;
        QTest::newRow("a top-level category below the last row") << "I" << "I" << "end" << ":3" << 2;
        QTest::newRow("the last plug-in below the last row stays put") << "i3" << "I" << "end" << "I:5" << -1;
        QTest::newRow("a row inside an open sibling counts as below it") << "M" << "I" << "S-" << ":1" << 1;
        QTest::newRow("retargeted below the open category it sits under") << "E" << "I" << "i3+" << ":1" << -1;
        QTest::newRow("a nested row climbs to the dragged level") << "S" << "I S K" << "k1+" << "I:2" << 1;
    }
    void drop()
    {
        QFETCH(QString, dragged); QFETCH(QString, expanded); QFETCH(QString, pointer); QFETCH(int, index);
        const VintrelleEditModel model(sampleCategories());
        const QStringList open = expanded.split(' ');
        const QStringList rows = visibleRows(model, {open.begin(), open.end()});
        const VintrelleEditRowLookup rowSpan = [&](const QString &id) -> std::optional<VintrelleEditRowSpan> {
            const qsizetype row = rows.indexOf(id);
            return row < 0 ? std::nullopt : std::optional(VintrelleEditRowSpan{row * rowHeight, rowHeight});
        };
        VintrelleEditDropProbe probe;
        probe.atOrBelowLastRow = pointer == "end";
        probe.rowId = optionalId(probe.atOrBelowLastRow ? QString() : pointer.chopped(1));
        const qsizetype row = probe.rowId ? rows.indexOf(*probe.rowId) : rows.size();
        QVERIFY(row >= 0);
        probe.pointerY = row * rowHeight + (probe.rowId ? (pointer.endsWith('+') ? 18 : 6) : 30);
        const std::optional<VintrelleEditDropTarget> found = model.reorderIndexForID(dragged, probe, rowSpan);
        QTEST(found ? QStringLiteral("%1:%2").arg(found->parentId).arg(found->childIndex) : QString(), "target");
        const std::optional<VintrelleEditDrop> drop = model.dropForID(dragged, probe, rowSpan);
        QCOMPARE(drop ? QString(compact(drop->command)) : "none", index < 0 ? "none" : QStringLiteral(R"({"id":"%1","index":%2,"op":"reorder"})").arg(dragged).arg(index));
        QVERIFY(!drop || drop->target == *found);
    }

    // Children right after their parent wherever stored; no parentId is top level; a repeated id is walked once.
    void searchDestinations()
    {
        const QJsonArray categories{categoryObject("c", "Child", "p"), categoryObject("p", "Parent"), QJsonObject{{"id", "a"}, {"name", "a"}},
                                    categoryObject("x", "Top"), categoryObject("x", "Loop", "x"), categoryObject("y", "Under", "x")};
        QStringList parts;
        for (const VintrelleSearchDestination &entry : VintrelleSearchModel::destinationList(categories))
            parts << entry.id + '=' + entry.title;
        QCOMPARE(parts.join(';'), "p=PARENT;c=PARENT / CHILD;a=A;x=TOP;y=TOP / UNDER");
    }

    // Steps separated by '|': "search:TEXT"; "reply:G:NAMES" answers generation G with results
    // named NAMES (none: an empty list, "!text" an error); "close"; "dest:ID"; "select:ROW";
    // "add"; "finish:ERROR" answers the addition (empty: success); "remove:ID" deletes a category
    // ("*" all of them) and opens the window again.
    void searchFlow_data()
    {
        addColumns<QString, QString, QString, QString, QString>({"script", "items", "status", "button", "sent"});
        const QString found = VintrelleSearchModel::resultsStatus, add = "+ Add Selected:on", cannotAdd = "+ Add Selected:off";
        const QString search = R"({"op":"search","query":"a"})", twoSearches = search + R"( {"op":"search","query":"b"})";
        const QString addNew = search + R"( {"categoryID":"E","entry":{"name":"New","path":"Plugins/New","uri":"u:new"},"op":"addPlugin"})";
        const auto row = [](const char *name, const QString &script, const QString &items, const QString &status, const QString &button, const QString &sent) {
            QTest::newRow(name) << script << items << status << button << sent;
        };
        row("search and its results", "dest:E|search:  a \n|reply:1:Reverb,Hybrid Reverb", "Reverb,Hybrid Reverb", found, cannotAdd, search);
        row("blank query sends nothing", "search: \t \n", "", VintrelleSearchModel::blankQueryStatus, cannotAdd, "");
        row("replies reversed: the stale one is dropped", "search:a|search:b|reply:2:B|reply:1:A", "B", found, cannotAdd, twoSearches);
        row("an error keeps the results", "search:a|reply:1:A|search:b|reply:2:!Ableton is not running.", "A", "Ableton is not running.", cannotAdd, twoSearches);
        row("a reply without items", "search:a|reply:1:", "", VintrelleSearchModel::noResultsStatus, cannotAdd, search);
        row("closed while searching: the late reply changes nothing", "search:a|close|reply:1:A", "", VintrelleSearchModel::idleStatus, cannotAdd, search);
        row("adding disables the button", "dest:E|search:a|reply:1:New|select:0|add", "New", VintrelleSearchModel::addingStatus, cannotAdd, addNew);
        row("added", "dest:E|search:a|reply:1:New|select:0|add|finish:", "New", VintrelleSearchModel::addedStatus, add, addNew);
        row("a failed addition enables the button again", "dest:E|search:a|reply:1:New|select:0|add|finish:Refused.", "New", "Refused.", add, addNew);
        row("a category that holds it", "dest:E|search:a|reply:1:Serum|select:0|dest:S", "Serum", found, "Added ✓:off", search);
        row("the destination deleted chooses none", "dest:E|search:a|reply:1:New|select:0|remove:E", "New", found, cannotAdd, search);
        row("no categories to add to", "remove:*", "", VintrelleSearchModel::noCategoriesStatus, cannotAdd, "");
    }
    void searchFlow()
    {
        QFETCH(QString, script);
        VintrelleSearchModel model;
        model.setCategories(sampleCategories());
        QStringList sent;
        const auto keep = [&](const std::optional<QJsonObject> &command) { sent << (command ? QString(compact(*command)) : QString()); };
        for (const QString &step : script.split('|')) {
            const QString verb = step.section(':', 0, 0), argument = step.section(':', 1), payload = argument.section(':', 1);
            if (verb == "search") {
                keep(model.beginSearch(argument));
            } else if (verb == "reply") {
                QJsonArray items;
                for (const QString &name : payload.split(',', Qt::SkipEmptyParts))
                    items << QJsonObject{{"name", name}, {"uri", "u:" + name.toLower()}, {"path", "Plugins/" + name}};
                const bool failed = payload.startsWith('!');
                model.finishSearch(argument.section(':', 0, 0).toULongLong(), failed ? std::nullopt : std::optional(QJsonObject{{"items", items}}),
                                   failed ? std::optional(payload.mid(1)) : std::nullopt);
            } else if (verb == "close") {
                model.closed();
            } else if (verb == "dest") {
                model.selectDestination(argument);
            } else if (verb == "select") {
                model.selectRow(argument.toInt());
            } else if (verb == "add") {
                keep(model.beginAdding());
            } else if (verb == "finish") {
                model.finishAdding(optionalId(argument));
            } else if (verb == "remove") {
                QJsonArray categories;
                for (const QJsonValue category : model.categories())
                    if (argument != "*" && category["id"].toString() != argument)
                        categories << category;
                model.setCategories(categories);
                model.opened();
            } else {
                QFAIL(qPrintable("unknown step " + step));
            }
        }
        QStringList names;
        for (const QJsonValue item : model.items())
            names << item["name"].toString();
        QTEST(names.join(','), "items");
        QTEST(model.status(), "status");
        QTEST(model.addButton().title + (model.addButton().enabled ? ":on" : ":off"), "button");
        QTEST(sent.join(' ').simplified(), "sent");
    }
};

QTEST_GUILESS_MAIN(TestWindowModels)
#include "tst_window_models.moc"
