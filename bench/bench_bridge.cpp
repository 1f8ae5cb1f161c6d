// A search and a plug-in load end to end through VintrelleNativeConnection: configuration read,
// loopback HTTP, the real bridge script under the simulator (demo catalogue), reply on the main
// thread. Report medians:
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   ninja -C build-bench bench_bridge
//   build-bench/bin/bench_bridge --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "VintrelleBridgeSimulator.h"
#include "VintrelleNativeConnection.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QJsonArray>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

QString hybridReverbURI;

// One request as the router sends it: configuration first, then the request; waits for the reply.
std::optional<QJsonObject> roundTrip(VintrelleNativeConnection &connection, const QString &path,
                                     const std::optional<QJsonObject> &body, double timeout)
{
    QEventLoop loop;
    bool answered = false;
    std::optional<QJsonObject> result;
    connection.refreshConfiguration();
    connection.request(path, body, timeout, [&](std::optional<QJsonObject> data, std::optional<QString>) {
        result = data;
        answered = true;
        loop.quit();
    });
    if (!answered) loop.exec();
    return result;
}

void search(benchmark::State &state)
{
    VintrelleNativeConnection connection;
    for (auto _ : state) {
        const auto data = roundTrip(connection, "/v1/browser/search?query=reverb", std::nullopt,
                                    VintrelleNativeConnection::searchTimeout);
        if (!data || data->value("items").toArray().isEmpty()) state.SkipWithError("search failed");
    }
}

void load(benchmark::State &state)
{
    VintrelleNativeConnection connection;
    const QJsonObject body{{"uri", hybridReverbURI}};
    for (auto _ : state) {
        const auto data = roundTrip(connection, "/v1/load", body, VintrelleNativeConnection::loadTimeout);
        if (!data || data->value("loaded") != QJsonValue(true)) state.SkipWithError("load failed");
    }
}

} // namespace

BENCHMARK(search)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(load)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    QTemporaryDir home;
    // Nothing of the user's own: no recorded User Library, no installed bridge.
    qputenv("HOME", home.filePath("home").toUtf8());
    qputenv("XDG_CONFIG_HOME", home.filePath("config").toUtf8());
    QCoreApplication application(argc, argv);
    VintrelleBridgeSimulator simulator(home.path());
    if (!simulator.ready()) return 1;
    qputenv("VINTRELLE_BRIDGE_CONFIG", simulator.configPath().toUtf8());

    VintrelleNativeConnection connection;
    const auto found = roundTrip(connection, "/v1/browser/search?query=hybrid%20reverb", std::nullopt, 15);
    hybridReverbURI = found ? found->value("items")[0]["uri"].toString() : QString();
    if (hybridReverbURI.isEmpty()) return 1;

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
