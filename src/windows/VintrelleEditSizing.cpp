#include "VintrelleEditSizing.h"

#include <algorithm>
#include <cmath>

double VintrelleEditChromeHeight(const QList<double> &otherShownViewHeights, bool listShown, double spacing,
                                 double insets)
{
    double height = insets;
    for (double viewHeight : otherShownViewHeights)
        height += std::ceil(viewHeight);
    const qsizetype shown = otherShownViewHeights.size() + (listShown ? 1 : 0);
    if (shown > 1)
        height += double(shown - 1) * spacing;
    return height;
}

VintrelleEditSizing VintrelleEditCompactSize(double chromeHeight, double rowHeight, int rowCount,
                                             const QRectF &visibleFrame, const QRectF &windowFrame)
{
    VintrelleEditSizing sizing;
    sizing.listHidden = rowCount <= 0;
    const double fitting = std::max(std::floor((visibleFrame.height() - chromeHeight) / rowHeight) * rowHeight, rowHeight);
    sizing.listHeight = std::min(fitting, std::max(rowCount, 0) * rowHeight);
    const double height = std::ceil(chromeHeight + sizing.listHeight);
    // Keep the top edge; then stay above the visible bottom, and finally below the visible top,
    // which wins when the window is taller than the visible area.
    double top = windowFrame.top();
    top = std::min(top, visibleFrame.bottom() - height);
    top = std::max(top, visibleFrame.top());
    sizing.frame = QRectF(windowFrame.left(), top, windowFrame.width(), height);
    sizing.frameChanged = std::abs(height - windowFrame.height()) > 0.5
                          || std::abs(sizing.frame.bottom() - windowFrame.bottom()) > 0.5;
    return sizing;
}
