#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

class TestMigration : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path() const { return m_dir.filePath("Vintrelle/native-library.json"); }

private slots:
    void init() { QDir(m_dir.filePath("Vintrelle")).removeRecursively(); }

    void firstStartSavesStarterCategoriesAndAFileWins()
    {
        VintrelleNativeStore store(path());
        QVERIFY(store.initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        QCOMPARE(store.state()->value("categories").toArray().size(), 16);
        QCOMPARE(store.state()->value("categories")[15]["id"], QJsonValue("starter-7-1"));
        QCOMPARE(*store.state(), with(stateWith({}), "categories", store.state()->value("categories")));
        // Any file wins over a previous library, and once ready nothing replaces the state.
        VintrelleNativeStore next(path());
        QVERIFY(next.initializeFromPreviousLibrary(QJsonObject{{"categories", QJsonArray{categoryObject("old", "Old")}}}, nullptr));
        QCOMPARE(next.state(), store.state());
        QVERIFY(next.initializeFromPreviousLibrary(QJsonObject{{"categories", QJsonArray()}}, nullptr));
        QCOMPARE(next.state(), store.state());
    }

    void migrate_data()
    {
        QTest::addColumn<QJsonValue>("previous");
        QTest::addColumn<QJsonObject>("state"); // empty: refused with `message`
        QTest::addColumn<QString>("message");
        const QJsonObject bare{{"id", "k"}, {"name", "Keys"}};
        const QJsonObject sub{{"id", "s"}, {"name", "Sub"}, {"parentId", "k"}, {"colour", "blue"}, {"entries", QJsonArray{QJsonObject{{"id", "p"}, {"label", "Piano"}, {"uri", "u"}}}}};
        const QJsonArray repaired{categoryObject("k", "Keys"), with(categoryObject("s", "Sub", "k", {entryObject("p", "Piano", "u")}), "colour", "blue")};
        QTest::newRow("repaired, settings kept") << QJsonValue(QJsonObject{{"categories", QJsonArray{bare, sub}}, {"bridgeUrl", "http://127.0.0.1:9999"}, {"token", "abc"}, {"other", 1}})
                                                 << with(with(stateWith(repaired), "bridgeUrl", "http://127.0.0.1:9999"), "token", "abc") << QString();
        QTest::newRow("blank url, number token") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", "   "}, {"token", 7}}) << stateWith({}) << QString();
        QTest::newRow("no settings") << QJsonValue(QJsonObject{{"categories", QJsonArray()}}) << stateWith({}) << QString();
        QTest::newRow("url of 2000") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", QString(2000, 'h')}})
                                     << with(stateWith({}), "bridgeUrl", QString(2000, 'h')) << QString();
        QTest::newRow("url of 2001") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", QString(2001, 'h')}}) << stateWith({}) << QString();
        const QString unread = "The previous library could not be read. Its original data is unchanged.";
        QTest::newRow("not an object") << QJsonValue(QJsonArray()) << QJsonObject() << unread;
        QTest::newRow("null") << QJsonValue() << QJsonObject() << unread;
        QTest::newRow("categories missing") << QJsonValue(QJsonObject{}) << QJsonObject() << "The previous library contains invalid categories. Original data is unchanged.";
        QTest::newRow("category not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{"x"}}}) << QJsonObject() << "The previous library contains invalid categories.";
        QTest::newRow("entries not array") << QJsonValue(QJsonObject{{"categories", QJsonArray{with(bare, "entries", 4)}}}) << QJsonObject() << "The previous library contains invalid categories.";
        QTest::newRow("entry not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{with(bare, "entries", QJsonArray{1})}}}) << QJsonObject() << "The previous library contains invalid plug-ins.";
        QTest::newRow("duplicate ids") << QJsonValue(QJsonObject{{"categories", QJsonArray{bare, bare}}}) << QJsonObject() << "This library contains invalid categories.";
    }
    void migrate()
    {
        QFETCH(QJsonValue, previous);
        QFETCH(QJsonObject, state);
        QFETCH(QString, message);
        VintrelleNativeStore store(path());
        VintrelleError error;
        QCOMPARE(store.initializeFromPreviousLibrary(previous, &error), !state.isEmpty());
        QCOMPARE(error.value_or(QString()), message);
        QCOMPARE(store.state().value_or(QJsonObject()), state);
        QCOMPARE(QJsonDocument::fromJson(readFile(path())).object(), state); // nothing written on failure
    }
};

QTEST_APPLESS_MAIN(TestMigration)
#include "tst_migration.moc"
