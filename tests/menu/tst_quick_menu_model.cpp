#include "QuickMenuTestSupport.h"

#include "VintrelleQuickMenu.h"
#include "VintrelleQuickMenuOpening.h"

#include <QTest>

using Kind = VintrelleQuickMenuRow::Kind;

namespace {

QJsonArray parse(const char *json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test data: %s", qPrintable(error.errorString()));
    return document.array();
}

QList<int> kindsOf(const VintrelleQuickMenuRows &rows)
{
    QList<int> kinds;
    for (const VintrelleQuickMenuRow &row : rows)
        kinds << int(row.kind);
    return kinds;
}

} // namespace

class TestQuickMenuModel : public QObject
{
    Q_OBJECT

private slots:
    void mainLevel_data()
    {
        QTest::addColumn<QByteArray>("categories");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QStringList>("ids");

        const QStringList empty{"VINTRELLE", "+", "---", "SETTINGS", "EDIT"};
        QTest::newRow("empty library") << QByteArray("[]") << empty << QStringList{"", "", "", "", ""};
        QTest::newRow("only malformed categories")
            << QByteArray(R"([1, "x", null, {"id": "a", "name": 3}, {"name": "No id"}, {"id": 7, "name": "Number id"}])")
            << empty << QStringList{"", "", "", "", ""};
        QTest::newRow("top level in library order, no sub-categories")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "s", "name": "sub", "parentId": "r"},
                             {"id": "a", "name": "Amps", "parentId": null}, {"id": "e", "name": "Echo", "parentId": ""}])")
            << QStringList{"VINTRELLE", "REVERB", "AMPS", "ECHO", "---", "SETTINGS", "EDIT"}
            << QStringList{"", "r", "a", "e", "", "", ""};
        QTest::newRow("malformed siblings left out")
            << QByteArray(R"([{"id": "r", "name": "Reverb"}, {"id": "x", "name": ["Reverb"]}, [],
                             {"id": "p", "name": "Parent number", "parentId": 4}, {"id": "", "name": "Empty id"},
                             {"id": "d", "name": "Delay", "entries": "not an array"}])")
            << QStringList{"VINTRELLE", "REVERB", "DELAY", "---", "SETTINGS", "EDIT"}
            << QStringList{"", "r", "d", "", "", ""};
        QTest::newRow("upper case of any script")
            << QByteArray(R"([{"id": "1", "name": "Straße & Échos"}, {"id": "2", "name": "déjà vu 2"}])")
            << QStringList{"VINTRELLE", "STRASSE & ÉCHOS", "DÉJÀ VU 2", "---", "SETTINGS", "EDIT"}
            << QStringList{"", "1", "2", "", "", ""};
    }

    void mainLevel()
    {
        QFETCH(QByteArray, categories);
        QFETCH(QStringList, titles);
        QFETCH(QStringList, ids);
        const VintrelleQuickMenuRows rows = VintrelleQuickMenu(VintrelleQuickMenuLibrary(parse(categories)));
        QCOMPARE(titlesOf(rows), titles);
        QStringList represented;
        for (const VintrelleQuickMenuRow &row : rows) {
            represented << row.representedID;
            QVERIFY(row.enabled);
            QVERIFY(row.children.isEmpty()); // nothing below the main level is built
            if (row.kind == Kind::Category)
                QCOMPARE(row.submenuDepth, 1);
        }
        QCOMPARE(represented, ids);
        QCOMPARE(rows.first().kind, Kind::Header);
        QCOMPARE(kindsOf(rows.mid(rows.size() - 3)), (QList<int>{int(Kind::Separator), int(Kind::Settings), int(Kind::Edit)}));
    }

    void submenu_data()
    {
        QTest::addColumn<QByteArray>("categories");
        QTest::addColumn<QString>("category");
        QTest::addColumn<int>("depth");
        QTest::addColumn<QStringList>("titles");
        QTest::addColumn<QList<int>>("kinds");

        const QList<int> marker{int(Kind::EmptyMarker)};
        QTest::newRow("sub-categories first, then plug-ins in order")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1", "label": "My Echo 2"}, {"id": "e2", "label": "Amp"}]},
                             {"id": "b", "name": "Delays", "parentId": "a"}, {"id": "c", "name": "Other"},
                             {"id": "d", "name": "Verbs", "parentId": "a"}])")
            << "a" << 1 << QStringList{"DELAYS", "VERBS", "MY ECHO 2", "AMP"}
            << QList<int>{int(Kind::Category), int(Kind::Category), int(Kind::Plugin), int(Kind::Plugin)};
        QTest::newRow("nothing inside shows the disabled marker")
            << QByteArray(R"([{"id": "a", "name": "Empty", "entries": []}])") << "a" << 1
            << QStringList{"EMPTY CATEGORY"} << marker;
        QTest::newRow("malformed entries left out")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": [{"id": "e1"}, {"id": 2, "label": "Num"}, "e3",
                             {"id": "e4", "label": null}, {"id": "e5", "label": "Kept"}]}])")
            << "a" << 1 << QStringList{"KEPT"} << QList<int>{int(Kind::Plugin)};
        QTest::newRow("entries that are not an array count as none")
            << QByteArray(R"([{"id": "a", "name": "Fx", "entries": {"id": "e", "label": "x"}}])") << "a" << 1
            << QStringList{"EMPTY CATEGORY"} << marker;
        QTest::newRow("plug-ins of the first category with the id")
            << QByteArray(R"([{"id": "a", "name": "First", "entries": [{"id": "1", "label": "one"}]},
                             {"id": "a", "name": "Second", "entries": [{"id": "2", "label": "two"}]}])")
            << "a" << 1 << QStringList{"ONE"} << QList<int>{int(Kind::Plugin)};
        QTest::newRow("at the depth limit only the marker")
            << QByteArray(R"([{"id": "a", "name": "Deep", "entries": [{"id": "1", "label": "one"}]},
                             {"id": "b", "name": "Deeper", "parentId": "a"}])")
            << "a" << 64 << QStringList{"EMPTY CATEGORY"} << marker;
        QTest::newRow("one level above the limit still lists")
            << QByteArray(R"([{"id": "a", "name": "Deep", "entries": [{"id": "1", "label": "one"}]}])")
            << "a" << 63 << QStringList{"ONE"} << QList<int>{int(Kind::Plugin)};
    }

    void submenu()
    {
        QFETCH(QByteArray, categories);
        QFETCH(QString, category);
        QFETCH(int, depth);
        QFETCH(QStringList, titles);
        QFETCH(QList<int>, kinds);
        const VintrelleQuickMenuRows rows = VintrelleQuickMenuSubmenu(VintrelleQuickMenuLibrary(parse(categories)), category, depth);
        QCOMPARE(titlesOf(rows), titles);
        QCOMPARE(kindsOf(rows), kinds);
        for (const VintrelleQuickMenuRow &row : rows) {
            QCOMPARE(row.enabled, row.kind != Kind::EmptyMarker);
            if (row.kind == Kind::Category)
                QCOMPARE(row.submenuDepth, depth + 1);
        }
    }

    // A chain deeper than the limit ends, in the expanded menu, at level 64 with the marker.
    void expandedMenuStopsAtTheDepthLimit()
    {
        QJsonArray chain;
        for (int i = 0; i < 70; ++i)
            chain.append(categoryObject(QString::number(i), QStringLiteral("Level %1").arg(i),
                                        i ? QJsonValue(QString::number(i - 1)) : QJsonValue()));
        const VintrelleQuickMenuRows rows = VintrelleQuickMenuExpanded(VintrelleQuickMenuLibrary(chain));
        const VintrelleQuickMenuRow *row = &rows[1];
        int levels = 0;
        while (row->kind == Kind::Category) {
            QCOMPARE(row->title, QStringLiteral("LEVEL %1").arg(levels));
            ++levels;
            QCOMPARE(row->children.size(), 1);
            row = &row->children.first();
        }
        QCOMPARE(levels, 64);
        QCOMPARE(row->kind, Kind::EmptyMarker);
    }

    void displayName_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QString>("name"); // "<none>" for no name

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
        QFETCH(QString, id);
        QFETCH(QString, name);
        const VintrelleQuickMenuLibrary library(parse(R"([
            {"id": "a", "name": "Amps", "entries": [{"id": "e1", "label": "Amp"}, {"id": "a", "label": "Shadow"}]},
            {"id": "b", "name": "Bass & Sub", "entries": [{"id": "e2", "label": "Tidepool"}, {"id": "e3"}]},
            {"id": "n", "name": 5}, {"id": "n", "name": "Second"}, "junk",
            {"id": "c", "name": "Late", "entries": [{"id": "e9", "label": "Late"}, {"id": "e2", "label": "Dup"}]}])"));
        QCOMPARE(library.displayNameOf(id).value_or("<none>"), name);
    }

    void renameDeleteCommands()
    {
        const VintrelleQuickMenuRows rows = VintrelleRenameDeleteMenu("E1", "My Echo");
        QCOMPARE(titlesOf(rows), (QStringList{"RENAME", "DELETE"}));
        QCOMPARE(rows[0].command, (QJsonObject{{"op", "renamePrompt"}, {"id", "E1"}, {"name", "My Echo"}, {"returnToBrowse", true}}));
        QCOMPARE(rows[1].command, (QJsonObject{{"op", "deletePrompt"}, {"id", "E1"}, {"name", "My Echo"}, {"returnToBrowse", true}}));
    }

    void opening_data()
    {
        QTest::addColumn<bool>("namePromptVisible");
        QTest::addColumn<bool>("menuOpen");
        QTest::addColumn<bool>("libraryLoaded");
        QTest::addColumn<int>("decision");
        QTest::addColumn<bool>("pending");

        using D = VintrelleQuickMenuOpening::Decision;
        QTest::newRow("ready") << false << false << true << int(D::Open) << false;
        QTest::newRow("name prompt wins over everything") << true << true << false << int(D::RaiseNamePrompt) << false;
        QTest::newRow("second request while open") << false << true << true << int(D::Ignore) << false;
        QTest::newRow("open and not loaded is still ignored") << false << true << false << int(D::Ignore) << false;
        QTest::newRow("library not loaded") << false << false << false << int(D::Defer) << true;
    }

    void opening()
    {
        QFETCH(bool, namePromptVisible);
        QFETCH(bool, menuOpen);
        QFETCH(bool, libraryLoaded);
        QFETCH(int, decision);
        QFETCH(bool, pending);
        VintrelleQuickMenuOpening opening;
        QCOMPARE(int(opening.request({5, 6}, namePromptVisible, menuOpen, libraryLoaded)), decision);
        QCOMPARE(opening.isPending(), pending);
        QCOMPARE(opening.takePending(), pending ? std::optional<QPoint>(QPoint(5, 6)) : std::nullopt);
        QVERIFY(!opening.takePending()); // taken once
    }

    void deferredOpeningKeepsTheLastPoint()
    {
        VintrelleQuickMenuOpening opening;
        opening.request({1, 1}, false, false, false);
        opening.request({9, 8}, false, false, false);
        QCOMPARE(opening.takePending(), std::optional<QPoint>(QPoint(9, 8)));
    }
};

QTEST_GUILESS_MAIN(TestQuickMenuModel)
#include "tst_quick_menu_model.moc"
