#include "VintrelleNativeStore.h"
#include "VintrelleStarterLibrary.h"
#include "VintrelleTestSupport.h"

#include <QRegularExpression>

namespace {

// A: top level with entries; A1 under A, A1a under A1; B top level; C top level; A2 under A.
QJsonArray sampleTree()
{
    return {
        categoryObject("A", "Instruments", QJsonValue(), {entryObject("e1", "Operator", "u1", "Instruments"), entryObject("e2", "Wavetable", "u2")}),
        categoryObject("A1", "Synths", "A", {entryObject("e3", "Drift", "u3")}),
        categoryObject("B", "Effects", QJsonValue(), {entryObject("e4", "Reverb", "u4"), entryObject("e6", "Drift copy", "u3")}),
        categoryObject("A1a", "Pads", "A1", {entryObject("e5", "Analog", "u5")}),
        categoryObject("C", "Utilities"),
        categoryObject("A2", "Drums", "A"),
    };
}

// The tree as text: "name<parent name:label@path,label | ...", identifiers left out.
QString summary(const QJsonArray &list)
{
    QHash<QString, QString> names;
    for (const QJsonValue &category : list) names.insert(category["id"].toString(), category["name"].toString());
    QStringList parts;
    for (const QJsonValue &category : list) {
        QStringList entries;
        for (const QJsonValue &entry : category["entries"].toArray())
            entries << entry["label"].toString() + (entry["path"].toString().isEmpty() ? "" : "@" + entry["path"].toString());
        const QString parent = category["parentId"].isNull() ? "" : "<" + names.value(category["parentId"].toString(), "?");
        parts << category["name"].toString() + parent + ":" + entries.join(',');
    }
    return parts.join(" | ");
}

QStringList identifiers(const QJsonArray &list)
{
    QStringList ids;
    for (const QJsonValue &category : list) {
        ids << category["id"].toString();
        for (const QJsonValue &entry : category["entries"].toArray()) ids << entry["id"].toString();
    }
    return ids;
}

QString fileText(const QJsonArray &categories) { return QString::fromUtf8(compact(libraryFile(categories))); }

const QString initial = "Instruments:Operator@Instruments,Wavetable | Synths<Instruments:Drift | Effects:Reverb,Drift copy | "
                        "Pads<Synths:Analog | Utilities: | Drums<Instruments:";
const QRegularExpression uuidPattern("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");

} // namespace

class TestLibraryCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<VintrelleNativeStore> m_store;
    int m_saves = 0;

    QJsonArray categories() const { return m_store->state()->value("categories").toArray(); }
    VintrelleError run(const QJsonObject &command)
    {
        VintrelleError error;
        const auto result = m_store->perform(command, &error);
        return result.has_value() == error.has_value() ? VintrelleError("not exactly one of result and error") : error;
    }

private slots:
    void init()
    {
        QDir(m_dir.path()).removeRecursively();
        m_store = std::make_unique<VintrelleNativeStore>(m_dir.filePath("native-library.json"));
        QVERIFY(m_store->commit(stateWith(sampleTree()), nullptr));
        m_saves = 0;
        m_store->changed = [this] { ++m_saves; };
    }
    void failuresChangeNothing_data()
    {
        addColumns<QJsonObject, QString>({"command", "message"});
        const QString position = "Choose an available position.", unsupported = "Choose a supported Vintrelle library file.";
        const QString pluginAndCategory = "Choose an available plug-in and another category.";
        const auto add = [](const QJsonValue &category, const QJsonValue &entry) {
            return QJsonObject{{"op", "addPlugin"}, {"categoryID", category}, {"entry", entry}};
        };
        QTest::newRow("wrong case") << QJsonObject{{"op", "Rename"}} << "Unknown library action.";
        QTest::newRow("undo empty") << QJsonObject{{"op", "undo"}} << "Nothing to undo.";
        QTest::newRow("category blank") << QJsonObject{{"op", "addCategory"}, {"name", " \n "}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category too long") << QJsonObject{{"op", "addCategory"}, {"name", QString(501, 'x')}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category gone parent") << QJsonObject{{"op", "addCategory"}, {"name", "X"}, {"categoryID", "gone"}} << "Category is no longer available.";
        QTest::newRow("rename unknown") << QJsonObject{{"op", "rename"}, {"id", "gone"}, {"name", "X"}} << "Choose an available item and enter a name.";
        QTest::newRow("rename blank") << QJsonObject{{"op", "rename"}, {"id", "A"}, {"name", "  "}} << "Choose an available item and enter a name.";
        QTest::newRow("delete unknown") << QJsonObject{{"op", "delete"}, {"id", "gone"}} << "Item is no longer available.";
        QTest::newRow("add entry not object") << add("B", "u9") << pluginAndCategory;
        QTest::newRow("add to gone category") << add("gone", QJsonObject{{"name", "N"}, {"uri", "u9"}}) << pluginAndCategory;
        QTest::newRow("add blank uri") << add("B", QJsonObject{{"name", "N"}, {"uri", " "}}) << "Choose a valid search result.";
        QTest::newRow("add long name") << add("B", QJsonObject{{"name", QString(501, 'n')}, {"uri", "u9"}}) << "Choose a valid search result.";
        QTest::newRow("add duplicate uri") << add("B", QJsonObject{{"name", "N"}, {"uri", "u4"}}) << "Already added to this category.";
        QTest::newRow("add null path") << add("B", QJsonObject{{"name", "N"}, {"uri", "u9"}, {"path", QJsonValue()}}) << "This library contains invalid or duplicate plug-ins.";
        QTest::newRow("move category") << QJsonObject{{"op", "move"}, {"id", "A1"}, {"categoryID", "B"}} << pluginAndCategory;
        QTest::newRow("move into own") << QJsonObject{{"op", "move"}, {"id", "e1"}, {"categoryID", "A"}} << pluginAndCategory;
        QTest::newRow("move nowhere") << QJsonObject{{"op", "move"}, {"id", "e1"}} << pluginAndCategory;
        QTest::newRow("move duplicate uri") << QJsonObject{{"op", "move"}, {"id", "e3"}, {"categoryID", "B"}} << "Already added to this category.";
        QTest::newRow("reorder unknown") << QJsonObject{{"op", "reorder"}, {"id", "gone"}, {"index", 0}} << position;
        QTest::newRow("reorder past end") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 3}} << position;
        QTest::newRow("reorder negative") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", -1}} << position;
        QTest::newRow("reorder fraction") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 1.5}} << position;
        QTest::newRow("reorder entry past end") << QJsonObject{{"op", "reorder"}, {"id", "e1"}, {"index", 2}} << position;
        QTest::newRow("import not JSON") << QJsonObject{{"op", "import"}, {"contents", "{"}} << unsupported;
        QTest::newRow("import version 2") << QJsonObject{{"op", "import"}, {"contents", QString(compact(with(libraryFile({}), "version", 2)))}} << unsupported;
        QTest::newRow("import other format") << QJsonObject{{"op", "import"}, {"contents", QString(compact(with(libraryFile({}), "format", "Other")))}} << unsupported;
        QTest::newRow("import invalid hierarchy") << QJsonObject{{"op", "import"}, {"contents", fileText({categoryObject("X", "X", "Y")})}} << "This library contains an invalid folder hierarchy.";
        QString huge = fileText({});
        huge.append(QString(VintrelleLimits::importTextUnits + 1 - huge.size(), ' '));
        QTest::newRow("import past the text limit") << QJsonObject{{"op", "import"}, {"contents", huge}} << unsupported;
        // The library holds 6 plug-ins: 19,995 more pass the file's own check but not the save's.
        QJsonArray many;
        for (int i = 0; i < 19995; ++i) many.append(entryObject("i", "P", QString::number(i)));
        QTest::newRow("import past entry limit") << QJsonObject{{"op", "import"}, {"contents", fileText({categoryObject("m", "Many", QJsonValue(), many)})}}
                                                 << "This library contains invalid or duplicate plug-ins.";
    }
    void failuresChangeNothing()
    {
        QFETCH(QJsonObject, command); QFETCH(QString, message);
        const auto state = m_store->state();
        const auto undo = m_store->undo();
        const QByteArray file = readFile(m_store->url());
        QCOMPARE(run(command).value_or("no error"), message);
        QCOMPARE(m_store->state(), state);
        QCOMPARE(m_store->undo(), undo);
        QCOMPARE(m_saves, 0);
        QCOMPARE(readFile(m_store->url()), file);
    }
    void changes_data()
    {
        addColumns<QList<QJsonObject>, QString, int>({"commands", "tree", "newIds"}); // newIds: all other identifiers are kept
        using L = QList<QJsonObject>;
        const auto add = [](const char *category, const QJsonObject &entry) {
            return QJsonObject{{"op", "addPlugin"}, {"categoryID", category}, {"entry", entry}};
        };
        const auto reorder = [](const char *id, const QJsonValue &index) { return QJsonObject{{"op", "reorder"}, {"id", id}, {"index", index}}; };
        const auto import = [](const QJsonArray &file, const QJsonValue &replace) {
            return QJsonObject{{"op", "import"}, {"contents", fileText(file)}, {"replace", replace}};
        };
        // New categories go last, after the parent's other children too; names need not be unique.
        QTest::newRow("addCategory") << L{{{"op", "addCategory"}, {"name", "  Reverbs \n"}, {"categoryID", "A"}}, {{"op", "addCategory"}, {"name", "Effects"}, {"categoryID", ""}}}
                                     << initial + " | Reverbs<Instruments: | Effects:" << 2;
        QTest::newRow("rename") << L{{{"op", "rename"}, {"id", "A1"}, {"name", " Synthesizers "}}, {{"op", "rename"}, {"id", "e4"}, {"name", "Hall"}}}
                                << "Instruments:Operator@Instruments,Wavetable | Synthesizers<Instruments:Drift | Effects:Hall,Drift copy | "
                                   "Pads<Synthesizers:Analog | Utilities: | Drums<Instruments:" << 0;
        QTest::newRow("delete with descendants") << L{{{"op", "delete"}, {"id", "A"}}} << "Effects:Reverb,Drift copy | Utilities:" << 0;
        QTest::newRow("delete, undo, redo") << L{{{"op", "delete"}, {"id", "A"}}, {{"op", "undo"}}, {{"op", "redo"}}} << "Effects:Reverb,Drift copy | Utilities:" << 0;
        QTest::newRow("delete entry") << L{{{"op", "delete"}, {"id", "e1"}}} << QString(initial).remove("Operator@Instruments,") << 0;
        // The label is the search result's name as it came; the same uri may stand elsewhere.
        QTest::newRow("addPlugin") << L{add("C", {{"name", " Glue "}, {"uri", "g"}, {"path", "Audio"}}), add("C", {{"name", "Utility"}, {"uri", "ut"}}), add("B", {{"name", "Glue"}, {"uri", "g"}})}
                                   << QString(initial).replace("Drift copy", "Drift copy,Glue").replace("Utilities:", "Utilities: Glue @Audio,Utility") << 3;
        QTest::newRow("move") << L{{{"op", "move"}, {"id", "e1"}, {"categoryID", "B"}}}
                              << QString(initial).remove("Operator@Instruments,").replace("Drift copy", "Drift copy,Operator@Instruments") << 0;
        QTest::newRow("first top to last") << L{reorder("A", 2)} << "Effects:Reverb,Drift copy | Synths<Instruments:Drift | Utilities: | "
                                                                    "Pads<Synths:Analog | Instruments:Operator@Instruments,Wavetable | Drums<Instruments:" << 0;
        QTest::newRow("last top to first, index 0.0") << L{reorder("C", 0.0)} << "Utilities: | Synths<Instruments:Drift | Instruments:Operator@Instruments,Wavetable | "
                                                                              "Pads<Synths:Analog | Effects:Reverb,Drift copy | Drums<Instruments:" << 0;
        // Sub-categories trade places; categories of other parents keep their slots.
        QTest::newRow("sub-category") << L{reorder("A2", 0)} << "Instruments:Operator@Instruments,Wavetable | Drums<Instruments: | Effects:Reverb,Drift copy | "
                                                               "Pads<Synths:Analog | Utilities: | Synths<Instruments:Drift" << 0;
        QTest::newRow("entry") << L{reorder("e1", 1)} << QString(initial).replace("Operator@Instruments,Wavetable", "Wavetable,Operator@Instruments") << 0;
        // Merging reuses categories by name (any case) under the same parent, adds new uris only; new categories come last.
        const QJsonArray merged{
            categoryObject("x", "instruments", QJsonValue(), {entryObject("e1", "Operator", "u1"), entryObject("e2", "New one", "n1")}),
            categoryObject("xs", "SYNTHS", "x", {entryObject("any", "Drift", "u3"), entryObject("any2", "Bass", "n2")}),
            categoryObject("y", "Brand new", QJsonValue(), {with(entryObject("A", "Clash", "u4"), "path")}),
            categoryObject("ys", "Child", "y"),
        };
        const QString afterMerge = "Instruments:Operator@Instruments,Wavetable,New one | Synths<Instruments:Drift,Bass | Effects:Reverb,Drift copy | "
                                   "Pads<Synths:Analog | Utilities: | Drums<Instruments: | Brand new:Clash | Child<Brand new:";
        QTest::newRow("merge") << L{import(merged, false)} << afterMerge << 5;
        QTest::newRow("merge, undo, redo") << L{import(merged, QJsonValue::Undefined), {{"op", "undo"}}, {{"op", "redo"}}} << afterMerge << 5;
        // Replacing builds the library from the file alone, children listed before their parents.
        const QJsonArray reordered{categoryObject("c2", "Grandchild", "c1"), categoryObject("c1", "Child", "p"),
                                   categoryObject("q", "Second root", QJsonValue(), {entryObject("e1", "Operator", "u1")}),
                                   categoryObject("p", "instruments"), categoryObject("c3", "Other child", "q")};
        QTest::newRow("replace") << L{import(reordered, true)} << "Second root:Operator | instruments: | Child<instruments: | Grandchild<Child: | Other child<Second root:" << 6;
    }
    void changes()
    {
        QFETCH(QList<QJsonObject>, commands); QFETCH(QString, tree); QFETCH(int, newIds);
        for (const QJsonObject &command : commands) QCOMPARE(run(command), VintrelleError());
        QCOMPARE(summary(categories()), tree);
        const QStringList old = identifiers(sampleTree());
        QStringList fresh;
        for (const QString &id : identifiers(categories())) if (!old.contains(id)) fresh << id;
        QCOMPARE(fresh.size(), newIds);
        QCOMPARE(fresh.filter(uuidPattern).size(), newIds);
        QCOMPARE(m_saves, commands.size());
        QCOMPARE(QJsonDocument::fromJson(readFile(m_store->url())).object(), *m_store->state());
    }
    void starterLibraryMergesOnce()
    {
        QCOMPARE(run({{"op", "import"}, {"contents", VintrelleStarterLibraryContents()}, {"replace", false}}), VintrelleError());
        // "Instruments" with its "Synths" and "Drums", and "Utilities", already exist.
        QCOMPARE(categories().size(), 6 + 16 - 4);
        QCOMPARE(run({{"op", "import"}, {"contents", VintrelleStarterLibraryContents()}}), VintrelleError());
        QCOMPARE(m_saves, 1);
    }

    // Every export imports back, also one of a library at the limits (about 11 M characters).
    void exportOfALibraryAtTheLimitsImportsBack()
    {
        const QJsonObject state = stateWith(generatedCategories(2000, 20000, 36, 290));
        QVERIFY(compact(state).size() > 8'000'000);
        QVERIFY(m_store->commit(state, nullptr));
        const QString exported = m_store->perform({{"op", "export"}}, nullptr)->value("contents").toString();
        QVERIFY(exported.toUtf8().size() <= VintrelleLimits::importFileBytes); // the import flow's file check
        QVERIFY(exported.contains("\n    ")); // indented
        const QString tree = summary(state["categories"].toArray());
        m_saves = 0;
        QCOMPARE(run({{"op", "import"}, {"contents", exported}, {"replace", 0}}), VintrelleError());
        QCOMPARE(m_saves, 0); // merging the library into itself adds nothing
        QCOMPARE(run({{"op", "import"}, {"contents", exported}, {"replace", 1}}), VintrelleError());
        QCOMPARE(summary(categories()), tree);
        QVERIFY(categories() != state["categories"].toArray()); // fresh identifiers
        QCOMPARE(run({{"op", "reset"}}), VintrelleError());
        QCOMPARE(run({{"op", "import"}, {"contents", exported}, {"replace", false}}), VintrelleError());
        QCOMPARE(summary(categories()), tree);
    }

    // Extra keys nested deep would indent past the import limit: such an export is compact.
    void deeplyNestedExportStaysImportable()
    {
        QJsonValue deep = QJsonArray{};
        for (int level = 0; level < 1000; ++level) deep = QJsonArray{deep};
        QJsonArray entries;
        for (int e = 0; e < 8; ++e) entries.append(with(entryObject(QStringLiteral("d%1").arg(e), "Deep", QString::number(e)), "nested", deep));
        QVERIFY(m_store->commit(stateWith({categoryObject("D", "Deep", QJsonValue(), entries)}), nullptr));
        QVERIFY(QJsonDocument(libraryFile(categories())).toJson().size() > VintrelleLimits::importFileBytes);
        const QString exported = m_store->perform({{"op", "export"}}, nullptr)->value("contents").toString();
        QCOMPARE(run({{"op", "import"}, {"contents", exported}, {"replace", true}}), VintrelleError());
        QCOMPARE(categories().at(0)["entries"][7]["nested"], deep);
    }
};

QTEST_APPLESS_MAIN(TestLibraryCommands)
#include "tst_library_commands.moc"
