#include "EditorHarness.h"
#include "VintrelleDragPreview.h"
#include "VintrelleEditOutline.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QtTest>

namespace {

const QString original = QStringLiteral("Instruments[Synths[Serum Vital] Keys[Piano] Kontakt Serum Pianoteq] "
                                        "Effects[Reverb[Valhalla] Pro-Q] Empty");

// The rows the list's item model offers, as the titles it shows: proves the rows were updated in
// place to exactly the saved library.
QString shownOutline(const QAbstractItemModel *model, const QModelIndex &parent = {})
{
    QStringList parts;
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        if (index.parent() != parent)
            return QStringLiteral("<parent of %1 is wrong>").arg(index.data().toString());
        const QString inner = shownOutline(model, index);
        parts << (inner.isEmpty() ? index.data().toString() : QStringLiteral("%1[%2]").arg(index.data().toString(), inner));
    }
    return parts.join(' ');
}

QAction *menuItem(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}

} // namespace

class TestNativeEdit : public QObject
{
    Q_OBJECT

private slots:
    void inPlaceUpdates_data();
    void inPlaceUpdates();
    void namedEdits_data();
    void namedEdits();
    void undoAndRedoFollowTheHistory();
    void staleHistoryAnswerIsIgnored();
    void statusShowsTheLastErrorUntilASuccess();
    void dragging_data();
    void dragging();
    void clickOpensOneCategoryPerLevel();
    void moveToMenu();
    void closing_data();
    void closing();
};

// The list's rows follow each new library exactly, through removals and insertions only.
void TestNativeEdit::inPlaceUpdates_data()
{
    QTest::addColumn<QJsonArray>("before");
    QTest::addColumn<QJsonArray>("after");
    const QJsonArray sample = sampleCategories();
    const auto moved = [](QJsonArray categories, int from, int to, int entry) {
        QJsonObject source = categories[from].toObject(), target = categories[to].toObject();
        QJsonArray taken = source["entries"].toArray(), given = target["entries"].toArray();
        given.append(taken.takeAt(entry));
        source["entries"] = taken;
        target["entries"] = given;
        categories[from] = source;
        categories[to] = target;
        return categories;
    };
    QTest::newRow("plug-in to an earlier category") << sample << moved(sample, 2, 0, 0);
    QTest::newRow("plug-in to a later category") << sample << moved(sample, 0, 4, 1);
    QJsonArray reparented = sample;
    reparented[1] = with(sample[1].toObject(), "parentId", "E");
    QTest::newRow("sub-category to another parent") << sample << reparented;
    QJsonArray withoutInstruments = sample;
    for (int i : {3, 1, 0})
        withoutInstruments.removeAt(i);
    QTest::newRow("category deleted with its subtree") << sample << withoutInstruments;
    QTest::newRow("and brought back") << withoutInstruments << sample;
    QTest::newRow("from empty") << QJsonArray() << sample;
    QTest::newRow("to empty") << sample << QJsonArray();
    const QJsonArray large = generatedCategories(400, 2000);
    QTest::newRow("large library, moved plug-in") << large << moved(large, 399, 1, 0);
}

void TestNativeEdit::inPlaceUpdates()
{
    QFETCH(QJsonArray, before);
    QFETCH(QJsonArray, after);
    VintrelleNativeEdit editor;
    editor.updateLibrary(before);
    QCOMPARE(shownOutline(editor.treeModel()), titledOutline(before).toUpper());
    QSignalSpy resets(editor.treeModel(), &QAbstractItemModel::modelReset);
    editor.updateLibrary(after);
    QCOMPARE(shownOutline(editor.treeModel()), titledOutline(after).toUpper());
    QCOMPARE(resets.count(), 0);
}

// One edit each: how it starts, what the user types in the prompt, what is saved, where the user
// ends up. Every saved change is also on disk.
void TestNativeEdit::namedEdits_data()
{
    QTest::addColumn<QString>("select");
    QTest::addColumn<QString>("action"); // a button's title, a row menu item, or "menu:" for the quick menu
    QTest::addColumn<QString>("promptTitle"); // empty: no prompt opens
    QTest::addColumn<QString>("typed"); // then Return; "<escape>" cancels
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("alert"); // the informative text of "Could not complete edit", if any
    QTest::addColumn<QString>("selectedAfter");

    QTest::newRow("new top-level category") << "" << "+ Category" << "New Category" << "  Drums  "
                                            << original + " Drums" << "" << "";
    QTest::newRow("sub-category of a selected plug-in's category")
        << "i1" << "+ Sub-category" << "New Subcategory" << "Pads"
        << QString(original).replace("Keys[Piano]", "Keys[Piano] Pads") << "" << "i1";
    QTest::newRow("rename a plug-in keeps it selected")
        << "i2" << "Rename" << "Rename" << "Serum 2"
        << QString(original).replace("Kontakt Serum", "Kontakt Serum 2") << "" << "i2";
    QTest::newRow("delete without asking") << "k1" << "Delete" << "" << ""
                                           << QString(original).replace("Keys[Piano]", "Keys") << "" << "";
    QTest::newRow("cancel leaves the library") << "S" << "Rename" << "Rename" << "<escape>" << original << "" << "S";
    QTest::newRow("blank name is refused, then cancelled")
        << "S" << "Rename" << "Rename" << "   " << original << "" << "S";
    QTest::newRow("store refusal shows the alert")
        << "S" << "Rename" << "Rename" << QString(501, 'x') << original
        << "Choose an available item and enter a name." << "S";
    QTest::newRow("quick menu rename returns to the menu")
        << "E" << "menu:renamePrompt" << "Rename" << "FX" << QString(original).replace("Effects", "FX") << "" << "E";
    QTest::newRow("quick menu delete returns to the menu")
        << "M" << "menu:deletePrompt" << "" << "" << QString(original).remove(" Empty") << "" << "";
}

void TestNativeEdit::namedEdits()
{
    QFETCH(QString, select);
    QFETCH(QString, action);
    QFETCH(QString, promptTitle);
    QFETCH(QString, typed);
    QFETCH(QString, expected);
    QFETCH(QString, alert);
    QFETCH(QString, selectedAfter);

    EditorHarness h(sampleCategories());
    QVERIFY(h.ok);
    if (!select.isEmpty()) {
        for (const QString &ancestor : h.editor.editModel().ancestorChain(select))
            h.clickRow(ancestor);
        h.clickRow(select);
        QCOMPARE(h.editor.selectedID(), std::optional(select));
    }
    if (action.startsWith("menu:")) {
        QMenu quickMenu;
        const VintrelleEditModel::Node *node = h.editor.editModel().node(select);
        VintrelleEditCommand(&quickMenu, "RENAME", &h.entry,
                             {{"op", action.mid(5)}, {"id", select}, {"name", node->title}, {"returnToBrowse", true}})
            ->trigger();
    } else if (QPushButton *button = h.editor.button(action)) {
        QTest::mouseClick(button, Qt::LeftButton);
    } else {
        QAction *item = menuItem(h.editor.contextMenu(), action);
        QVERIFY(item && item->isEnabled());
        item->trigger();
    }

    if (!promptTitle.isEmpty()) {
        QTRY_VERIFY(h.prompt.window()->isVisible());
        QCOMPARE(h.prompt.window()->windowTitle(), promptTitle);
        QLineEdit *field = h.prompt.field();
        QCOMPARE(field->selectedText(), field->text()); // typing replaces the current name
        if (typed == "<escape>") {
            QTest::keyClick(field, Qt::Key_Escape);
        } else {
            QTest::keyClicks(field, typed);
            QTest::keyClick(field, Qt::Key_Return);
            if (typed.trimmed().isEmpty()) {
                QVERIFY(h.prompt.window()->isVisible()); // refused with a beep
                QTest::keyClick(field, Qt::Key_Escape);
            }
        }
        QVERIFY(!h.prompt.window()->isVisible() || !alert.isEmpty());
    }
    QTRY_COMPARE(titledOutline(h.saved()), expected);
    QCOMPARE(titledOutline(h.onDisk()), expected);
    QCOMPARE(shownOutline(h.editor.treeModel()), expected.toUpper());

    if (!alert.isEmpty()) {
        QTRY_VERIFY(qobject_cast<QMessageBox *>(QApplication::activeModalWidget()));
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QCOMPARE(box->text(), "Could not complete edit");
        QCOMPARE(box->informativeText(), alert);
        QCOMPARE(box->parentWidget(), h.prompt.window());
        box->reject();
        QTRY_COMPARE(h.browses, 1);
        QVERIFY(!h.prompt.window()->isVisible());
        return;
    }
    const bool fromQuickMenu = action.startsWith("menu:");
    QTRY_COMPARE(h.browses, fromQuickMenu ? 1 : 0);
    QCOMPARE(h.editor.selectedID().value_or(QString()), selectedAfter);
    // The rows shown follow the saved library, text included.
    if (!selectedAfter.isEmpty()) {
        const QModelIndex row = h.editor.treeModel()->indexForID(selectedAfter);
        QCOMPARE(row.data().toString(), h.editor.editModel().node(selectedAfter)->title.toUpper());
    }
}

void TestNativeEdit::undoAndRedoFollowTheHistory()
{
    EditorHarness h(sampleCategories());
    QPushButton *undo = h.editor.button("Undo");
    QPushButton *redo = h.editor.button("Redo");
    QVERIFY(!undo->isEnabled() && !redo->isEnabled()); // a fresh history

    h.clickRow("I");
    QTest::mouseClick(h.editor.button("↓"), Qt::LeftButton);
    const QString swapped = QString(original).replace(QRegularExpression("^(Instruments\\[.*\\]) (Effects\\[.*\\])"), "\\2 \\1");
    QCOMPARE(titledOutline(h.saved()), swapped);
    QCOMPARE(h.editor.selectedID(), std::optional<QString>("I")); // followed to its new place
    QVERIFY(undo->isEnabled() && !redo->isEnabled());
    QVERIFY(h.editor.button("↑")->isEnabled());

    QTest::mouseClick(undo, Qt::LeftButton);
    QCOMPARE(titledOutline(h.saved()), original);
    QVERIFY(!undo->isEnabled() && redo->isEnabled());

    QTest::mouseClick(redo, Qt::LeftButton);
    QCOMPARE(titledOutline(h.saved()), swapped);
    QCOMPARE(titledOutline(h.onDisk()), swapped);
    QVERIFY(undo->isEnabled() && !redo->isEnabled());
}

// History answers that arrive late and out of order: only the newest query counts.
void TestNativeEdit::staleHistoryAnswerIsIgnored()
{
    EditorHarness h(sampleCategories());
    QList<VintrelleReply> held;
    const auto direct = h.editor.command;
    h.editor.command = [&](const QJsonObject &command, VintrelleReply reply) {
        if (command.value("op") == "history")
            held.append(std::move(reply));
        else
            direct(command, std::move(reply));
    };
    h.clickRow("E");
    h.clickRow("M");
    QVERIFY(held.size() >= 2);
    held.last()(QJsonObject{{"canUndo", 1}, {"canRedo", 0}}, std::nullopt); // the newest answers first
    for (qsizetype i = 0; i + 1 < held.size(); ++i) // older answers arrive later and must not win
        held[i](QJsonObject{{"canUndo", 0}, {"canRedo", 1}}, std::nullopt);
    QVERIFY(h.editor.button("Undo")->isEnabled());
    QVERIFY(!h.editor.button("Redo")->isEnabled());
}

void TestNativeEdit::statusShowsTheLastErrorUntilASuccess()
{
    EditorHarness h(sampleCategories());
    QLabel *status = h.editor.status();
    QVERIFY(status->isHidden());
    const int before = h.editor.height();
    h.editor.undo(); // nothing to undo yet
    QCOMPARE(status->text(), "Nothing to undo.");
    QVERIFY(!status->isHidden());
    QVERIFY(h.editor.height() > before); // the window grew to show it
    QCOMPARE(titledOutline(h.saved()), original);

    h.clickRow("M"); // EMPTY opens to nothing, so only the status line changes the height
    QTest::mouseClick(h.editor.button("↑"), Qt::LeftButton);
    QVERIFY(status->isHidden());
    QCOMPARE(status->text(), QString());
    QCOMPARE(h.editor.height(), before);
}

// One drag each, driven by the mouse: where the row is dropped, what the preview says while it
// hovers, what is saved and what is selected afterwards. A saved change is undone by one Undo.
void TestNativeEdit::dragging_data()
{
    QTest::addColumn<QString>("dragged");
    QTest::addColumn<QString>("over");
    QTest::addColumn<int>("part"); // -1 upper half, 0 middle, 1 lower half
    QTest::addColumn<QString>("notice");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("selectedAfter");

    QTest::newRow("plug-in to the end of its category")
        << "i1" << "i3" << 1 << "" << QString(original).replace("Kontakt Serum Pianoteq", "Serum Pianoteq Kontakt") << "i1";
    QTest::newRow("plug-in to the top of its category")
        << "i3" << "i1" << -1 << "" << QString(original).replace("Kontakt Serum Pianoteq", "Pianoteq Kontakt Serum") << "i3";
    QTest::newRow("onto its own place does nothing") << "i2" << "i2" << -1 << "" << original << "i2";
    QTest::newRow("sub-category below its sibling")
        << "S" << "K" << 1 << "" << QString(original).replace("Synths[Serum Vital] Keys[Piano]", "Keys[Piano] Synths[Serum Vital]") << "S";
    QTest::newRow("sub-category over a plug-in row is refused") << "S" << "i2" << 0 << "" << original << "S";
    QTest::newRow("plug-in into another category, revealed there")
        << "i1" << "E" << 0 << ""
        << QString(original).replace("Instruments[Synths[Serum Vital] Keys[Piano] Kontakt", "Instruments[Synths[Serum Vital] Keys[Piano]")
               .replace("Pro-Q]", "Pro-Q Kontakt]")
        << "i1";
    QTest::newRow("plug-in into a sub-category") << "i3" << "S" << 0 << ""
                                                 << QString(original).replace("Vital]", "Vital Pianoteq]").replace(" Serum Pianoteq]", " Serum]")
                                                 << "i3";
    QTest::newRow("its own category: Already here") << "i1" << "I" << 0 << "Already here" << original << "i1";
    QTest::newRow("same plug-in there: Already added") << "i2" << "S" << 0 << "Already added" << original << "i2";
}

void TestNativeEdit::dragging()
{
    QFETCH(QString, dragged);
    QFETCH(QString, over);
    QFETCH(int, part);
    QFETCH(QString, notice);
    QFETCH(QString, expected);
    QFETCH(QString, selectedAfter);

    EditorHarness h(sampleCategories());
    h.clickRow("I"); // opens INSTRUMENTS
    const QSet<QString> openBefore = h.editor.expandedIDs();
    QVERIFY(openBefore.contains("I"));
    VintrelleEditOutline *outline = h.editor.outline();

    const QPoint start = h.rowRect(dragged).center();
    const QRect target = h.rowRect(over);
    const QPoint end(target.center().x(), part < 0 ? target.top() + 3 : part > 0 ? target.bottom() - 3 : target.center().y());
    QTest::mousePress(h.viewport(), Qt::LeftButton, {}, start);
    QTest::mouseMove(h.viewport(), start + QPoint(0, QApplication::startDragDistance() + 2));
    QVERIFY(outline->verticalDragActive());
    QVERIFY(outline->verticalPreview());
    QTest::mouseMove(h.viewport(), end);
    QCOMPARE(outline->verticalPreview()->notice(), notice);
    // The preview stays inside the list and in its column.
    QTest::qWait(3 * VintrelleEditOutline::previewInterval);
    const QRect preview = outline->verticalPreview()->geometry();
    const QRect list(outline->viewport()->mapTo(&h.editor, QPoint(0, 0)), outline->viewport()->size());
    QVERIFY(list.contains(preview));
    QCOMPARE(preview.x(), list.x());
    QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, end);

    QVERIFY(!outline->verticalDragActive());
    QVERIFY(!outline->verticalPreview());
    QVERIFY(outline->suppressRowClick());
    QCOMPARE(titledOutline(h.saved()), expected);
    QCOMPARE(titledOutline(h.onDisk()), expected);
    QCOMPARE(h.editor.selectedID().value_or(QString()), selectedAfter);
    const QModelIndex selectedRow = h.editor.treeModel()->indexForID(selectedAfter);
    QVERIFY(outline->visualRect(selectedRow).intersects(outline->viewport()->rect())); // revealed
    if (expected == original) {
        QCOMPARE(h.editor.expandedIDs(), openBefore); // the press that began a drag opened nothing
        return;
    }
    QTest::mouseClick(h.editor.button("Undo"), Qt::LeftButton);
    QCOMPARE(titledOutline(h.saved()), original);
}

void TestNativeEdit::clickOpensOneCategoryPerLevel()
{
    EditorHarness h(sampleCategories());
    const int closedHeight = h.editor.height();
    const int top = h.editor.y();
    h.clickRow("I");
    h.clickRow("S");
    QCOMPARE(h.editor.expandedIDs(), (QSet<QString>{"I", "S"}));
    QVERIFY(h.editor.height() > closedHeight);
    QCOMPARE(h.editor.y(), top); // grows below its top edge
    h.clickRow("K"); // a sibling: SYNTHS closes
    QCOMPARE(h.editor.expandedIDs(), (QSet<QString>{"I", "K"}));
    h.clickRow("E"); // another top-level category: INSTRUMENTS closes with KEYS
    QCOMPARE(h.editor.expandedIDs(), (QSet<QString>{"E"}));
    h.clickRow("e1"); // a plug-in row only selects
    QCOMPARE(h.editor.expandedIDs(), (QSet<QString>{"E"}));
    QCOMPARE(h.editor.selectedID(), std::optional<QString>("e1"));
    h.clickRow("E");
    QCOMPARE(h.editor.expandedIDs(), QSet<QString>());
    QCOMPARE(h.editor.height(), closedHeight);
}

void TestNativeEdit::moveToMenu()
{
    EditorHarness h(sampleCategories());
    h.clickRow("I");
    QContextMenuEvent event(QContextMenuEvent::Mouse, h.rowRect("i2").center(), h.viewport()->mapToGlobal(h.rowRect("i2").center()));
    QApplication::sendEvent(h.viewport(), &event); // selects the row under the pointer
    QCOMPARE(h.editor.selectedID(), std::optional<QString>("i2"));
    QMenu *menu = h.editor.contextMenu();
    menu->hide();
    QAction *moveTo = menuItem(menu, "Move to");
    QVERIFY(moveTo && moveTo->menu());
    QStringList titles;
    for (QAction *item : moveTo->menu()->actions())
        titles << item->text() + (item->isEnabled() ? "" : " (off)");
    QCOMPARE(titles, (QStringList{"INSTRUMENTS — Already here (off)", "INSTRUMENTS / SYNTHS — Already added (off)",
                                  "INSTRUMENTS / KEYS", "EFFECTS", "EFFECTS / REVERB", "EMPTY"}));
    moveTo->menu()->actions().at(4)->trigger();
    QCOMPARE(titledOutline(h.saved()), QString(original).replace(" Serum Pianoteq", " Pianoteq").replace("Valhalla]", "Valhalla Serum]"));
    QCOMPARE(h.editor.selectedID(), std::optional<QString>("i2"));
    QCOMPARE(h.editor.expandedIDs(), (QSet<QString>{"E", "R"}));
}

void TestNativeEdit::closing_data()
{
    QTest::addColumn<bool>("escape");
    QTest::newRow("Escape") << true;
    QTest::newRow("Done") << false;
}

void TestNativeEdit::closing()
{
    QFETCH(bool, escape);
    EditorHarness h(sampleCategories());
    QVERIFY(QTest::qWaitForWindowExposed(&h.editor));
    QList<QPoint> moves;
    h.editor.onMoved = [&](const QPoint &topLeft) { moves << topLeft; };
    h.editor.move(h.editor.pos() + QPoint(30, 10));
    QCOMPARE(moves.value(0), QPoint(70, 50));
    if (escape)
        QTest::keyClick(h.editor.outline(), Qt::Key_Escape);
    else
        QTest::mouseClick(h.editor.button("Done"), Qt::LeftButton);
    QVERIFY(!h.editor.isVisible());
    QCOMPARE(h.closes, 1);
    h.editor.showAtTopLeft(QPoint(0, 0)); // a hidden editor opens at the point it is given
    QCOMPARE(h.editor.pos(), QPoint(0, 0));
}

QTEST_MAIN(TestNativeEdit)
#include "tst_native_edit.moc"
