#include "LibraryFixtures.h"
#include "VintrelleLibraryDocument.h"

#include <QtTest>

namespace {

const QString categoriesMessage = QStringLiteral("This library contains invalid categories.");
const QString pluginsMessage = QStringLiteral("This library contains invalid or duplicate plug-ins.");
const QString hierarchyMessage = QStringLiteral("This library contains an invalid folder hierarchy.");
const QString fileMessage = QStringLiteral("Choose a supported Vintrelle library file.");

QJsonArray chain(int levels)
{
    QJsonArray list;
    for (int level = 0; level < levels; ++level)
        list.append(categoryObject(QStringLiteral("L%1").arg(level), "Level",
                                   level == 0 ? QJsonValue() : QJsonValue(QStringLiteral("L%1").arg(level - 1))));
    return list;
}

QJsonArray withCategory(const QJsonObject &category)
{
    return {category};
}

QJsonArray withEntry(const QJsonObject &entry)
{
    return {categoryObject("C", "Category", QJsonValue(), {entry})};
}

} // namespace

class TestLibraryDocument : public QObject
{
    Q_OBJECT

private slots:
    void text_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("at limit") << QJsonValue(QString(500, 'a')) << 500 << true;
        QTest::newRow("one past limit") << QJsonValue(QString(501, 'a')) << 500 << false;
        QTest::newRow("padded to limit") << QJsonValue(" " + QString(498, 'a') + " ") << 500 << true;
        QTest::newRow("padding counts") << QJsonValue("  " + QString(498, 'a') + "  ") << 500 << false;
        // U+1F3B9 is two UTF-16 units.
        QTest::newRow("surrogate pairs at limit") << QJsonValue(QString::fromUtf8("🎹🎹")) << 4 << true;
        QTest::newRow("surrogate pairs past limit") << QJsonValue(QString::fromUtf8("a🎹🎹")) << 4 << false;
        QTest::newRow("blank") << QJsonValue(" \n\t\u2028 ") << 500 << false;
        QTest::newRow("empty") << QJsonValue("") << 500 << false;
        QTest::newRow("number") << QJsonValue(5) << 500 << false;
        QTest::newRow("null") << QJsonValue() << 500 << false;
        QTest::newRow("undefined") << QJsonValue(QJsonValue::Undefined) << 500 << false;
    }
    void text()
    {
        QFETCH(QJsonValue, value);
        QFETCH(int, maximum);
        QFETCH(bool, accepted);
        QCOMPARE(VTText(value, maximum), accepted);
    }

    void validate_data()
    {
        QTest::addColumn<QJsonValue>("categories");
        QTest::addColumn<QString>("message"); // empty: valid

        QTest::newRow("empty") << QJsonValue(QJsonArray()) << QString();
        QTest::newRow("not an array") << QJsonValue(QJsonObject()) << fileMessage;
        QTest::newRow("2000 categories") << QJsonValue(generatedCategories(2000, 0)) << QString();
        QTest::newRow("2001 categories") << QJsonValue(generatedCategories(2001, 0)) << fileMessage;
        QTest::newRow("20000 entries") << QJsonValue(generatedCategories(7, 20000)) << QString();
        QTest::newRow("20001 entries") << QJsonValue(generatedCategories(7, 20001)) << pluginsMessage;

        QTest::newRow("name of 500") << QJsonValue(withCategory(categoryObject("A", QString(500, 'n')))) << QString();
        QTest::newRow("name of 501") << QJsonValue(withCategory(categoryObject("A", QString(501, 'n')))) << categoriesMessage;
        QTest::newRow("padded name of 502")
            << QJsonValue(withCategory(categoryObject("A", "  " + QString(498, 'n') + "  "))) << categoriesMessage;
        QTest::newRow("blank name") << QJsonValue(withCategory(categoryObject("A", " \r\n "))) << categoriesMessage;
        QTest::newRow("id of 200") << QJsonValue(withCategory(categoryObject(QString(200, 'i'), "A"))) << QString();
        QTest::newRow("id of 201") << QJsonValue(withCategory(categoryObject(QString(201, 'i'), "A"))) << categoriesMessage;
        QJsonObject noParent = categoryObject("A", "A");
        noParent.remove("parentId");
        QTest::newRow("parentId missing") << QJsonValue(withCategory(noParent)) << categoriesMessage;
        QTest::newRow("parentId number") << QJsonValue(withCategory(categoryObject("A", "A", 3))) << categoriesMessage;
        QJsonObject noEntries = categoryObject("A", "A");
        noEntries.insert("entries", QJsonObject());
        QTest::newRow("entries not an array") << QJsonValue(withCategory(noEntries)) << categoriesMessage;
        QTest::newRow("category not an object") << QJsonValue(QJsonArray{1}) << categoriesMessage;
        QTest::newRow("duplicate category id")
            << QJsonValue(QJsonArray{categoryObject("A", "A"), categoryObject("A", "B")}) << categoriesMessage;

        QTest::newRow("entry ok") << QJsonValue(withEntry(entryObject("E", "L", "u"))) << QString();
        QJsonObject noPath = entryObject("E", "L", "u");
        noPath.remove("path");
        QTest::newRow("entry without path") << QJsonValue(withEntry(noPath)) << pluginsMessage;
        QJsonObject nullPath = entryObject("E", "L", "u");
        nullPath.insert("path", QJsonValue());
        QTest::newRow("entry with null path") << QJsonValue(withEntry(nullPath)) << pluginsMessage;
        QTest::newRow("path of 10000") << QJsonValue(withEntry(entryObject("E", "L", "u", QString(10000, 'p')))) << QString();
        QTest::newRow("path of 10001") << QJsonValue(withEntry(entryObject("E", "L", "u", QString(10001, 'p')))) << pluginsMessage;
        QTest::newRow("uri of 10000") << QJsonValue(withEntry(entryObject("E", "L", QString(10000, 'u')))) << QString();
        QTest::newRow("uri of 10001") << QJsonValue(withEntry(entryObject("E", "L", QString(10001, 'u')))) << pluginsMessage;
        QTest::newRow("blank label") << QJsonValue(withEntry(entryObject("E", "  ", "u"))) << pluginsMessage;
        QTest::newRow("label of 501") << QJsonValue(withEntry(entryObject("E", QString(501, 'l'), "u"))) << pluginsMessage;
        QTest::newRow("entry not an object") << QJsonValue(QJsonArray{categoryObject("C", "C", QJsonValue(), {"x"})})
                                             << pluginsMessage;
        QTest::newRow("same uri in one category")
            << QJsonValue(QJsonArray{categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u"), entryObject("E2", "L", "u")})})
            << pluginsMessage;
        QTest::newRow("same uri in two categories")
            << QJsonValue(QJsonArray{categoryObject("C", "C", QJsonValue(), {entryObject("E1", "L", "u")}),
                                     categoryObject("D", "D", QJsonValue(), {entryObject("E2", "L", "u")})})
            << QString();
        QTest::newRow("entry id equals earlier category id")
            << QJsonValue(QJsonArray{categoryObject("C", "C"), categoryObject("D", "D", QJsonValue(), {entryObject("C", "L", "u")})})
            << pluginsMessage;
        QTest::newRow("category id equals earlier entry id")
            << QJsonValue(QJsonArray{categoryObject("C", "C", QJsonValue(), {entryObject("E", "L", "u")}), categoryObject("E", "E")})
            << categoriesMessage;

        QTest::newRow("own parent") << QJsonValue(withCategory(categoryObject("A", "A", "A"))) << hierarchyMessage;
        QTest::newRow("two-cycle") << QJsonValue(QJsonArray{categoryObject("A", "A", "B"), categoryObject("B", "B", "A")})
                                   << hierarchyMessage;
        QTest::newRow("dangling parent") << QJsonValue(withCategory(categoryObject("A", "A", "Z"))) << hierarchyMessage;
        QTest::newRow("child before parent")
            << QJsonValue(QJsonArray{categoryObject("B", "B", "A"), categoryObject("A", "A")}) << QString();
        QTest::newRow("64 levels") << QJsonValue(chain(64)) << QString();
        QTest::newRow("65 levels") << QJsonValue(chain(65)) << hierarchyMessage;

        // The first failure in array order decides, even when a later rule is "earlier" in the list.
        QTest::newRow("bad category before bad entry")
            << QJsonValue(QJsonArray{categoryObject("A", ""), categoryObject("B", "B", QJsonValue(), {entryObject("", "L", "u")})})
            << categoriesMessage;
        QTest::newRow("bad entry before bad category")
            << QJsonValue(QJsonArray{categoryObject("B", "B", QJsonValue(), {entryObject("", "L", "u")}), categoryObject("A", "")})
            << pluginsMessage;
        QTest::newRow("dangling parent before bad entry")
            << QJsonValue(QJsonArray{categoryObject("A", "A", "Z"), categoryObject("B", "B", QJsonValue(), {entryObject("", "L", "u")})})
            << pluginsMessage;
    }
    void validate()
    {
        QFETCH(QJsonValue, categories);
        QFETCH(QString, message);
        const QJsonValue before = categories;
        VintrelleError error;
        const bool valid = VTValidateCategories(categories, &error);
        QCOMPARE(valid, message.isEmpty());
        QCOMPARE(error.value_or(QString()), message);
        QCOMPARE(categories, before);
        // Callers may ask for the verdict alone.
        QCOMPARE(VTValidateCategories(categories, nullptr), message.isEmpty());
    }

    void failFillsOnlyAGivenError()
    {
        VintrelleError error;
        QVERIFY(!VTFail(&error, "Broken."));
        QCOMPARE(error, VintrelleError("Broken."));
        QVERIFY(!VTFail(nullptr, "Broken."));
    }

    void copiesAreIndependent()
    {
        QJsonObject original{{"categories", QJsonArray{categoryObject("A", "A")}}};
        const auto copy = VTCopyJSON(original);
        QVERIFY(copy);
        QJsonObject changed = copy->toObject();
        QJsonArray categories = changed.value("categories").toArray();
        QJsonObject first = categories.at(0).toObject();
        first.insert("name", "Changed");
        categories.replace(0, first);
        changed.insert("categories", categories);
        QCOMPARE(original.value("categories").toArray().at(0).toObject().value("name").toString(), QString("A"));
        QVERIFY(!VTCopyJSON(QJsonValue(QJsonValue::Undefined)));
    }

    void numbersCompareByValue()
    {
        // Equality decides whether a command saves: 1 and 1.0 are the same number.
        QCOMPARE(QJsonDocument::fromJson("[1]").array(), QJsonDocument::fromJson("[1.0]").array());
        QVERIFY(QJsonDocument::fromJson("{\"a\":1}").object() != QJsonDocument::fromJson("{\"a\":1,\"b\":2}").object());
    }
};

QTEST_APPLESS_MAIN(TestLibraryDocument)
#include "tst_library_document.moc"
