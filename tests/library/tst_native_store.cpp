#include "VintrelleLocations.h"
#include "VintrelleNativeStore.h"
#include "VintrelleStarterLibrary.h"
#include "VintrelleTestSupport.h"

namespace {

// A valid saved state padded with white space to exactly `size` bytes.
QByteArray stateOfSize(qint64 size)
{
    QByteArray data = compact(stateWith({categoryObject("A", "A")}));
    return data + QByteArray(size - data.size(), ' ');
}

const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser;
const auto ownerOnlyFolder = ownerOnly | QFileDevice::ExeOwner | QFileDevice::ExeUser;

} // namespace

class TestNativeStore : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
    QString backups() const { return VintrelleLibraryBackupsPath(m_path); }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        m_path = m_dir->filePath("data/Vintrelle/native-library.json");
    }
    void readRefusals_data()
    {
        addColumns<QByteArray, QString>({"contents", "message"}); // "<none>": no file; message: prefix, "<accepted>" or empty: no error value
        QTest::newRow("exactly 8 MiB") << stateOfSize(8 * 1024 * 1024) << "<accepted>";
        QTest::newRow("8 MiB and a byte") << stateOfSize(8 * 1024 * 1024 + 1) << "The saved library is too large.";
        QTest::newRow("missing") << QByteArray("<none>") << "Could not read";
        QTest::newRow("not JSON") << QByteArray("{\"nativeVersion\": 1,") << "The saved library is not valid JSON";
        QTest::newRow("two values") << QByteArray("1 2") << "The saved library is not valid JSON";
        // Valid JSON that is not a library state: no error value, so the caller's own text shows.
        for (const char *scalar : {"[]", "\"text\"", " 42 ", "true", "null"}) QTest::newRow(scalar) << QByteArray(scalar) << QString();
        QTest::newRow("version 2") << compact({{"nativeVersion", 2}, {"categories", QJsonArray()}}) << QString();
        QTest::newRow("version as text") << compact({{"nativeVersion", "1"}, {"categories", QJsonArray()}}) << QString();
        QTest::newRow("invalid categories") << compact(stateWith({categoryObject("A", "A"), categoryObject("A", "B")}))
                                            << "This library contains invalid categories.";
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
        QTest::newRow("invalid categories") << "invalid" << "This library contains an invalid folder hierarchy.";
        QTest::newRow("too large to read back") << "large" << "The saved library is too large.";
        QTest::newRow("folder is a file") << "folder" << "Could not create the folder";
        QTest::newRow("file is a folder") << "file" << "Could not save";
        QTest::newRow("backups folder is a file") << "backups" << "Could not create the folder";
    }
    void failedSaveChangesNothing()
    {
        QFETCH(QString, breakage); QFETCH(QString, message);
        VintrelleNativeStore store(m_path);
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(store.commit(stateWith({categoryObject("A", "A")}), nullptr));
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        const auto stateBefore = store.state();
        const auto undoBefore = store.undo(), redoBefore = store.redo();
        const QByteArray fileBefore = readFile(m_path);
        const QString folder = QFileInfo(m_path).path();

        VintrelleError error;
        if (breakage == "invalid") {
            QVERIFY(!store.commit(stateWith({categoryObject("A", "A", "missing")}), &error));
        } else if (breakage == "large") { // within every per-item limit, over 8 MiB in all
            QJsonArray entries;
            for (int i = 0; i < 1000; ++i) entries.append(entryObject(QStringLiteral("e%1").arg(i), "P", QString::number(i) + QString(9000, 'u')));
            QVERIFY(!store.commit(stateWith({categoryObject("A", "A", QJsonValue(), entries)}), &error));
        } else if (breakage == "backups") { // a reset must not go ahead without its backup
            writeFile(backups(), "not a folder");
            QVERIFY(!store.perform({{"op", "reset"}}, &error));
            QVERIFY(error && error->endsWith("The library is unchanged."));
        } else {
            if (breakage == "folder") { QVERIFY(QDir(folder).removeRecursively()); writeFile(folder, "not a folder"); } // no folder where a file is
            else QVERIFY(QFile::remove(m_path) && QDir().mkdir(m_path)); // nothing can replace a folder where the file goes
            QVERIFY(!store.perform({{"op", "addCategory"}, {"name", "C"}}, &error));
        }
        QVERIFY2(error && error->startsWith(message), qPrintable(error.value_or("none")));
        QCOMPARE(store.state(), stateBefore);
        QCOMPARE(store.undo(), undoBefore);
        QCOMPARE(store.redo(), redoBefore);
        QCOMPARE(changes, 3);
        if (breakage != "folder" && breakage != "file") QCOMPARE(readFile(m_path), fileBefore);
        if (breakage == "file") QCOMPARE( // no temporary file is left behind
            QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList{"native-library.json"});
    }
    void saveIsPrivateAndKeepsUnknownKeys()
    {
        QJsonObject category = with(categoryObject("A", "A", QJsonValue(), {with(entryObject("E", "L", "u"), "favourite", 3)}), "colour", "red");
        writeFile(m_path, compact(with(stateWith({category}), "theme", QJsonObject{{"dark", true}})));
        VintrelleNativeStore store(m_path);
        QVERIFY(store.read(nullptr));
        QVERIFY(QFile::remove(m_path) && QDir(QFileInfo(m_path).path()).removeRecursively());
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "rename"}, {"id", "A"}, {"name", "Renamed"}}, nullptr));
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        QCOMPARE(QFile::permissions(QFileInfo(m_path).path()), ownerOnlyFolder);
        QCOMPARE(QFile::permissions(m_path), ownerOnly);

        VintrelleNativeStore reread(m_path);
        QVERIFY(reread.read(nullptr));
        QCOMPARE(reread.state()->value("theme"), QJsonValue(QJsonObject{{"dark", true}}));
        QCOMPARE(reread.state()->value("categories").toArray().at(0), QJsonValue(category));
        QCOMPARE(reread.state()->value("categories").toArray().size(), 2);
    }

    // A library kept elsewhere behind a symbolic link stays there: the link survives every save.
    void saveThroughALinkReplacesItsTarget()
    {
        const QString target = m_dir->filePath("synced/library.json");
        writeFile(target, compact(stateWith({categoryObject("A", "A")})));
        QVERIFY(QDir().mkpath(QFileInfo(m_path).path()));
        QVERIFY(QFile::link(target, m_path));
        VintrelleNativeStore store(m_path);
        QVERIFY(store.read(nullptr));
        QVERIFY(store.perform({{"op", "rename"}, {"id", "A"}, {"name", "Renamed"}}, nullptr));
        QVERIFY(QFileInfo(m_path).isSymLink());
        QCOMPARE(QJsonDocument::fromJson(readFile(target)).object(), *store.state());
        QCOMPARE(QDir(QFileInfo(target).path()).entryList(QDir::Files | QDir::Hidden), QStringList{"library.json"});
    }
    void historyKeepsTwentyAndRedoEmpties()
    {
        VintrelleNativeStore store(m_path);
        QVERIFY(store.commit(stateWith({}), nullptr));
        for (int i = 0; i < 25; ++i) QVERIFY(store.perform({{"op", "addCategory"}, {"name", QString::number(i)}}, nullptr));
        QCOMPARE(store.undo().size(), 20);
        for (int i = 0; i < 20; ++i) QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        QCOMPARE(store.state()->value("categories").toArray().size(), 5); // twenty undos reach back to the fifth change
        QCOMPARE(*store.perform({{"op", "history"}}, nullptr), QJsonObject({{"canUndo", 0}, {"canRedo", 1}}));
        QVERIFY(store.perform({{"op", "redo"}}, nullptr));
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "new"}}, nullptr));
        VintrelleError error;
        QVERIFY(!store.perform({{"op", "redo"}}, &error)); // a new change empties the redo list
        QCOMPARE(*error, "Nothing to redo.");
        VintrelleNativeStore relaunched(m_path); // a relaunch starts without history
        QVERIFY(relaunched.read(nullptr));
        QCOMPARE(*relaunched.perform({{"op", "history"}}, nullptr), QJsonObject({{"canUndo", 0}, {"canRedo", 0}}));
        QVERIFY(!VintrelleNativeStore(m_path).perform({{"op", "history"}}, &error));
        QCOMPARE(*error, "Library is not ready. Try again.");
    }
    void noOpCommandsSaveNothing()
    {
        VintrelleNativeStore store(m_path);
        QVERIFY(store.commit(stateWith({categoryObject("A", "Name")}), nullptr));
        int changes = 0;
        store.changed = [&] { ++changes; };
        QVERIFY(QFile::remove(m_path)); // any save would bring it back
        for (const QJsonObject &command : {QJsonObject{{"op", "rename"}, {"id", "A"}, {"name", " Name "}},
                                           QJsonObject{{"op", "reorder"}, {"id", "A"}, {"index", 0}}, QJsonObject{{"op", "export"}},
                                           QJsonObject{{"op", "history"}}})
            QVERIFY(store.perform(command, nullptr));
        QCOMPARE(changes, 0);
        QVERIFY(store.undo().isEmpty());
        QVERIFY(!QFileInfo::exists(m_path));
        // Undo saves even when it restores the same tree.
        QVERIFY(store.perform({{"op", "addCategory"}, {"name", "B"}}, nullptr));
        QVERIFY(store.perform({{"op", "delete"}, {"id", store.state()->value("categories")[1]["id"]}}, nullptr));
        QVERIFY(store.perform({{"op", "undo"}}, nullptr));
        QCOMPARE(changes, 3);
    }

    // Commands that throw much away first keep the library as an importable file; others don't.
    void destructiveCommandsKeepABackup_data()
    {
        addColumns<QJsonObject, bool>({"command", "backedUp"});
        const QString file = compact(libraryFile({categoryObject("n", "New")}));
        QTest::newRow("reset") << QJsonObject{{"op", "reset"}} << true;
        QTest::newRow("replacing import") << QJsonObject{{"op", "import"}, {"contents", file}, {"replace", 1}} << true;
        QTest::newRow("merging import") << QJsonObject{{"op", "import"}, {"contents", file}, {"replace", false}} << false;
        QTest::newRow("category with plug-ins") << QJsonObject{{"op", "delete"}, {"id", "A"}} << true;
        QTest::newRow("category with a sub-category") << QJsonObject{{"op", "delete"}, {"id", "B"}} << true;
        QTest::newRow("empty category") << QJsonObject{{"op", "delete"}, {"id", "B1"}} << false;
        QTest::newRow("plug-in") << QJsonObject{{"op", "delete"}, {"id", "e"}} << false;
    }
    void destructiveCommandsKeepABackup()
    {
        QFETCH(QJsonObject, command); QFETCH(bool, backedUp);
        VintrelleNativeStore store(m_path);
        const QJsonArray before{categoryObject("A", "A", QJsonValue(), {entryObject("e", "L", QString(QChar(0xDC00)))}),
                                categoryObject("B", "B"), categoryObject("B1", "B1", "B")};
        QVERIFY(store.commit(stateWith(before), nullptr));
        for (int round = 0; round < (backedUp ? VintrelleNativeStore::backupsKept + 2 : 1); ++round) {
            QVERIFY(store.perform(command, nullptr));
            QVERIFY(store.perform({{"op", "undo"}}, nullptr)); // the history is untouched by backups
            QCOMPARE(store.state()->value("categories").toArray(), before);
        }
        const QStringList kept = QDir(backups()).entryList(QDir::Files, QDir::Name);
        QCOMPARE(kept.size(), backedUp ? VintrelleNativeStore::backupsKept : 0);
        if (!backedUp) return;
        QCOMPARE(QFile::permissions(backups()), ownerOnlyFolder);
        QCOMPARE(QFile::permissions(backups() + '/' + kept.last()), ownerOnly);
        // Importing a backup after a reset restores the library.
        QVERIFY(store.perform({{"op", "reset"}}, nullptr));
        const QString contents = QString::fromUtf8(readFile(backups() + '/' + kept.last()));
        QVERIFY(store.perform({{"op", "import"}, {"contents", contents}, {"replace", true}}, nullptr));
        const QJsonArray restored = store.state()->value("categories").toArray();
        QCOMPARE(restored.size(), 3);
        QCOMPARE(restored[0]["entries"][0]["uri"], before[0]["entries"][0]["uri"]);
        QCOMPARE(restored[2]["parentId"], restored[1]["id"]);
    }

    // Nothing to migrate gives the starter library; any file wins over a previous library.
    void firstStartSavesStarterCategoriesAndAFileWins()
    {
        VintrelleNativeStore store(m_path);
        QVERIFY(store.initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), nullptr));
        QCOMPARE(*store.state(), with(stateWith({}), "categories", QJsonDocument::fromJson(VintrelleStarterLibraryContents().toUtf8())["categories"]));
        VintrelleNativeStore next(m_path);
        QVERIFY(next.initializeFromPreviousLibrary(QJsonObject{{"categories", QJsonArray{categoryObject("old", "Old")}}}, nullptr));
        QCOMPARE(next.state(), store.state());
    }
    void migrate_data()
    {
        addColumns<QJsonValue, QJsonObject, QString>({"previous", "state", "message"}); // state empty: refused with `message`
        const QJsonObject bare{{"id", "k"}, {"name", "Keys"}};
        const QJsonObject sub{{"id", "s"}, {"name", "Sub"}, {"parentId", "k"}, {"colour", "blue"}, {"entries", QJsonArray{QJsonObject{{"id", "p"}, {"label", "Piano"}, {"uri", "u"}}}}};
        const QJsonArray repaired{categoryObject("k", "Keys"), with(categoryObject("s", "Sub", "k", {entryObject("p", "Piano", "u")}), "colour", "blue")};
        QTest::newRow("repaired, settings kept") << QJsonValue(QJsonObject{{"categories", QJsonArray{bare, sub}}, {"bridgeUrl", "http://127.0.0.1:9999"}, {"token", "abc"}, {"other", 1}})
                                                 << with(with(stateWith(repaired), "bridgeUrl", "http://127.0.0.1:9999"), "token", "abc") << QString();
        QTest::newRow("blank url, number token") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", "   "}, {"token", 7}}) << stateWith({}) << QString();
        QTest::newRow("url of 2000") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", QString(2000, 'h')}})
                                     << with(stateWith({}), "bridgeUrl", QString(2000, 'h')) << QString();
        QTest::newRow("url of 2001") << QJsonValue(QJsonObject{{"categories", QJsonArray()}, {"bridgeUrl", QString(2001, 'h')}}) << stateWith({}) << QString();
        const QString unread = "The previous library could not be read. Its original data is unchanged.";
        QTest::newRow("null") << QJsonValue() << QJsonObject() << unread;
        QTest::newRow("categories missing") << QJsonValue(QJsonObject{}) << QJsonObject() << "The previous library contains invalid categories. Original data is unchanged.";
        QTest::newRow("category not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{"x"}}}) << QJsonObject() << "The previous library contains invalid categories.";
        QTest::newRow("entry not object") << QJsonValue(QJsonObject{{"categories", QJsonArray{with(bare, "entries", QJsonArray{1})}}}) << QJsonObject() << "The previous library contains invalid plug-ins.";
        QTest::newRow("duplicate ids") << QJsonValue(QJsonObject{{"categories", QJsonArray{bare, bare}}}) << QJsonObject() << "This library contains invalid categories.";
    }
    void migrate()
    {
        QFETCH(QJsonValue, previous); QFETCH(QJsonObject, state); QFETCH(QString, message);
        VintrelleNativeStore store(m_path);
        VintrelleError error;
        QCOMPARE(store.initializeFromPreviousLibrary(previous, &error), !state.isEmpty());
        QCOMPARE(error.value_or(QString()), message);
        QCOMPARE(store.state().value_or(QJsonObject()), state);
        QCOMPARE(QJsonDocument::fromJson(readFile(m_path)).object(), state); // nothing written on failure
    }
};

QTEST_APPLESS_MAIN(TestNativeStore)
#include "tst_native_store.moc"
