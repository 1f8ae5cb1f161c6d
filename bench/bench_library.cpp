// Library engine costs at a typical size (50 categories, 500 plug-ins) and at the limits
// (2,000 categories, 20,000 plug-ins, about 7.5 MB on disk).
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   ninja -C build-bench bench_library && build-bench/bin/bench_library --benchmark_repetitions=5

#include "VintrelleJsonWriter.h"
#include "VintrelleNativeStore.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

namespace {

// Realistic lengths: names of 20-40 characters, uris of ~230, paths of ~60.
QJsonArray library(int categories, int entries)
{
    QJsonArray list;
    const QString uriTail(180, QLatin1Char('x'));
    for (int c = 0; c < categories; ++c) {
        QJsonArray items;
        const int count = entries / categories + (c < entries % categories ? 1 : 0);
        for (int e = 0; e < count; ++e)
            items.append(QJsonObject{
                {"id", QStringLiteral("5E1D7A0C-0000-4000-8000-%1").arg(c * 100000 + e, 12, 10, QLatin1Char('0'))},
                {"label", QStringLiteral("Vendor Plug-in Number %1").arg(e)},
                {"uri", QStringLiteral("query:Plugins#VST3:Vendor%1:Plug-in%2:").arg(c).arg(e) + uriTail},
                {"path", QStringLiteral("Plug-Ins/VST3/A Fairly Long Vendor Name %1/Sub Folder").arg(c)}});
        const QJsonValue parent = c % 5 == 0 ? QJsonValue() : QJsonValue(QStringLiteral("C-%1").arg(c - c % 5));
        list.append(QJsonObject{{"id", QStringLiteral("C-%1").arg(c)},
                                {"name", QStringLiteral("Category with a realistic name %1").arg(c)},
                                {"parentId", parent},
                                {"entries", items}});
    }
    return list;
}

void validate(benchmark::State &state)
{
    const QJsonArray categories = library(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(VTValidateCategories(categories, nullptr));
}

// One changing command end to end: copy, change, compare, validate, serialise, atomic write, history.
void renameCommand(benchmark::State &state)
{
    QTemporaryDir dir;
    VintrelleNativeStore store(dir.filePath("Vintrelle/native-library.json"));
    const QJsonObject initial{{"nativeVersion", 1}, {"categories", library(int(state.range(0)), int(state.range(1)))},
                              {"bridgeUrl", "http://127.0.0.1:45873"}, {"token", ""}};
    if (!store.commit(initial, nullptr)) {
        state.SkipWithError("initial save failed");
        return;
    }
    int turn = 0;
    for (auto _ : state) {
        const QJsonObject command{{"op", "rename"}, {"id", QStringLiteral("C-%1").arg(state.range(0) / 2)}, {"name", QStringLiteral("Renamed %1").arg(++turn)}};
        if (!store.perform(command, nullptr))
            state.SkipWithError("command failed");
    }
}

void serialise(benchmark::State &state)
{
    const QJsonObject document{{"nativeVersion", 1}, {"categories", library(int(state.range(0)), int(state.range(1)))}};
    for (auto _ : state)
        benchmark::DoNotOptimize(VintrelleCompactJson(document));
}

} // namespace

BENCHMARK(serialise)->Args({50, 500})->Args({2000, 20000})->Unit(benchmark::kMillisecond);
BENCHMARK(validate)->Args({50, 500})->Args({2000, 20000})->Unit(benchmark::kMillisecond);
BENCHMARK(renameCommand)->Args({50, 500})->Args({2000, 20000})->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
