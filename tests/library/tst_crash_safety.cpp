#include "VintrelleNativeStore.h"
#include "VintrelleTestSupport.h"

#include <QRandomGenerator>

#include <csignal>
#include <cstdio>

namespace {

const QJsonObject savedStates[2] = {stateWith(generatedCategories(200, 6000)), stateWith(generatedCategories(150, 5000))};

// Run as "--save-loop <path>": saves the two libraries in turn, forever, so a test can kill it mid-write.
int saveLoop(const char *path)
{
    VintrelleNativeStore store(QString::fromLocal8Bit(path));
    for (unsigned turn = 1;; ++turn) { // the parent saved the first one already
        std::puts(turn == 1 ? "saving" : "saved");
        std::fflush(stdout);
        if (!store.commit(savedStates[turn % 2], nullptr)) return 1;
    }
}

} // namespace

class TestCrashSafety : public QObject
{
    Q_OBJECT

private slots:
    // A process killed at any moment of a save leaves the old or the new library, whole.
    void killedSaverLeavesAWholeLibrary()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("Vintrelle/native-library.json");
        QVERIFY(VintrelleNativeStore(path).commit(savedStates[0], nullptr));
        const auto startSaver = [&](QProcess &saver) { saver.start(QCoreApplication::applicationFilePath(), {"--save-loop", path}); };

        // How long one save takes on this machine and build, so kills spread over several saves.
        qint64 saveMs = 0;
        {
            QProcess saver;
            startSaver(saver);
            QElapsedTimer timer;
            int saved = -1;
            while (saved < 3 && saver.waitForReadyRead(30000))
                while (saver.canReadLine())
                    if (saver.readLine().startsWith("saved") && ++saved == 0) timer.start();
            QCOMPARE(saved, 3);
            saveMs = timer.elapsed() / 3;
            saver.kill();
            saver.waitForFinished();
        }

        int saw[2] = {0, 0};
        for (int round = 0; round < 60; ++round) {
            QProcess saver;
            startSaver(saver);
            QVERIFY(saver.waitForReadyRead(10000));
            QThread::msleep(QRandomGenerator::global()->bounded(qint64(1), 4 * saveMs + 2));
            ::kill(pid_t(saver.processId()), SIGKILL);
            QVERIFY(saver.waitForFinished(10000));
            QCOMPARE(saver.exitStatus(), QProcess::CrashExit);

            VintrelleNativeStore store(path);
            VintrelleError error;
            QVERIFY2(store.read(&error), qPrintable(error.value_or("read failed without a message")));
            const QJsonValue categories = store.state()->value("categories");
            QVERIFY(categories == savedStates[0]["categories"] || categories == savedStates[1]["categories"]);
            ++saw[categories == savedStates[0]["categories"] ? 0 : 1];
        }
        qInfo("after 60 kills: %d times the first library, %d times the second", saw[0], saw[1]);
        // Both outcomes occur, so kills did land between and during saves.
        QVERIFY(saw[0] > 0 && saw[1] > 0);
    }
};

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--save-loop") == 0) return saveLoop(argv[2]);
    QCoreApplication application(argc, argv);
    TestCrashSafety test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_crash_safety.moc"
