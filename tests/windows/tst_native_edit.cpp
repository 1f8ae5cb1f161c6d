#include "EditorHarness.h"
#include "VintrelleDragPreview.h"

#include <QAbstractItemModelTester>

namespace {

const QString original = titledOutline(sampleCategories());
QString edited(const QString &from, const QString &to) { return QString(original).replace(from, to); }

} // namespace

class TestNativeEdit : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    // The list follows each library by removals and insertions only (Qt's model tester checks them).
    void inPlaceUpdates_data()
    {
        addColumns<QString, QString, int, QString>({"before", "after", "rowSignals", "redrawn"});
        QTest::newRow("nothing changed") << sampleOutline << sampleOutline << 0 << "";
        QTest::newRow("a rename only redraws the row") << sampleOutline << "I[S=Synthesizers[s1 s2] K[k1] i1 i2 i3] E[R[r1] e1] M" << 0 << "SYNTHESIZERS";
        QTest::newRow("plug-in to an earlier category") << sampleOutline << "I[S[s1 s2] K[k1] i1 i2 i3 e1] E[R[r1]] M" << 2 << "";
        QTest::newRow("sub-category to another parent") << sampleOutline << "I[K[k1] i1 i2 i3] E[S[s1 s2] R[r1] e1] M" << 2 << "";
        QTest::newRow("category deleted with its subtree") << sampleOutline << "E[R[r1] e1] M" << 1 << "";
        QTest::newRow("two swapped sub-categories") << sampleOutline << "I[K[k1] S[s1 s2] i1 i2 i3] E[R[r1] e1] M" << 2 << "";
        QTest::newRow("from empty") << "" << sampleOutline << 1 << "";
    }
    void inPlaceUpdates()
    {
        QFETCH(QString, before); QFETCH(QString, after);
        VintrelleNativeEdit editor;
        editor.updateLibrary(library(before));
        QAbstractItemModelTester tester(editor.treeModel(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        const QAbstractItemModel *model = editor.treeModel();
        QSignalSpy resets(model, &QAbstractItemModel::modelReset), removed(model, &QAbstractItemModel::rowsRemoved),
            inserted(model, &QAbstractItemModel::rowsInserted), redrawn(model, &QAbstractItemModel::dataChanged);
        editor.updateLibrary(library(after));
        QCOMPARE(shownOutline(model), titledOutline(library(after)).toUpper());
        QCOMPARE(resets.count(), 0);
        QTEST(int(removed.count() + inserted.count()), "rowSignals");
        QStringList titles;
        for (const QList<QVariant> &change : std::as_const(redrawn))
            titles << change.at(0).toModelIndex().data().toString();
        QTEST(titles.join(' '), "redrawn");
    }

    // One user session each, steps separated by '|': "@ID" clicks a row, "[Title]" a button, ">text" types
    // into the name prompt and presses Return, "esc" cancels it, "alert:text" expects the failure alert and
    // dismisses it, "menu:Title" picks a row menu item, "move:Title" ("moveoff:" disabled) one of its "Move
    // to" items, "quick:op" is the quick menu's item for the selection, "drag:FROM:OVER:mid|down[:notice]"
    // drags with the mouse, "undo", "close" moves the window, then presses Escape. The saved library (in
    // memory and as shown) and the listed parts of what the user sees follow.
    void flows_data()
    {
        addColumns<QString, QString, QString>({"script", "outline", "state"});
        const auto row = [](const char *name, const QString &script, const QString &outline, const QString &state) {
            QTest::newRow(name) << script << outline << state;
        };
        const QString swapped = "Effects[Reverb[Valhalla] Pro-Q] Instruments[Synths[Serum Vital] Keys[Piano] Kontakt Serum Pianoteq] Empty";
        row("new top-level category", "[+ Category]|>Drums", original + " Drums", "sel=;browses=0");
        row("sub-category of a selected plug-in's category", "@I|@i1|[+ Sub-category]|>Pads", edited("Keys[Piano]", "Keys[Piano] Pads"), "sel=i1");
        row("rename a plug-in keeps it selected", "@I|@i2|menu:Rename|>Serum 2", edited("Kontakt Serum", "Kontakt Serum 2"), "sel=i2");
        row("delete without asking", "@I|@K|@k1|menu:Delete", edited("Keys[Piano]", "Keys"), "sel=");
        row("cancel leaves the library", "@I|@S|menu:Rename|esc", original, "sel=S");
        row("store refusal shows the alert, then the menu",
            "@I|@S|menu:Rename|>" + QString(501, 'x') + "|alert:Choose an available item and enter a name.", original, "sel=S;browses=1");
        row("quick menu rename returns to the menu", "@E|quick:renamePrompt|>FX", edited("Effects", "FX"), "sel=E;browses=1");
        row("down, undone, redone: followed to its place", "@I|[↓]|[Undo]|[Redo]", swapped, "sel=I;undo=on;redo=off");
        row("an error shows in the status line", "undo", original, "status=Nothing to undo.;undo=off");
        row("a sibling closes", "@I|@S|@K", original, "open=I K");
        row("another top-level category closes the branch", "@I|@K|@E|@e1", original, "open=E;sel=e1");
        row("clicked again it closes", "@E|@E", original, "open=");
        row("move to from the row menu", "@I|@i2|moveoff:INSTRUMENTS / SYNTHS — Already added|move:EFFECTS / REVERB",
            edited(" Serum Pianoteq", " Pianoteq").replace("Valhalla]", "Valhalla Serum]"), "sel=i2;open=E R");
        row("moved next to the open sibling: one open per level", "@I|@S|@s1|move:INSTRUMENTS / KEYS", edited("Synths[Serum Vital] Keys[Piano]", "Synths[Vital] Keys[Piano Serum]"), "sel=s1;open=I K");
        row("drag a plug-in to the end of its category", "@I|drag:i1:i3:down", edited("Kontakt Serum Pianoteq", "Serum Pianoteq Kontakt"), "sel=i1");
        row("drag a plug-in into another category, revealed there", "@I|drag:i1:E:mid", edited("Keys[Piano] Kontakt", "Keys[Piano]").replace("Pro-Q]", "Pro-Q Kontakt]"), "sel=i1");
        row("drag into its own category", "@I|drag:i1:I:mid:Already here", original, "sel=i1;open=I;undo=off");
        row("Escape closes; moves are reported", "close", original, "moved=70,50;closes=1;shown=off");
    }
    void flows()
    {
        QFETCH(QString, script); QFETCH(QString, outline); QFETCH(QString, state);
        EditorHarness h(m_home.libraryPath(), sampleCategories());
        QVERIFY(h.ok);
        for (const QString &step : script.split('|', Qt::SkipEmptyParts)) {
            h.step(step);
            if (QTest::currentTestFailed())
                QFAIL(qPrintable("at step " + step));
        }
        QTRY_COMPARE(titledOutline(h.saved()), outline);
        QCOMPARE(shownOutline(h.editor.treeModel()), outline.toUpper());
        const QHash<QString, QString> seen = h.state();
        for (const QString &pair : state.split(';', Qt::SkipEmptyParts))
            QCOMPARE(pair.section('=', 0, 0) + '=' + seen.value(pair.section('=', 0, 0), "<unknown key>"), pair);
    }

    // A rename reaches the library file; of history answers arriving out of order, only the newest counts.
    void savedToDiskAndStaleHistoryIgnored()
    {
        EditorHarness h(m_home.libraryPath(), sampleCategories());
        for (const char *step : {"@E", "menu:Rename", ">FX"})
            h.step(step);
        QTRY_COMPARE(titledOutline(QJsonDocument::fromJson(readFile(m_home.libraryPath()))["categories"].toArray()), edited("Effects", "FX"));
        QList<VintrelleReply> held;
        const auto direct = h.editor.command;
        h.editor.command = [&](const QJsonObject &command, VintrelleReply reply) {
            command.value("op") == "history" ? held.append(std::move(reply)) : direct(command, std::move(reply));
        };
        h.step("@M");
        h.step("@I");
        QVERIFY(held.size() >= 2);
        held.last()(QJsonObject{{"canUndo", 0}, {"canRedo", 1}}, std::nullopt); // the newest answers first
        for (qsizetype i = 0; i + 1 < held.size(); ++i)
            held[i](QJsonObject{{"canUndo", 1}, {"canRedo", 0}}, std::nullopt);
        QCOMPARE(h.state().value("undo") + h.state().value("redo"), "offon");
    }
};

QTEST_MAIN(TestNativeEdit)
#include "tst_native_edit.moc"
