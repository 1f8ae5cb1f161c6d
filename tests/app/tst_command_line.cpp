#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

// Drives the real `vintrelle` binary against a library in a temporary data folder.
class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;

    QString libraryPath() const { return m_home.filePath("data/Vintrelle/native-library.json"); }

    struct Outcome
    {
        int status = -1;
        QList<QJsonObject> lines;
        QByteArray rawOut, rawErr;
    };

    Outcome vintrelle(const QStringList &arguments, const QByteArray &input = {})
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("HOME", m_home.path());
        environment.insert("XDG_DATA_HOME", m_home.filePath("data"));
        environment.insert("XDG_CONFIG_HOME", m_home.filePath("config"));
        // A private runtime folder of its own, so no running Vintrelle of the developer answers.
        QDir().mkpath(m_home.filePath("runtime"));
        QFile::setPermissions(m_home.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        environment.insert("XDG_RUNTIME_DIR", m_home.filePath("runtime"));
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("QT_QPA_PLATFORM");
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(VINTRELLE_BINARY), arguments);
        process.write(input);
        process.closeWriteChannel();
        Outcome outcome;
        if (!process.waitForFinished(30000))
            return outcome;
        outcome.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        outcome.rawOut = process.readAllStandardOutput();
        outcome.rawErr = process.readAllStandardError();
        for (const QByteArray &line : outcome.rawOut.split('\n'))
            if (!line.isEmpty())
                outcome.lines << QJsonDocument::fromJson(line).object();
        return outcome;
    }

    void writeLibrary(const QByteArray &contents)
    {
        QDir().mkpath(QFileInfo(libraryPath()).path());
        QFile file(libraryPath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(contents);
    }

    QByteArray library() const
    {
        QFile file(libraryPath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void init() { QDir(m_home.filePath("data")).removeRecursively(); }

    void helpAndVersionNeedNoDisplay()
    {
        const Outcome help = vintrelle({"--help"});
        QCOMPARE(help.status, 0);
        QVERIFY(help.rawOut.contains("--commands FILE|-"));
        QVERIFY(help.rawOut.contains("--toggle"));
        QVERIFY(help.rawOut.contains("--welcome"));
        const Outcome version = vintrelle({"--version"});
        QCOMPARE(version.status, 0);
        QVERIFY(version.rawOut.startsWith("vintrelle "));
        QVERIFY(!QFileInfo::exists(libraryPath()));
    }

    void firstStartCreatesStarterLibrary()
    {
        const Outcome outcome = vintrelle({"--command", R"({"op":"export"})"});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines.size(), 1);
        const QJsonObject file = QJsonDocument::fromJson(outcome.lines[0]["result"].toObject()["contents"].toString().toUtf8()).object();
        QCOMPARE(file["categories"].toArray().size(), 16);
        const QJsonObject saved = QJsonDocument::fromJson(library()).object();
        QCOMPARE(saved["bridgeUrl"].toString(), QString("http://127.0.0.1:45873"));
        QCOMPARE(saved["token"], QJsonValue(""));
    }

    void commandsShareOneStoreAndAllRun()
    {
        const QByteArray script = R"({"op":"addCategory","name":"Favourites"}

{"op":"history"}
{"op":"nonsense"}
{"op":"undo"}
{"op":"redo"}
{"op":"history"}
)";
        const Outcome outcome = vintrelle({"--commands", "-"}, script);
        QCOMPARE(outcome.status, 1); // one line failed, the others still ran
        QCOMPARE(outcome.lines.size(), 6);
        QCOMPARE(outcome.lines[0], QJsonObject({{"result", QJsonObject()}}));
        QCOMPARE(outcome.lines[1], QJsonObject({{"result", QJsonObject{{"canUndo", 1}, {"canRedo", 0}}}}));
        QCOMPARE(outcome.lines[2], QJsonObject({{"error", "Unknown library action."}}));
        QCOMPARE(outcome.lines[5], QJsonObject({{"result", QJsonObject{{"canUndo", 1}, {"canRedo", 0}}}}));
        // Each printed line is compact JSON.
        QVERIFY(!outcome.rawOut.contains(": "));
        QCOMPARE(QJsonDocument::fromJson(library()).object()["categories"].toArray().size(), 17);
    }

    void commandsFromFile()
    {
        QTemporaryFile file;
        QVERIFY(file.open());
        file.write(R"({"op":"history"})" "\n");
        file.close();
        const Outcome outcome = vintrelle({"--commands", file.fileName()});
        QCOMPARE(outcome.status, 0);
        QCOMPARE(outcome.lines.size(), 1);
    }

    void usageErrorsRunNothing_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QByteArray>("input");
        QTest::newRow("not JSON") << QStringList{"--command", "{op"} << QByteArray();
        QTest::newRow("not an object") << QStringList{"--command", "[]"} << QByteArray();
        QTest::newRow("bad later line") << QStringList{"--commands", "-"} << QByteArray("{\"op\":\"reset\"}\n42\n");
        QTest::newRow("missing file") << QStringList{"--commands", "/nonexistent/commands"} << QByteArray();
        QTest::newRow("missing argument") << QStringList{"--command"} << QByteArray();
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QByteArray();
        QTest::newRow("toggle with an argument") << QStringList{"--toggle", "now"} << QByteArray();
        QTest::newRow("welcome with an argument") << QStringList{"--welcome", "x"} << QByteArray();
    }
    void usageErrorsRunNothing()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QByteArray, input);
        const Outcome outcome = vintrelle(arguments, input);
        QCOMPARE(outcome.status, 2);
        QVERIFY(outcome.rawOut.isEmpty());
        QVERIFY(!outcome.rawErr.isEmpty());
        QVERIFY(!QFileInfo::exists(libraryPath())); // not even a first start happened
    }

    void unreadableLibraryAnswersEveryCommand_data()
    {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<QString>("message");
        QTest::newRow("version 2") << QByteArray(R"({"nativeVersion":2,"categories":[]})")
                                   << "Library could not open: Your original library is unchanged.";
        QTest::newRow("not JSON") << QByteArray("{{") << "Library could not open: The saved library is not valid JSON";
        QTest::newRow("invalid") << QByteArray(R"({"nativeVersion":1,"categories":{}})")
                                 << "Library could not open: Choose a supported Vintrelle library file.";
    }
    void unreadableLibraryAnswersEveryCommand()
    {
        QFETCH(QByteArray, contents);
        QFETCH(QString, message);
        writeLibrary(contents);
        const Outcome outcome = vintrelle({"--commands", "-"}, "{\"op\":\"reset\"}\n{\"op\":\"history\"}\n");
        QCOMPARE(outcome.status, 1);
        QCOMPARE(outcome.lines.size(), 2);
        for (const QJsonObject &line : outcome.lines)
            QVERIFY2(line["error"].toString().startsWith(message), qPrintable(line["error"].toString()));
        QCOMPARE(library(), contents);
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
