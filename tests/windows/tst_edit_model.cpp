#include "EditorFixtures.h"
#include "VintrelleEditSizing.h"

#include <QJsonDocument>
#include <QtTest>

namespace {

constexpr double rowHeight = 24;

std::optional<QString> optionalId(const QString &id)
{
    return id.isEmpty() ? std::nullopt : std::optional<QString>(id);
}

QString commandText(const std::optional<QJsonObject> &command)
{
    return command ? QString::fromUtf8(QJsonDocument(*command).toJson(QJsonDocument::Compact)) : QStringLiteral("none");
}

QSet<QString> idSet(const QString &spaced)
{
    const QStringList ids = spaced.split(' ', Qt::SkipEmptyParts);
    return QSet<QString>(ids.begin(), ids.end());
}

QString sortedText(const QSet<QString> &ids)
{
    QStringList list(ids.begin(), ids.end());
    list.sort();
    return list.join(' ');
}

// The library after one edit of the sample, the way the store would save it.
QJsonArray editedSample(const QString &edit)
{
    QJsonArray categories = sampleCategories();
    const auto indexOf = [&](const QString &id) {
        for (qsizetype i = 0; i < categories.size(); ++i)
            if (categories[i].toObject().value("id").toString() == id)
                return i;
        return qsizetype(-1);
    };
    const auto moveEntry = [&](const QString &from, int entry, const QString &to) {
        QJsonObject source = categories[indexOf(from)].toObject();
        QJsonArray sourceEntries = source.value("entries").toArray();
        const QJsonValue moved = sourceEntries.takeAt(entry);
        source["entries"] = sourceEntries;
        categories[indexOf(from)] = source;
        QJsonObject destination = categories[indexOf(to)].toObject();
        QJsonArray destinationEntries = destination.value("entries").toArray();
        destinationEntries.append(moved);
        destination["entries"] = destinationEntries;
        categories[indexOf(to)] = destination;
    };
    const auto setParent = [&](const QString &id, const QJsonValue &parent) {
        QJsonObject category = categories[indexOf(id)].toObject();
        category["parentId"] = parent;
        categories[indexOf(id)] = category;
    };
    if (edit == "renameSynths") {
        QJsonObject synths = categories[indexOf("S")].toObject();
        synths["name"] = "Synthesizers";
        categories[indexOf("S")] = synths;
    } else if (edit == "relabelVital") {
        QJsonObject synths = categories[indexOf("S")].toObject();
        QJsonArray entries = synths.value("entries").toArray();
        entries[1] = entryObject("s2", "Vital 2", "u:vital");
        synths["entries"] = entries;
        categories[indexOf("S")] = synths;
    } else if (edit == "moveS1ToReverb") {
        moveEntry("S", 0, "R");
    } else if (edit == "moveS1ToKeys") {
        moveEntry("S", 0, "K");
    } else if (edit == "deleteS1") {
        QJsonObject synths = categories[indexOf("S")].toObject();
        QJsonArray entries = synths.value("entries").toArray();
        entries.removeAt(0);
        synths["entries"] = entries;
        categories[indexOf("S")] = synths;
    } else if (edit == "deleteSynths") {
        categories.removeAt(indexOf("S"));
    } else if (edit == "reverbUnderInstruments") {
        setParent("R", "I");
    } else if (edit == "effectsFirst") {
        categories.insert(0, categories.takeAt(indexOf("E")));
    } else if (edit == "addCategory") {
        categories.append(categoryObject("N", "New", QJsonValue::Null));
    } else if (edit == "swapKeysAndSynths") {
        categories.insert(indexOf("S"), categories.takeAt(indexOf("K")));
    }
    return categories;
}

} // namespace

class TestEditModel : public QObject
{
    Q_OBJECT

private slots:
    void treeBuilding_data();
    void treeBuilding();
    void actions_data();
    void actions();
    void commands_data();
    void commands();
    void moveNotices_data();
    void moveNotices();
    void moveDestinations_data();
    void moveDestinations();
    void destinationsAndPaths_data();
    void destinationsAndPaths();
    void drop_data();
    void drop();
    void restorePlan_data();
    void restorePlan();
    void expansion_data();
    void expansion();
    void rowChanges_data();
    void rowChanges();
    void compactSize_data();
    void compactSize();
};

void TestEditModel::treeBuilding_data()
{
    QTest::addColumn<QJsonArray>("categories");
    QTest::addColumn<QString>("outline");
    QTest::addColumn<int>("nodes");

    QTest::newRow("sub-categories before plug-ins, library order")
        << sampleCategories() << "I[S[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M" << 14;
    QTest::newRow("empty library") << QJsonArray() << "" << 0;
    QJsonArray cycle{categoryObject("A", "A", "B"), categoryObject("B", "B", "A"), categoryObject("T", "Top", QJsonValue::Null)};
    QTest::newRow("a parent cycle is unreachable and never walked") << cycle << "T" << 1;
    QJsonArray self{categoryObject("A", "A", "A", {entryObject("a1", "x", "u")})};
    QTest::newRow("a category that is its own parent") << self << "" << 0;
    QJsonArray repeated{categoryObject("A", "A", QJsonValue::Null, {entryObject("x", "x", "u")}),
                        categoryObject("B", "B", QJsonValue::Null, {entryObject("x", "x", "u")})};
    QTest::newRow("a repeated id is shown once") << repeated << "A[x] B" << 3;
    QJsonArray missingParent{categoryObject("A", "A", QJsonValue()), categoryObject("B", "B", "nowhere")};
    QTest::newRow("a dangling parent hides the category") << missingParent << "A" << 1;
}

void TestEditModel::treeBuilding()
{
    QFETCH(QJsonArray, categories);
    QFETCH(QString, outline);
    QFETCH(int, nodes);
    const VintrelleEditModel model(categories);
    QCOMPARE(outlineText(model), outline);
    QCOMPARE(model.nodeCount(), nodes);
}

void TestEditModel::actions_data()
{
    QTest::addColumn<QJsonArray>("categories");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("enabled");
    QTest::addColumn<QString>("siblings");
    QTest::addColumn<QString>("category");

    const QJsonArray sample = sampleCategories();
    QTest::newRow("nothing selected") << sample << "" << "" << "" << "";
    QTest::newRow("an id no longer in the library") << sample << "gone" << "" << "" << "";
    QTest::newRow("first of three top-level categories")
        << sample << "I" << "sub plugin down rename remove" << "I E M" << "I";
    QTest::newRow("last of three top-level categories") << sample << "M" << "sub plugin up rename remove" << "I E M" << "M";
    QTest::newRow("only child") << sample << "R" << "sub plugin rename remove" << "R" << "R";
    QTest::newRow("sub-categories are siblings in library order, not tree order")
        << sample << "K" << "sub plugin up rename remove" << "S K" << "K";
    QTest::newRow("first plug-in") << sample << "i1" << "sub plugin down rename remove move" << "i1 i2 i3" << "I";
    QTest::newRow("middle plug-in") << sample << "i2" << "sub plugin up down rename remove move" << "i1 i2 i3" << "I";
    QTest::newRow("last plug-in") << sample << "i3" << "sub plugin up rename remove move" << "i1 i2 i3" << "I";
    QTest::newRow("a plug-in's category is its owner") << sample << "r1" << "sub plugin rename remove move" << "r1" << "R";
    QTest::newRow("below the depth limit nothing is selectable")
        << chainCategories(70) << "L64" << "" << "" << "";
}

void TestEditModel::actions()
{
    QFETCH(QJsonArray, categories);
    QFETCH(QString, selected);
    QFETCH(QString, enabled);
    QFETCH(QString, siblings);
    QFETCH(QString, category);
    const VintrelleEditModel model(categories);
    const VintrelleEditActions actions = model.actions(optionalId(selected));
    QStringList on;
    const std::pair<bool, const char *> flags[] = {{actions.addSubcategory, "sub"}, {actions.addPlugin, "plugin"},
                                                   {actions.moveUp, "up"},          {actions.moveDown, "down"},
                                                   {actions.rename, "rename"},      {actions.remove, "remove"},
                                                   {actions.moveTo, "move"}};
    for (const auto &[flag, name] : flags)
        if (flag)
            on << name;
    QCOMPARE(on.join(' '), enabled);
    QCOMPARE(model.siblings(optionalId(selected)).join(' '), siblings);
    QCOMPARE(model.selectedCategory(optionalId(selected)).value_or(QString()), category);
}

void TestEditModel::commands_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("command");

    QTest::newRow("+ Category without a selection") << "addCategory" << "" << R"({"categoryID":"","op":"addCategoryPrompt"})";
    QTest::newRow("+ Sub-category needs a selection") << "addSubcategory" << "" << "none";
    QTest::newRow("+ Sub-category of a category") << "addSubcategory" << "S" << R"({"categoryID":"S","op":"addCategoryPrompt"})";
    QTest::newRow("+ Sub-category with a plug-in selected goes into its category")
        << "addSubcategory" << "k1" << R"({"categoryID":"K","op":"addCategoryPrompt"})";
    QTest::newRow("rename a category sends its name") << "rename" << "S" << R"({"id":"S","name":"Synths","op":"renamePrompt"})";
    QTest::newRow("rename a plug-in sends its label") << "rename" << "i3" << R"({"id":"i3","name":"Pianoteq","op":"renamePrompt"})";
    QTest::newRow("rename without a selection") << "rename" << "" << "none";
    QTest::newRow("delete") << "delete" << "e1" << R"({"id":"e1","name":"Pro-Q","op":"deletePrompt"})";
    QTest::newRow("down on the first of three") << "down" << "I" << R"({"id":"I","index":1,"op":"reorder"})";
    QTest::newRow("up on the first stays put") << "up" << "I" << "none";
    QTest::newRow("down on the last stays put") << "down" << "M" << "none";
    QTest::newRow("up on the last") << "up" << "M" << R"({"id":"M","index":1,"op":"reorder"})";
    QTest::newRow("down on the last plug-in stays put") << "down" << "i3" << "none";
    QTest::newRow("up on the first plug-in stays put") << "up" << "i1" << "none";
    QTest::newRow("up on the last plug-in") << "up" << "i3" << R"({"id":"i3","index":1,"op":"reorder"})";
    QTest::newRow("reorder without a selection") << "down" << "" << "none";
    QTest::newRow("undo") << "undo" << "" << R"({"op":"undo"})";
    QTest::newRow("redo") << "redo" << "" << R"({"op":"redo"})";
    QTest::newRow("history") << "history" << "" << R"({"op":"history"})";
}

void TestEditModel::commands()
{
    QFETCH(QString, action);
    QFETCH(QString, selected);
    QFETCH(QString, command);
    const VintrelleEditModel model(sampleCategories());
    const std::optional<QString> selection = optionalId(selected);
    const QHash<QString, std::function<std::optional<QJsonObject>()>> actions{
        {"addCategory", [] { return VintrelleEditModel::addCategoryCommand(); }},
        {"addSubcategory", [&] { return model.addSubcategoryCommand(selection); }},
        {"rename", [&] { return model.renameCommand(selection); }},
        {"delete", [&] { return model.deleteCommand(selection); }},
        {"up", [&] { return model.reorderCommand(selection, -1); }},
        {"down", [&] { return model.reorderCommand(selection, +1); }},
        {"undo", [] { return VintrelleEditModel::undoCommand(); }},
        {"redo", [] { return VintrelleEditModel::redoCommand(); }},
        {"history", [] { return VintrelleEditModel::historyCommand(); }},
    };
    QVERIFY(actions.contains(action));
    QCOMPARE(commandText(actions.value(action)()), command);
}

void TestEditModel::moveNotices_data()
{
    QTest::addColumn<QString>("plugin");
    QTest::addColumn<QString>("category");
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("command");

    QTest::newRow("its own category") << "s1" << "S" << "Already here" << "none";
    QTest::newRow("a category holding the same uri") << "s1" << "I" << "Already added" << "none";
    QTest::newRow("the same uri the other way round") << "i2" << "S" << "Already added" << "none";
    QTest::newRow("a free category") << "s1" << "K" << "" << R"({"categoryID":"K","id":"s1","op":"move"})";
    QTest::newRow("an empty category") << "r1" << "M" << "" << R"({"categoryID":"M","id":"r1","op":"move"})";
    QTest::newRow("its category's parent") << "k1" << "I" << "" << R"({"categoryID":"I","id":"k1","op":"move"})";
    QTest::newRow("a missing plug-in") << "zz" << "K" << "" << "none";
    QTest::newRow("a missing category") << "s1" << "zz" << "" << "none";
    QTest::newRow("a category id is not a plug-in") << "S" << "K" << "" << "none";
    QTest::newRow("a plug-in id is not a category") << "s1" << "k1" << "" << "none";
}

void TestEditModel::moveNotices()
{
    QFETCH(QString, plugin);
    QFETCH(QString, category);
    QFETCH(QString, notice);
    QFETCH(QString, command);
    const VintrelleEditModel model(sampleCategories());
    QCOMPARE(model.dragNoticeForID(plugin, category).value_or(QString()), notice);
    QCOMPARE(commandText(model.moveCommandForID(plugin, category)), command);
}

void TestEditModel::moveDestinations_data()
{
    QTest::addColumn<QString>("plugin");
    QTest::addColumn<QStringList>("items"); // "+" enabled, "-" disabled

    QTest::newRow("a plug-in in a sub-category")
        << "s1"
        << QStringList{"- INSTRUMENTS — Already added", "- INSTRUMENTS / SYNTHS — Already here", "+ INSTRUMENTS / KEYS",
                       "+ EFFECTS", "+ EFFECTS / REVERB", "+ EMPTY"};
    QTest::newRow("a top-level plug-in")
        << "e1"
        << QStringList{"+ INSTRUMENTS", "+ INSTRUMENTS / SYNTHS", "+ INSTRUMENTS / KEYS", "- EFFECTS — Already here",
                       "+ EFFECTS / REVERB", "+ EMPTY"};
}

void TestEditModel::moveDestinations()
{
    QFETCH(QString, plugin);
    QFETCH(QStringList, items);
    const VintrelleEditModel model(sampleCategories());
    QStringList shown;
    for (const VintrelleEditMoveDestination &destination : model.moveDestinationsForID(plugin)) {
        shown << QStringLiteral("%1 %2").arg(destination.command ? "+" : "-", destination.title);
        if (destination.command)
            QCOMPARE(destination.command->value("categoryID").toString(), destination.categoryID);
    }
    QCOMPARE(shown, items);
}

void TestEditModel::destinationsAndPaths_data()
{
    QTest::addColumn<QJsonArray>("categories");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QStringList>("paths");

    QTest::newRow("whole tree, each category before its descendants")
        << sampleCategories() << ""
        << QStringList{"INSTRUMENTS", "INSTRUMENTS / SYNTHS", "INSTRUMENTS / KEYS", "EFFECTS", "EFFECTS / REVERB", "EMPTY"};
    QTest::newRow("below one parent") << sampleCategories() << "I" << QStringList{"INSTRUMENTS / SYNTHS", "INSTRUMENTS / KEYS"};
    QTest::newRow("a leaf") << sampleCategories() << "M" << QStringList{};
    QTest::newRow("parents named later in the array")
        << QJsonArray{categoryObject("C", "child", "P"), categoryObject("P", "parent", QJsonValue::Null)} << ""
        << QStringList{"PARENT", "PARENT / CHILD"};
    QTest::newRow("a cycle below a parent stops at the first repeat")
        << QJsonArray{categoryObject("A", "a", "B"), categoryObject("B", "b", "A")} << "A" << QStringList{"A / B", "B / A"};
    QTest::newRow("a category that is its own parent")
        << QJsonArray{categoryObject("A", "a", "A")} << "A" << QStringList{"A"};
    QJsonArray deep = chainCategories(70);
    QTest::newRow("the tree stops 64 levels down") << deep << "" << QStringList{};
}

void TestEditModel::destinationsAndPaths()
{
    QFETCH(QJsonArray, categories);
    QFETCH(QString, parent);
    QFETCH(QStringList, paths);
    const QList<VintrelleEditCategory> list = VintrelleEditCategoriesFromJson(categories);
    const QList<const VintrelleEditCategory *> destinations = VintrelleEditDestinations(list, optionalId(parent));
    if (QTest::currentDataTag() == QByteArray("the tree stops 64 levels down")) {
        QCOMPARE(destinations.size(), 64);
        QCOMPARE(destinations.last()->id, QStringLiteral("L63"));
        // The path has no depth limit: all 70 names, the deepest last.
        QCOMPARE(VintrelleEditPath(list, list.last()).count(" / "), 69);
        return;
    }
    QStringList shown;
    for (const VintrelleEditCategory *destination : destinations)
        shown << VintrelleEditPath(list, *destination);
    QCOMPARE(shown, paths);
}

// Rows are 24 high; "x+" is the lower half of x's row, "x-" the upper half, "end" below the last row.
void TestEditModel::drop_data()
{
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("expanded");
    QTest::addColumn<QString>("pointer");
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("index"); // -1: refused

    QTest::newRow("first plug-in to the lower half of the last") << "i1" << "I" << "i3+" << "I:5" << 2;
    QTest::newRow("last plug-in to the upper half of the first") << "i3" << "I" << "i1-" << "I:2" << 0;
    QTest::newRow("first category to the lower half of the second") << "S" << "I" << "K+" << "I:2" << 1;
    QTest::newRow("second category to the upper half of the first") << "K" << "I" << "S-" << "I:0" << 0;
    QTest::newRow("a category over a plug-in of its parent") << "S" << "I" << "i2+" << "" << -1;
    QTest::newRow("a plug-in over a category of its parent") << "i1" << "I" << "S-" << "" << -1;
    QTest::newRow("onto its own upper half") << "i2" << "I" << "i2-" << "I:3" << -1;
    QTest::newRow("onto the lower half of the row above") << "i2" << "I" << "i1+" << "I:3" << -1;
    QTest::newRow("onto its own lower half") << "i2" << "I" << "i2+" << "I:4" << -1;
    QTest::newRow("a sub-category over another top-level category") << "S" << "I E" << "E+" << "" << -1;
    QTest::newRow("a sub-category over a row of another branch") << "S" << "I E" << "R-" << "" << -1;
    QTest::newRow("a top-level category below the last row") << "I" << "I" << "end" << ":3" << 2;
    QTest::newRow("a plug-in below the last row ends its own category") << "i1" << "I" << "end" << "I:5" << 2;
    QTest::newRow("the last plug-in below the last row stays put") << "i3" << "I" << "end" << "I:5" << -1;
    QTest::newRow("a row inside an open sibling counts as below it") << "M" << "I" << "S-" << ":1" << 1;
    QTest::newRow("retargeted below the open category it sits under") << "E" << "I" << "i3+" << ":1" << -1;
    QTest::newRow("a plug-in over its own category's row") << "s2" << "I S" << "S+" << "" << -1;
    QTest::newRow("a nested row climbs to the dragged level") << "S" << "I S K" << "k1+" << "I:2" << 1;
    QTest::newRow("a dragged row that is not shown") << "r1" << "I" << "i1+" << "" << -1;
    QTest::newRow("an unknown row") << "zz" << "I" << "i1+" << "" << -1;
}

void TestEditModel::drop()
{
    QFETCH(QString, dragged);
    QFETCH(QString, expanded);
    QFETCH(QString, pointer);
    QFETCH(QString, target);
    QFETCH(int, index);
    const VintrelleEditModel model(sampleCategories());
    const QStringList rows = visibleRows(model, idSet(expanded));
    const VintrelleEditRowLookup rowSpan = [&](const QString &id) -> std::optional<VintrelleEditRowSpan> {
        const qsizetype row = rows.indexOf(id);
        return row < 0 ? std::nullopt : std::optional(VintrelleEditRowSpan{row * rowHeight, rowHeight});
    };
    VintrelleEditDropProbe probe;
    if (pointer == "end") {
        probe.pointerY = rows.size() * rowHeight + 30;
        probe.atOrBelowLastRow = true;
    } else {
        const QString row = pointer.chopped(1);
        QVERIFY(rows.contains(row));
        probe.rowId = row;
        probe.pointerY = rows.indexOf(row) * rowHeight + (pointer.endsWith('+') ? 18 : 6);
    }
    const std::optional<VintrelleEditDropTarget> found = model.reorderIndexForID(dragged, probe, rowSpan);
    QCOMPARE(found ? QStringLiteral("%1:%2").arg(found->parentId).arg(found->childIndex) : QString(), target);

    const std::optional<VintrelleEditDrop> drop = model.dropForID(dragged, probe, rowSpan);
    QCOMPARE(drop.has_value(), index >= 0);
    if (drop) {
        QCOMPARE(drop->target, *found);
        QCOMPARE(commandText(drop->command),
                 QStringLiteral(R"({"id":"%1","index":%2,"op":"reorder"})").arg(dragged).arg(index));
    }
}

void TestEditModel::restorePlan_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<QString>("expandedBefore");
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("expanded"); // in the order to expand
    QTest::addColumn<QString>("selectedAfter");

    QTest::newRow("a rename keeps everything") << "renameSynths" << "I S" << "s1" << "I S" << "s1";
    QTest::newRow("selection restored under its new parent after a move")
        << "moveS1ToReverb" << "I S" << "s1" << "E R" << "s1";
    QTest::newRow("moved next to the open sibling: one open per level") << "moveS1ToKeys" << "I S" << "s1" << "I K" << "s1";
    QTest::newRow("the selected plug-in was deleted") << "deleteS1" << "I S" << "s1" << "I S" << "";
    QTest::newRow("the open category was deleted") << "deleteSynths" << "I S" << "I" << "I" << "I";
    QTest::newRow("an open category moved under a closed one stays closed")
        << "reverbUnderInstruments" << "E R" << "" << "E" << "";
    QTest::newRow("a selected category moved under a new parent") << "reverbUnderInstruments" << "E" << "R" << "I" << "R";
    QTest::newRow("nothing open, a nested selection opens its chain") << "" << "" << "r1" << "E R" << "r1";
    QTest::newRow("the later of two open siblings stays open") << "" << "I E" << "" << "E" << "";
    QTest::newRow("stale ids are ignored") << "" << "gone I" << "gone" << "I" << "";
}

void TestEditModel::restorePlan()
{
    QFETCH(QString, edit);
    QFETCH(QString, expandedBefore);
    QFETCH(QString, selected);
    QFETCH(QString, expanded);
    QFETCH(QString, selectedAfter);
    const VintrelleEditModel model(editedSample(edit));
    const VintrelleEditRestorePlan plan = model.restorePlan(optionalId(selected), idSet(expandedBefore));
    QCOMPARE(plan.expanded.join(' '), expanded);
    QCOMPARE(plan.selected.value_or(QString()), selectedAfter);
    if (plan.selected) // what is selected must be shown
        QVERIFY(visibleRows(model, idSet(expanded)).contains(*plan.selected));
}

void TestEditModel::expansion_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("after"); // sorted, or in expansion order for a reveal

    QTest::newRow("click a closed category: its open sibling closes with descendants")
        << "click" << "E R" << "I" << "I";
    QTest::newRow("click an open category closes it with descendants") << "click" << "I S" << "I" << "";
    QTest::newRow("click a sub-category beside an open one") << "click" << "I S" << "K" << "I K";
    QTest::newRow("click a plug-in changes nothing") << "click" << "I S" << "s1" << "I S";
    QTest::newRow("expanding closes open siblings only") << "expand" << "E R I S" << "K" << "E I K R";
    QTest::newRow("reveal opens the chain, root first") << "reveal" << "E R" << "s1" << "I S";
    QTest::newRow("reveal keeps open categories of other levels") << "reveal" << "I K" << "k1" << "I K";
    QTest::newRow("reveal of a category is nothing") << "reveal" << "E" << "S" << "";
}

void TestEditModel::expansion()
{
    QFETCH(QString, action);
    QFETCH(QString, before);
    QFETCH(QString, id);
    QFETCH(QString, after);
    const VintrelleEditModel model(sampleCategories());
    if (action == "click")
        QCOMPARE(sortedText(model.expansionAfterClicking(idSet(before), id)), after);
    else if (action == "expand")
        QCOMPARE(sortedText(model.expansionAfterExpanding(idSet(before), id)), after);
    else {
        const VintrelleEditRestorePlan plan = model.revealPlan(id, idSet(before));
        QCOMPARE(plan.expanded.join(' '), after);
        QCOMPARE(plan.selected.has_value(), !after.isEmpty());
    }
}

void TestEditModel::rowChanges_data()
{
    QTest::addColumn<QString>("edit");
    QTest::addColumn<int>("changes");
    QTest::addColumn<QString>("retitled");

    QTest::newRow("nothing changed") << "" << 0 << "";
    QTest::newRow("a rename only redraws the row") << "renameSynths" << 0 << "S";
    QTest::newRow("a plug-in's new label only redraws its row") << "relabelVital" << 0 << "s2";
    QTest::newRow("a move touches both categories") << "moveS1ToReverb" << 2 << "";
    QTest::newRow("a delete") << "deleteSynths" << 1 << "";
    QTest::newRow("a category moved to another parent") << "reverbUnderInstruments" << 2 << "";
    QTest::newRow("a top-level reorder") << "effectsFirst" << 1 << "";
    QTest::newRow("an added category") << "addCategory" << 1 << "";
    QTest::newRow("two swapped sub-categories") << "swapKeysAndSynths" << 1 << "";
}

// Applying the changes to the old tree, parents first, must give the new tree exactly; a tree built
// from the previous one equals one built afresh.
void TestEditModel::rowChanges()
{
    QFETCH(QString, edit);
    QFETCH(int, changes);
    QFETCH(QString, retitled);
    const VintrelleEditModel before(sampleCategories());
    VintrelleEditModel after;
    after.setCategories(editedSample(edit), &before); // takes over the categories that did not change
    const VintrelleEditModel fresh(editedSample(edit));
    QCOMPARE(outlineText(after), outlineText(fresh));
    for (const QString &id : visibleRows(fresh, idSet("I S K E R M N")))
        QCOMPARE(after.node(id)->title, fresh.node(id)->title);
    QStringList titles;
    const QList<VintrelleEditRowChange> list = VintrelleEditModel::rowChanges(before, after, &titles);
    QCOMPARE(list.size(), changes);
    QCOMPARE(titles.join(' '), retitled);

    QHash<QString, QStringList> tree; // parent -> children, as a view holding the old rows would
    std::function<void(const VintrelleEditModel &, const QString &)> copy = [&](const VintrelleEditModel &model,
                                                                                const QString &parent) {
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
        for (const QString &child : tree.value(parent)) {
            const QString below = text(child);
            parts << (below.isEmpty() ? child : QStringLiteral("%1[%2]").arg(child, below));
        }
        return parts.join(' ');
    };
    QCOMPARE(text(QString()), outlineText(after));
}

void TestEditModel::compactSize_data()
{
    QTest::addColumn<QList<double>>("otherViews"); // fitting heights of the shown views besides the list
    QTest::addColumn<int>("rows");
    QTest::addColumn<QRectF>("visible");
    QTest::addColumn<QRectF>("window");
    QTest::addColumn<double>("listHeight");
    QTest::addColumn<QRectF>("frame");
    QTest::addColumn<bool>("changed");

    const QList<double> chrome{46, 24, 23.2}; // header, button rows; 12 + 46 + 24 + 24 = 106 plus spacing
    const QRectF screen(0, 30, 1280, 770);
    QTest::newRow("empty library: header, button rows, spacing and insets")
        << chrome << 0 << screen << QRectF(100, 200, 300, 420) << 0.0 << QRectF(100, 200, 300, 118) << true;
    QTest::newRow("a few rows all show") << chrome << 5 << screen << QRectF(100, 200, 300, 420) << 120.0
                                         << QRectF(100, 200, 300, 244) << true;
    QTest::newRow("already the right size") << chrome << 5 << screen << QRectF(100, 200, 300, 244) << 120.0
                                            << QRectF(100, 200, 300, 244) << false;
    QTest::newRow("less than half a point off is left alone")
        << chrome << 5 << screen << QRectF(100, 200.3, 300, 243.8) << 120.0 << QRectF(100, 200.3, 300, 244) << false;
    // Visible height 300 leaves 300 - 124 = 176: seven whole rows; the window moves up to stay on screen.
    QTest::newRow("short screen: whole rows, top moves up only as needed")
        << chrome << 50 << QRectF(0, 30, 1280, 300) << QRectF(100, 200, 300, 420) << 168.0 << QRectF(100, 38, 300, 292)
        << true;
    QTest::newRow("short screen, window already high keeps its top")
        << chrome << 50 << QRectF(0, 30, 1280, 300) << QRectF(100, 35, 300, 100) << 168.0 << QRectF(100, 35, 300, 292)
        << true;
    QTest::newRow("a window above the visible area comes down to its top")
        << chrome << 3 << screen << QRectF(100, 0, 300, 100) << 72.0 << QRectF(100, 30, 300, 196) << true;
    // Shorter than the chrome: one row still shows, and the top clamp wins over the bottom one.
    QTest::newRow("screen shorter than the chrome")
        << chrome << 10 << QRectF(0, 30, 1280, 100) << QRectF(100, 60, 300, 100) << 24.0 << QRectF(100, 30, 300, 148)
        << true;
    QTest::newRow("no screen at all") << chrome << 4 << QRectF() << QRectF(10, 10, 300, 200) << 24.0
                                      << QRectF(10, 0, 300, 148) << true;
}

void TestEditModel::compactSize()
{
    QFETCH(QList<double>, otherViews);
    QFETCH(int, rows);
    QFETCH(QRectF, visible);
    QFETCH(QRectF, window);
    QFETCH(double, listHeight);
    QFETCH(QRectF, frame);
    QFETCH(bool, changed);
    const double chrome = VintrelleEditChromeHeight(otherViews, rows > 0, 6);
    QCOMPARE(chrome, rows > 0 ? 124.0 : 118.0);
    const VintrelleEditSizing sizing = VintrelleEditCompactSize(chrome, rowHeight, rows, visible, window);
    QCOMPARE(sizing.listHidden, rows == 0);
    QCOMPARE(sizing.listHeight, listHeight);
    QCOMPARE(sizing.frame, frame);
    QCOMPARE(sizing.frameChanged, changed);
    QCOMPARE(std::fmod(sizing.listHeight, rowHeight), 0.0);
}

QTEST_GUILESS_MAIN(TestEditModel)
#include "tst_edit_model.moc"
