#include "EditorHarness.h"
#include "VintrelleEditSizing.h"
#include "VintrelleSearchModel.h"

#include <QtTest>

// The windows' rules on plain data: the editor's tree, actions, drops and sizing, and the search
// window's destinations and replies.
class TestWindowModels : public QObject
{
    Q_OBJECT

    static constexpr double rowHeight = 24;

private slots:
    void treeBuilding_data()
    {
        addColumns<QJsonArray, QString, int>({"categories", "outline", "nodes"});
        QTest::newRow("sub-categories before plug-ins, library order") << sampleCategories() << sampleOutline << 14;
        QTest::newRow("empty library") << QJsonArray() << "" << 0;
        QTest::newRow("a parent cycle is unreachable and never walked")
            << QJsonArray{categoryObject("A", "A", "B"), categoryObject("B", "B", "A"), categoryObject("T", "Top")} << "T" << 1;
        QTest::newRow("a category that is its own parent")
            << QJsonArray{categoryObject("A", "A", "A", {entryObject("a1", "x", "u")})} << "" << 0;
        QTest::newRow("a repeated id is shown once") << library("A[x] B[x]") << "A[x] B" << 3;
        QTest::newRow("a dangling parent hides the category")
            << QJsonArray{categoryObject("A", "A"), categoryObject("B", "B", "nowhere")} << "A" << 1;
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
        QTest::newRow("an id no longer in the library") << sample << "gone" << "" << "" << "";
        QTest::newRow("first of three top-level categories") << sample << "I" << "sub plugin down rename remove" << "I E M" << "I";
        QTest::newRow("last of three top-level categories") << sample << "M" << "sub plugin up rename remove" << "I E M" << "M";
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
        const std::pair<bool, const char *> flags[] = {{actions.addSubcategory, "sub"}, {actions.addPlugin, "plugin"}, {actions.moveUp, "up"},
            {actions.moveDown, "down"}, {actions.rename, "rename"}, {actions.remove, "remove"}, {actions.moveTo, "move"}};
        for (const auto &[flag, name] : flags)
            if (flag)
                on << name;
        QTEST(on.join(' '), "enabled");
        QTEST(model.siblings(optionalId(selected)).join(' '), "siblings");
        QTEST(model.selectedCategory(optionalId(selected)).value_or(QString()), "category");
    }

    void moves_data()
    {
        addColumns<QString, QString, QString, QString>({"plugin", "category", "notice", "command"});
        QTest::newRow("its own category") << "s1" << "S" << "Already here" << "none";
        QTest::newRow("a category holding the same uri") << "i2" << "S" << "Already added" << "none";
        QTest::newRow("a free category") << "s1" << "K" << "" << R"({"categoryID":"K","id":"s1","op":"move"})";
        QTest::newRow("a missing plug-in") << "zz" << "K" << "" << "none";
        QTest::newRow("a missing category") << "s1" << "zz" << "" << "none";
        QTest::newRow("a category id is not a plug-in") << "S" << "K" << "" << "none";
    }
    void moves()
    {
        QFETCH(QString, plugin); QFETCH(QString, category);
        const VintrelleEditModel model(sampleCategories());
        QTEST(model.dragNoticeForID(plugin, category).value_or(QString()), "notice");
        QTEST(commandText(model.moveCommandForID(plugin, category)), "command");
    }

    void destinationsAndPaths_data()
    {
        addColumns<QJsonArray, QString, QStringList>({"categories", "parent", "paths"});
        QTest::newRow("whole tree, each category before its descendants") << sampleCategories() << ""
            << QStringList{"INSTRUMENTS", "INSTRUMENTS / SYNTHS", "INSTRUMENTS / KEYS", "EFFECTS", "EFFECTS / REVERB", "EMPTY"};
        QTest::newRow("below one parent") << sampleCategories() << "I" << QStringList{"INSTRUMENTS / SYNTHS", "INSTRUMENTS / KEYS"};
        QTest::newRow("parents named later in the array")
            << QJsonArray{categoryObject("C", "child", "P"), categoryObject("P", "parent")} << "" << QStringList{"PARENT", "PARENT / CHILD"};
        QTest::newRow("a cycle below a parent stops at the first repeat")
            << QJsonArray{categoryObject("A", "a", "B"), categoryObject("B", "b", "A")} << "A" << QStringList{"A / B", "B / A"};
        QTest::newRow("a category that is its own parent") << QJsonArray{categoryObject("A", "a", "A")} << "A" << QStringList{"A"};
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
        QTest::newRow("first plug-in to the lower half of the last") << "i1" << "I" << "i3+" << "I:5" << 2;
        QTest::newRow("last plug-in to the upper half of the first") << "i3" << "I" << "i1-" << "I:2" << 0;
        QTest::newRow("second category to the upper half of the first") << "K" << "I" << "S-" << "I:0" << 0;
        QTest::newRow("a category over a plug-in of its parent") << "S" << "I" << "i2+" << "" << -1;
        QTest::newRow("a plug-in over a category of its parent") << "i1" << "I" << "S-" << "" << -1;
        QTest::newRow("onto its own lower half") << "i2" << "I" << "i2+" << "I:4" << -1;
        QTest::newRow("a sub-category over a row of another branch") << "S" << "I E" << "R-" << "" << -1;
        QTest::newRow("a top-level category below the last row") << "I" << "I" << "end" << ":3" << 2;
        QTest::newRow("the last plug-in below the last row stays put") << "i3" << "I" << "end" << "I:5" << -1;
        QTest::newRow("a row inside an open sibling counts as below it") << "M" << "I" << "S-" << ":1" << 1;
        QTest::newRow("retargeted below the open category it sits under") << "E" << "I" << "i3+" << ":1" << -1;
        QTest::newRow("a plug-in over its own category's row") << "s2" << "I S" << "S+" << "" << -1;
        QTest::newRow("a nested row climbs to the dragged level") << "S" << "I S K" << "k1+" << "I:2" << 1;
        QTest::newRow("an unknown row") << "zz" << "I" << "i1+" << "" << -1;
    }
    void drop()
    {
        QFETCH(QString, dragged); QFETCH(QString, expanded); QFETCH(QString, pointer); QFETCH(int, index);
        const VintrelleEditModel model(sampleCategories());
        const QStringList rows = visibleRows(model, idSet(expanded));
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
        QCOMPARE(drop.has_value(), index >= 0);
        if (drop) {
            QCOMPARE(drop->target, *found);
            QCOMPARE(commandText(drop->command), QStringLiteral(R"({"id":"%1","index":%2,"op":"reorder"})").arg(dragged).arg(index));
        }
    }

    // After the library changed: what opens (in this order) and what stays selected.
    void restorePlan_data()
    {
        addColumns<QString, QString, QString, QString, QString>({"library", "expandedBefore", "selected", "expanded", "selectedAfter"});
        QTest::newRow("a rename keeps everything") << "I[S=Synthesizers[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M" << "I S" << "s1" << "I S" << "s1";
        QTest::newRow("selection restored under its new parent after a move")
            << "I[S[s2] K[k1] i1 i2 i3] E[R[r1 s1] e1] M" << "I S" << "s1" << "E R" << "s1";
        QTest::newRow("moved next to the open sibling: one open per level")
            << "I[S[s2] K[k1 s1] i1 i2 i3] E[R[r1] e1] M" << "I S" << "s1" << "I K" << "s1";
        QTest::newRow("the selected plug-in was deleted") << "I[S[s2] K[k1] i1 i2 i3] E[R[r1] e1] M" << "I S" << "s1" << "I S" << "";
        QTest::newRow("the open category was deleted") << "I[K[k1] i1 i2 i3] E[R[r1] e1] M" << "I S" << "I" << "I" << "I";
        QTest::newRow("an open category moved under a closed one stays closed")
            << "I[S[s1 s2] K[k1] R[r1] i1 i2 i3] E[e1] M" << "E R" << "" << "E" << "";
        QTest::newRow("nothing open, a nested selection opens its chain") << sampleOutline << "" << "r1" << "E R" << "r1";
        QTest::newRow("stale ids are ignored") << sampleOutline << "gone I" << "gone" << "I" << "";
    }
    void restorePlan()
    {
        QFETCH(QString, library); QFETCH(QString, expandedBefore); QFETCH(QString, selected); QFETCH(QString, expanded);
        const VintrelleEditModel model(::library(library));
        const VintrelleEditRestorePlan plan = model.restorePlan(optionalId(selected), idSet(expandedBefore));
        QCOMPARE(plan.expanded.join(' '), expanded);
        QTEST(plan.selected.value_or(QString()), "selectedAfter");
        if (plan.selected) // what is selected must be shown
            QVERIFY(visibleRows(model, idSet(expanded)).contains(*plan.selected));
    }

    void rowChanges_data()
    {
        addColumns<QString, int, QString>({"library", "changes", "retitled"});
        QTest::newRow("nothing changed") << sampleOutline << 0 << "";
        QTest::newRow("a rename only redraws the row") << "I[S=Synthesizers[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M" << 0 << "S";
        QTest::newRow("a plug-in's new label only redraws its row") << "I[S[s1 s2=Vital_2] K[k1] i1 i2 i3] E[R[r1] e1] M" << 0 << "s2";
        QTest::newRow("a move touches both categories") << "I[S[s2] K[k1] i1 i2 i3] E[R[r1 s1] e1] M" << 2 << "";
        QTest::newRow("a delete") << "I[K[k1] i1 i2 i3] E[R[r1] e1] M" << 1 << "";
        QTest::newRow("a category moved to another parent") << "I[S[s1 s2] K[k1] R[r1] i1 i2 i3] E[e1] M" << 2 << "";
        QTest::newRow("a top-level reorder") << "E[R[r1] e1] I[S[s1 s2] K[k1] i1 i2 i3] M" << 1 << "";
        QTest::newRow("an added category") << sampleOutline + " N" << 1 << "";
        QTest::newRow("two swapped sub-categories") << "I[K[k1] S[s1 s2] i1 i2 i3] E[R[r1] e1] M" << 1 << "";
    }

    // Applying the changes to the old rows, parents first, gives the new tree exactly; a tree built
    // from the previous one equals one built afresh.
    void rowChanges()
    {
        QFETCH(QString, library);
        const VintrelleEditModel before(sampleCategories()), fresh(::library(library));
        VintrelleEditModel after;
        after.setCategories(::library(library), &before);
        QCOMPARE(outlineText(after, true), outlineText(fresh, true));
        QStringList titles;
        const QList<VintrelleEditRowChange> list = VintrelleEditModel::rowChanges(before, after, &titles);
        QTEST(int(list.size()), "changes");
        QTEST(titles.join(' '), "retitled");

        QHash<QString, QStringList> tree; // parent -> children, as a view holding the old rows would
        std::function<void(const VintrelleEditModel &, const QString &)> copy = [&](const VintrelleEditModel &model, const QString &parent) {
            tree[parent] = model.childrenOf(parent);
            for (const QString &child : model.childrenOf(parent))
                copy(model, child);
        };
        copy(before, QString());
        for (const VintrelleEditRowChange &change : list) {
            QVERIFY2(tree.contains(change.parentId), qPrintable(change.parentId)); // the parent is shown
            QStringList &children = tree[change.parentId];
            QVERIFY(change.first >= 0 && change.first + change.removeCount <= children.size());
            children.remove(change.first, change.removeCount);
            for (qsizetype i = 0; i < change.inserted.size(); ++i) {
                children.insert(change.first + i, change.inserted[i]);
                copy(after, change.inserted[i]); // an inserted row brings its subtree
            }
        }
        std::function<QString(const QString &)> text = [&](const QString &parent) {
            QStringList parts;
            for (const QString &child : tree.value(parent))
                parts << (text(child).isEmpty() ? child : QStringLiteral("%1[%2]").arg(child, text(child)));
            return parts.join(' ');
        };
        QCOMPARE(text(QString()), outlineText(after));
    }

    // Whole rows only, and the window kept on the visible area.
    void compactSize_data()
    {
        addColumns<int, QRectF, QRectF, double, QRectF, bool>({"rows", "visible", "window", "listHeight", "frame", "changed"});
        const QRectF screen(0, 30, 1280, 770);
        QTest::newRow("empty library: no list") << 0 << screen << QRectF(100, 200, 300, 420) << 0.0 << QRectF(100, 200, 300, 118) << true;
        QTest::newRow("less than half a point off is left alone")
            << 5 << screen << QRectF(100, 200.3, 300, 243.8) << 120.0 << QRectF(100, 200.3, 300, 244) << false;
        QTest::newRow("short screen: whole rows, top moves up only as needed")
            << 50 << QRectF(0, 30, 1280, 300) << QRectF(100, 200, 300, 420) << 168.0 << QRectF(100, 38, 300, 292) << true;
        QTest::newRow("screen shorter than the chrome: one row, top clamp wins")
            << 10 << QRectF(0, 30, 1280, 100) << QRectF(100, 60, 300, 100) << 24.0 << QRectF(100, 30, 300, 148) << true;
        QTest::newRow("no screen at all") << 4 << QRectF() << QRectF(10, 10, 300, 200) << 24.0 << QRectF(10, 0, 300, 148) << true;
    }
    void compactSize()
    {
        QFETCH(int, rows); QFETCH(QRectF, visible); QFETCH(QRectF, window);
        const double chrome = VintrelleEditChromeHeight({46, 24, 23.2}, rows > 0, 6); // header and button rows
        const VintrelleEditSizing sizing = VintrelleEditCompactSize(chrome, rowHeight, rows, visible, window);
        QCOMPARE(sizing.listHidden, rows == 0);
        QTEST(sizing.listHeight, "listHeight");
        QTEST(sizing.frame, "frame");
        QTEST(sizing.frameChanged, "changed");
    }

    void searchDestinations_data()
    {
        addColumns<QJsonArray, QString>({"categories", "expected"});
        QTest::newRow("tree order, children right after their parent") << sampleCategories()
            << "I=INSTRUMENTS|Instruments;S=INSTRUMENTS / SYNTHS|Instruments / Synths;K=INSTRUMENTS / KEYS|Instruments / Keys;"
               "E=EFFECTS|Effects;R=EFFECTS / REVERB|Effects / Reverb;M=EMPTY|Empty";
        QTest::newRow("a child stored before its parent")
            << QJsonArray{categoryObject("c", "Child", "p"), categoryObject("p", "Parent")} << "p=PARENT|Parent;c=PARENT / CHILD|Parent / Child";
        QTest::newRow("no parentId key is top level") << QJsonArray{QJsonObject{{"id", "a"}, {"name", "a"}}} << "a=A|a";
        QTest::newRow("a repeated id is not descended into twice")
            << QJsonArray{categoryObject("x", "Top"), categoryObject("x", "Loop", "x"), categoryObject("y", "Under", "x")}
            << "x=TOP|Top;y=TOP / UNDER|Top / Under";
    }
    void searchDestinations()
    {
        QFETCH(QJsonArray, categories);
        QStringList parts;
        for (const VintrelleSearchDestination &entry : VintrelleSearchModel::destinationList(categories))
            parts << QStringLiteral("%1=%2|%3").arg(entry.id, entry.title, entry.toolTip);
        QTEST(parts.join(';'), "expected");
    }

    // Steps separated by '|': "search:TEXT"; "reply:G:NAMES" answers generation G with results
    // named NAMES ("-" a reply without items, "!text" an error); "close"; "dest:ID"; "select:ROW";
    // "add"; "finish:ERROR" answers the addition (empty: success); "remove:ID" deletes a category.
    void searchFlow_data()
    {
        addColumns<QString, QString, QString, QString, QString>({"script", "items", "status", "button", "sent"});
        const QString found = VintrelleSearchModel::resultsStatus;
        const QString add = "+ Add Selected:on", cannotAdd = "+ Add Selected:off", added = "Added ✓:off";
        const QString search = R"({"op":"search","query":"a"})", twoSearches = search + R"( {"op":"search","query":"b"})";
        const QString addNew = search + R"( {"categoryID":"E","entry":{"name":"New","path":"Plugins/New","uri":"u:new"},"op":"addPlugin"})";
        QTest::newRow("search and its results") << "dest:E|search:  a \n|reply:1:Reverb,Hybrid Reverb" << "Reverb,Hybrid Reverb" << found
                                                << cannotAdd << search;
        QTest::newRow("blank query sends nothing") << "search: \t \n" << "" << VintrelleSearchModel::blankQueryStatus << cannotAdd << "";
        QTest::newRow("replies reversed: the stale one is dropped") << "search:a|search:b|reply:2:B|reply:1:A" << "B" << found
                                                                    << cannotAdd << twoSearches;
        QTest::newRow("an error keeps the results") << "search:a|reply:1:A|search:b|reply:2:!Ableton is not running." << "A"
                                                    << "Ableton is not running." << cannotAdd << twoSearches;
        QTest::newRow("a reply without items") << "search:a|reply:1:-" << "" << VintrelleSearchModel::noResultsStatus << cannotAdd << search;
        QTest::newRow("closed while searching: the late reply changes nothing") << "search:a|close|reply:1:A" << ""
                                                                                << VintrelleSearchModel::idleStatus << cannotAdd << search;
        QTest::newRow("a new search clears the selection") << "dest:E|search:a|reply:1:A|select:0|search:b|reply:2:B" << "B" << found
                                                           << cannotAdd << twoSearches;
        QTest::newRow("adding disables the button") << "dest:E|search:a|reply:1:New|select:0|add" << "New"
                                                    << VintrelleSearchModel::addingStatus << cannotAdd << addNew;
        QTest::newRow("added") << "dest:E|search:a|reply:1:New|select:0|add|finish:" << "New" << VintrelleSearchModel::addedStatus << add
                               << addNew;
        QTest::newRow("a failed addition enables the button again") << "dest:E|search:a|reply:1:New|select:0|add|finish:Refused." << "New"
                                                                    << "Refused." << add << addNew;
        QTest::newRow("another category holding it does not count") << "dest:E|search:a|reply:1:Serum|select:0" << "Serum" << found
                                                                    << add << search;
        QTest::newRow("switching to a category that holds it") << "dest:E|search:a|reply:1:Serum|select:0|dest:S" << "Serum" << found
                                                               << added << search;
        QTest::newRow("the destination deleted chooses none") << "dest:E|search:a|reply:1:New|select:0|remove:E" << "New" << found
                                                              << cannotAdd << search;
        QTest::newRow("an unknown destination chooses none") << "dest:gone|search:a|reply:1:New|select:0|add" << "New" << found
                                                             << cannotAdd << search;
    }
    void searchFlow()
    {
        QFETCH(QString, script);
        VintrelleSearchModel model;
        model.setCategories(sampleCategories());
        QStringList sent;
        const auto keep = [&](const std::optional<QJsonObject> &command) { sent << (command ? commandText(command) : QString()); };
        for (const QString &step : script.split('|')) {
            const QString verb = step.section(':', 0, 0), argument = step.section(':', 1), payload = argument.section(':', 1);
            if (verb == "search") {
                keep(model.beginSearch(argument));
            } else if (verb == "reply") {
                QJsonArray items;
                for (const QString &name : payload.split(',', Qt::SkipEmptyParts))
                    items << QJsonObject{{"name", name}, {"uri", "u:" + name.toLower()}, {"path", "Plugins/" + name}};
                const quint64 generation = argument.section(':', 0, 0).toULongLong();
                if (payload.startsWith('!'))
                    model.finishSearch(generation, std::nullopt, payload.mid(1));
                else
                    model.finishSearch(generation, payload == "-" ? QJsonObject{{"complete", true}} : QJsonObject{{"items", items}}, std::nullopt);
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
                    if (category["id"].toString() != argument)
                        categories << category;
                model.setCategories(categories);
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
