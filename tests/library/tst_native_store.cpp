#include "VintrelleTestSupport.h"
#include "LibraryFixtures.h"
#include "VintrelleNativeStore.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {

// A valid saved state padded with white space to exactly `size` bytes.
QByteArray stateOfSize(qint64 size)
{
    QByteArray data = compact(stateWith({categoryObject("A", "A")}));
    data.append(QByteArray(size - data.size(), ' '));
    return data;
}

} // namespace

class TestNativeStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        m_path = m_dir.filePath(QStringLiteral("data/Vintrelle/native-library.json"));
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
    }

    void readRefusals_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("hasError");
        QTest::addColumn<QString>("message"); // prefix of the message
        QTest::newRow("exactly 8 MiB") << stateOfSize(8 * 1024 * 1024) << false << QString("accepted");
        QTest::newRow("8 MiB and a byte") << stateOfSize(8 * 1024 * 1024 + 1) << true << QString("The saved library is too large.");
        QTest::newRow("not JSON") << QByteArray("{\"nativeVersion\": 1,") << true << QString("The saved library is not valid JSON");
        QTest::newRow("an array") << QByteArray("[]") << false << QString();
        QTest::newRow("version 2") << compact({{"nativeVersion", 2}, {"categories", QJsonArray()}}) << false << QString();
        QTest::newRow("version as text") << compact({{"nativeVersion", "1"}, {"categories", QJsonArray()}}) << false << QString();
        QTest::newRow("invalid categories")
            << compact(stateWith({categoryObject("A", "A"), categoryObject("A", "B")})) << true
            << QString("This library contains invalid categories.");
    }
    void readRefusals()
    {
        QFETCH(QByteArray, contents);
        QFETCH(bool, hasError);
        QFETCH(QString, message);
        QDir().mkpath(QFileInfo(m_path).path());
        writeFile(m_path, contents);
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        const bool read = store.read(&error);
        if (message == QLatin1String("accepted")) {
            QVERIFY(read);
            QVERIFY(store.state());
            return;
        }
        QVERIFY(!read);
        QVERIFY(!store.state());
        QCOMPARE(error.has_value(), hasError);
        if (hasError)
            QVERIFY2(error->startsWith(message), qPrintable(*error));
        QCOMPARE(readFile(m_path), contents); // reading never writes
    }

    void readOfMissingFileGivesTheSystemsReason()
    {
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        QVERIFY(!store.read(&error));
        QVERIFY2(error && error->contains("No such file"), qPrintable(error.value_or("none")));
    }

    void commitCreatesPrivateFolderAndFile()
    {
        VintrelleNativeStore store(m_path);
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(store.commit(stateWith({categoryObject("A", "A")}), nullptr));
        QCOMPARE(changes, 1);
        QCOMPARE(QFile::permissions(QFileInfo(m_path).path()),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner | QFileDevice::ReadUser |
                     QFileDevice::WriteUser | QFileDevice::ExeUser);
        QCOMPARE(QFile::permissions(m_path),
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);
        QCOMPARE(QJsonDocument::fromJson(readFile(m_path)).object(), *store.state());
    }

    void failedSaveChangesNothing_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::newRow("invalid categories") << "invalid";
        QTest::newRow("folder is a file") << "folder";
        QTest::newRow("file is a folder") << "file";
    }
    void failedSaveChangesNothing()
    {
        QFETCH(QString, breakage);
        VintrelleNativeStore store(m_path);
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(store.commit(stateWith({categoryObject("A", "A")}), nullptr));
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        const auto stateBefore = store.state();
        const auto undoBefore = store.undo();
        const auto redoBefore = store.redo();
        const QByteArray fileBefore = readFile(m_path);
        const QString folder = QFileInfo(m_path).path();

        VintrelleError error;
        QString expected;
        if (breakage == "invalid") {
            QVERIFY(!store.commit(stateWith({categoryObject("A", "A", "missing")}), &error));
            expected = "This library contains an invalid folder hierarchy.";
        } else {
            if (breakage == "folder") { // no folder can be made where a file stands
                QVERIFY(QDir(folder).removeRecursively());
                writeFile(folder, "not a folder");
                expected = "Could not create the folder";
            } else { // nothing can replace a folder standing where the file goes
                QVERIFY(QFile::remove(m_path));
                QVERIFY(QDir().mkdir(m_path));
                expected = "Could not save";
            }
            QVERIFY(!store.perform({{"op", "addCategory"}, {"name", "C"}}, &error));
        }
        QVERIFY2(error && error->startsWith(expected), qPrintable(error.value_or("none")));
        QCOMPARE(store.state(), stateBefore);
        QCOMPARE(store.undo(), undoBefore);
        QCOMPARE(store.redo(), redoBefore);
        QCOMPARE(changes, 3);
        if (breakage == "invalid")
            QCOMPARE(readFile(m_path), fileBefore);
        if (breakage == "file") // no temporary file is left behind
            QCOMPARE(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                     QStringList{"native-library.json"});
    }

    void unknownKeysSurvive()
    {
        QDir().mkpath(QFileInfo(m_path).path());
        QJsonObject state = stateWith({categoryObject("A", "A", QJsonValue(), {entryObject("E", "L", "u")})});
        state.insert("theme", QJsonObject{{"dark", true}});
        QJsonArray categories = state.value("categories").toArray();
        QJsonObject category = categories.at(0).toObject();
        category.insert("colour", "red");
        QJsonArray entries = category.value("entries").toArray();
        QJsonObject entry = entries.at(0).toObject();
        entry.insert("favourite", 3);
        entries.replace(0, entry);
        category.insert("entries", entries);
        categories.replace(0, category);
        state.insert("categories", categories);
        writeFile(m_path, compact(state));

        VintrelleNativeStore store(m_path);
        QVERIFY(store.read(nullptr));
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "rename"}, {"id", "A"}, {"name", "Renamed"}}, nullptr));
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));

        VintrelleNativeStore reread(m_path);
        QVERIFY(reread.read(nullptr));
        const QJsonObject saved = *reread.state();
        QCOMPARE(saved.value("theme"), QJsonValue(QJsonObject{{"dark", true}}));
        const QJsonObject savedCategory = saved.value("categories").toArray().at(0).toObject();
        QCOMPARE(savedCategory.value("colour").toString(), QString("red"));
        QCOMPARE(savedCategory.value("entries").toArray().at(0).toObject().value("favourite").toInt(), 3);
        QCOMPARE(saved.value("categories").toArray().size(), 2);
    }

    void historyKeepsTwentyAndRedoEmpties()
    {
        VintrelleNativeStore store(m_path);
        QVERIFY(store.commit(stateWith({}), nullptr));
        for (int i = 0; i < 25; ++i)
            QVERIFY(store.perform({{"op", "addCategory"}, {"name", QString::number(i)}}, nullptr));
        QCOMPARE(store.undo().size(), 20);
        // The oldest kept snapshot is the one taken before the sixth command (five categories).
        QCOMPARE(store.undo().first().size(), 5);
        for (int i = 0; i < 20; ++i)
            QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        QCOMPARE(store.state()->value("categories").toArray().size(), 5);
        VintrelleError error;
        QVERIFY(!store.perform({{"op", "undo"}}, &error));
        QCOMPARE(*error, QString("Nothing to undo."));
        QCOMPARE(store.redo().size(), 20);
        QCOMPARE(*store.perform({{"op", "history"}}, nullptr), QJsonObject({{"canUndo", 0}, {"canRedo", 1}}));

        QVERIFY(store.perform({{"op", "redo"}}, nullptr));
        QCOMPARE(store.state()->value("categories").toArray().size(), 6);
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "new"}}, nullptr));
        QVERIFY(store.redo().isEmpty());
        QVERIFY(!store.perform({{"op", "redo"}}, &error));
        QCOMPARE(*error, QString("Nothing to redo."));

        // A fresh store (a relaunch) starts without history.
        VintrelleNativeStore relaunched(m_path);
        QVERIFY(relaunched.read(nullptr));
        QCOMPARE(*relaunched.perform({{"op", "history"}}, nullptr), QJsonObject({{"canUndo", 0}, {"canRedo", 0}}));
    }

    void noOpCommandsSaveNothing()
    {
        VintrelleNativeStore store(m_path);
        QVERIFY(store.commit(stateWith({categoryObject("A", "Name")}), nullptr));
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(QFile::remove(m_path)); // any save would bring it back
        QVERIFY(store.perform({{"op", "rename"}, {"id", "A"}, {"name", " Name "}}, nullptr));
        QVERIFY(store.perform({{"op", "reorder"}, {"id", "A"}, {"index", 0}}, nullptr));
        QVERIFY(store.perform({{"op", "export"}}, nullptr));
        QVERIFY(store.perform({{"op", "history"}}, nullptr));
        QCOMPARE(changes, 0);
        QVERIFY(store.undo().isEmpty());
        QVERIFY(!QFileInfo::exists(m_path));
        // Undo restores even when it restores the same tree.
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "delete"}, {"id", store.state()->value("categories").toArray().at(1).toObject().value("id")}}, nullptr));
        QCOMPARE(changes, 2);
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        QCOMPARE(changes, 3);
    }

    void commandsNeedAState()
    {
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        QVERIFY(!store.perform({{"op", "history"}}, &error));
        QCOMPARE(*error, QString("Library is not ready. Try again."));
    }
};

QTEST_APPLESS_MAIN(TestNativeStore)
#include "tst_native_store.moc"
