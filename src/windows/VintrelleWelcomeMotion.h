#pragma once

// The welcome window's background motion as plain arithmetic: where the gradient and each of the
// four glowing shapes stand `seconds` after the animation started. The window only draws what
// these functions answer, so the timings are tested without a window.

// A move, a turn about the centre and a stretch (scale first when drawing), with y upwards and
// positive turns counter-clockwise, as the values were designed; the art flips both for Qt.
struct VintrelleWelcomeTransform
{
    double translateX = 0;
    double translateY = 0;
    double rotation = 0; // radians
    double scaleX = 1;
    double scaleY = 1;
};

// The ease-in-ease-out timing curve, the cubic Bézier through (0.42, 0) and (0.58, 1): maps a
// fraction of a cycle (0 to 1, clamped) to a fraction of the way between two values.
double VintrelleWelcomeEase(double fraction);

// The gradient's drift: 16 seconds from (-38, -26, -0.12 rad) to (38, 26, 0.12 rad), then back,
// eased both ways, forever.
VintrelleWelcomeTransform VintrelleWelcomeDrift(double seconds);

// Shape `index` (0 to 3): one eased pass through four key frames in 13 + 3 × index seconds,
// begun 3.7 × index seconds into its cycle, forever. Even and odd shapes move in opposite ways.
VintrelleWelcomeTransform VintrelleWelcomeShapeFlow(int index, double seconds);
