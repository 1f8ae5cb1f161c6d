#include "LibraryFixtures.h"
#include "VintrelleNativeStore.h"

#include <QTemporaryDir>
#include <QtTest>

class TestMigration : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("Vintrelle/native-library.json"); }

private slots:
    void init() { QDir(m_dir.filePath("Vintrelle")).removeRecursively(); }

    void firstStartSavesStarterCategories()
    {
        VintrelleNativeStore store(path());
        QVERIFY(store.initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        const QJsonObject state = *store.state();
        QCOMPARE(state.value("nativeVersion"), QJsonValue(1));
        QCOMPARE(state.value("bridgeUrl").toString(), QString("http://127.0.0.1:45873"));
        QCOMPARE(state.value("token"), QJsonValue(""));
        const QJsonArray categories = state.value("categories").toArray();
        QCOMPARE(categories.size(), 16);
        QCOMPARE(categories.at(0).toObject().value("id").toString(), QString("starter-0"));
        QCOMPARE(categories.at(15).toObject().value("id").toString(), QString("starter-7-1"));
        VintrelleNativeStore reread(path());
        QVERIFY(reread.read(nullptr));
        QCOMPARE(reread.state(), store.state());
    }

    void fileWinsOverPreviousLibrary()
    {
        VintrelleNativeStore writer(path());
        QVERIFY(writer.commit(stateWith({categoryObject("saved", "Saved")}), nullptr));
        VintrelleNativeStore store(path());
        QVERIFY(store.initializeFromPreviousLibrary(QJsonObject{{"categories", QJsonArray{categoryObject("old", "Old")}}}, nullptr));
        QCOMPARE(store.state()->value("categories").toArray().at(0).toObject().value("id").toString(), QString("saved"));
        // Once ready, nothing replaces the state.
        QVERIFY(store.initializeFromPreviousLibrary(QJsonObject{{"categories", QJsonArray()}}, nullptr));
        QCOMPARE(store.state()->value("categories").toArray().size(), 1);
    }

    void repairs()
    {
        QJsonObject bare{{"id", "k"}, {"name", "Keys"}};
        QJsonObject entry{{"id", "p"}, {"label", "Piano"}, {"uri", "u"}};
        QJsonObject withEntries{{"id", "s"}, {"name", "Sub"}, {"parentId", "k"}, {"entries", QJsonArray{entry}}, {"colour", "blue"}};
        const QJsonObject previous{{"categories", QJsonArray{bare, withEntries}}, {"bridgeUrl", "http://127.0.0.1:9999"}, {"token", "abc"}, {"other", 1}};
        VintrelleNativeStore store(path());
        QVERIFY(store.initializeFromPreviousLibrary(previous, nullptr));
        const QJsonObject state = *store.state();
        const QJsonArray categories = state.value("categories").toArray();
        QCOMPARE(categories.at(0).toObject(), categoryObject("k", "Keys"));
        QCOMPARE(categories.at(1).toObject().value("entries").toArray().at(0).toObject(), entryObject("p", "Piano", "u", ""));
        QCOMPARE(categories.at(1).toObject().value("colour").toString(), QString("blue"));
        QCOMPARE(state.value("bridgeUrl").toString(), QString("http://127.0.0.1:9999"));
        QCOMPARE(state.value("token").toString(), QString("abc"));
        QVERIFY(!state.contains("other"));
    }

    void bridgeSettings_data()
    {
        QTest::addColumn<QJsonValue>("bridgeUrl");
        QTest::addColumn<QJsonValue>("token");
        QTest::addColumn<QString>("expectedUrl");
        QTest::addColumn<QString>("expectedToken");
        const QString fallback = "http://127.0.0.1:45873";
        QTest::newRow("spaces") << QJsonValue("   ") << QJsonValue(7) << fallback << "";
        QTest::newRow("missing") << QJsonValue(QJsonValue::Undefined) << QJsonValue(QJsonValue::Undefined) << fallback << "";
        QTest::newRow("2000 units") << QJsonValue(QString(2000, 'h')) << QJsonValue("") << QString(2000, 'h') << "";
        QTest::newRow("2001 units") << QJsonValue(QString(2001, 'h')) << QJsonValue("t") << fallback << "t";
    }
    void bridgeSettings()
    {
        QFETCH(QJsonValue, bridgeUrl);
        QFETCH(QJsonValue, token);
        QFETCH(QString, expectedUrl);
        QFETCH(QString, expectedToken);
        QJsonObject previous{{"categories", QJsonArray()}};
        if (!bridgeUrl.isUndefined())
            previous.insert("bridgeUrl", bridgeUrl);
        if (!token.isUndefined())
            previous.insert("token", token);
        VintrelleNativeStore store(path());
        QVERIFY(store.migrate(previous, nullptr));
        QCOMPARE(store.state()->value("bridgeUrl").toString(), expectedUrl);
        QCOMPARE(store.state()->value("token"), QJsonValue(expectedToken));
    }

    void refusals_data()
    {
        QTest::addColumn<QJsonValue>("previous");
        QTest::addColumn<QString>("message");
        QTest::newRow("not an object") << QJsonValue(QJsonArray()) << "The previous library could not be read. Its original data is unchanged.";
        QTest::newRow("null") << QJsonValue() << "The previous library could not be read. Its original data is unchanged.";
        QTest::newRow("categories missing") << QJsonValue(QJsonObject{}) << "The previous library contains invalid categories. Original data is unchanged.";
        QTest::newRow("category not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{"x"}}}) << "The previous library contains invalid categories.";
        QTest::newRow("entries not array") << QJsonValue(QJsonObject{{"categories", QJsonArray{QJsonObject{{"id", "a"}, {"name", "A"}, {"entries", 4}}}}}) << "The previous library contains invalid categories.";
        QTest::newRow("entry not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{QJsonObject{{"id", "a"}, {"name", "A"}, {"entries", QJsonArray{1}}}}}}) << "The previous library contains invalid plug-ins.";
        QTest::newRow("duplicate ids") << QJsonValue(QJsonObject{{"categories", QJsonArray{categoryObject("a", "A"), categoryObject("a", "B")}}}) << "This library contains invalid categories.";
    }
    void refusals()
    {
        QFETCH(QJsonValue, previous);
        QFETCH(QString, message);
        VintrelleNativeStore store(path());
        VintrelleError error;
        QVERIFY(!store.initializeFromPreviousLibrary(previous, &error));
        QCOMPARE(error.value_or("none"), message);
        QVERIFY(!store.state());
        QVERIFY(!QFileInfo::exists(path()));
    }
};

QTEST_APPLESS_MAIN(TestMigration)
#include "tst_migration.moc"
