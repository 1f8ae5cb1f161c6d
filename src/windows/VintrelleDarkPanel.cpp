#include "VintrelleDarkPanel.h"

#include "VintrelleWindowHelpers.h"

#include <QPainter>
#include <QPainterPath>

namespace {

constexpr qreal cornerRadius = 10;

QPainterPath panelShape(const QRectF &bounds)
{
    QPainterPath path;
    path.addRoundedRect(bounds, cornerRadius, cornerRadius);
    return path;
}

} // namespace

VintrelleDarkPanel::VintrelleDarkPanel(int dragStripHeight)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_dragStripHeight(dragStripHeight)
{
    setAttribute(Qt::WA_TranslucentBackground);
}

void VintrelleDarkPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.fillPath(panelShape(bounds), QColor(0x1c, 0x1c, 0x20, 245));
    painter.setPen(QPen(QColor(255, 255, 255, 26), 1));
    painter.drawPath(panelShape(bounds));
}

void VintrelleDarkPanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    VintrelleCutRoundedCorners(this, cornerRadius);
}

void VintrelleDarkPanel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && event->position().y() < m_dragStripHeight)
        m_drag.begin(this, event);
    else
        QWidget::mousePressEvent(event);
}

void VintrelleDarkPanel::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.follow(this, event);
}

void VintrelleDarkPanel::mouseReleaseEvent(QMouseEvent *)
{
    m_drag.end();
}
