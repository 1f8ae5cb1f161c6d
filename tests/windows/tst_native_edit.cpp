#include "EditorHarness.h"
#include "VintrelleDragPreview.h"

#include <QApplication>
#include <QPushButton>
#include <QtTest>

namespace {

const QString original = titledOutline(sampleCategories());
QString edited(const QString &from, const QString &to) { return QString(original).replace(from, to); }

} // namespace

class TestNativeEdit : public QObject
{
    Q_OBJECT

private slots:
    // The list's rows follow each new library exactly, through removals and insertions only.
    void inPlaceUpdates_data()
    {
        addColumns<QJsonArray, QJsonArray>({"before", "after"});
        const QJsonArray sample = sampleCategories();
        QTest::newRow("plug-in to an earlier category") << sample << library("I[S[s1 s2] K[k1] i1 i2 i3 e1] E[R[r1]] M");
        QTest::newRow("sub-category to another parent") << sample << library("I[K[k1] i1 i2 i3] E[S[s1 s2] R[r1] e1] M");
        QTest::newRow("category deleted with its subtree") << sample << library("E[R[r1] e1] M");
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
    void inPlaceUpdates()
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

    // One user session each, steps separated by '|': "@ID" clicks a row, "[Title]" a button, ">text" types
    // into the name prompt and presses Return, "esc" cancels it, "prompt:Title" expects it, "alert:text"
    // expects the failure alert and dismisses it, "menu:Title" picks a row menu item, "quick:op" is the
    // quick menu's item for the selection, "ctx:ID" opens the row menu, "move:Title" ("moveoff:" disabled)
    // picks its "Move to" item, "drag:FROM:OVER:up|mid|down[:notice]" drags with the mouse, "undo", "close"
    // (Escape), "nudge" moves the window, "show" opens it at 0,0. The saved library (in memory, on disk
    // and as shown) and the listed parts of what the user sees must follow.
    void flows_data()
    {
        addColumns<QString, QString, QString>({"script", "outline", "state"});
        const auto row = [](const char *name, const QString &script, const QString &outline, const QString &state) {
            QTest::newRow(name) << script << outline << state;
        };
        const QString swapped = "Effects[Reverb[Valhalla] Pro-Q] Instruments[Synths[Serum Vital] Keys[Piano] Kontakt Serum Pianoteq] Empty";
        row("new top-level category, name trimmed", "[+ Category]|prompt:New Category|>  Drums  ", original + " Drums", "sel=;browses=0");
        row("sub-category of a selected plug-in's category", "@I|@i1|[+ Sub-category]|prompt:New Subcategory|>Pads",
            edited("Keys[Piano]", "Keys[Piano] Pads"), "sel=i1");
        row("rename a plug-in keeps it selected", "@I|@i2|menu:Rename|prompt:Rename|>Serum 2", edited("Kontakt Serum", "Kontakt Serum 2"), "sel=i2");
        row("delete without asking", "@I|@K|@k1|menu:Delete", edited("Keys[Piano]", "Keys"), "sel=");
        row("cancel leaves the library", "@I|@S|menu:Rename|prompt:Rename|esc", original, "sel=S");
        row("store refusal shows the alert, then the menu",
            "@I|@S|menu:Rename|>" + QString(501, 'x') + "|alert:Choose an available item and enter a name.", original, "sel=S;browses=1");
        row("quick menu rename returns to the menu", "@E|quick:renamePrompt|prompt:Rename|>FX", edited("Effects", "FX"), "sel=E;browses=1");
        row("quick menu delete returns to the menu", "@M|quick:deletePrompt", edited(" Empty", ""), "browses=1");
        row("undone", "@I|[↓]|[Undo]", original, "undo=off;redo=on");
        row("down, undone, redone: followed to its place", "@I|[↓]|[Undo]|[Redo]", swapped, "sel=I;undo=on;redo=off");
        row("an error shows in a taller window", "undo", original, "status=Nothing to undo.;height=taller");
        row("a success clears it", "undo|@M|[↑]", edited(" Empty", "").replace("Effects", "Empty Effects"), "status=;height=same");
        row("opening grows below the top edge", "@I|@S", original, "open=I S;height=taller;top=same");
        row("a sibling closes", "@I|@S|@K", original, "open=I K");
        row("another top-level category closes the branch", "@I|@K|@E|@e1", original, "open=E;sel=e1");
        row("clicked again it closes", "@E|@E", original, "open=;height=same");
        row("move to from the row menu", "@I|ctx:i2|moveoff:INSTRUMENTS / SYNTHS — Already added|move:EFFECTS / REVERB",
            edited(" Serum Pianoteq", " Pianoteq").replace("Valhalla]", "Valhalla Serum]"), "sel=i2;open=E R");
        row("drag a plug-in to the end of its category", "@I|drag:i1:i3:down", edited("Kontakt Serum Pianoteq", "Serum Pianoteq Kontakt"), "sel=i1");
        row("drag a plug-in into another category, revealed there", "@I|drag:i1:E:mid",
            edited("Keys[Piano] Kontakt", "Keys[Piano]").replace("Pro-Q]", "Pro-Q Kontakt]"), "sel=i1");
        row("drag into its own category", "@I|drag:i1:I:mid:Already here", original, "sel=i1;open=I;undo=off");
        row("Escape closes; moves are reported", "nudge|close", original, "moved=70,50;closes=1;shown=off");
        row("Done closes; it reopens where asked", "[Done]|show", original, "closes=1;pos=0,0");
    }
    void flows()
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
            const QString key = pair.section('=', 0, 0);
            QVERIFY2(seen.contains(key), qPrintable(pair));
            QCOMPARE(key + '=' + seen.value(key), pair);
        }
    }

    // History answers that arrive late and out of order: only the newest query counts.
    void staleHistoryAnswerIsIgnored()
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
};

QTEST_MAIN(TestNativeEdit)
#include "tst_native_edit.moc"
