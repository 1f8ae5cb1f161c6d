// The quick menu on the offscreen platform: from showAtPoint to the menu's first paint, for a
// typical library (50 categories, 500 plug-ins) and at the limits (2,000 categories, 20,000
// plug-ins, 500 of the categories at the top level), and opening the deepest level that lists
// rows (63, inside a chain of 64 nested categories) at the limits.
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   ninja -C build-bench bench_quick_menu
//   build-bench/bin/bench_quick_menu --benchmark_repetitions=7 --benchmark_report_aggregates_only=true

#include "menu/QuickMenuTestSupport.h"
#include "VintrelleBenchSupport.h"

#include <QApplication>
#include <QElapsedTimer>


namespace {

// Notes the first paint of a given menu.
class PaintWatcher : public QObject
{
public:
    QObject *watched = nullptr;
    bool painted = false;

    PaintWatcher() { qApp->installEventFilter(this); }
    ~PaintWatcher() override { qApp->removeEventFilter(this); }

    void watch(QObject *object)
    {
        watched = object;
        painted = false;
    }

protected:
    bool eventFilter(QObject *object, QEvent *event) override
    {
        if (event->type() == QEvent::Paint && object == watched)
            painted = true;
        return false;
    }
};

void waitForPaint(PaintWatcher &watcher)
{
    while (!watcher.painted)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::processEvents(); // children of the menu paint in the same pass
}

void closeAndDispose(VintrelleQuickMenuPresenter &presenter)
{
    presenter.close();
    while (presenter.isOpen())
        QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

void showToFirstPaint(benchmark::State &state, const QJsonArray &categories)
{
    VintrelleQuickMenuPresenter presenter;
    PaintWatcher watcher;
    for (auto _ : state) {
        QElapsedTimer timer;
        timer.start();
        // The menu is created inside showAtPoint; watch the next top-level menu that paints.
        watcher.watch(nullptr);
        presenter.showAtPoint(categories, {100, 100});
        watcher.watch(presenter.menu());
        waitForPaint(watcher);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        closeAndDispose(presenter);
    }
}

void typicalLibrary(benchmark::State &state)
{
    showToFirstPaint(state, generatedCategories(50, 500));
}

void libraryAtTheLimits(benchmark::State &state)
{
    showToFirstPaint(state, limitsCategories());
}

// The same 2,000 categories and 20,000 plug-ins with 50 categories at the top level: the cost of
// the main level follows its own rows, not the library's size.
void limitsWithFiftyAtTheTop(benchmark::State &state)
{
    QJsonArray categories = limitsCategories();
    for (qsizetype c = 65; c < categories.size(); ++c) {
        QJsonObject category = categories[c].toObject();
        category["parentId"] = c % 40 == 0 ? QJsonValue() : QJsonValue(QStringLiteral("C%1").arg(c - c % 40));
        categories[c] = category;
    }
    showToFirstPaint(state, categories);
}

// Opens the chain C0 > C1 > ... level by level, then times the opening of level 63.
void deepestSubmenuAtTheLimits(benchmark::State &state)
{
    const QJsonArray categories = limitsCategories();
    VintrelleQuickMenuPresenter presenter;
    PaintWatcher watcher;
    for (auto _ : state) {
        presenter.showAtPoint(categories, {0, 0});
        QMenu *menu = presenter.menu();
        QAction *row = nullptr;
        for (QAction *action : menu->actions())
            if (action->data().toString() == QLatin1String("C0"))
                row = action;
        for (int level = 1; level < 63; ++level) {
            row->menu()->popup({level, level});
            row = row->menu()->actions().first(); // the next category of the chain comes first
        }
        QMenu *deepest = row->menu();
        QCoreApplication::processEvents(); // every level above is on screen and painted
        QElapsedTimer timer;
        timer.start();
        watcher.watch(deepest);
        deepest->popup({63, 63});
        waitForPaint(watcher);
        state.SetIterationTime(double(timer.nsecsElapsed()) / 1e9);
        if (deepest->actions().size() != 11) // C63, then the ten plug-ins of C62
            state.SkipWithError("the deepest level does not list what it should");
        closeAndDispose(presenter);
    }
}

} // namespace

BENCHMARK(typicalLibrary)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(libraryAtTheLimits)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(limitsWithFiftyAtTheTop)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(deepestSubmenuAtTheLimits)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(20);

int main(int argc, char **argv)
{
    return VintrelleRunBenchmarks<QApplication>(argc, argv, true);
}
