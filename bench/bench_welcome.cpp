// One frame of the welcome window's moving background at 440 × 242 on the offscreen platform:
// the whole window (gradient, glowing shapes, status, texts and glass buttons) painted into an
// image while the animation runs, and the same with the background still.
//   cmake -S . -B build-bench -G Ninja -DVINTRELLE_BENCHMARKS=ON -DCMAKE_BUILD_TYPE=Release
//   ninja -C build-bench bench_welcome
//   build-bench/bin/bench_welcome --benchmark_repetitions=7 --benchmark_report_aggregates_only=true

#include "VintrelleNativeWelcome.h"
#include "VintrelleWelcomeArt.h"

#include <QApplication>
#include <QImage>
#include <QPainter>

#include <benchmark/benchmark.h>

namespace {

void paintFrames(benchmark::State &state, bool moving)
{
    VintrelleNativeWelcome welcome(true);
    welcome.onConnect = [] {};
    welcome.setReducedMotion(!moving);
    welcome.updateConnected(false, true);
    welcome.openAtPoint({0, 0});
    QCoreApplication::processEvents();
    QWidget *window = welcome.window();
    QImage frame(window->size() * window->devicePixelRatio(), QImage::Format_ARGB32_Premultiplied);
    frame.setDevicePixelRatio(window->devicePixelRatio());
    for (auto _ : state) {
        frame.fill(Qt::transparent);
        window->render(&frame, {}, {}, QWidget::DrawWindowBackground | QWidget::DrawChildren);
        benchmark::DoNotOptimize(frame.constBits());
    }
    if (moving && !welcome.art()->isAnimating())
        state.SkipWithError("the background was not moving");
    welcome.hide();
}

void BM_WelcomeFrameMoving(benchmark::State &state) { paintFrames(state, true); }
void BM_WelcomeFrameStill(benchmark::State &state) { paintFrames(state, false); }

BENCHMARK(BM_WelcomeFrameMoving)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_WelcomeFrameStill)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
