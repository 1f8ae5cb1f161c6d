#include "VintrelleQuickMenuOpening.h"

VintrelleQuickMenuOpening::Decision VintrelleQuickMenuOpening::request(QPoint point, bool namePromptVisible,
                                                                       bool menuOpen, bool libraryLoaded)
{
    if (namePromptVisible)
        return Decision::RaiseNamePrompt;
    if (menuOpen)
        return Decision::Ignore;
    if (!libraryLoaded) {
        m_pending = point;
        return Decision::Defer;
    }
    return Decision::Open;
}

std::optional<QPoint> VintrelleQuickMenuOpening::takePending()
{
    std::optional<QPoint> point = m_pending;
    m_pending.reset();
    return point;
}
