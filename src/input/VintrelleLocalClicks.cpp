#include "VintrelleLocalClicks.h"

bool mouseInsideVisiblePanels(const QList<VintrellePanelFrame> &panels, QPointF pointer)
{
    for (const VintrellePanelFrame &panel : panels)
        if (panel.exists && panel.visible && panel.frame.contains(pointer))
            return true;
    return false;
}
