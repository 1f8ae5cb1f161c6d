#include "QuickMenuTestSupport.h"

#include "VintrelleQuickMenu.h"
#include "VintrelleQuickMenuOpening.h"

using Kind = VintrelleQuickMenuRow::Kind;

static QJsonArray parse(const char *json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test data: %s", qPrintable(error.errorString()));
    return document.array();
}

// One letter per row, in the order of Kind: Header, Category, Plugin, EmptyMarker (M), AddCategory,
// Separator, settings (T), Edit, Rename, Delete.
static QString kindsOf(const VintrelleQuickMenuRows &rows)
{
    QString kinds;
    for (const VintrelleQuickMenuRow &row : rows)
        kinds += QLatin1Char("HCPMASTERD"[int(row.kind)]);
    return kinds;
}

class TestQuickMenuModel : public QObject
{
    Q_OBJECT

private slots:
    // Depth 0 is the main level; otherwise the sub-menu of category "a" at that depth.
    void rows_data()
    {
        addColumns<QByteArray, int, QStringList, QString, QStringList>({"categories", "depth", "titles", "kinds", "ids"});

        const QStringList empty{"VINTRELLE", "+", "---", "SETTINGS", "EDIT"};
        QTest::newRow("empty library") << QByteArray("[]") << 0 << empty << "HASTE" << QStringList{"", "", "", "", ""};
        QTest::newRow("only malformed categories")
            << QByteArray(R"([1, "x", null, {"id": "a", "name": 3}, {"name": "No id"}, {"id": 7, "name": "Number id"}])") << 0
            << empty << "HASTE" << QStringList{"", "", "", "", ""};
        QTest::newRow("top level in library order, no sub-categories")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "s", "name": "sub", "parentId": "r"},
                             {"id": "a", "name": "Amps", "parentId": null}, {"id": "e", "name": "Echo", "parentId": ""}])")
            << 0 << QStringList{"VINTRELLE", "REVERB", "AMPS", "ECHO", "---", "SETTINGS", "EDIT"} << "HCCCSTE"
            << QStringList{"", "r", "a", "e", "", "", ""};
        QTest::newRow("malformed siblings left out")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "x", "name": ["Reverb"]}, [],
                             {"id": "p", "name": "Parent number", "parentId": 4}, {"id": "", "name": "Empty id"},
                             {"id": "d", "name": "Delay", "entries": "not an array"}])")
            << 0 << QStringList{"VINTRELLE", "REVERB", "DELAY", "---", "SETTINGS", "EDIT"} << "HCCSTE" << QStringList{"", "r", "d", "", "", ""};
        QTest::newRow("upper case of any script") << QByteArray(R"([{"id": "1", "name": "Straße & Échos"}, {"id": "2", "name": "déjà vu 2"}])")
                                                  << 0 << QStringList{"VINTRELLE", "STRASSE & ÉCHOS", "DÉJÀ VU 2", "---", "SETTINGS", "EDIT"}
                                                  << "HCCSTE" << QStringList{"", "1", "2", "", "", ""};
        QTest::newRow("sub-categories first, then plug-ins in order")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1", "label": "My Echo 2"}, {"id": "e2", "label": "Amp"}]},
                             {"id": "b", "name": "Delays", "parentId": "a"}, {"id": "c", "name": "Other"},
                             {"id": "d", "name": "Verbs", "parentId": "a"}])")
            << 1 << QStringList{"DELAYS", "VERBS", "MY ECHO 2", "AMP"} << "CCPP" << QStringList{"b", "d", "e1", "e2"};
        QTest::newRow("nothing inside: the disabled marker") << QByteArray(R"([{"id": "a", "name": "Empty", "entries": []}])") << 1
                                                              << QStringList{"EMPTY CATEGORY"} << "M" << QStringList{""};
        QTest::newRow("malformed entries left out")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1"}, {"id": 2, "label": "Num"}, "e3",
                             {"id": "e4", "label": null}, {"id": "e5", "label": "Kept"}]}])")
            << 1 << QStringList{"KEPT"} << "P" << QStringList{"e5"};
        QTest::newRow("entries that are not an array count as none")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": {"id": "e", "label": "x"}}])") << 1 << QStringList{"EMPTY CATEGORY"} << "M"
            << QStringList{""};
        QTest::newRow("plug-ins of the first category with the id")
            << QByteArray(R"([{"id": "a", "name": "First", "entries": [{"id": "1", "label": "one"}]},
                             {"id": "a", "name": "Second", "entries": [{"id": "2", "label": "two"}]}])")
            << 1 << QStringList{"ONE"} << "P" << QStringList{"1"};
        const QByteArray deep(R"([{"id": "a", "name": "Deep", "entries": [{"id": "1", "label": "one"}]}, {"id": "b", "name": "Deeper", "parentId": "a"}])");
        QTest::newRow("at the depth limit only the marker") << deep << 64 << QStringList{"EMPTY CATEGORY"} << "M" << QStringList{""};
        QTest::newRow("one level above the limit still lists") << deep << 63 << QStringList{"DEEPER", "ONE"} << "CP" << QStringList{"b", "1"};
    }

    void rows()
    {
        QFETCH(QByteArray, categories); QFETCH(int, depth); QFETCH(QStringList, titles); QFETCH(QString, kinds); QFETCH(QStringList, ids);
        const VintrelleQuickMenuLibrary library(parse(categories));
        const VintrelleQuickMenuRows rows = depth ? VintrelleQuickMenuSubmenu(library, "a", depth) : VintrelleQuickMenu(library);
        QCOMPARE(titlesOf(rows), titles);
        QCOMPARE(kindsOf(rows), kinds);
        QStringList represented;
        for (const VintrelleQuickMenuRow &row : rows) {
            represented << row.representedID;
            QCOMPARE(row.enabled, row.kind != Kind::EmptyMarker);
            QVERIFY(row.children.isEmpty()); // nothing below the level asked for is built
            if (row.kind == Kind::Category)
                QCOMPARE(row.submenuDepth, depth + 1);
        }
        QCOMPARE(represented, ids);
    }

    // A chain deeper than the limit ends, in the expanded menu, at level 64 with the marker.
    void expandedMenuStopsAtTheDepthLimit()
    {
        QJsonArray chain;
        for (int i = 0; i < 70; ++i)
            chain.append(categoryObject(QString::number(i), QStringLiteral("Level %1").arg(i), i ? QJsonValue(QString::number(i - 1)) : QJsonValue()));
        const VintrelleQuickMenuRows rows = VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(chain));
        const VintrelleQuickMenuRow *row = &rows[1];
        int levels = 0;
        for (; row->kind == Kind::Category; row = &row->children.first(), ++levels) {
            QCOMPARE(row->title, QStringLiteral("LEVEL %1").arg(levels));
            QCOMPARE(row->children.size(), 1);
        }
        QCOMPARE(levels, 64);
        QCOMPARE(row->kind, Kind::EmptyMarker);
    }

    void displayName_data()
    {
        addColumns<QString, QString>({"id", "name"}); // name "<none>": no name
        QTest::newRow("category") << "b" << "Bass & Sub";
        QTest::newRow("entry") << "e2" << "Tidepool";
        QTest::newRow("entry of a later category") << "e9" << "Late";
        QTest::newRow("category wins over an entry with the same id") << "a" << "Amps";
        QTest::newRow("first category with a name that is not text") << "n" << "<none>";
        QTest::newRow("entry without a label") << "e3" << "<none>";
        QTest::newRow("unknown") << "zzz" << "<none>";
        QTest::newRow("empty") << "" << "<none>";
    }

    void displayName()
    {
        QFETCH(QString, id); QFETCH(QString, name);
        const VintrelleQuickMenuLibrary library(parse(R"([
            {"id": "a", "name": "Amps", "entries": [{"id": "e1", "label": "Amp"}, {"id": "a", "label": "Shadow"}]},
            {"id": "b", "name": "Bass & Sub", "entries": [{"id": "e2", "label": "Tidepool"}, {"id": "e3"}]},
            {"id": "n", "name": 5}, {"id": "n", "name": "Second"}, "junk",
            {"id": "c", "name": "Late", "entries": [{"id": "e9", "label": "Late"}, {"id": "e2", "label": "Dup"}]}])"));
        QCOMPARE(library.displayNameOf(id).value_or("<none>"), name);
    }

    void opening_data()
    {
        addColumns<bool, bool, bool, int>({"namePromptVisible", "menuOpen", "libraryLoaded", "decision"});
        using D = VintrelleQuickMenuOpening::Decision;
        QTest::newRow("ready") << false << false << true << int(D::Open);
        QTest::newRow("name prompt wins over everything") << true << true << false << int(D::RaiseNamePrompt);
        QTest::newRow("second request while open") << false << true << true << int(D::Ignore);
        QTest::newRow("open and not loaded is still ignored") << false << true << false << int(D::Ignore);
        QTest::newRow("library not loaded: deferred, the last point kept") << false << false << false << int(D::Defer);
    }

    void opening()
    {
        QFETCH(bool, namePromptVisible); QFETCH(bool, menuOpen); QFETCH(bool, libraryLoaded); QFETCH(int, decision);
        const bool pending = decision == int(VintrelleQuickMenuOpening::Decision::Defer);
        VintrelleQuickMenuOpening opening;
        QCOMPARE(int(opening.request({1, 1}, namePromptVisible, menuOpen, libraryLoaded)), decision);
        QCOMPARE(int(opening.request({5, 6}, namePromptVisible, menuOpen, libraryLoaded)), decision);
        QCOMPARE(opening.isPending(), pending);
        QCOMPARE(opening.takePending(), pending ? std::optional<QPoint>(QPoint(5, 6)) : std::nullopt);
        QVERIFY(!opening.takePending()); // taken once
    }
};

QTEST_GUILESS_MAIN(TestQuickMenuModel)
#include "tst_quick_menu_model.moc"
