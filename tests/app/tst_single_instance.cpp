#include "VintrelleLibraryLock.h"
#include "VintrelleTestSupport.h"

#include <QDirIterator>

#include <csignal>
#include <sys/stat.h>

// The real `vintrelle` binary as a running instance and as the second launches that reach it.
class TestSingleInstance : public QObject
{
    Q_OBJECT

    static QJsonObject history(const VintrelleRun &run)
    {
        return run.lines.value(0).value("result").toObject();
    }

    // The names of the processes whose parent is `pid`.
    static QStringList childrenOf(qint64 pid)
    {
        QStringList names;
        QDirIterator processes("/proc", QDir::Dirs | QDir::NoDotAndDotDot);
        while (processes.hasNext()) {
            const QString folder = processes.next();
            const QByteArray stat = readFile(folder + "/stat");
            // "pid (name) state ppid ...": the name may hold spaces, so split after the last ')'.
            const qsizetype close = stat.lastIndexOf(')');
            if (close < 0)
                continue;
            const QList<QByteArray> fields = stat.mid(close + 2).split(' ');
            if (fields.size() > 1 && fields.at(1).toLongLong() == pid)
                names << QString::fromLatin1(stat.mid(stat.indexOf('(') + 1, close - stat.indexOf('(') - 1));
        }
        return names;
    }

private slots:
    // Second launches print exactly what the same commands print in-process, and the library
    // ends the same.
    void commandsPrintAsInProcess_data()
    {
        addColumns<QByteArray, int>({"lines", "status"});
        QTest::newRow("one query") << QByteArray(R"({"op":"history"})") << 0;
        QTest::newRow("edit, undo, export")
            << QByteArray("{\"op\":\"rename\",\"id\":\"starter-1\",\"name\":\"Keys\"}\n{\"op\":\"undo\"}\n"
                          "{\"op\":\"redo\"}\n{\"op\":\"export\"}")
            << 0;
        QTest::newRow("a failure in the middle, later lines still run")
            << QByteArray("{\"op\":\"rename\",\"id\":\"starter-2\",\"name\":\"Bass\"}\n{\"op\":\"delete\",\"id\":\"gone\"}\n"
                          "{\"op\":\"history\"}")
            << 1;
        QTest::newRow("unknown entry") << QByteArray(R"({"op":"load","id":"nowhere"})") << 1;
        QTest::newRow("one bad line runs nothing")
            << QByteArray("{\"op\":\"rename\",\"id\":\"starter-3\",\"name\":\"Drums\"}\nnot json") << 2;
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

    // The instance keeps its undo history between launches: proof that they reached it and did
    // not open the library themselves (which the instance's lock would refuse anyway).
    void secondLaunchesShareTheInstance()
    {
        VintrelleTestHome home;
        VintrelleRunningApp app(home.processEnvironment());
        QVERIFY(app.waitUntilListening(home.instanceSocket()));
        QCOMPARE(history(runVintrelle({"--command", R"({"op":"history"})"}, home.processEnvironment())),
                 QJsonObject({{"canRedo", 0}, {"canUndo", 0}}));
        QCOMPARE(runVintrelle({"--command", R"({"op":"rename","id":"starter-1","name":"Keys"})"}, home.processEnvironment()).status, 0);
        QCOMPARE(history(runVintrelle({"--command", R"({"op":"history"})"}, home.processEnvironment())),
                 QJsonObject({{"canRedo", 0}, {"canUndo", 1}}));

        // The running instance holds the library lock for as long as it runs...
        VintrelleLibraryLock lock(home.libraryPath());
        VintrelleError error;
        QVERIFY(!lock.acquire(0, &error));
        QCOMPARE(error, QStringLiteral("The library is in use by another Vintrelle. Try again."));
        // ...and started from a file without any browser engine process.
        QCOMPARE(childrenOf(app.pid()), QStringList());

        // Asked to terminate, it quits in order: its socket goes with it, and the library is free.
        app.stop();
        QCOMPARE(app.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.process().exitCode(), 0);
        QVERIFY(!QFileInfo::exists(home.instanceSocket()));
        QVERIFY(lock.acquire(0, &error));
    }

    void reopeningAsksTheRunningInstance_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("reopen") << QStringList();
        QTest::newRow("toggle") << QStringList{"--toggle"};
        QTest::newRow("welcome") << QStringList{"--welcome"};
    }

    void reopeningAsksTheRunningInstance()
    {
        QFETCH(QStringList, arguments);
        VintrelleTestHome home;
        VintrelleRunningApp app(home.processEnvironment());
        QVERIFY(app.waitUntilListening(home.instanceSocket()));
        const VintrelleRun second = runVintrelle(arguments, home.processEnvironment(), {}, 10000);
        QCOMPARE(second.status, 0);
        QVERIFY(app.isRunning());
        QVERIFY(app.waitUntilListening(home.instanceSocket()));
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

        // A command with no instance runs in-process despite the leftover socket.
        QCOMPARE(runVintrelle({"--command", R"({"op":"history"})"}, home.processEnvironment(), {}, 10000).status, 0);

        VintrelleRunningApp next(home.processEnvironment());
        QVERIFY(next.waitUntilListening(home.instanceSocket()));
        QCOMPARE(runVintrelle({"--command", R"({"op":"rename","id":"starter-1","name":"Keys"})"}, home.processEnvironment()).status, 0);
        QCOMPARE(history(runVintrelle({"--command", R"({"op":"history"})"}, home.processEnvironment())).value("canUndo"), 1);
    }

    void simultaneousStartsEndWithOne()
    {
        VintrelleTestHome home;
        std::vector<std::unique_ptr<VintrelleRunningApp>> apps;
        for (int i = 0; i < 4; ++i)
            apps.push_back(std::make_unique<VintrelleRunningApp>(home.processEnvironment()));
        QDeadlineTimer deadline(20000);
        auto running = [&] {
            return std::count_if(apps.begin(), apps.end(), [](const auto &app) { return app->isRunning(); });
        };
        while (running() > 1 && !deadline.hasExpired())
            QTest::qWait(50);
        QCOMPARE(running(), 1);
        for (const auto &app : apps)
            if (!app->isRunning())
                QCOMPARE(app->process().exitCode(), 0);
        QTest::qWait(300);
        QCOMPARE(running(), 1);
        QCOMPARE(runVintrelle({"--command", R"({"op":"history"})"}, home.processEnvironment()).status, 0);
    }

    // The socket's folder must be this user's alone; anything else is refused before listening.
    void instanceFolderMustBePrivate_data()
    {
        addColumns<QString, bool>({"prepare", "starts"});
        QTest::newRow("missing: created private") << "missing" << true;
        QTest::newRow("already private") << "0700" << true;
        QTest::newRow("open to the group and others") << "0755" << false;
        QTest::newRow("a symbolic link to a private folder") << "link" << false;
    }

    void instanceFolderMustBePrivate()
    {
        QFETCH(QString, prepare); QFETCH(bool, starts);
        VintrelleTestHome home;
        const QByteArray folder = QFile::encodeName(home.instanceFolder());
        if (prepare == "0700" || prepare == "0755") {
            QCOMPARE(::mkdir(folder.constData(), prepare == "0700" ? 0700 : 0755), 0);
            QCOMPARE(::chmod(folder.constData(), prepare == "0700" ? 0700 : 0755), 0);
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
        } else {
            QVERIFY(app.process().waitForFinished(10000));
            QCOMPARE(app.process().exitCode(), 1);
            QVERIFY(!QFileInfo::exists(home.instanceSocket()));
            QVERIFY(!QFileInfo::exists(home.path("elsewhere/vintrelle.socket")));
        }
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_single_instance.moc"
