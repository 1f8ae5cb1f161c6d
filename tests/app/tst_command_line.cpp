#include "VintrelleLibraryLock.h"
#include "VintrelleTestSupport.h"

#include <QStandardPaths>
#include <csignal>
#include <sys/stat.h>

namespace {
const QString inUse = "The library is in use by another Vintrelle. Try again.";
const QByteArray history = R"({"op":"history"})", renameKeys = R"({"op":"rename","id":"starter-1","name":"Keys"})";

// The names (first 15 characters) of the processes whose parent is `pid`.
QStringList childProcesses(qint64 pid)
{
    if (QStandardPaths::findExecutable("pgrep").isEmpty()) return {"<pgrep is missing>"}; // never "no children"
    return outputOf("pgrep", {"-l", "-P", QString::number(pid)}).replace(QRegularExpression("^\\d+ ", QRegularExpression::MultilineOption), "").split('\n', Qt::SkipEmptyParts);
}
}

// The real `vintrelle` binary in a temporary home, and the installed tree; as a running instance and the second launches that reach it.
class TestCommandLine : public QObject
{
    Q_OBJECT

    std::unique_ptr<VintrelleTestHome> m_home;
    VintrelleRun vintrelle(const QStringList &arguments, const QByteArray &input = {}) { return runVintrelle(arguments, m_home->processEnvironment(), input); }
    QStringList urisSaved() const
    {
        QStringList uris;
        for (const QJsonValue category : QJsonDocument::fromJson(readFile(m_home->libraryPath()))["categories"].toArray())
            for (const QJsonValue entry : category["entries"].toArray())
                uris << entry["uri"].toString();
        return uris;
    }
    int undoSteps() { return vintrelle({"--command", history}).lines.value(0).value("result")["canUndo"].toInt(-1); }

private slots:
    void init() { m_home = std::make_unique<VintrelleTestHome>(); }
    void usageErrorsRunNothing_data()
    {
        addColumns<QStringList, QByteArray, QString>({"arguments", "input", "message"});
        QTest::newRow("not an object") << QStringList{"--command", "[]"} << QByteArray() << "the command is not a JSON object";
        QTest::newRow("bad later line") << QStringList{"--commands", "-"} << QByteArray("{\"op\":\"reset\"}\n42\n") << "line 2 is not a JSON object; nothing was run";
        QTest::newRow("missing file") << QStringList{"--commands", "/nonexistent/commands"} << QByteArray() << "could not read /nonexistent/commands: ";
        QTest::newRow("endless file") << QStringList{"--commands", "/dev/zero"} << QByteArray() << "/dev/zero holds more than 64 MiB of commands; nothing was run";
        QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QByteArray() << "unknown option --frobnicate";
        QTest::newRow("toggle with an argument") << QStringList{"--toggle", "now"} << QByteArray() << "--toggle takes no argument";
    }
    void usageErrorsRunNothing()
    {
        QFETCH(QStringList, arguments); QFETCH(QByteArray, input); QFETCH(QString, message);
        const VintrelleRun run = vintrelle(arguments, input);
        QCOMPARE(run.status, 2);
        QVERIFY2(run.out.isEmpty() && run.err.contains(message.toUtf8()), run.err.constData());
        QVERIFY(!QFileInfo::exists(m_home->libraryPath())); // not even a first start happened
    }
    void commandsShareOneStoreAndAllRun()
    {
        // Two lone surrogates once saved as the same "?" and locked the user out of the library.
        const QByteArray script = "{\"op\":\"addCategory\",\"name\":\"Favourites\"}\n\n{\"op\":\"history\"}\n{\"op\":\"nonsense\"}\n{\"op\":\"undo\"}\n{\"op\":\"redo\"}\n"
                                  "{\"op\":\"addPlugin\",\"categoryID\":\"starter-1\",\"entry\":{\"name\":\"x\",\"uri\":\"\\ud800\"}}\n"
                                  "{\"op\":\"addPlugin\",\"categoryID\":\"starter-1\",\"entry\":{\"name\":\"x\",\"uri\":\"\\ud801\"}}\n";
        const VintrelleRun run = vintrelle({"--commands", "-"}, script);
        QCOMPARE(run.status, 1); // one line failed, the others still ran
        const QJsonObject done{{"result", QJsonObject()}};
        QCOMPARE(run.lines, QList<QJsonObject>({done, {{"result", QJsonObject{{"canUndo", 1}, {"canRedo", 0}}}}, {{"error", "Unknown library action."}}, done, done, done, done}));
        QVERIFY(!run.out.contains(": ")); // compact lines
        QCOMPARE(QJsonDocument::fromJson(readFile(m_home->libraryPath()))["categories"].toArray().size(), 17);
        QCOMPARE(urisSaved(), QStringList({QString(QChar(0xD800)), QString(QChar(0xD801))}));
    }
    // A library that cannot be read (valid JSON, not an object) answers every command so, and stays as it was.
    void unreadableLibraryAnswersEveryCommand()
    {
        writeFile(m_home->libraryPath(), "[1]");
        const VintrelleRun run = vintrelle({"--commands", "-"}, "{\"op\":\"reset\"}\n{\"op\":\"history\"}\n");
        QCOMPARE(run.status, 1);
        QCOMPARE(run.lines, QList<QJsonObject>(2, {{"error", "Library could not open: Your original library is unchanged."}}));
        QCOMPARE(readFile(m_home->libraryPath()), "[1]");
    }
    // Two runs at once: each saves all its changes, or (after waiting) changes nothing and says why.
    void concurrentRunsLoseNothing()
    {
        QProcess runs[2];
        for (int index = 0; index < 2; ++index) {
            QByteArray script;
            for (int i = 0; i < 200; ++i)
                script += compact({{"op", "addPlugin"}, {"categoryID", "starter-0"}, {"entry", QJsonObject{{"name", "P"}, {"uri", QString("%1-%2").arg(index).arg(i)}}}}) + '\n';
            runs[index].setProcessEnvironment(m_home->processEnvironment());
            runs[index].start(QStringLiteral(VINTRELLE_BINARY), {"--commands", "-"});
            runs[index].write(script);
            runs[index].closeWriteChannel();
        }
        QStringList expected;
        for (int index = 0; index < 2; ++index) {
            QVERIFY(runs[index].waitForFinished(60000));
            const bool saved = runs[index].exitCode() == 0;
            QCOMPARE(runs[index].readAllStandardOutput().split('\n').mid(0, 200), QList<QByteArray>(200, saved ? "{\"result\":{}}" : compact({{"error", inUse}})));
            for (int i = 0; saved && i < 200; ++i)
                expected << QString("%1-%2").arg(index).arg(i);
        }
        QVERIFY(!expected.isEmpty());
        QStringList uris = urisSaved();
        uris.sort();
        expected.sort();
        QCOMPARE(uris, expected);
        // A lock held elsewhere: every command says so and the file stays as it was.
        const QByteArray before = readFile(m_home->libraryPath());
        VintrelleLibraryLock lock(m_home->libraryPath());
        QVERIFY(lock.acquire(0, nullptr));
        const VintrelleRun run = vintrelle({"--commands", "-"}, "{\"op\":\"addCategory\",\"name\":\"X\"}\n{\"op\":\"history\"}\n");
        QCOMPARE(run.status, 1);
        QCOMPARE(run.lines, QList<QJsonObject>(2, {{"error", inUse}}));
        QCOMPARE(readFile(m_home->libraryPath()), before);
    }
    // On a full file system (a 64 KiB tmpfs in a mount namespace of its own) the save names the reason; the old library stays whole.
    void fullDiskKeepsTheOldLibrary()
    {
        const QString folder = QFileInfo(m_home->libraryPath()).path(), old = m_home->path("old.json");
        writeFile(old, compact(stateWith(generatedCategories(10, 100))));
        QVERIFY(QDir().mkpath(folder));
        const QString script = R"(mount -t tmpfs -o size=64k tmpfs "$1" || exit 99; cp "$2" "$1/native-library.json"
"$3" --command '{"op":"addCategory","name":"Full"}'; cmp -s "$2" "$1/native-library.json" && echo whole; ls -A "$1")";
        const VintrelleRun run = runProgram("unshare", {"-rm", "sh", "-c", script, "sh", folder, old, VINTRELLE_BINARY}, m_home->processEnvironment());
        if (run.status == 99 || (run.status == 1 && run.out.isEmpty()))
            QSKIP(qPrintable("no tmpfs can be mounted here: " + run.err));
        QCOMPARE(run.out.split('\n'), QList<QByteArray>({"{\"error\":\"Could not save " + m_home->libraryPath().toUtf8() + ": No space left on device.\"}",
                                                          "whole", "native-library.json", "native-library.json.lock", ""}));
    }
    // The installed binary finds its resources beside its bin folder: the bridge it installs is the (marked) installed copy.
    void installedTree()
    {
        const QString prefix = m_home->path("prefix"), bridge = prefix + "/share/vintrelle/VintrelleBridge/bridge.py", library = m_home->path("User Library");
        QCOMPARE(QProcess::execute(VINTRELLE_CMAKE, {"--install", VINTRELLE_BUILD_DIR, "--prefix", prefix}), 0);
        QVERIFY(QFileInfo::exists(prefix + "/share/vintrelle/launcher/index.html"));
        writeFile(bridge, readFile(bridge) + "\n# installed copy\n");
        QVERIFY(QDir().mkpath(library));
        writeFile(m_home->config() + "/Vintrelle/Vintrelle.conf", "[General]\nVintrelleUserLibrary=" + library.toUtf8() + "\n");
        QProcessEnvironment environment = m_home->processEnvironment();
        environment.remove("VINTRELLE_RESOURCES");
        const VintrelleRun run = runProgram(prefix + "/bin/vintrelle", {"--command", R"({"op":"install"})"}, environment);
        QCOMPARE(run.lines.value(0).value("result")["ok"], QJsonValue(true));
        QCOMPARE(readFile(library + "/Remote Scripts/VintrelleBridge/bridge.py"), readFile(bridge));
    }
    // Second launches print what the same commands print in-process and leave the same library. The instance keeps its undo
    // history between launches, holds the library lock, started without a browser engine process, and quits in order.
    void secondLaunchesShareTheInstance()
    {
        VintrelleRunningApp app(m_home->processEnvironment());
        QVERIFY(app.waitUntilListening(m_home->instanceSocket()));
        QCOMPARE(undoSteps(), 0);
        VintrelleTestHome alone;
        for (const auto &[lines, status] : {std::pair<QByteArray, int>{renameKeys + "\n{\"op\":\"delete\",\"id\":\"gone\"}\n{\"op\":\"export\"}", 1}, {renameKeys + "\nnot json", 2}}) {
            const VintrelleRun inProcess = runVintrelle({"--commands", "-"}, alone.processEnvironment(), lines), forwarded = vintrelle({"--commands", "-"}, lines);
            QCOMPARE(forwarded.status, status);
            QCOMPARE(inProcess.status, status);
            QCOMPARE(forwarded.out, inProcess.out);
        }
        QCOMPARE(readFile(m_home->libraryPath()), readFile(alone.libraryPath()));
        QCOMPARE(undoSteps(), 1);
        for (const QStringList &arguments : {QStringList(), QStringList{"--toggle"}, QStringList{"--welcome"}})
            QCOMPARE(vintrelle(arguments).status, 0);
        QVERIFY(app.waitUntilListening(m_home->instanceSocket()));
        VintrelleLibraryLock lock(m_home->libraryPath());
        VintrelleError error;
        QVERIFY(!lock.acquire(0, &error));
        QCOMPARE(error, inUse);
        QCOMPARE(childProcesses(app.pid()), QStringList());
        app.stop();
        QVERIFY(app.process().exitStatus() == QProcess::NormalExit && app.process().exitCode() == 0);
        QVERIFY(!QFileInfo::exists(m_home->instanceSocket()));
        QVERIFY(lock.acquire(0, &error));
    }
    void staleSocketOfAKilledInstanceIsReplaced()
    {
        {
            VintrelleRunningApp killed(m_home->processEnvironment());
            QVERIFY(killed.waitUntilListening(m_home->instanceSocket()));
            ::kill(pid_t(killed.pid()), SIGKILL);
            QVERIFY(killed.process().waitForFinished(5000));
        }
        QVERIFY(QFileInfo::exists(m_home->instanceSocket())); // left behind
        QCOMPARE(undoSteps(), 0); // in-process despite the leftover socket
        VintrelleRunningApp next(m_home->processEnvironment());
        QVERIFY(next.waitUntilListening(m_home->instanceSocket()));
        QCOMPARE(vintrelle({"--command", renameKeys}).status, 0);
        QCOMPARE(undoSteps(), 1);
    }
    void simultaneousStartsEndWithOne()
    {
        std::vector<std::unique_ptr<VintrelleRunningApp>> apps;
        for (int i = 0; i < 4; ++i)
            apps.push_back(std::make_unique<VintrelleRunningApp>(m_home->processEnvironment()));
        const auto running = [&] { return std::count_if(apps.begin(), apps.end(), [](const auto &app) { return app->isRunning(); }); };
        QTRY_COMPARE_WITH_TIMEOUT(running(), 1, 20000);
        for (const auto &app : apps)
            QVERIFY(app->isRunning() || app->process().exitCode() == 0);
        QTest::qWait(300);
        QCOMPARE(running(), 1);
        QCOMPARE(undoSteps(), 0);
    }
    // The socket's folder must be this user's alone; anything else is refused before listening.
    void instanceFolderMustBePrivate_data()
    {
        addColumns<QString, bool>({"prepare", "starts"});
        QTest::newRow("missing: created private") << "missing" << true;
        QTest::newRow("open to the group and others") << "0755" << false;
        QTest::newRow("a symbolic link to a private folder") << "link" << false;
    }
    void instanceFolderMustBePrivate()
    {
        QFETCH(QString, prepare); QFETCH(bool, starts);
        const QByteArray folder = QFile::encodeName(m_home->instanceFolder());
        if (prepare == "0755")
            QVERIFY(::mkdir(folder.constData(), 0755) == 0 && ::chmod(folder.constData(), 0755) == 0); // past the umask
        const QString elsewhere = m_home->path("elsewhere");
        if (prepare == "link")
            QVERIFY(QDir().mkpath(elsewhere) && QFile::setPermissions(elsewhere, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) && QFile::link(elsewhere, folder));
        VintrelleRunningApp app(m_home->processEnvironment());
        struct stat status {};
        if (starts) {
            QVERIFY(app.waitUntilListening(m_home->instanceSocket()));
            QVERIFY(::lstat(folder.constData(), &status) == 0 && (status.st_mode & 0777) == 0700);
            return;
        }
        QVERIFY(app.process().waitForFinished(10000));
        QCOMPARE(app.process().exitCode(), 1);
        QVERIFY(!QFileInfo::exists(m_home->instanceSocket()) && !QFileInfo::exists(elsewhere + "/vintrelle.socket"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_command_line.moc"
