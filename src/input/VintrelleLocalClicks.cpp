#include "VintrelleLocalClicks.h"

bool mouseInsideVisiblePanels(const QList<VintrellePanelFrame> &panels, QPointF pointer)
{
    for (const VintrellePanelFrame &panel : panels)
        if (panel.exists && panel.visible && panel.frame.contains(pointer))
            return true;
    return false;
}

bool VintrelleContextReleaseSuppression::swallow(VintrelleInputEvent::Kind kind, double now)
{
    using Kind = VintrelleInputEvent::Kind;
    if (!pending())
        return false;
    if (now - m_requestedAt > lifetime || now < m_requestedAt) {
        m_requestedAt = -1;
        return false;
    }
    if (kind == Kind::RightMouseUp) {
        m_requestedAt = -1;
        return true;
    }
    if (kind == Kind::LeftMouseDown || kind == Kind::RightMouseDown || kind == Kind::OtherMouseDown)
        m_requestedAt = -1;
    return false;
}
