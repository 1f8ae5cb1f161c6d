// The library editor at the limits (2,000 categories, 20,000 plug-ins), offscreen:
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   ninja -C build-bench bench_editor && build-bench/bin/bench_editor --benchmark_repetitions=7 --benchmark_report_aggregates_only=true

#include "EditorHarness.h"
#include "VintrelleBenchSupport.h"

#include <QApplication>
#include <QLineEdit>

namespace {

constexpr int limitCategories = 2000;
constexpr int limitEntries = 20000;

const QJsonArray &limitLibrary()
{
    static const QJsonArray library = generatedCategories(limitCategories, limitEntries, 36, 200);
    return library;
}

// A category in the middle and a plug-in of its first sub-category: what a user has open.
const QString openCategory = QStringLiteral("C1000").leftJustified(36, QLatin1Char('-'));
const QString openSubcategory = QStringLiteral("C1001").leftJustified(36, QLatin1Char('-'));
const QString selectedPlugin = QStringLiteral("E1001-3").leftJustified(36, QLatin1Char('-'));

void openTheUsersPlace(VintrelleNativeEdit &editor)
{
    editor.openCategoryAtRow(editor.treeModel()->indexForID(openCategory));
    editor.revealMovedPlugin(selectedPlugin);
}

// From nothing to a shown, laid out and painted editor holding the whole library. The editor
// lives as long as the application, so tearing it down is not counted.
void openEditor(benchmark::State &state)
{
    for (auto _ : state) {
        auto *editor = new VintrelleNativeEdit;
        editor->updateLibrary(limitLibrary());
        editor->showAtTopLeft(QPoint(40, 40));
        editor->grab(); // lays out and paints every visible row
        benchmark::DoNotOptimize(editor->treeModel()->rowCount());
        state.PauseTiming();
        delete editor;
        state.ResumeTiming();
    }
}

// A changed library arrives (one category renamed, as after a save) while a category is open and
// a plug-in selected; both must survive.
void updateLibrary(benchmark::State &state)
{
    VintrelleNativeEdit editor;
    editor.updateLibrary(limitLibrary());
    editor.showAtTopLeft(QPoint(40, 40));
    openTheUsersPlace(editor);
    QJsonArray changed = limitLibrary();
    QJsonObject renamed = changed[1500].toObject();
    renamed.insert("name", "Renamed category");
    changed[1500] = renamed;
    const QJsonArray versions[] = {changed, limitLibrary()};
    int turn = 0;
    for (auto _ : state) {
        editor.updateLibrary(versions[turn++ % 2]);
        editor.grab();
    }
    if (editor.selectedID() != selectedPlugin || !editor.expandedIDs().contains(openSubcategory))
        state.SkipWithError("the selection or the open categories were lost");
}

// From the click on "Rename" through the prompt and the saved file to the updated row.
void renameFromClick(benchmark::State &state)
{
    VintrelleTestHome home;
    home.apply();
    EditorHarness h(home.libraryPath(), limitLibrary());
    if (!h.ok) {
        state.SkipWithError("the library was not taken");
        return;
    }
    openTheUsersPlace(h.editor);
    int turn = 0;
    for (auto _ : state) {
        const QString name = QStringLiteral("Renamed %1").arg(++turn);
        h.editor.rename();
        while (!h.prompt.window()->isVisible())
            QCoreApplication::processEvents();
        h.prompt.field()->setText(name);
        h.prompt.save();
        const QModelIndex row = h.editor.treeModel()->indexForID(selectedPlugin);
        if (row.data().toString() != name.toUpper()) {
            state.SkipWithError("the row was not updated");
            return;
        }
        h.editor.grab();
    }
}

} // namespace

BENCHMARK(openEditor)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(updateLibrary)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(renameFromClick)->Unit(benchmark::kMillisecond)->UseRealTime();

int main(int argc, char **argv)
{
    return VintrelleRunBenchmarks<QApplication>(argc, argv, true);
}
