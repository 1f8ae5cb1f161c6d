// Launch of the real `vintrelle` binary to a ready library, and its memory once idle.
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   cmake --build build-bench --target bench_app_launch vintrelle
//   build-bench/bin/bench_app_launch --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
// The clock runs from starting the process to the first answer of a command through the
// instance's socket: the instance answers commands only once its library is ready.

#include "VintrelleTestSupport.h"
#include "VintrelleBenchSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>
#include <QThread>


namespace {

double residentMegabytes(qint64 pid)
{
    for (const QByteArray &line : readFile(QStringLiteral("/proc/%1/status").arg(pid)).split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return -1;
}

// Connects as soon as the instance listens and waits for the answer to one command.
bool answeredHistory(const QString &socketPath, QProcess &process)
{
    QLocalSocket socket;
    while (process.state() == QProcess::Running) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(100))
            break;
        QThread::usleep(500);
    }
    socket.write(R"({"request":"command","command":{"op":"history"}})" "\n");
    while (!socket.canReadLine())
        if (!socket.waitForReadyRead(10000))
            return false;
    return socket.readLine().contains("canUndo");
}

void launchToReady(benchmark::State &state)
{
    VintrelleTestHome home;
    writeFile(home.libraryPath(), compact(stateWith(generatedCategories(int(state.range(0)), int(state.range(1))))));
    QProcessEnvironment environment = home.processEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    double rss = 0;
    for (auto _ : state) {
        QProcess process;
        process.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        process.start(QStringLiteral(VINTRELLE_BINARY), {});
        process.waitForStarted();
        if (!answeredHistory(home.instanceSocket(), process)) {
            state.SkipWithError("the instance did not answer");
            break;
        }
        state.SetIterationTime(clock.nsecsElapsed() / 1e9);
        QThread::msleep(1000); // idle
        rss = residentMegabytes(process.processId());
        process.terminate();
        process.waitForFinished(5000);
    }
    state.counters["idle_rss_MB"] = rss;
}

} // namespace

BENCHMARK(launchToReady)->Name("launch_to_ready/typical")->Args({50, 500})->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(launchToReady)->Name("launch_to_ready/limits")->Args({2000, 20000})->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    return VintrelleRunBenchmarks<QCoreApplication>(argc, argv);
}
