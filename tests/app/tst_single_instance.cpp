#include "AppTestSupport.h"
#include "VintrelleLibraryLock.h"

#include <csignal>
#include <sys/stat.h>

namespace {
const QByteArray history = R"({"op":"history"})", renameKeys = R"({"op":"rename","id":"starter-1","name":"Keys"})";
}

// The real `vintrelle` binary as a running instance and as the second launches that reach it.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    static int undoSteps(const VintrelleTestHome &home)
    {
        return runVintrelle({"--command", history}, home.processEnvironment()).lines.value(0).value("result")["canUndo"].toInt(-1);
    }

private slots:
    // Second launches print exactly what the same commands print in-process, and the library ends the same.
    void commandsPrintAsInProcess_data()
    {
        addColumns<QByteArray, int>({"lines", "status"});
        QTest::newRow("edit, undo, redo, export") << renameKeys + "\n{\"op\":\"undo\"}\n{\"op\":\"redo\"}\n{\"op\":\"export\"}" << 0;
        QTest::newRow("a failure in the middle, later lines still run") << renameKeys + "\n{\"op\":\"delete\",\"id\":\"gone\"}\n" + history << 1;
        QTest::newRow("one bad line runs nothing") << renameKeys + "\nnot json" << 2;
    }
    void commandsPrintAsInProcess()
    {
        QFETCH(QByteArray, lines); QFETCH(int, status);
        VintrelleTestHome alone, withInstance;
        const VintrelleRun inProcess = runVintrelle({"--commands", "-"}, alone.processEnvironment(), lines);
        VintrelleRunningApp app(withInstance.processEnvironment());
        QVERIFY(app.waitUntilListening(withInstance.instanceSocket()));
        const VintrelleRun forwarded = runVintrelle({"--commands", "-"}, withInstance.processEnvironment(), lines);
        QCOMPARE(forwarded.status, status);
        QCOMPARE(inProcess.status, status);
        QCOMPARE(forwarded.out, inProcess.out);
        if (status != 2) // a usage error never reaches a library; the instance made its own at launch
            QCOMPARE(readFile(withInstance.libraryPath()), readFile(alone.libraryPath()));
        QVERIFY(app.isRunning());
    }

    // The instance keeps its undo history between launches, holds the library lock, started without
    // any browser engine process, and quits in order when asked to terminate.
    void secondLaunchesShareTheInstance()
    {
        VintrelleTestHome home;
        VintrelleRunningApp app(home.processEnvironment());
        QVERIFY(app.waitUntilListening(home.instanceSocket()));
        QCOMPARE(undoSteps(home), 0);
        QCOMPARE(runVintrelle({"--command", renameKeys}, home.processEnvironment()).status, 0);
        QCOMPARE(undoSteps(home), 1);
        for (const QStringList &arguments : {QStringList(), QStringList{"--toggle"}, QStringList{"--welcome"}})
            QCOMPARE(runVintrelle(arguments, home.processEnvironment(), {}, 10000).status, 0);
        QVERIFY(app.waitUntilListening(home.instanceSocket()));

        VintrelleLibraryLock lock(home.libraryPath());
        VintrelleError error;
        QVERIFY(!lock.acquire(0, &error));
        QCOMPARE(error, QStringLiteral("The library is in use by another Vintrelle. Try again."));
        QCOMPARE(childProcesses(app.pid()), QStringList());
        app.stop();
        QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(home.instanceSocket()));
        QVERIFY(lock.acquire(0, &error));
    }

    void staleSocketOfAKilledInstanceIsReplaced()
    {
        VintrelleTestHome home;
        {
            VintrelleRunningApp killed(home.processEnvironment());
            QVERIFY(killed.waitUntilListening(home.instanceSocket()));
            ::kill(pid_t(killed.pid()), SIGKILL);
            QVERIFY(killed.process().waitForFinished(5000));
        }
        QVERIFY(QFileInfo::exists(home.instanceSocket())); // left behind
        QCOMPARE(undoSteps(home), 0); // in-process despite the leftover socket
        VintrelleRunningApp next(home.processEnvironment());
        QVERIFY(next.waitUntilListening(home.instanceSocket()));
        QCOMPARE(runVintrelle({"--command", renameKeys}, home.processEnvironment()).status, 0);
        QCOMPARE(undoSteps(home), 1);
    }

    void simultaneousStartsEndWithOne()
    {
        VintrelleTestHome home;
        std::vector<std::unique_ptr<VintrelleRunningApp>> apps;
        for (int i = 0; i < 4; ++i)
            apps.push_back(std::make_unique<VintrelleRunningApp>(home.processEnvironment()));
        const auto running = [&] { return std::count_if(apps.begin(), apps.end(), [](const auto &app) { return app->isRunning(); }); };
        QTRY_COMPARE_WITH_TIMEOUT(running(), 1, 20000);
        for (const auto &app : apps)
            QVERIFY(app->isRunning() || app->process().exitCode() == 0);
        QTest::qWait(300);
        QCOMPARE(running(), 1);
        QCOMPARE(undoSteps(home), 0);
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
        VintrelleTestHome home;
        const QByteArray folder = QFile::encodeName(home.instanceFolder());
        if (prepare == "0755") {
            QCOMPARE(::mkdir(folder.constData(), 0755), 0);
            QCOMPARE(::chmod(folder.constData(), 0755), 0);
        } else if (prepare == "link") {
            QVERIFY(QDir().mkpath(home.path("elsewhere")));
            QFile::setPermissions(home.path("elsewhere"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            QVERIFY(QFile::link(home.path("elsewhere"), home.instanceFolder()));
        }
        VintrelleRunningApp app(home.processEnvironment());
        if (starts) {
            QVERIFY(app.waitUntilListening(home.instanceSocket()));
            struct stat status {};
            QCOMPARE(::lstat(folder.constData(), &status), 0);
            QCOMPARE(status.st_mode & 0777, 0700u);
            return;
        }
        QVERIFY(app.process().waitForFinished(10000));
        QCOMPARE(app.process().exitCode(), 1);
        QVERIFY(!QFileInfo::exists(home.instanceSocket()));
        QVERIFY(!QFileInfo::exists(home.path("elsewhere/vintrelle.socket")));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
