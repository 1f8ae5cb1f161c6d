#include "LibraryFixtures.h"
#include "VintrelleNativeStore.h"
#include "VintrelleStarterLibrary.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A: top level with entries; A1 under A, A1a under A1; B top level; C top level.
QJsonArray sampleTree()
{
    return {
        categoryObject("A", "Instruments", QJsonValue(), {entryObject("e1", "Operator", "u1", "Instruments"), entryObject("e2", "Wavetable", "u2")}),
        categoryObject("A1", "Synths", "A", {entryObject("e3", "Drift", "u3")}),
        categoryObject("B", "Effects", QJsonValue(), {entryObject("e4", "Reverb", "u4")}),
        categoryObject("A1a", "Pads", "A1", {entryObject("e5", "Analog", "u5")}),
        categoryObject("C", "Utilities"),
        categoryObject("A2", "Drums", "A"),
    };
}

QStringList ids(const QJsonArray &list)
{
    QStringList result;
    for (const QJsonValue &category : list)
        result << category.toObject().value("id").toString();
    return result;
}

QStringList entryIds(const QJsonObject &category)
{
    QStringList result;
    for (const QJsonValue &entry : category.value("entries").toArray())
        result << entry.toObject().value("id").toString();
    return result;
}

QJsonObject libraryFile(const QJsonArray &categories)
{
    return {{"format", "Vintrelle Library"}, {"version", 1}, {"categories", categories}};
}

const QRegularExpression uuidPattern("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$");

} // namespace

class TestLibraryCommands : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<VintrelleNativeStore> m_store;
    int m_saves = 0;

    QJsonArray categories() const { return m_store->state()->value("categories").toArray(); }
    QJsonObject category(const QString &id) const
    {
        for (const QJsonValue &value : categories())
            if (value.toObject().value("id").toString() == id)
                return value.toObject();
        return {};
    }
    VintrelleError run(const QJsonObject &command)
    {
        VintrelleError error;
        const auto result = m_store->perform(command, &error);
        if (result.has_value() == error.has_value())
            qWarning("a command must answer with exactly one of result and error");
        return result.has_value() == error.has_value() ? VintrelleError("inconsistent answer") : error;
    }

private slots:
    void init()
    {
        QFile::remove(m_dir.filePath("native-library.json"));
        m_store = std::make_unique<VintrelleNativeStore>(m_dir.filePath("native-library.json"));
        QVERIFY(m_store->commit(stateWith(sampleTree()), nullptr));
        m_saves = 0;
        m_store->changed = [this] { ++m_saves; };
    }

    void failuresChangeNothing_data()
    {
        QTest::addColumn<QJsonObject>("command");
        QTest::addColumn<QString>("message");
        const QString position = "Choose an available position.";
        const QString pluginAndCategory = "Choose an available plug-in and another category.";
        QTest::newRow("no op") << QJsonObject{} << "Unknown library action.";
        QTest::newRow("wrong case") << QJsonObject{{"op", "Rename"}} << "Unknown library action.";
        QTest::newRow("undo empty") << QJsonObject{{"op", "undo"}} << "Nothing to undo.";
        QTest::newRow("redo empty") << QJsonObject{{"op", "redo"}} << "Nothing to redo.";
        QTest::newRow("category blank") << QJsonObject{{"op", "addCategory"}, {"name", " \n "}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category too long") << QJsonObject{{"op", "addCategory"}, {"name", QString(501, 'x')}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category name number") << QJsonObject{{"op", "addCategory"}, {"name", 5}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category gone parent") << QJsonObject{{"op", "addCategory"}, {"name", "X"}, {"categoryID", "gone"}} << "Category is no longer available.";
        QTest::newRow("rename unknown") << QJsonObject{{"op", "rename"}, {"id", "gone"}, {"name", "X"}} << "Choose an available item and enter a name.";
        QTest::newRow("rename blank") << QJsonObject{{"op", "rename"}, {"id", "A"}, {"name", "  "}} << "Choose an available item and enter a name.";
        QTest::newRow("rename id number") << QJsonObject{{"op", "rename"}, {"id", 1}, {"name", "X"}} << "Choose an available item and enter a name.";
        QTest::newRow("delete unknown") << QJsonObject{{"op", "delete"}, {"id", "gone"}} << "Item is no longer available.";
        QTest::newRow("delete without id") << QJsonObject{{"op", "delete"}} << "Item is no longer available.";
        QTest::newRow("add without entry") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}} << pluginAndCategory;
        QTest::newRow("add entry not object") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", "u9"}} << pluginAndCategory;
        QTest::newRow("add to gone category") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "gone"}, {"entry", QJsonObject{{"name", "N"}, {"uri", "u9"}}}} << pluginAndCategory;
        QTest::newRow("add blank uri") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", "N"}, {"uri", " "}}}} << "Choose a valid search result.";
        QTest::newRow("add long name") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", QString(501, 'n')}, {"uri", "u9"}}}} << "Choose a valid search result.";
        QTest::newRow("add duplicate uri") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", "N"}, {"uri", "u4"}}}} << "Already added to this category.";
        QTest::newRow("add null path") << QJsonObject{{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", "N"}, {"uri", "u9"}, {"path", QJsonValue()}}}} << "This library contains invalid or duplicate plug-ins.";
        QTest::newRow("move category") << QJsonObject{{"op", "move"}, {"id", "A1"}, {"categoryID", "B"}} << pluginAndCategory;
        QTest::newRow("move into own") << QJsonObject{{"op", "move"}, {"id", "e1"}, {"categoryID", "A"}} << pluginAndCategory;
        QTest::newRow("move nowhere") << QJsonObject{{"op", "move"}, {"id", "e1"}} << pluginAndCategory;
        QTest::newRow("move duplicate uri") << QJsonObject{{"op", "move"}, {"id", "e3"}, {"categoryID", "B"}}
                                            << "";  // filled in the test: B gets u3 first
        QTest::newRow("reorder unknown") << QJsonObject{{"op", "reorder"}, {"id", "gone"}, {"index", 0}} << position;
        QTest::newRow("reorder past end") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 3}} << position;
        QTest::newRow("reorder negative") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", -1}} << position;
        QTest::newRow("reorder fraction") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 1.5}} << position;
        QTest::newRow("reorder text") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", "1"}} << position;
        QTest::newRow("reorder missing index") << QJsonObject{{"op", "reorder"}, {"id", "A"}} << position;
        QTest::newRow("reorder entry past end") << QJsonObject{{"op", "reorder"}, {"id", "e1"}, {"index", 2}} << position;
        QTest::newRow("import not text") << QJsonObject{{"op", "import"}, {"contents", 3}} << "Choose a supported Vintrelle library file.";
        QTest::newRow("import not JSON") << QJsonObject{{"op", "import"}, {"contents", "{"}} << "Choose a supported Vintrelle library file.";
        QTest::newRow("import version 2") << QJsonObject{{"op", "import"}, {"contents", QString(compact({{"format", "Vintrelle Library"}, {"version", 2}, {"categories", QJsonArray()}}))}} << "Choose a supported Vintrelle library file.";
        QTest::newRow("import other format") << QJsonObject{{"op", "import"}, {"contents", QString(compact({{"format", "Other"}, {"version", 1}, {"categories", QJsonArray()}}))}} << "Choose a supported Vintrelle library file.";
        QTest::newRow("import invalid hierarchy") << QJsonObject{{"op", "import"}, {"contents", QString(compact(libraryFile({categoryObject("X", "X", "Y")})))}} << "This library contains an invalid folder hierarchy.";
        QString huge = QString(compact(libraryFile({})));
        huge.append(QString(5 * 1024 * 1024 - huge.size(), ' '));
        QTest::newRow("import at 5 MiB") << QJsonObject{{"op", "import"}, {"contents", huge}} << "Choose a supported Vintrelle library file.";
        // The library holds 5 plug-ins: 19,996 more pass the file's own check but not the save's.
        QJsonArray many;
        for (int i = 0; i < 19996; ++i)
            many.append(entryObject("i", "P", QString::number(i)));
        QTest::newRow("import past entry limit") << QJsonObject{{"op", "import"}, {"contents", QString(compact(libraryFile({categoryObject("m", "Many", QJsonValue(), many)})))}} << "This library contains invalid or duplicate plug-ins.";
    }
    void failuresChangeNothing()
    {
        QFETCH(QJsonObject, command);
        QFETCH(QString, message);
        if (message.isEmpty()) {
            QVERIFY(!run({{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", "Drift"}, {"uri", "u3"}}}}));
            message = "Already added to this category.";
            m_saves = 0;
        }
        const auto state = m_store->state();
        const auto undo = m_store->undo();
        const QByteArray file = [&] { QFile f(m_store->url()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        const VintrelleError error = run(command);
        QCOMPARE(error.value_or("no error"), message);
        QCOMPARE(m_store->state(), state);
        QCOMPARE(m_store->undo(), undo);
        QCOMPARE(m_saves, 0);
        QFile f(m_store->url());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), file);
    }

    void addCategory()
    {
        QCOMPARE(run({{"op", "addCategory"}, {"name", "  Reverbs \n"}, {"categoryID", "A"}}), VintrelleError());
        QCOMPARE(run({{"op", "addCategory"}, {"name", "Effects"}, {"categoryID", ""}}), VintrelleError());
        const QJsonArray list = categories();
        QCOMPARE(list.size(), 8);
        // New categories go after every existing one, also after the parent's other children.
        const QJsonObject sub = list.at(6).toObject(), top = list.at(7).toObject();
        QCOMPARE(sub.value("name").toString(), QString("Reverbs"));
        QCOMPARE(sub.value("parentId").toString(), QString("A"));
        QVERIFY(top.value("parentId").isNull());
        QCOMPARE(top.value("name").toString(), QString("Effects")); // names need not be unique
        QVERIFY(uuidPattern.match(sub.value("id").toString()).hasMatch());
        QVERIFY(sub.value("id") != top.value("id"));
        QCOMPARE(sub.value("entries"), QJsonValue(QJsonArray()));
        QCOMPARE(m_saves, 2);
    }

    void rename()
    {
        QCOMPARE(run({{"op", "rename"}, {"id", "A1"}, {"name", " Synthesizers "}}), VintrelleError());
        QCOMPARE(run({{"op", "rename"}, {"id", "e4"}, {"name", "Hall"}}), VintrelleError());
        QCOMPARE(category("A1").value("name").toString(), QString("Synthesizers"));
        QCOMPARE(category("B").value("entries").toArray().at(0).toObject().value("label").toString(), QString("Hall"));
        QCOMPARE(m_store->undo().size(), 2);
    }

    void deleteRemovesDescendantsAndUndoRestoresPositions()
    {
        const QJsonArray before = categories();
        QCOMPARE(run({{"op", "delete"}, {"id", "A"}}), VintrelleError());
        QCOMPARE(ids(categories()), QStringList({"B", "C"}));
        QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(categories(), before);
        QCOMPARE(run({{"op", "redo"}}), VintrelleError());
        QCOMPARE(ids(categories()), QStringList({"B", "C"}));

        QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(run({{"op", "delete"}, {"id", "e1"}}), VintrelleError());
        QCOMPARE(entryIds(category("A")), QStringList({"e2"}));
    }

    void addPlugin()
    {
        QCOMPARE(run({{"op", "addPlugin"}, {"categoryID", "C"}, {"entry", QJsonObject{{"name", " Glue "}, {"uri", "g"}, {"path", "Audio Effects"}}}}), VintrelleError());
        QCOMPARE(run({{"op", "addPlugin"}, {"categoryID", "C"}, {"entry", QJsonObject{{"name", "Utility"}, {"uri", "ut"}}}}), VintrelleError());
        // The same uri may stand in another category.
        QCOMPARE(run({{"op", "addPlugin"}, {"categoryID", "B"}, {"entry", QJsonObject{{"name", "Glue"}, {"uri", "g"}}}}), VintrelleError());
        const QJsonArray entries = category("C").value("entries").toArray();
        QCOMPARE(entries.size(), 2);
        const QJsonObject glue = entries.at(0).toObject();
        QCOMPARE(glue.value("label").toString(), QString(" Glue ")); // the search result's name as it came
        QCOMPARE(glue.value("path").toString(), QString("Audio Effects"));
        QCOMPARE(glue.value("uri").toString(), QString("g"));
        QVERIFY(uuidPattern.match(glue.value("id").toString()).hasMatch());
        QCOMPARE(entries.at(1).toObject().value("path"), QJsonValue(""));
    }

    void moveAppendsAndKeepsIdentifier()
    {
        QCOMPARE(run({{"op", "move"}, {"id", "e1"}, {"categoryID", "B"}}), VintrelleError());
        QCOMPARE(entryIds(category("A")), QStringList({"e2"}));
        QCOMPARE(entryIds(category("B")), QStringList({"e4", "e1"}));
        QCOMPARE(category("B").value("entries").toArray().at(1).toObject(), entryObject("e1", "Operator", "u1", "Instruments"));
    }

    void reorder_data()
    {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QJsonValue>("index");
        QTest::addColumn<QStringList>("categoryOrder");
        QTest::addColumn<QStringList>("entryOrderOfA");
        const QStringList same{"A", "A1", "B", "A1a", "C", "A2"};
        QTest::newRow("first top to last") << "A" << QJsonValue(2) << QStringList{"B", "A1", "C", "A1a", "A", "A2"} << QStringList{"e1", "e2"};
        QTest::newRow("last top to first") << "C" << QJsonValue(0) << QStringList{"C", "A1", "A", "A1a", "B", "A2"} << QStringList{"e1", "e2"};
        QTest::newRow("whole number as double") << "A" << QJsonValue(1.0) << QStringList{"B", "A1", "A", "A1a", "C", "A2"} << QStringList{"e1", "e2"};
        // Sub-categories trade places; others keep their slots in the flat list.
        QTest::newRow("sub-category") << "A2" << QJsonValue(0) << QStringList{"A", "A2", "B", "A1a", "C", "A1"} << QStringList{"e1", "e2"};
        QTest::newRow("entry") << "e1" << QJsonValue(1) << same << QStringList{"e2", "e1"};
    }
    void reorder()
    {
        QFETCH(QString, id);
        QFETCH(QJsonValue, index);
        QFETCH(QStringList, categoryOrder);
        QFETCH(QStringList, entryOrderOfA);
        QCOMPARE(run({{"op", "reorder"}, {"id", id}, {"index", index}}), VintrelleError());
        QCOMPARE(ids(categories()), categoryOrder);
        QCOMPARE(entryIds(category("A")), entryOrderOfA);
        QCOMPARE(m_saves, 1);
    }

    void resetAndUndo()
    {
        const QJsonArray before = categories();
        QCOMPARE(run({{"op", "reset"}}), VintrelleError());
        QVERIFY(categories().isEmpty());
        QCOMPARE(run({{"op", "reset"}}), VintrelleError()); // nothing to reset: no save
        QCOMPARE(m_saves, 1);
        QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(categories(), before);
    }

    void exportRoundTrip()
    {
        const auto exported = m_store->perform({{"op", "export"}}, nullptr);
        QVERIFY(exported);
        const QJsonObject file = QJsonDocument::fromJson(exported->value("contents").toString().toUtf8()).object();
        QCOMPARE(file, libraryFile(categories()));
        // Merging the export back changes nothing (no two siblings share a name here).
        QCOMPARE(run({{"op", "import"}, {"contents", exported->value("contents")}, {"replace", 0}}), VintrelleError());
        QCOMPARE(m_saves, 0);
        QVERIFY(m_store->undo().isEmpty());
    }

    void importMergeReusesCategoriesByName()
    {
        const QJsonArray file{
            categoryObject("x", "instruments", QJsonValue(), {entryObject("e1", "Operator", "u1"), entryObject("e2", "New one", "n1")}),
            categoryObject("xs", "SYNTHS", "x", {entryObject("any", "Drift", "u3"), entryObject("any2", "Bass", "n2")}),
            categoryObject("y", "Brand new", QJsonValue(), {entryObject("e4", "Reverb", "u4")}),
            categoryObject("ys", "Child", "y"),
        };
        QCOMPARE(run({{"op", "import"}, {"contents", QString(compact(libraryFile(file)))}}), VintrelleError());
        const QJsonArray list = categories();
        QCOMPARE(list.size(), 8);
        // Existing categories gain only plug-ins whose uri is new to them, with fresh identifiers.
        const QJsonArray instruments = category("A").value("entries").toArray();
        QCOMPARE(instruments.size(), 3);
        QCOMPARE(instruments.at(2).toObject().value("uri").toString(), QString("n1"));
        QVERIFY(uuidPattern.match(instruments.at(2).toObject().value("id").toString()).hasMatch());
        QCOMPARE(category("A").value("name").toString(), QString("Instruments"));
        QCOMPARE(category("A1").value("entries").toArray().size(), 2);
        // New categories come last, parents before children, with library identifiers.
        const QJsonObject brandNew = list.at(6).toObject(), child = list.at(7).toObject();
        QCOMPARE(brandNew.value("name").toString(), QString("Brand new"));
        QCOMPARE(child.value("parentId"), brandNew.value("id"));
        QCOMPARE(brandNew.value("entries").toArray().at(0).toObject().value("uri").toString(), QString("u4"));
        QVERIFY(brandNew.value("entries").toArray().at(0).toObject().value("id") != QJsonValue("e4"));

        // Undo restores, redo merges again.
        const QJsonArray merged = list;
        QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(categories(), stateWith(sampleTree()).value("categories").toArray());
        QCOMPARE(run({{"op", "redo"}}), VintrelleError());
        QCOMPARE(categories(), merged);
    }

    void importPlacesParentsFirstInFileOrder()
    {
        // Children listed before their parents; among ready ones the file order decides.
        const QJsonArray file{
            categoryObject("c2", "Grandchild", "c1"), categoryObject("c1", "Child", "p"),
            categoryObject("q", "Second root"), categoryObject("p", "Root"),
            categoryObject("c3", "Other child", "q"),
        };
        QCOMPARE(run({{"op", "import"}, {"contents", QString(compact(libraryFile(file)))}, {"replace", true}}), VintrelleError());
        QStringList names;
        for (const QJsonValue &value : categories())
            names << value.toObject().value("name").toString();
        QCOMPARE(names, QStringList({"Second root", "Root", "Child", "Grandchild", "Other child"}));
    }

    void importReplaceBuildsFromFile()
    {
        const QJsonArray file{categoryObject("x", "instruments", QJsonValue(), {entryObject("e1", "Operator", "u1"), entryObject("e9", "Again", "u1")})};
        VintrelleError error = run({{"op", "import"}, {"contents", QString(compact(libraryFile(file)))}, {"replace", true}});
        QCOMPARE(error, VintrelleError("This library contains invalid or duplicate plug-ins.")); // same uri twice
        const QJsonArray good{categoryObject("x", "instruments", QJsonValue(), {entryObject("e1", "Operator", "u1")})};
        QCOMPARE(run({{"op", "import"}, {"contents", QString(compact(libraryFile(good)))}, {"replace", 1}}), VintrelleError());
        const QJsonArray list = categories();
        QCOMPARE(list.size(), 1);
        QCOMPARE(list.at(0).toObject().value("name").toString(), QString("instruments"));
        QVERIFY(uuidPattern.match(list.at(0).toObject().value("id").toString()).hasMatch());
        QVERIFY(list.at(0).toObject().value("entries").toArray().at(0).toObject().value("id") != QJsonValue("e1"));
        QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(ids(categories()), ids(sampleTree()));
    }

    void importGivesEntriesFreshIdentifiersAndPaths()
    {
        // Entry identifiers that clash with the library's own, and missing paths, are fine.
        QJsonObject noPath = entryObject("A", "Clash", "z1");
        noPath.remove("path");
        const QJsonArray file{categoryObject("f", "Fresh", QJsonValue(), {noPath, entryObject("e1", "Clash too", "z2")})};
        QCOMPARE(run({{"op", "import"}, {"contents", QString(compact(libraryFile(file)))}}), VintrelleError());
        const QJsonArray entries = categories().last().toObject().value("entries").toArray();
        QCOMPARE(entries.size(), 2);
        QCOMPARE(entries.at(0).toObject().value("path"), QJsonValue(""));
    }

    void starterLibrary()
    {
        const QJsonObject file = QJsonDocument::fromJson(VintrelleStarterLibraryContents().toUtf8()).object();
        QCOMPARE(file.value("format").toString(), QString("Vintrelle Library"));
        QCOMPARE(file.value("version"), QJsonValue(1));
        const QJsonArray list = file.value("categories").toArray();
        QCOMPARE(ids(list), QStringList({"starter-0", "starter-0-0", "starter-0-1", "starter-0-2", "starter-1", "starter-2",
                                         "starter-2-0", "starter-2-1", "starter-2-2", "starter-3", "starter-4", "starter-5",
                                         "starter-6", "starter-7", "starter-7-0", "starter-7-1"}));
        QCOMPARE(list.at(1).toObject(), categoryObject("starter-0-0", "Synths", "starter-0"));
        QCOMPARE(list.at(4).toObject().value("name").toString(), QString("EQ & Filters"));
        QVERIFY(VTValidateCategories(list, nullptr));

        // Merging it twice adds nothing the second time.
        QCOMPARE(run({{"op", "import"}, {"contents", VintrelleStarterLibraryContents()}, {"replace", false}}), VintrelleError());
        const qsizetype afterFirst = categories().size();
        // "Instruments" with its "Synths" and "Drums", and "Utilities", already exist.
        QCOMPARE(afterFirst, 6 + 16 - 4);
        QCOMPARE(run({{"op", "import"}, {"contents", VintrelleStarterLibraryContents()}}), VintrelleError());
        QCOMPARE(categories().size(), afterFirst);
        QCOMPARE(m_store->undo().size(), 1);
    }
};

QTEST_APPLESS_MAIN(TestLibraryCommands)
#include "tst_library_commands.moc"
