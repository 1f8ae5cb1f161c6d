#pragma once

// What the benchmarks share: running the registered benchmarks inside a Qt application.

#include <QByteArray>

#include <benchmark/benchmark.h>

// Runs every registered benchmark inside an `Application` (QCoreApplication, QGuiApplication or
// QApplication); `offscreen` keeps windows off any display, as the widget tests do.
template <typename Application>
int VintrelleRunBenchmarks(int argc, char **argv, bool offscreen = false)
{
    if (offscreen)
        qputenv("QT_QPA_PLATFORM", "offscreen");
    Application application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
