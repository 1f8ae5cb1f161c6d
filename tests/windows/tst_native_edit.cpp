#include "EditorHarness.h"
#include "VintrelleDragPreview.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

namespace {

const QString original = titledOutline(sampleCategories());

QString edited(const QString &from, const QString &to)
{
    return QString(original).replace(from, to);
}

} // namespace

class TestNativeEdit : public QObject
{
    Q_OBJECT

private slots:
    void inPlaceUpdates_data();
    void inPlaceUpdates();
    void flows_data();
    void flows();
    void staleHistoryAnswerIsIgnored();
};

// The list's rows follow each new library exactly, through removals and insertions only.
void TestNativeEdit::inPlaceUpdates_data()
{
    addColumns<QJsonArray, QJsonArray>({"before", "after"});
    const QJsonArray sample = sampleCategories();
    QTest::newRow("plug-in to an earlier category") << sample << library("I[S[s1 s2] K[k1] i1 i2 i3 e1] E[R[r1]] M");
    QTest::newRow("plug-in to a later category") << sample << library("I[S[s1 s2] K[k1] i1 i3] E[R[r1 i2] e1] M");
    QTest::newRow("sub-category to another parent") << sample << library("I[K[k1] i1 i2 i3] E[S[s1 s2] R[r1] e1] M");
    QTest::newRow("category deleted with its subtree") << sample << library("E[R[r1] e1] M");
    QTest::newRow("and brought back") << library("E[R[r1] e1] M") << sample;
    QTest::newRow("from empty") << QJsonArray() << sample;
    QTest::newRow("to empty") << sample << QJsonArray();
    const QJsonArray large = generatedCategories(400, 2000);
    QJsonArray moved = large;
    QJsonObject from = moved[399].toObject(), to = moved[1].toObject();
    QJsonArray taken = from["entries"].toArray();
    to["entries"] = to["entries"].toArray() << taken.takeAt(0);
    from["entries"] = taken;
    moved[399] = from;
    moved[1] = to;
    QTest::newRow("large library, moved plug-in") << large << moved;
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

// One user session each, steps separated by '|': "@ID" clicks a row, "[Title]" a button, ">text"
// types into the name prompt and presses Return, "esc" cancels it, "prompt:Title" expects it,
// "alert:text" expects the failure alert and dismisses it, "menu:Title" picks a row menu item, "quick:op" is the quick menu's item for
// the selection, "ctx:ID" opens the row menu, "move:Title" ("moveoff:" disabled) picks its "Move
// to" item, "drag:FROM:OVER:up|mid|down[:notice]" drags with the mouse, "undo", "close" (Escape),
// "nudge" moves the window, "show" opens it at 0,0. The saved library (in memory, on disk and as
// shown) and the listed parts of what the user sees must follow.
void TestNativeEdit::flows_data()
{
    addColumns<QString, QString, QString>({"script", "outline", "state"});
    const QString swapped = "Effects[Reverb[Valhalla] Pro-Q] Instruments[Synths[Serum Vital] Keys[Piano] Kontakt Serum Pianoteq] Empty";
    QTest::newRow("new top-level category, name trimmed")
        << "[+ Category]|prompt:New Category|>  Drums  " << original + " Drums" << "sel=;browses=0";
    QTest::newRow("sub-category of a selected plug-in's category")
        << "@I|@i1|[+ Sub-category]|prompt:New Subcategory|>Pads" << edited("Keys[Piano]", "Keys[Piano] Pads") << "sel=i1";
    QTest::newRow("rename a plug-in keeps it selected")
        << "@I|@i2|menu:Rename|prompt:Rename|>Serum 2" << edited("Kontakt Serum", "Kontakt Serum 2") << "sel=i2";
    QTest::newRow("delete without asking") << "@I|@K|@k1|menu:Delete" << edited("Keys[Piano]", "Keys") << "sel=";
    QTest::newRow("cancel leaves the library") << "@I|@S|menu:Rename|prompt:Rename|esc" << original << "sel=S";
    QTest::newRow("a blank name keeps the prompt open") << "@I|@S|menu:Rename|>   |esc" << original << "sel=S;browses=0";
    QTest::newRow("store refusal shows the alert, then the menu")
        << "@I|@S|menu:Rename|>" + QString(501, 'x') + "|alert:Choose an available item and enter a name." << original
        << "sel=S;browses=1";
    QTest::newRow("quick menu rename returns to the menu")
        << "@E|quick:renamePrompt|prompt:Rename|>FX" << edited("Effects", "FX") << "sel=E;browses=1";
    QTest::newRow("quick menu delete returns to the menu") << "@M|quick:deletePrompt" << edited(" Empty", "") << "browses=1";
    QTest::newRow("a fresh history") << "" << original << "undo=off;redo=off;status=";
    QTest::newRow("down, followed to its place") << "@I|[↓]" << swapped << "sel=I;undo=on;redo=off";
    QTest::newRow("undone") << "@I|[↓]|[Undo]" << original << "undo=off;redo=on";
    QTest::newRow("redone") << "@I|[↓]|[Undo]|[Redo]" << swapped << "undo=on;redo=off";
    QTest::newRow("an error shows in a taller window") << "undo" << original << "status=Nothing to undo.;height=taller";
    QTest::newRow("a success clears it")
        << "undo|@M|[↑]" << edited(" Empty", "").replace("Effects", "Empty Effects") << "status=;height=same";
    QTest::newRow("opening grows below the top edge") << "@I|@S" << original << "open=I S;height=taller;top=same";
    QTest::newRow("a sibling closes") << "@I|@S|@K" << original << "open=I K";
    QTest::newRow("another top-level category closes the branch") << "@I|@K|@E|@e1" << original << "open=E;sel=e1";
    QTest::newRow("clicked again it closes") << "@E|@E" << original << "open=;height=same";
    QTest::newRow("move to from the row menu")
        << "@I|ctx:i2|moveoff:INSTRUMENTS / SYNTHS — Already added|move:EFFECTS / REVERB"
        << edited(" Serum Pianoteq", " Pianoteq").replace("Valhalla]", "Valhalla Serum]") << "sel=i2;open=E R";
    QTest::newRow("drag a plug-in to the end of its category")
        << "@I|drag:i1:i3:down" << edited("Kontakt Serum Pianoteq", "Serum Pianoteq Kontakt") << "sel=i1";
    QTest::newRow("drag a plug-in to the top of its category")
        << "@I|drag:i3:i1:up" << edited("Kontakt Serum Pianoteq", "Pianoteq Kontakt Serum") << "sel=i3";
    QTest::newRow("drag onto its own place") << "@I|drag:i2:i2:up" << original << "sel=i2;open=I;undo=off";
    QTest::newRow("drag a sub-category below its sibling")
        << "@I|drag:S:K:down" << edited("Synths[Serum Vital] Keys[Piano]", "Keys[Piano] Synths[Serum Vital]") << "sel=S";
    QTest::newRow("drag a sub-category over a plug-in row") << "@I|drag:S:i2:mid" << original << "sel=S;open=I";
    QTest::newRow("drag a plug-in into another category, revealed there")
        << "@I|drag:i1:E:mid" << edited("Keys[Piano] Kontakt", "Keys[Piano]").replace("Pro-Q]", "Pro-Q Kontakt]") << "sel=i1";
    QTest::newRow("drag a plug-in into a sub-category, then undo")
        << "@I|drag:i3:S:mid|[Undo]" << original << "redo=on";
    QTest::newRow("drag into its own category") << "@I|drag:i1:I:mid:Already here" << original << "sel=i1;open=I";
    QTest::newRow("drag where the plug-in is") << "@I|drag:i2:S:mid:Already added" << original << "sel=i2";
    QTest::newRow("Escape closes; moves are reported") << "nudge|close" << original << "moved=70,50;closes=1;shown=off";
    QTest::newRow("Done closes; it reopens where asked") << "[Done]|show" << original << "closes=1;pos=0,0";
}

void TestNativeEdit::flows()
{
    QFETCH(QString, script);
    QFETCH(QString, outline);
    QFETCH(QString, state);
    EditorHarness h(sampleCategories());
    QVERIFY(h.ok);
    for (const QString &step : script.split('|', Qt::SkipEmptyParts)) {
        h.step(step);
        if (QTest::currentTestFailed())
            QFAIL(qPrintable("at step " + step));
    }
    QTRY_COMPARE(titledOutline(h.saved()), outline);
    QCOMPARE(titledOutline(h.onDisk()), outline);
    QCOMPARE(shownOutline(h.editor.treeModel()), outline.toUpper());
    const QHash<QString, QString> seen = h.state();
    for (const QString &pair : state.split(';', Qt::SkipEmptyParts)) {
        QVERIFY2(seen.contains(pair.section('=', 0, 0)), qPrintable(pair));
        QCOMPARE(pair.section('=', 0, 0) + '=' + seen.value(pair.section('=', 0, 0)), pair);
    }
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
    h.step("@E");
    h.step("@M");
    QVERIFY(held.size() >= 2);
    held.last()(QJsonObject{{"canUndo", 1}, {"canRedo", 0}}, std::nullopt); // the newest answers first
    for (qsizetype i = 0; i + 1 < held.size(); ++i)
        held[i](QJsonObject{{"canUndo", 0}, {"canRedo", 1}}, std::nullopt);
    QCOMPARE(h.state().value("undo") + h.state().value("redo"), "onoff");
}

QTEST_MAIN(TestNativeEdit)
#include "tst_native_edit.moc"
