#include "VintrelleDragPreview.h"

#include <QPainter>

VintrelleDragPreview::VintrelleDragPreview(const QPixmap &image, QWidget *parent)
    : QWidget(parent), m_image(image)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    resize(image.deviceIndependentSize().toSize());
}

void VintrelleDragPreview::setNotice(const QString &notice)
{
    if (notice == m_notice)
        return;
    m_notice = notice;
    update();
}

void VintrelleDragPreview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setOpacity(0.92);
    painter.drawPixmap(rect(), m_image);
    if (m_notice.isEmpty())
        return;
    painter.setOpacity(1);
    QFont font = painter.font();
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    const QRect box = painter.fontMetrics().boundingRect(m_notice).adjusted(-6, -2, 6, 2);
    const QRect placed(width() - box.width() - 6, (height() - box.height()) / 2, box.width(), box.height());
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x1c, 0x1c, 0x20, 230));
    painter.drawRoundedRect(placed, 4, 4);
    painter.setPen(QColor(0xf5, 0xc2, 0x6b));
    painter.drawText(placed, Qt::AlignCenter, m_notice);
}
