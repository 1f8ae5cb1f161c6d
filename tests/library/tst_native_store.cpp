#include "VintrelleCategoryCache.h"
#include "VintrelleJsonWriter.h"
#include "VintrelleLocations.h"
#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

#include <QRandomGenerator>
#include <QRegularExpression>

#include <csignal>
#include <cstdio>

namespace {

const QString categoriesMessage = "This library contains invalid categories.", pluginsMessage = "This library contains invalid or duplicate plug-ins.";
const QString hierarchyMessage = "This library contains an invalid folder hierarchy.", fileMessage = "Choose a supported Vintrelle library file.";

QJsonArray oneCategory(const QJsonObject &category) { return {category}; }
QJsonArray oneEntry(const QJsonObject &entry) { return {categoryObject("C", "Category", QJsonValue(), {entry})}; }

// Text JSON writers get wrong: surrogates, U+2028/9, controls, NUL, quotes, backslashes; never blank.
QString awkwardText(QRandomGenerator &random)
{
    QString text = QStringLiteral("k");
    for (int piece = random.bounded(1, 8); piece > 0; --piece) {
        switch (random.bounded(8)) {
        case 0: text += QChar(char16_t(0xD800 + random.bounded(0x400))); break; // lone high, unless a low follows
        case 1: text += QChar(char16_t(0xDC00 + random.bounded(0x400))); break;
        case 2: text += QString::fromUtf8("🎹"); break;
        case 3: text += random.bounded(2) ? QChar(0x2028) : QChar(0x2029); break;
        case 4: text += QChar(char16_t(random.bounded(0x20))); break; // NUL and the other controls
        case 5: text += random.bounded(2) ? "\"" : "\\"; break;
        case 6: text += QString::fromUtf8("é日/"); break;
        default: text += QChar(char16_t(0x7F + random.bounded(0x80))); break;
        }
    }
    return text;
}

const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
const auto ownerOnlyFolder = ownerOnly | QFileDevice::ExeOwner | QFileDevice::ExeUser;

// A: top level with entries; A1 under A, A1a under A1; B top level; C top level; A2 under A.
QJsonArray sampleTree()
{
    return {categoryObject("A", "Instruments", QJsonValue(), {entryObject("e1", "Operator", "u1", "Instruments"), entryObject("e2", "Wavetable", "u2")}),
            categoryObject("A1", "Synths", "A", {entryObject("e3", "Drift", "u3")}),
            categoryObject("B", "Effects", QJsonValue(), {entryObject("e4", "Reverb", "u4"), entryObject("e6", "Drift copy", "u3")}),
            categoryObject("A1a", "Pads", "A1", {entryObject("e5", "Analog", "u5")}), categoryObject("C", "Utilities"), categoryObject("A2", "Drums", "A")};
}

// The tree as text: "name<parent name:label@path,label | ...", identifiers left out.
QString summary(const QJsonArray &list)
{
    QHash<QString, QString> names;
    for (const QJsonValue &category : list) names.insert(category["id"].toString(), category["name"].toString());
    QStringList parts;
    for (const QJsonValue &category : list) {
        QStringList entries;
        for (const QJsonValue &entry : category["entries"].toArray()) entries << entry["label"].toString() + (entry["path"].toString().isEmpty() ? "" : "@" + entry["path"].toString());
        parts << category["name"].toString() + (category["parentId"].isNull() ? "" : "<" + names.value(category["parentId"].toString(), "?")) + ":" + entries.join(',');
    }
    return parts.join(" | ");
}

QStringList identifiers(const QJsonArray &list)
{
    QStringList ids;
    for (const auto &match : QRegularExpression("\"id\":\"([^\"]*)\"").globalMatch(QString::fromUtf8(QJsonDocument(list).toJson(QJsonDocument::Compact)))) ids << match.captured(1);
    return ids;
}

QString fileText(const QJsonArray &categories) { return QString::fromUtf8(compact(libraryFile(categories))); }

const QString initial = "Instruments:Operator@Instruments,Wavetable | Synths<Instruments:Drift | Effects:Reverb,Drift copy | "
                        "Pads<Synths:Analog | Utilities: | Drums<Instruments:";

const QJsonObject savedStates[2] = {stateWith(generatedCategories(200, 6000)), stateWith(generatedCategories(150, 5000))};

// Run as "--save-loop <path>": saves the two libraries in turn, forever, so a test can kill it mid-write.
int saveLoop(const char *path)
{
    VintrelleNativeStore store(QString::fromLocal8Bit(path));
    for (unsigned turn = 1;; ++turn) { // the parent saved the first one already
        std::puts(turn == 1 ? "saving" : "saved");
        std::fflush(stdout);
        if (!store.commit(savedStates[turn % 2], nullptr)) return 1;
    }
}

} // namespace

// The library document, its validation and the store that saves it, commands included.
class TestNativeStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path; // no file until a test makes one
    std::unique_ptr<VintrelleNativeStore> m_store; // holds sampleTree(), elsewhere
    int m_saves = 0;

    QString backups() const { return VintrelleLibraryBackupsPath(m_path); }
    QJsonArray categories() const { return m_store->state()->value("categories").toArray(); }
    VintrelleError run(const QJsonObject &command)
    {
        VintrelleError error;
        const auto result = m_store->perform(command, &error);
        return result.has_value() == error.has_value() ? VintrelleError("not exactly one of result and error") : error;
    }
    static bool performAll(VintrelleNativeStore &store, const QList<QJsonObject> &commands)
    {
        return std::all_of(commands.begin(), commands.end(), [&](const QJsonObject &command) { return store.perform(command, nullptr).has_value(); });
    }

private slots:
    void validate_data()
    {
        addColumns<QJsonValue, QString>({"categories", "message"}); // message empty: valid
        const auto row = [](const char *tag, const QJsonArray &list, const QString &message = {}) { QTest::newRow(tag) << QJsonValue(list) << message; };
        QTest::newRow("not an array") << QJsonValue(QJsonObject()) << fileMessage;
        // Every count and length limit, at and one past it.
        const QList<std::tuple<const char *, int, std::function<QJsonArray(int)>, QString>> limits{
            {"categories", 2000, [](int n) { return generatedCategories(n, 0); }, fileMessage},
            {"plug-ins", 20000, [](int n) { return generatedCategories(7, n); }, pluginsMessage},
            {"levels", 64, chainCategories, hierarchyMessage},
            {"name", 500, [](int n) { return oneCategory(categoryObject("A", QString(n, 'n'))); }, categoriesMessage},
            {"category id", 200, [](int n) { return oneCategory(categoryObject(QString(n, 'i'), "A")); }, categoriesMessage},
            {"label", 500, [](int n) { return oneEntry(entryObject("E", QString(n, 'l'), "u")); }, pluginsMessage},
            {"path", 10000, [](int n) { return oneEntry(entryObject("E", "L", "u", QString(n, 'p'))); }, pluginsMessage},
            {"uri", 10000, [](int n) { return oneEntry(entryObject("E", "L", QString(n, 'u'))); }, pluginsMessage}};
        for (const auto &[name, limit, build, message] : limits) {
            row(qPrintable(QString(name) + " at the limit"), build(limit));
            row(qPrintable(QString(name) + " past the limit"), build(limit + 1), message);
        }
        row("pairs count two", oneCategory(categoryObject("A", "n" + QString::fromUtf8("🎹").repeated(250))), categoriesMessage);
        row("category not an object", {1}, categoriesMessage);
        row("duplicate category id", {categoryObject("A", "A"), categoryObject("A", "B")}, categoriesMessage);
        row("same uri in one category", {categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u"), entryObject("E2", "L", "u")})}, pluginsMessage);
        row("same uri in two categories", {categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u")}), categoryObject("D", "D", QJsonValue(), {entryObject("E2", "L", "u")})});
        row("entry id equals earlier category id", {categoryObject("C", "C"), categoryObject("D", "D", QJsonValue(), {entryObject("C", "L", "u")})}, pluginsMessage);
        row("two-cycle", {categoryObject("A", "A", "B"), categoryObject("B", "B", "A")}, hierarchyMessage);
        row("dangling parent", oneCategory(categoryObject("A", "A", "Z")), hierarchyMessage);
        row("child before parent", {categoryObject("B", "B", "A"), categoryObject("A", "A")});
        // The first failure in array order decides; the hierarchy is checked last.
        row("bad entry before bad category", {categoryObject("B", "B", QJsonValue(), {entryObject("", "L", "u")}), categoryObject("A", "")}, pluginsMessage);
        row("dangling parent before bad entry", {categoryObject("A", "A", "Z"), categoryObject("B", "B", QJsonValue(), {entryObject("", "L", "u")})}, pluginsMessage);
    }
    void validate()
    {
        QFETCH(QJsonValue, categories); QFETCH(QString, message);
        const QJsonValue before = categories;
        VintrelleError error;
        QCOMPARE(VTValidateCategories(categories, &error), message.isEmpty());
        QCOMPARE(error.value_or(QString()), message);
        QCOMPARE(categories, before);
        QCOMPARE(VTValidateCategories(categories, nullptr), message.isEmpty());
    }
    // Random edits: the remembering validator agrees with a fresh one on every verdict and message, and finds every id.
    void cacheAgreesWithFreshValidation_data()
    {
        addColumns<QJsonArray, int, QList<int>>({"start", "rounds", "edits"}); // edits: the kinds drawn from
        QTest::newRow("small library") << generatedCategories(40, 400) << 1500 << QList<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
        // Plug-ins added and removed cross the limit of 20,000 back and forth.
        QTest::newRow("at the plug-in limit") << generatedCategories(200, 20000) << 60 << QList<int>{3, 3, 3, 7, 0, 2, 10};
        // New and re-parented categories cross the limit of 64 levels.
        QJsonArray deep = chainCategories(62);
        for (const QJsonValue &category : generatedCategories(8, 40)) deep.append(category);
        QTest::newRow("deep hierarchy") << deep << 1000 << QList<int>{0, 1, 4, 4, 5, 8, 9, 9};
    }
    void cacheAgreesWithFreshValidation()
    {
        QFETCH(QJsonArray, start); QFETCH(int, rounds); QFETCH(QList<int>, edits);
        QRandomGenerator random(20261207);
        VintrelleCategoryCache cache;
        auto first = cache.check(start, nullptr);
        QVERIFY(first);
        cache.adopt(std::move(*first));
        QJsonArray list = start;
        int failures = 0;
        for (int round = 0; round < rounds; ++round) {
            if (list.size() < 10) list = start; // removals may shrink the walk's library; start again
            const auto any = [&](const QJsonArray &array) { return array.at(random.bounded(int(array.size()))); };
            const auto anyCategoryId = [&] { return any(list)["id"]; };
            const auto anyEntryId = [&] { const QJsonArray entries = any(list)["entries"].toArray(); return entries.isEmpty() ? anyCategoryId() : any(entries)["id"]; };
            QJsonArray edited = list;
            const qsizetype index = random.bounded(int(edited.size()));
            QJsonObject category = edited.at(index).toObject();
            QJsonArray entries = category.value("entries").toArray();
            switch (edits.at(random.bounded(int(edits.size())))) {
            case 0: category.insert("name", random.bounded(4) ? QStringLiteral("Renamed %1").arg(round) : QStringLiteral("  ")); break;
            case 1: category.insert("id", random.bounded(3) == 0 ? anyCategoryId() : random.bounded(2) ? anyEntryId() : QJsonValue(QStringLiteral("id-%1").arg(round))); break;
            case 2: if (!entries.isEmpty()) entries.replace(0, with(entries.at(0).toObject(), "id", random.bounded(2) ? anyCategoryId() : anyEntryId())); break;
            case 3: entries.append(entryObject(QStringLiteral("new-%1").arg(round), "New", QStringLiteral("u%1").arg(random.bounded(3)))); break;
            case 4: category.insert("parentId", random.bounded(4) ? anyCategoryId() : QJsonValue()); break;
            case 5: edited.removeAt(index); break;
            case 6: edited.append(any(edited)); break; // a duplicate
            case 7: if (!entries.isEmpty()) entries.removeAt(0); break;
            case 8: edited.insert(random.bounded(int(edited.size())), edited.takeAt(index)); break;
            case 9: edited.append(categoryObject(QStringLiteral("new-%1").arg(round), "New", anyCategoryId())); break;
            case 10: edited = QJsonDocument::fromJson(QJsonDocument(edited).toJson()).array(); break; // equal content, new containers
            }
            if (index < edited.size() && edited.at(index)["id"] == list.at(index)["id"]) edited.replace(index, with(category, "entries", entries));
            VintrelleError fresh, remembered;
            const bool freshVerdict = VTValidateCategories(edited, &fresh);
            auto checked = cache.check(edited, &remembered);
            QCOMPARE(checked.has_value(), freshVerdict);
            QCOMPARE(remembered, fresh);
            if (!freshVerdict) { ++failures; continue; }
            cache.adopt(std::move(*checked));
            list = edited; // keep walking from valid states
            const qsizetype probe = random.bounded(int(list.size()));
            QCOMPARE(cache.find(list.at(probe)["id"]).value_or(VintrelleCategoryCache::Position{}).category, probe);
            const QJsonArray probedEntries = list.at(probe)["entries"].toArray();
            for (qsizetype position = 0; position < probedEntries.size(); ++position) {
                const auto found = cache.find(probedEntries.at(position)["id"]).value_or(VintrelleCategoryCache::Position{});
                QVERIFY(found.category == probe && found.entry == position);
            }
            QVERIFY(!cache.find(QStringLiteral("new-%1").arg(round + 1)));
        }
        QVERIFY2(failures > rounds / 20 && failures < rounds - rounds / 20, qPrintable(QString::number(failures))); // both verdicts occurred
    }
    // Whatever the store accepts reads back exactly, through the fresh writer and the remembering one.
    void awkwardTextRoundTrips()
    {
        QRandomGenerator random(7);
        // Two lone surrogates once turned into the same "?" and made the library unreadable.
        QJsonArray categories{categoryObject("lone", "Lone", QJsonValue(), {entryObject("a", "A", QString(QChar(0xD800))), entryObject("b", "B", QString(QChar(0xD801)))})};
        for (int c = 0; c < 30; ++c) {
            QJsonArray entries;
            for (int e = 0; e < 5; ++e)
                entries.append(entryObject(awkwardText(random) + QString::number(c * 10 + e), awkwardText(random), awkwardText(random) + QString::number(e), awkwardText(random)));
            categories.append(categoryObject(awkwardText(random) + QString::number(c), awkwardText(random), QJsonValue(), entries));
        }
        QJsonObject state = stateWith(categories);
        for (int round = 0; round < 40; ++round) {
            state.insert(awkwardText(random), awkwardText(random)); // an unknown top-level key
            QCOMPARE(QJsonDocument::fromJson(VintrelleCompactJson(state)).object(), state);
            VintrelleError error;
            VintrelleNativeStore reread(m_store->url());
            QVERIFY2(m_store->commit(state, &error) && reread.read(&error), qPrintable(error.value_or("refused without a message")));
            QCOMPARE(*reread.state(), state);
            const qsizetype index = random.bounded(int(categories.size()));
            categories.replace(index, with(categories.at(index).toObject(), "name", awkwardText(random)));
            state.insert("categories", categories);
        }
    }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath("data/Vintrelle/native-library.json");
        m_store = std::make_unique<VintrelleNativeStore>(m_dir->filePath("sample/native-library.json"));
        QVERIFY(m_store->commit(stateWith(sampleTree()), nullptr));
        m_saves = 0;
        m_store->changed = [this] { ++m_saves; };
    }
    void failuresChangeNothing_data()
    {
        addColumns<QJsonObject, QString>({"command", "message"});
        const QString position = "Choose an available position.", unsupported = "Choose a supported Vintrelle library file.";
        const QString plugins = "This library contains invalid or duplicate plug-ins.";
        const auto add = [](const QJsonValue &category, const QJsonValue &entry) { return QJsonObject{{"op", "addPlugin"}, {"categoryID", category}, {"entry", entry}}; };
        const auto import = [](const QString &contents) { return QJsonObject{{"op", "import"}, {"contents", contents}}; };
        QTest::newRow("wrong case") << QJsonObject{{"op", "Rename"}} << "Unknown library action.";
        QTest::newRow("undo empty") << QJsonObject{{"op", "undo"}} << "Nothing to undo.";
        QTest::newRow("category too long") << QJsonObject{{"op", "addCategory"}, {"name", QString(501, 'x')}} << "Enter a category name (up to 500 characters).";
        QTest::newRow("category gone parent") << QJsonObject{{"op", "addCategory"}, {"name", "X"}, {"categoryID", "gone"}} << "Category is no longer available.";
        QTest::newRow("rename blank") << QJsonObject{{"op", "rename"}, {"id", "A"}, {"name", "  "}} << "Choose an available item and enter a name.";
        QTest::newRow("delete unknown") << QJsonObject{{"op", "delete"}, {"id", "gone"}} << "Item is no longer available.";
        QTest::newRow("add long name") << add("B", QJsonObject{{"name", QString(501, 'n')}, {"uri", "u9"}}) << "Choose a valid search result.";
        QTest::newRow("add duplicate uri") << add("B", QJsonObject{{"name", "N"}, {"uri", "u4"}}) << "Already added to this category.";
        QTest::newRow("add null path") << add("B", QJsonObject{{"name", "N"}, {"uri", "u9"}, {"path", QJsonValue()}}) << plugins;
        QTest::newRow("move into own") << QJsonObject{{"op", "move"}, {"id", "e1"}, {"categoryID", "A"}} << "Choose an available plug-in and another category.";
        QTest::newRow("reorder past end") << QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 3}} << position;
        QTest::newRow("import version 2") << import(compact(with(libraryFile({}), "version", 2))) << unsupported;
        const QString file = fileText({});
        QTest::newRow("import past the text limit") << import(file + QString(VintrelleLimits::importTextUnits + 1 - file.size(), ' ')) << unsupported;
        // The library holds 6 plug-ins: 19,995 more pass the file's own check but not the save's.
        QJsonArray many;
        for (int i = 0; i < 19995; ++i) many.append(entryObject("i", "P", QString::number(i)));
        QTest::newRow("import past entry limit") << import(fileText({categoryObject("m", "Many", QJsonValue(), many)})) << plugins;
    }
    void failuresChangeNothing()
    {
        QFETCH(QJsonObject, command); QFETCH(QString, message);
        const auto state = m_store->state();
        const auto undo = m_store->undo();
        const QByteArray file = readFile(m_store->url());
        QCOMPARE(run(command).value_or("no error"), message);
        QVERIFY(m_store->state() == state && m_store->undo() == undo && m_saves == 0);
        QCOMPARE(readFile(m_store->url()), file);
    }
    void changes_data()
    {
        addColumns<QList<QJsonObject>, QString, int>({"commands", "tree", "newIds"}); // newIds: all other identifiers are kept
        using L = QList<QJsonObject>;
        const auto add = [](const char *category, const QJsonObject &entry) { return QJsonObject{{"op", "addPlugin"}, {"categoryID", category}, {"entry", entry}}; };
        const auto reorder = [](const char *id, const QJsonValue &index) { return QJsonObject{{"op", "reorder"}, {"id", id}, {"index", index}}; };
        const auto import = [](const QJsonArray &file, const QJsonValue &replace) { return QJsonObject{{"op", "import"}, {"contents", fileText(file)}, {"replace", replace}}; };
        // New categories go last, after the parent's other children too; names need not be unique.
        QTest::newRow("addCategory") << L{{{"op", "addCategory"}, {"name", "  Reverbs \n"}, {"categoryID", "A"}}, {{"op", "addCategory"}, {"name", "Effects"}, {"categoryID", ""}}}
                                     << initial + " | Reverbs<Instruments: | Effects:" << 2;
        QTest::newRow("rename") << L{{{"op", "rename"}, {"id", "A1"}, {"name", " Synthesizers "}}, {{"op", "rename"}, {"id", "e4"}, {"name", "Hall"}}}
                                << QString(initial).replace("Synths", "Synthesizers").replace("Reverb", "Hall") << 0;
        QTest::newRow("delete with descendants") << L{{{"op", "delete"}, {"id", "A"}}} << "Effects:Reverb,Drift copy | Utilities:" << 0;
        // The label is the search result's name as it came; the same uri may stand elsewhere.
        QTest::newRow("addPlugin") << L{add("C", {{"name", " Glue "}, {"uri", "g"}, {"path", "Audio"}}), add("C", {{"name", "Utility"}, {"uri", "ut"}}), add("B", {{"name", "Glue"}, {"uri", "g"}})}
                                   << QString(initial).replace("Drift copy", "Drift copy,Glue").replace("Utilities:", "Utilities: Glue @Audio,Utility") << 3;
        QTest::newRow("move") << L{{{"op", "move"}, {"id", "e1"}, {"categoryID", "B"}}}
                              << QString(initial).remove("Operator@Instruments,").replace("Drift copy", "Drift copy,Operator@Instruments") << 0;
        // Sub-categories trade places; categories of other parents keep their slots.
        QTest::newRow("sub-category") << L{reorder("A2", 0.0)} << "Instruments:Operator@Instruments,Wavetable | Drums<Instruments: | Effects:Reverb,Drift copy | "
                                                                 "Pads<Synths:Analog | Utilities: | Synths<Instruments:Drift" << 0;
        QTest::newRow("entry") << L{reorder("e1", 1)} << QString(initial).replace("Operator@Instruments,Wavetable", "Wavetable,Operator@Instruments") << 0;
        // Merging (the default) reuses categories by name (any case) under the same parent, adds new uris only; new categories come last.
        const QJsonArray merged{categoryObject("x", "instruments", QJsonValue(), {entryObject("e1", "Operator", "u1"), entryObject("e2", "New one", "n1")}),
                                categoryObject("xs", "SYNTHS", "x", {entryObject("any", "Drift", "u3"), entryObject("any2", "Bass", "n2")}),
                                categoryObject("y", "Brand new", QJsonValue(), {with(entryObject("A", "Clash", "u4"), "path")}), categoryObject("ys", "Child", "y")};
        QTest::newRow("merge") << L{import(merged, QJsonValue::Undefined)} << "Instruments:Operator@Instruments,Wavetable,New one | Synths<Instruments:Drift,Bass | "
                                  "Effects:Reverb,Drift copy | Pads<Synths:Analog | Utilities: | Drums<Instruments: | Brand new:Clash | Child<Brand new:" << 5;
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
        QCOMPARE(fresh.filter(QRegularExpression("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$")).size(), newIds);
        QCOMPARE(m_saves, commands.size());
        QCOMPARE(QJsonDocument::fromJson(readFile(m_store->url())).object(), *m_store->state());
    }
    // Every export imports back, also one of a library at the limits (about 11 M characters).
    void exportOfALibraryAtTheLimitsImportsBack()
    {
        const QJsonObject state = stateWith(generatedCategories(2000, 20000, 36, 290));
        QVERIFY(compact(state).size() > 8'000'000);
        QVERIFY(m_store->commit(state, nullptr));
        const QString exported = m_store->perform({{"op", "export"}}, nullptr)->value("contents").toString();
        QVERIFY(exported.toUtf8().size() <= VintrelleLimits::importFileBytes); // the import flow's file check
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

    void readRefusals_data()
    {
        addColumns<QByteArray, QString>({"contents", "message"}); // "<none>": no file; message: prefix, "<accepted>" or empty: no error value
        const QByteArray valid = compact(stateWith({categoryObject("A", "A")}));
        QTest::newRow("exactly 8 MiB") << valid + QByteArray(8 * 1024 * 1024 - valid.size(), ' ') << "<accepted>";
        QTest::newRow("8 MiB and a byte") << valid + QByteArray(8 * 1024 * 1024 + 1 - valid.size(), ' ') << "The saved library is too large.";
        QTest::newRow("missing") << QByteArray("<none>") << "Could not read";
        QTest::newRow("not JSON") << QByteArray("{\"nativeVersion\": 1,") << "The saved library is not valid JSON";
        // Valid JSON that is not a library state: no error value, so the caller's own text shows.
        for (const char *scalar : {"[]", "\"text\"", " 42 ", "true", "null"}) QTest::newRow(scalar) << QByteArray(scalar) << QString();
        QTest::newRow("invalid categories") << compact(stateWith({categoryObject("A", "A"), categoryObject("A", "B")})) << "This library contains invalid categories.";
    }
    void readRefusals()
    {
        QFETCH(QByteArray, contents); QFETCH(QString, message);
        if (contents != "<none>") writeFile(m_path, contents);
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        const bool read = store.read(&error);
        QCOMPARE(read, message == "<accepted>");
        QCOMPARE(store.state().has_value(), read);
        if (!read) QVERIFY2(message.isEmpty() ? !error : error && error->startsWith(message), qPrintable(error.value_or("none")));
        QCOMPARE(readFile(m_path), contents == "<none>" ? QByteArray("<unreadable>") : contents); // reading never writes
    }
    void failedSaveChangesNothing_data()
    {
        addColumns<QString, QString>({"breakage", "message"}); // message: prefix
        QTest::newRow("too large to read back") << "large" << "The saved library is too large.";
        QTest::newRow("folder is a file") << "folder" << "Could not create the folder";
        QTest::newRow("backups folder is a file") << "backups" << "Could not create the folder";
    }
    void failedSaveChangesNothing()
    {
        QFETCH(QString, breakage); QFETCH(QString, message);
        VintrelleNativeStore store(m_path);
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(store.commit(stateWith({categoryObject("A", "A")}), nullptr) && performAll(store, {{{"op", "addCategory"}, {"name", "B"}}, {{"op", "undo"}}}));
        const auto stateBefore = store.state();
        const auto undoBefore = store.undo(), redoBefore = store.redo();
        const QByteArray fileBefore = readFile(m_path);
        const QString folder = QFileInfo(m_path).path();
        VintrelleError error;
        if (breakage == "large") { // within every per-item limit, over 8 MiB in all
            QJsonArray entries;
            for (int i = 0; i < 1000; ++i) entries.append(entryObject(QStringLiteral("e%1").arg(i), "P", QString::number(i) + QString(9000, 'u')));
            QVERIFY(!store.commit(stateWith({categoryObject("A", "A", QJsonValue(), entries)}), &error));
        } else if (breakage == "backups") { // a reset must not go ahead without its backup
            writeFile(backups(), "not a folder");
            QVERIFY(!store.perform({{"op", "reset"}}, &error));
            QVERIFY(error && error->endsWith("The library is unchanged."));
        } else {
            QVERIFY(QDir(folder).removeRecursively());
            writeFile(folder, "not a folder");
            QVERIFY(!store.perform({{"op", "addCategory"}, {"name", "C"}}, &error));
        }
        QVERIFY2(error && error->startsWith(message), qPrintable(error.value_or("none")));
        QVERIFY(store.state() == stateBefore && store.undo() == undoBefore && store.redo() == redoBefore && changes == 3);
        if (breakage != "folder") QCOMPARE(readFile(m_path), fileBefore);
    }
    void saveIsPrivateAndKeepsUnknownKeys()
    {
        const QJsonObject category = with(categoryObject("A", "A", QJsonValue(), {with(entryObject("E", "L", "u"), "favourite", 3)}), "colour", "red");
        writeFile(m_path, compact(with(stateWith({category}), "theme", "dark")));
        VintrelleNativeStore store(m_path);
        QVERIFY(store.read(nullptr) && QDir(QFileInfo(m_path).path()).removeRecursively());
        QVERIFY(performAll(store, {{{"op", "addCategory"}, {"name", "B"}}, {{"op", "rename"}, {"id", "A"}, {"name", "Renamed"}}, {{"op", "undo"}}}));
        QCOMPARE(QFile::permissions(QFileInfo(m_path).path()), ownerOnlyFolder);
        QCOMPARE(QFile::permissions(m_path), ownerOnly);
        const QJsonObject saved = QJsonDocument::fromJson(readFile(m_path)).object();
        QCOMPARE(saved["theme"].toString() + ' ' + QString::number(saved["categories"].toArray().size()), "dark 2");
        QCOMPARE(saved["categories"][0], QJsonValue(category));
    }
    // A library that is a link (a synced folder) stays a link; the save replaces its target.
    void saveThroughALinkReplacesItsTarget()
    {
        const QString target = m_dir->filePath("synced/library.json");
        writeFile(target, compact(stateWith({categoryObject("A", "A")})));
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()) && QFile::link(target, m_path));
        VintrelleNativeStore store(m_path);
        QVERIFY(store.read(nullptr) && store.perform({{"op", "rename"}, {"id", "A"}, {"name", "Renamed"}}, nullptr));
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(QJsonDocument::fromJson(readFile(target)).object(), *store.state());
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"library.json"});
    }
    void historyKeepsTwentyAndRedoEmpties()
    {
        for (int i = 0; i < 25; ++i) QCOMPARE(run({{"op", "addCategory"}, {"name", QString::number(i)}}), VintrelleError());
        for (int i = 0; i < 20; ++i) QCOMPARE(run({{"op", "undo"}}), VintrelleError());
        QCOMPARE(run({{"op", "undo"}}), VintrelleError("Nothing to undo.")); // twenty undos reach back to the fifth change
        QCOMPARE(categories().size(), 6 + 5);
        QVERIFY(performAll(*m_store, {{{"op", "redo"}}, {{"op", "addCategory"}, {"name", "new"}}}));
        QCOMPARE(run({{"op", "redo"}}), VintrelleError("Nothing to redo.")); // a new change empties the redo list
    }
    // Commands that throw much away first keep the library as an importable file; others don't.
    void destructiveCommandsKeepABackup_data()
    {
        addColumns<QJsonObject, bool>({"command", "backedUp"});
        const QString file = fileText({categoryObject("n", "New")});
        QTest::newRow("reset") << QJsonObject{{"op", "reset"}} << true;
        QTest::newRow("replacing import") << QJsonObject{{"op", "import"}, {"contents", file}, {"replace", 1}} << true;
        QTest::newRow("merging import") << QJsonObject{{"op", "import"}, {"contents", file}, {"replace", false}} << false;
        QTest::newRow("category with plug-ins") << QJsonObject{{"op", "delete"}, {"id", "A"}} << true;
        QTest::newRow("category with a sub-category") << QJsonObject{{"op", "delete"}, {"id", "B"}} << true;
        QTest::newRow("empty category") << QJsonObject{{"op", "delete"}, {"id", "B1"}} << false;
    }
    void destructiveCommandsKeepABackup()
    {
        QFETCH(QJsonObject, command); QFETCH(bool, backedUp);
        VintrelleNativeStore store(m_path);
        const QJsonArray before{categoryObject("A", "A", QJsonValue(), {entryObject("e", "L", QString(QChar(0xDC00)))}), categoryObject("B", "B"), categoryObject("B1", "B1", "B")};
        QVERIFY(store.commit(stateWith(before), nullptr));
        for (int round = 0; round < (backedUp ? VintrelleNativeStore::backupsKept + 2 : 1); ++round) {
            QVERIFY(performAll(store, {command, {{"op", "undo"}}})); // the history is untouched by backups
            QCOMPARE(store.state()->value("categories").toArray(), before);
        }
        const QStringList kept = QDir(backups()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), backedUp ? VintrelleNativeStore::backupsKept : 0);
        if (!backedUp) return;
        QCOMPARE(QFile::permissions(backups()), ownerOnlyFolder);
        QCOMPARE(QFile::permissions(backups() + '/' + kept.last()), ownerOnly);
        // Importing a backup after a reset restores the library.
        const QString contents = QString::fromUtf8(readFile(backups() + '/' + kept.last()));
        QVERIFY(performAll(store, {{{"op", "reset"}}, {{"op", "import"}, {"contents", contents}, {"replace", true}}}));
        const QJsonArray restored = store.state()->value("categories").toArray();
        QCOMPARE(restored.size(), 3);
        QCOMPARE(restored[0]["entries"][0]["uri"], before[0]["entries"][0]["uri"]);
        QCOMPARE(restored[2]["parentId"], restored[1]["id"]);
    }

    void migrate_data()
    {
        addColumns<QJsonValue, QJsonObject, QString>({"previous", "state", "message"}); // state empty: refused with `message`
        const QJsonObject bare{{"id", "k"}, {"name", "Keys"}};
        const QJsonObject sub{{"id", "s"}, {"name", "Sub"}, {"parentId", "k"}, {"colour", "blue"}, {"entries", QJsonArray{QJsonObject{{"id", "p"}, {"label", "Piano"}, {"uri", "u"}}}}};
        const QJsonArray repaired{categoryObject("k", "Keys"), with(categoryObject("s", "Sub", "k", {entryObject("p", "Piano", "u")}), "colour", "blue")};
        const auto previous = [](const QJsonArray &categories, const QJsonObject &settings = {}) { return QJsonValue(with(settings, "categories", categories)); };
        QTest::newRow("repaired, settings kept") << previous({bare, sub}, {{"bridgeUrl", "http://127.0.0.1:9999"}, {"token", "abc"}, {"other", 1}})
                                                 << with(with(stateWith(repaired), "bridgeUrl", "http://127.0.0.1:9999"), "token", "abc") << QString();
        QTest::newRow("categories missing") << QJsonValue(QJsonObject{}) << QJsonObject() << "The previous library contains invalid categories. Original data is unchanged.";
        QTest::newRow("category not object") << previous({"x"}) << QJsonObject() << "The previous library contains invalid categories.";
        QTest::newRow("entry not object") << previous({with(bare, "entries", QJsonArray{1})}) << QJsonObject() << "The previous library contains invalid plug-ins.";
        QTest::newRow("a file wins") << previous({bare}) << stateWith({categoryObject("F", "File")}) << QString(); // also one written while migrating
    }
    void migrate()
    {
        QFETCH(QJsonValue, previous); QFETCH(QJsonObject, state); QFETCH(QString, message);
        if (QTest::currentDataTag() == QByteArray("a file wins")) writeFile(m_path, compact(state));
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        QCOMPARE(store.initializeFromPreviousLibrary(previous, &error), !state.isEmpty());
        QCOMPARE(error.value_or(QString()), message);
        QCOMPARE(store.state().value_or(QJsonObject()), state);
        QCOMPARE(QJsonDocument::fromJson(readFile(m_path)).object(), state); // nothing written on failure
    }
    // A process killed at any moment of a save leaves the old or the new library, whole.
    void killedSaverLeavesAWholeLibrary()
    {
        QVERIFY(VintrelleNativeStore(m_path).commit(savedStates[0], nullptr));
        const auto startSaver = [&](QProcess &saver) { saver.start(QCoreApplication::applicationFilePath(), {"--save-loop", m_path}); };
        // How long one save takes on this machine and build, so kills spread over several saves.
        QProcess timed;
        startSaver(timed);
        QElapsedTimer timer;
        int saved = -1;
        while (saved < 3 && timed.waitForReadyRead(30000))
            while (timed.canReadLine()) if (timed.readLine().startsWith("saved") && ++saved == 0) timer.start();
        QCOMPARE(saved, 3);
        const qint64 saveMs = timer.elapsed() / 3;
        timed.kill(), timed.waitForFinished();
        int saw[2] = {0, 0};
        for (int round = 0; round < 60; ++round) {
            QProcess saver;
            startSaver(saver);
            QVERIFY(saver.waitForReadyRead(10000));
            QThread::msleep(QRandomGenerator::global()->bounded(qint64(1), 4 * saveMs + 2));
            ::kill(pid_t(saver.processId()), SIGKILL);
            QVERIFY(saver.waitForFinished(10000));
            QCOMPARE(saver.exitStatus(), QProcess::CrashExit);
            VintrelleNativeStore store(m_path);
            VintrelleError error;
            QVERIFY2(store.read(&error), qPrintable(error.value_or("read failed without a message")));
            const QJsonValue categories = store.state()->value("categories");
            QVERIFY(categories == savedStates[0]["categories"] || categories == savedStates[1]["categories"]);
            ++saw[categories == savedStates[0]["categories"] ? 0 : 1];
        }
        qInfo("after 60 kills: %d times the first library, %d times the second", saw[0], saw[1]);
        QVERIFY(saw[0] > 0 && saw[1] > 0); // kills did land between and during saves
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--save-loop") == 0) return saveLoop(argv[2]); // the saver the crash test kills
    QCoreApplication application(argc, argv);
    TestNativeStore test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_native_store.moc"
