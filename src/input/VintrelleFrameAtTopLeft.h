#pragma once

#include <QList>
#include <QPoint>
#include <QRect>
#include <QSize>

// Where a window opens: fitted to one screen's usable area with its top-left corner as close to
// a requested point as that area allows.
//
// The fitting rules are stated with y measured upwards (origin at the bottom-left of the main
// screen), so they are written that way here and nowhere else: VintrelleWindowFrameForTopLeft is
// the one place where Qt's y-down rectangles are turned into y-up ones and back.

// A rectangle with y measured upwards: (x, y) is its bottom-left corner.
struct VintrelleUpRect
{
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    int top() const { return y + height; }
    bool contains(QPoint point) const
    {
        return point.x() >= x && point.x() < x + width && point.y() >= y && point.y() < y + height;
    }
    bool operator==(const VintrelleUpRect &) const = default;
};

// The frame of a window of `size` whose top-left corner is as close to `topLeft` as `visible`
// allows, all y-up. Clamps in this order, the last one winning: a window wider than the area
// starts at its left edge, one taller than the area keeps its bottom on the area's bottom.
VintrelleUpRect VintrelleFrameAtTopLeft(QSize size, QPoint topLeft, const VintrelleUpRect &visible);

// The first screen whose frame holds the point one unit below `topLeft` (so a corner on a
// screen's top edge belongs to that screen), or -1 when none does. y-up.
qsizetype VintrelleScreenIndexForTopLeft(const QList<VintrelleUpRect> &screenFrames, QPoint topLeft);

// One screen as Qt reports it (y-down): its whole frame and the part windows may use.
struct VintrelleScreenArea
{
    QRect frame;
    QRect available;
};

// The frame (y-down) for a window of `size` at the Qt point `topLeft`: the screen is chosen by
// VintrelleScreenIndexForTopLeft in the order given, `primary` when none holds the corner. An
// empty screen list keeps the window where it was asked to be.
QRect VintrelleWindowFrameForTopLeft(QSize size, QPoint topLeft, const QList<VintrelleScreenArea> &screens,
                                     qsizetype primary);
