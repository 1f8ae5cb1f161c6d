#include "VintrelleCategoryCache.h"
#include "VintrelleJsonWriter.h"
#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

#include <QRandomGenerator>

namespace {

const QString categoriesMessage = "This library contains invalid categories.";
const QString pluginsMessage = "This library contains invalid or duplicate plug-ins.";
const QString hierarchyMessage = "This library contains an invalid folder hierarchy.";
const QString fileMessage = "Choose a supported Vintrelle library file.";

QJsonArray chain(int levels)
{
    QJsonArray list;
    for (int level = 0; level < levels; ++level)
        list.append(categoryObject(QStringLiteral("L%1").arg(level), "Level", level == 0 ? QJsonValue() : QJsonValue(QStringLiteral("L%1").arg(level - 1))));
    return list;
}

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

} // namespace

class TestLibraryDocument : public QObject
{
    Q_OBJECT

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
            {"levels", 64, chain, hierarchyMessage},
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
        row("blank name", oneCategory(categoryObject("A", " \r\n\t\u2028 ")), categoriesMessage);
        row("parentId missing", oneCategory(with(categoryObject("A", "A"), "parentId")), categoriesMessage);
        row("category not an object", {1}, categoriesMessage);
        row("duplicate category id", {categoryObject("A", "A"), categoryObject("A", "B")}, categoriesMessage);
        row("entry with null path", oneEntry(with(entryObject("E", "L", "u"), "path", QJsonValue::Null)), pluginsMessage);
        row("entry not an object", {categoryObject("C", "C", QJsonValue(), {"x"})}, pluginsMessage);
        row("same uri in one category", {categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u"), entryObject("E2", "L", "u")})}, pluginsMessage);
        row("same uri in two categories", {categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u")}), categoryObject("D", "D", QJsonValue(), {entryObject("E2", "L", "u")})});
        row("entry id equals earlier category id", {categoryObject("C", "C"), categoryObject("D", "D", QJsonValue(), {entryObject("C", "L", "u")})}, pluginsMessage);
        row("category id equals earlier entry id", {categoryObject("C", "C", QJsonValue(), {entryObject("E", "L", "u")}), categoryObject("E", "E")}, categoriesMessage);
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
        QJsonArray deep = chain(62);
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
            if (list.size() < 10) // removals may shrink the walk's library; start again
                list = start;
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
            if (index < edited.size() && edited.at(index)["id"] == list.at(index)["id"]) {
                category.insert("entries", entries);
                edited.replace(index, category);
            }
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
                const auto found = cache.find(probedEntries.at(position)["id"]);
                QVERIFY(found && found->category == probe && found->entry == position);
            }
            QVERIFY(!cache.find(QStringLiteral("new-%1").arg(round + 1)));
        }
        // The walk did exercise both verdicts.
        QVERIFY2(failures > rounds / 20 && failures < rounds - rounds / 20, qPrintable(QString::number(failures)));
    }

    // Whatever the store accepts reads back exactly, through the fresh writer and the remembering one.
    void awkwardTextRoundTrips()
    {
        QTemporaryDir dir;
        VintrelleNativeStore store(dir.filePath("native-library.json"));
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
            VintrelleNativeStore reread(store.url());
            QVERIFY2(store.commit(state, &error) && reread.read(&error), qPrintable(error.value_or("refused without a message")));
            QCOMPARE(*reread.state(), state);
            const qsizetype index = random.bounded(int(categories.size()));
            categories.replace(index, with(categories.at(index).toObject(), "name", awkwardText(random)));
            state.insert("categories", categories);
        }
    }
};

QTEST_APPLESS_MAIN(TestLibraryDocument)
#include "tst_library_document.moc"
