#pragma once

// The editor's compact height, on plain numbers. Coordinates are Qt's (y grows downward); the
// window keeps its top edge unless that would leave the screen's visible area.

#include <QList>
#include <QRectF>

struct VintrelleEditSizing
{
    double listHeight = 0;
    bool listHidden = true;
    QRectF frame; // the window's new frame
    bool frameChanged = false; // height or bottom edge moved by more than half a point
};

// The height of everything but the list: the column's top and bottom insets, the fitting height of
// every other shown view (rounded up), and the spacing between all shown views, the list included.
double VintrelleEditChromeHeight(const QList<double> &otherShownViewHeights, bool listShown, double spacing,
                                 double insets = 12);

// The list shows whole rows, as many as the visible area leaves room for (at least one row when
// there are rows); the window grows or shrinks below its top edge.
VintrelleEditSizing VintrelleEditCompactSize(double chromeHeight, double rowHeight, int rowCount,
                                             const QRectF &visibleFrame, const QRectF &windowFrame);
