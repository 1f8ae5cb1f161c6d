#include "VintrelleEditHeader.h"

#include "VintrelleWindowDrag.h"

#include <QDateTime>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <cmath>

VintrelleEditHeader::VintrelleEditHeader(QWidget *parent)
    : QWidget(parent), m_pulse(new QTimer(this))
{
    setFixedHeight(46);
    setCursor(Qt::PointingHandCursor);
    setToolTip(tr("Drag the header to move Vintrelle."));
    setAccessibleName(tr("Vintrelle. Not connected to Ableton."));
    m_pulse->setInterval(150);
    connect(m_pulse, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_pulse->start();
}

void VintrelleEditHeader::setConnected(bool connected)
{
    m_connected = connected;
    setAccessibleName(connected ? tr("Vintrelle. Connected to Ableton.") : tr("Vintrelle. Not connected to Ableton."));
    // Only the disconnected state pulses, so a connected header costs no redraws.
    if (connected)
        m_pulse->stop();
    else
        m_pulse->start();
    update();
}

void VintrelleEditHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont title = font();
    title.setPixelSize(18);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(QColor(0xf4, 0xf4, 0xf5));
    painter.drawText(QRect(0, 3, width(), 22), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("VINTRELLE"));

    QColor status = m_connected ? QColor::fromRgbF(0.459f, 0.812f, 0.588f) : QColor::fromRgbF(0.7f, 0.62f, 0.48f);
    if (!m_connected) {
        const double seconds = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
        status.setAlphaF(float(0.65 + 0.35 * std::cos(2 * M_PI * seconds / 1.8)));
    }
    QFont mono(QStringLiteral("monospace"));
    mono.setStyleHint(QFont::Monospace);
    mono.setPixelSize(10);
    mono.setWeight(QFont::DemiBold);
    painter.setFont(mono);
    painter.setPen(status);
    painter.drawText(QRect(0, 27, width(), 14), Qt::AlignLeft | Qt::AlignVCenter,
                     m_connected ? QStringLiteral("CONNECTED") : QStringLiteral("NOT CONNECTED"));
}

void VintrelleEditHeader::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_drag.begin(window(), event);
}

void VintrelleEditHeader::mouseMoveEvent(QMouseEvent *event)
{
    m_drag.follow(window(), event);
}

void VintrelleEditHeader::mouseReleaseEvent(QMouseEvent *)
{
    m_drag.end();
}
