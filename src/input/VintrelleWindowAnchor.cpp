#include "VintrelleWindowAnchor.h"

void VintrelleWindowAnchor::menuRequestedAt(QPoint point)
{
    m_menuPoint = point;
    m_frameTopLeft.reset();
}

void VintrelleWindowAnchor::menuMovedTo(QPoint topLeft)
{
    m_menuPoint = topLeft;
    m_frameTopLeft = topLeft;
}

QPoint VintrelleWindowAnchor::secondaryWindowAnchor(std::optional<QPoint> openMenuTopLeft, QPoint pointer)
{
    if (openMenuTopLeft)
        m_frameTopLeft = openMenuTopLeft;
    return m_frameTopLeft.value_or(m_menuPoint.value_or(pointer));
}

void VintrelleWindowAnchor::rememberNativeWindowPosition(QPoint topLeft)
{
    const QPoint offset = m_menuPoint && m_frameTopLeft ? *m_menuPoint - *m_frameTopLeft : QPoint();
    m_frameTopLeft = topLeft;
    m_menuPoint = topLeft + offset;
}
