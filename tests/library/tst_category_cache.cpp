#include "LibraryFixtures.h"
#include "VintrelleCategoryCache.h"
#include "VintrelleJsonWriter.h"
#include "VintrelleNativeStore.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

// The save path remembers categories between saves; it must never answer differently from a
// fresh validation, and what it writes must read back as the same document.
class TestCategoryCache : public QObject
{
    Q_OBJECT

private slots:
    void writerRoundTrips_data()
    {
        QTest::addColumn<QJsonValue>("value");
        QTest::newRow("escapes") << QJsonValue(QString::fromUtf8("quote \" backslash \\ slash / tab \t nl \n cr \r bs \b ff \f nul ") + QChar(0) + QChar(0x1f));
        QTest::newRow("unicode") << QJsonValue(QString::fromUtf8("Ünïcödé 鍵盤 🎹 \u2028"));
        QTest::newRow("numbers") << QJsonValue(QJsonArray{0, -0.0, 1, -1, 1.5, 1e300, -2.5e-300, qint64(9007199254740993), qint64(-9223372036854775807LL)});
        QTest::newRow("nesting") << QJsonValue(QJsonObject{{"a", QJsonArray{QJsonObject{}, QJsonArray{}, true, false, QJsonValue()}}, {"", "empty key"}});
        QTest::newRow("library") << QJsonValue(stateWith(generatedCategories(20, 100)));
    }
    void writerRoundTrips()
    {
        QFETCH(QJsonValue, value);
        const QByteArray text = VintrelleCompactJson(QJsonArray{value});
        QJsonParseError error;
        const QJsonDocument parsed = QJsonDocument::fromJson(text, &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QCOMPARE(parsed.array().at(0), value);
        QVERIFY(!text.contains('\n'));
    }

    // Random edits between validations: the remembering validator must agree with a fresh one
    // on every verdict and message, including after failures.
    void agreesWithFreshValidation()
    {
        QRandomGenerator random(20261206);
        VintrelleCategoryCache cache;
        QJsonArray list = generatedCategories(40, 400);
        QVERIFY(cache.validate(list, nullptr));
        int failures = 0;
        for (int round = 0; round < 3000; ++round) {
            if (list.size() < 10) // removals may shrink the walk's library; start again
                list = generatedCategories(40, 400);
            QJsonArray edited = list;
            const qsizetype index = random.bounded(int(edited.size()));
            QJsonObject category = edited.at(index).toObject();
            QJsonArray entries = category.value("entries").toArray();
            switch (random.bounded(9)) {
            case 0: category.insert("name", random.bounded(4) ? QStringLiteral("Renamed %1").arg(round) : QStringLiteral("  ")); break;
            case 1: // an identifier that may clash with another category or entry
                category.insert("id", random.bounded(2) ? QStringLiteral("C%1").arg(random.bounded(40)) : QStringLiteral("E%1-0").arg(random.bounded(40)));
                break;
            case 2:
                if (!entries.isEmpty()) {
                    QJsonObject entry = entries.at(0).toObject();
                    entry.insert("id", QStringLiteral("C%1").arg(random.bounded(40)));
                    entries.replace(0, entry);
                }
                break;
            case 3: entries.append(entryObject(QStringLiteral("new-%1").arg(round), "New", QStringLiteral("u%1").arg(random.bounded(3)))); break;
            case 4: category.insert("parentId", random.bounded(3) ? QJsonValue(QStringLiteral("C%1").arg(random.bounded(40))) : QJsonValue()); break;
            case 5: edited.removeAt(index); break;
            case 6: edited.append(edited.at(random.bounded(int(edited.size())))); break; // a duplicate
            case 7: if (!entries.isEmpty()) entries.removeAt(0); break;
            case 8: {
                const QJsonValue taken = edited.takeAt(index);
                edited.insert(random.bounded(int(edited.size()) + 1), taken);
                break;
            }
            }
            if (index < edited.size() && edited.at(index).toObject().value("id") == category.value("id")) {
                category.insert("entries", entries);
                edited.replace(index, category);
            }
            VintrelleError fresh, remembered;
            const bool freshVerdict = VTValidateCategories(edited, &fresh);
            QCOMPARE(cache.validate(edited, &remembered), freshVerdict);
            QCOMPARE(remembered, fresh);
            if (freshVerdict)
                list = edited; // keep walking from valid states
            else
                ++failures;
        }
        QVERIFY(failures > 100); // the walk did exercise failures, not just successes
    }

    void savedTextReadsBackAsTheState()
    {
        VintrelleCategoryCache cache;
        QJsonObject state = stateWith(generatedCategories(30, 300));
        state.insert("extra", QJsonObject{{"kept", true}});
        for (int round = 0; round < 3; ++round) {
            const auto text = cache.saveText(state, nullptr);
            QVERIFY(text);
            QCOMPARE(QJsonDocument::fromJson(*text).object(), state);
            QJsonArray categories = state.value("categories").toArray();
            QJsonObject first = categories.at(0).toObject();
            first.insert("name", QStringLiteral("Round %1").arg(round));
            categories.replace(0, first);
            categories.append(categories.takeAt(0));
            state.insert("categories", categories);
        }
    }

    void tooLargeToReadBackIsNeverSaved()
    {
        QTemporaryDir dir;
        VintrelleNativeStore store(dir.filePath("native-library.json"));
        QVERIFY(store.commit(stateWith({categoryObject("A", "A")}), nullptr));
        const QByteArray before = [&] { QFile f(store.url()); f.open(QIODevice::ReadOnly); return f.readAll(); }();
        // 1,000 plug-ins with 9,000-unit uris: within every per-item limit, over 8 MiB in all.
        QJsonArray entries;
        for (int i = 0; i < 1000; ++i)
            entries.append(entryObject(QStringLiteral("e%1").arg(i), "P", QString::number(i) + QString(9000, 'u')));
        VintrelleError error;
        QVERIFY(!store.commit(stateWith({categoryObject("A", "A", QJsonValue(), entries)}), &error));
        QCOMPARE(error.value_or("none"), QString("The saved library is too large."));
        QFile f(store.url());
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), before);
        QCOMPARE(store.state()->value("categories").toArray().at(0).toObject().value("entries").toArray().size(), 0);
    }
};

QTEST_APPLESS_MAIN(TestCategoryCache)
#include "tst_category_cache.moc"
