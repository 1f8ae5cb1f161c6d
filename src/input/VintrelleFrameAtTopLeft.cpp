#include "VintrelleFrameAtTopLeft.h"

#include <algorithm>

VintrelleUpRect VintrelleFrameAtTopLeft(QSize size, QPoint topLeft, const VintrelleUpRect &visible)
{
    const int w = size.width();
    const int h = size.height();
    const int left = std::max(std::min(topLeft.x(), visible.x + visible.width - w), visible.x);
    const int top = std::max(std::min(topLeft.y(), visible.y + visible.height), visible.y + h);
    return {left, top - h, w, h};
}

qsizetype VintrelleScreenIndexForTopLeft(const QList<VintrelleUpRect> &screenFrames, QPoint topLeft)
{
    const QPoint below(topLeft.x(), topLeft.y() - 1);
    for (qsizetype i = 0; i < screenFrames.size(); ++i)
        if (screenFrames[i].contains(below))
            return i;
    return -1;
}

namespace {

// Qt's desktop measures y downwards from the top of the primary screen; the fitting rules
// measure it upwards from the primary screen's bottom. `flip` is that bottom in Qt's terms.
struct UpwardSpace
{
    int flip;

    QPoint point(QPoint qt) const { return {qt.x(), flip - qt.y()}; }
    VintrelleUpRect rect(const QRect &qt) const
    {
        return {qt.x(), flip - (qt.y() + qt.height()), qt.width(), qt.height()};
    }
    QRect qtRect(const VintrelleUpRect &up) const { return {up.x, flip - up.top(), up.width, up.height}; }
};

} // namespace

QRect VintrelleWindowFrameForTopLeft(QSize size, QPoint topLeft, const QList<VintrelleScreenArea> &screens,
                                     qsizetype primary)
{
    if (screens.isEmpty())
        return {topLeft, size};
    primary = std::clamp<qsizetype>(primary, 0, screens.size() - 1);
    const QRect &main = screens[primary].frame;
    const UpwardSpace up{main.y() + main.height()};

    QList<VintrelleUpRect> frames;
    frames.reserve(screens.size());
    for (const VintrelleScreenArea &screen : screens)
        frames << up.rect(screen.frame);
    const QPoint corner = up.point(topLeft);
    qsizetype index = VintrelleScreenIndexForTopLeft(frames, corner);
    if (index < 0)
        index = primary;
    return up.qtRect(VintrelleFrameAtTopLeft(size, corner, up.rect(screens[index].available)));
}
