// From the X event that completes a gesture to the program's callback, and how often the input
// layer wakes the program while nothing happens. Needs an X server with RECORD and XTest:
//   tests/x11/with-x11-session.sh --no-wm --no-tray build-bench/bin/bench_global_input
// (no window manager, so right clicks on the root window open no desktop menu).
//
// Manual time: from sending the completing event to the callback, on this machine's clock.
// Counter server_to_callback_ms: the callback's time minus the X server's timestamp of the
// event; both are CLOCK_MONOTONIC milliseconds on Xvfb and Xorg, so it has 1 ms resolution.

#include "VintrelleGlobalInput.h"
#include "VintrelleBenchSupport.h"

#include <QAbstractEventDispatcher>
#include <QEventLoop>
#include <QGuiApplication>
#include <QThread>
#include <QTimer>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>


#include <algorithm>
#include <chrono>
#include <thread>
#include <time.h>
#include <vector>

namespace {

double monotonicMilliseconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

struct Fixture
{
    Fixture() : display(XOpenDisplay(nullptr)), input(VintrelleGlobalInput::create())
    {
        input->startObserving(nullptr);
        QObject::connect(input.get(), &VintrelleGlobalInput::hotKeyPressed, [this] { fired(); });
        QObject::connect(input.get(), &VintrelleGlobalInput::optionDoubleTapped, [this] { fired(); });
        QObject::connect(input.get(), &VintrelleGlobalInput::doubleRightClick, [this] { fired(); });
    }
    ~Fixture() { XCloseDisplay(display); }

    void fired()
    {
        calledAt = monotonicMilliseconds();
        ++calls;
        waiting.quit();
    }

    void key(KeySym keysym, bool down) { XTestFakeKeyEvent(display, XKeysymToKeycode(display, keysym), down, 0); }
    void button(unsigned int number, bool down) { XTestFakeButtonEvent(display, number, down, 0); }

    // Sends what `last` adds, then waits for the callback; answers false on a time-out.
    template<typename Send>
    bool measure(benchmark::State &state, Send last, std::vector<double> &sendLatencies,
                 std::vector<double> &serverLatencies)
    {
        const int before = calls;
        const double sentAt = monotonicMilliseconds();
        last();
        XFlush(display);
        // Blocks in the event loop as the application does, so the wake-up is part of the cost.
        QTimer::singleShot(2000, &waiting, &QEventLoop::quit);
        if (calls == before)
            waiting.exec();
        if (calls == before)
            return false;
        state.SetIterationTime((calledAt - sentAt) / 1000.0);
        sendLatencies.push_back(calledAt - sentAt);
        serverLatencies.push_back(calledAt - input->lastGestureTime() * 1000.0);
        return true;
    }

    Display *display;
    std::unique_ptr<VintrelleGlobalInput> input;
    QEventLoop waiting;
    int calls = 0;
    double calledAt = 0;
};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void reportMedians(benchmark::State &state, const std::vector<double> &send, const std::vector<double> &server)
{
    state.counters["send_to_callback_median_ms"] = median(send);
    state.counters["server_to_callback_median_ms"] = median(server);
    state.counters["server_to_callback_max_ms"] = server.empty() ? 0 : *std::max_element(server.begin(), server.end());
}

// Runs the event loop, blocking, for `milliseconds`.
void idle(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void BM_HotKey(benchmark::State &state)
{
    Fixture fixture;
    fixture.input->combo = [] { return QStringLiteral("control-option"); };
    if (!fixture.input->applyShortcut("control-option", "P", nullptr))
        return state.SkipWithError("the shortcut could not be grabbed");
    std::vector<double> sendLatencies, latencies;
    for (auto _ : state) {
        fixture.key(XK_Control_L, true);
        fixture.key(XK_Alt_L, true);
        const bool arrived = fixture.measure(state, [&] { fixture.key(XK_p, true); }, sendLatencies, latencies);
        fixture.key(XK_p, false);
        fixture.key(XK_Alt_L, false);
        fixture.key(XK_Control_L, false);
        XFlush(fixture.display);
        if (!arrived)
            return state.SkipWithError("the hot key never arrived");
    }
    reportMedians(state, sendLatencies, latencies);
}

void BM_OptionDoubleTap(benchmark::State &state)
{
    Fixture fixture;
    fixture.input->combo = [] { return QStringLiteral("double-option"); };
    std::vector<double> sendLatencies, latencies;
    for (auto _ : state) {
        fixture.key(XK_Alt_L, true);
        fixture.key(XK_Alt_L, false);
        fixture.key(XK_Alt_L, true);
        if (!fixture.measure(state, [&] { fixture.key(XK_Alt_L, false); }, sendLatencies, latencies))
            return state.SkipWithError("the double tap was not recognised");
    }
    reportMedians(state, sendLatencies, latencies);
}

void BM_DoubleRightClick(benchmark::State &state)
{
    Fixture fixture;
    std::vector<double> sendLatencies, latencies;
    XTestFakeMotionEvent(fixture.display, -1, 400, 300, 0);
    for (auto _ : state) {
        fixture.button(3, true);
        fixture.button(3, false);
        fixture.button(3, true);
        XFlush(fixture.display);
        // The pair needs the second release to come later than the first on the server's clock.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!fixture.measure(state, [&] { fixture.button(3, false); }, sendLatencies, latencies))
            return state.SkipWithError("the double right-click was not recognised");
    }
    reportMedians(state, sendLatencies, latencies);
}

// Event-loop wake-ups over an idle period, with the input layer observing (1) or absent (0).
void BM_IdleWakeups(benchmark::State &state)
{
    const int seconds = qEnvironmentVariableIntValue("VINTRELLE_IDLE_SECONDS") > 0
        ? qEnvironmentVariableIntValue("VINTRELLE_IDLE_SECONDS")
        : 10;
    for (auto _ : state) {
        std::unique_ptr<Fixture> fixture;
        if (state.range(0))
            fixture = std::make_unique<Fixture>();
        idle(200);
        int wakeups = 0;
        const QMetaObject::Connection counting = QObject::connect(
            QThread::currentThread()->eventDispatcher(), &QAbstractEventDispatcher::awake, [&] { ++wakeups; });
        idle(seconds * 1000);
        QObject::disconnect(counting);
        state.counters["wakeups"] = wakeups;
        state.counters["seconds"] = seconds;
    }
}

} // namespace

BENCHMARK(BM_HotKey)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_OptionDoubleTap)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_DoubleRightClick)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_IdleWakeups)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

int main(int argc, char **argv)
{
    return VintrelleRunBenchmarks<QGuiApplication>(argc, argv);
}
