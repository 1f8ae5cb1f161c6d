#include "VintrelleWelcomeMotion.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr double driftDuration = 16;

// Key frames at 0, 1/3, 2/3 and 1 of a shape's cycle, the last equal to the first.
using KeyFrames = std::array<double, 4>;
constexpr KeyFrames scaleX{0.85, 1.2, 0.94, 0.85};
constexpr KeyFrames scaleY{1.15, 0.8, 1.08, 1.15};
constexpr KeyFrames evenTranslateX{0, 58, -42, 0};
constexpr KeyFrames oddTranslateX{0, -64, 34, 0};
constexpr KeyFrames evenTranslateY{0, -38, 32, 0};
constexpr KeyFrames oddTranslateY{0, 40, -24, 0};
constexpr KeyFrames rotation{-0.22, 0.18, -0.05, -0.22};

double bezier(double t, double p1, double p2)
{
    const double u = 1 - t;
    return 3 * u * u * t * p1 + 3 * u * t * t * p2 + t * t * t;
}

double bezierSlope(double t, double p1, double p2)
{
    const double u = 1 - t;
    return 3 * u * u * p1 + 6 * u * t * (p2 - p1) + 3 * t * t * (1 - p2);
}

double interpolate(const KeyFrames &frames, double fraction)
{
    const double position = std::clamp(fraction, 0.0, 1.0) * double(frames.size() - 1);
    const auto segment = std::min<std::size_t>(std::size_t(position), frames.size() - 2);
    const double within = position - double(segment);
    return frames[segment] + (frames[segment + 1] - frames[segment]) * within;
}

// Where in [0, period) a time falls, also for times before the start.
double phase(double seconds, double period)
{
    const double value = std::fmod(seconds, period);
    return value < 0 ? value + period : value;
}

} // namespace

double VintrelleWelcomeEase(double fraction)
{
    constexpr double x1 = 0.42, x2 = 0.58;
    const double x = std::clamp(fraction, 0.0, 1.0);
    // Newton's method on the curve's x, starting from x itself; the curve is monotonic, so a
    // bisection finishes the few cases Newton's steps leave.
    double t = x;
    for (int step = 0; step < 8; ++step) {
        const double error = bezier(t, x1, x2) - x;
        if (std::abs(error) < 1e-9)
            return bezier(t, 0, 1);
        const double slope = bezierSlope(t, x1, x2);
        if (std::abs(slope) < 1e-6)
            break;
        t = std::clamp(t - error / slope, 0.0, 1.0);
    }
    double low = 0, high = 1;
    t = x;
    for (int step = 0; step < 40; ++step) {
        if (bezier(t, x1, x2) < x)
            low = t;
        else
            high = t;
        t = (low + high) / 2;
    }
    return bezier(t, 0, 1);
}

VintrelleWelcomeTransform VintrelleWelcomeDrift(double seconds)
{
    const double within = phase(seconds, 2 * driftDuration);
    const double forward = within <= driftDuration ? within / driftDuration : (2 * driftDuration - within) / driftDuration;
    const double eased = VintrelleWelcomeEase(forward);
    VintrelleWelcomeTransform transform;
    transform.translateX = -38 + 76 * eased;
    transform.translateY = -26 + 52 * eased;
    transform.rotation = -0.12 + 0.24 * eased;
    return transform;
}

VintrelleWelcomeTransform VintrelleWelcomeShapeFlow(int index, double seconds)
{
    const double duration = 13 + 3 * double(index);
    const double eased = VintrelleWelcomeEase(phase(seconds + 3.7 * double(index), duration) / duration);
    const bool even = index % 2 == 0;
    VintrelleWelcomeTransform transform;
    transform.scaleX = interpolate(scaleX, eased);
    transform.scaleY = interpolate(scaleY, eased);
    transform.translateX = interpolate(even ? evenTranslateX : oddTranslateX, eased);
    transform.translateY = interpolate(even ? evenTranslateY : oddTranslateY, eased);
    transform.rotation = interpolate(rotation, eased);
    return transform;
}
