// Library engine costs at a typical size (50 categories, 500 plug-ins) and at the limits
// (2,000 categories, 20,000 plug-ins, about 7.5 MB on disk). Every changing command includes its
// durable save; diskFloor writes the same bytes durably and nothing else, so it is the cost no
// command can go below on this machine.
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVINTRELLE_BENCHMARKS=ON
//   ninja -C build-bench bench_library
//   build-bench/bin/bench_library --benchmark_repetitions=9 --benchmark_report_aggregates_only=true

#include "VintrelleNativeStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Realistic lengths: names of 20-40 characters, uris of ~230, paths of ~60. Every fifth category
// is top level, the four after it are its sub-categories.
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

QString entryId(int category, int entry)
{
    return QStringLiteral("5E1D7A0C-0000-4000-8000-%1").arg(category * 100000 + entry, 12, 10, QLatin1Char('0'));
}

struct SavedLibrary
{
    QTemporaryDir dir;
    VintrelleNativeStore store{dir.filePath("Vintrelle/native-library.json")};

    explicit SavedLibrary(benchmark::State &state)
    {
        const QJsonObject initial{{"nativeVersion", 1}, {"categories", library(int(state.range(0)), int(state.range(1)))},
                                  {"bridgeUrl", "http://127.0.0.1:45873"}, {"token", ""}};
        if (!store.commit(initial, nullptr))
            state.SkipWithError("initial save failed");
    }
};

// The file's bytes written the way a save must: a new file, its data synced, renamed over the
// old one, and the folder synced so the rename itself survives a power cut.
void diskFloor(benchmark::State &state)
{
    SavedLibrary saved(state);
    QFile file(saved.store.url());
    if (!file.open(QIODevice::ReadOnly))
        return state.SkipWithError("saved library unreadable");
    const QByteArray data = file.readAll();
    const QByteArray path = QFile::encodeName(saved.store.url()), temporary = path + ".floor";
    const QByteArray folder = QFile::encodeName(saved.dir.filePath("Vintrelle"));
    for (auto _ : state) {
        const int fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        bool ok = fd >= 0 && ::write(fd, data.constData(), size_t(data.size())) == data.size() && ::fdatasync(fd) == 0;
        ok = fd >= 0 && ::close(fd) == 0 && ok && ::rename(temporary.constData(), path.constData()) == 0;
        const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = ok && folderFd >= 0 && ::fsync(folderFd) == 0;
        if (folderFd >= 0)
            ::close(folderFd);
        if (!ok)
            return state.SkipWithError("durable write failed");
    }
    state.counters["bytes"] = double(data.size());
}

void freshValidation(benchmark::State &state)
{
    const QJsonArray categories = library(int(state.range(0)), int(state.range(1)));
    for (auto _ : state)
        benchmark::DoNotOptimize(VTValidateCategories(categories, nullptr));
}

// What a start-up does with an existing library: read, parse and validate it, then answer.
void startUp(benchmark::State &state)
{
    SavedLibrary saved(state);
    for (auto _ : state) {
        VintrelleNativeStore store(saved.store.url());
        if (!store.read(nullptr) || !store.perform({{"op", "history"}}, nullptr))
            return state.SkipWithError("read failed");
    }
}

// The commands that change one thing, at the middle of the library: C-<middle> is a top-level
// category, C-<middle + 1> its first sub-category. Each turn changes the library, so each saves.
enum class Command { renameCategory, renamePlugin, move, reorder, undo };

void changingCommand(benchmark::State &state, Command kind)
{
    SavedLibrary saved(state);
    const int middle = int(state.range(0)) / 10 * 5;
    const QString category = QStringLiteral("C-%1").arg(middle), next = QStringLiteral("C-%1").arg(middle + 1);
    const QString plugin = entryId(middle, 0);
    if (kind == Command::undo && !saved.store.perform({{"op", "rename"}, {"id", category}, {"name", "Renamed"}}, nullptr))
        return state.SkipWithError("setup failed");
    int turn = 0;
    for (auto _ : state) {
        ++turn;
        QJsonObject command;
        switch (kind) {
        case Command::renameCategory: command = {{"op", "rename"}, {"id", category}, {"name", QStringLiteral("Renamed %1").arg(turn)}}; break;
        case Command::renamePlugin: command = {{"op", "rename"}, {"id", plugin}, {"name", QStringLiteral("Renamed %1").arg(turn)}}; break;
        case Command::move: command = {{"op", "move"}, {"id", plugin}, {"categoryID", turn % 2 ? next : category}}; break;
        // Among the top-level categories, C-<middle> stands at middle / 5.
        case Command::reorder: command = {{"op", "reorder"}, {"id", category}, {"index", turn % 2 ? 0 : middle / 5}}; break;
        // Undo and redo in turn (they cost the same), so the history never runs out.
        case Command::undo: command = {{"op", turn % 2 ? "undo" : "redo"}}; break;
        }
        if (!saved.store.perform(command, nullptr))
            return state.SkipWithError("command failed");
    }
}

void sizes(benchmark::internal::Benchmark *benchmark)
{
    benchmark->Args({50, 500})->Args({2000, 20000})->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK(diskFloor)->Apply(sizes);
BENCHMARK(freshValidation)->Apply(sizes);
BENCHMARK(startUp)->Apply(sizes);
BENCHMARK_CAPTURE(changingCommand, renameCategory, Command::renameCategory)->Apply(sizes);
BENCHMARK_CAPTURE(changingCommand, renamePlugin, Command::renamePlugin)->Apply(sizes);
BENCHMARK_CAPTURE(changingCommand, move, Command::move)->Apply(sizes);
BENCHMARK_CAPTURE(changingCommand, reorder, Command::reorder)->Apply(sizes);
BENCHMARK_CAPTURE(changingCommand, undo, Command::undo)->Apply(sizes);

BENCHMARK_MAIN();
