#include "VintrelleWelcomeStatus.h"

#include <QFontDatabase>
#include <QPainter>

VintrelleWelcomeStatus::VintrelleWelcomeStatus(QWidget *parent)
    : VintrelleMenuHeader(parent)
{
    setObjectName(QStringLiteral("vintrelle-welcome-status"));
    setMinimumSize(0, statusHeight);
    setFixedHeight(statusHeight);
    setTextInset(0);
    setCursor(Qt::ArrowCursor);
    setConnected(false);
}

QString VintrelleWelcomeStatus::statusText(bool connected)
{
    return connected ? QStringLiteral("CONNECTED") : QStringLiteral("NOT CONNECTED");
}

QString VintrelleWelcomeStatus::accessibleText(bool connected)
{
    return connected ? QStringLiteral("Connected to Ableton.") : QStringLiteral("Not connected to Ableton.");
}

void VintrelleWelcomeStatus::setConnected(bool connected)
{
    VintrelleMenuHeader::setConnected(connected);
    setAccessibleName(accessibleText(connected));
}

void VintrelleWelcomeStatus::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    painter.setFont(font);
    // The window is always dark, so the status takes the dark appearance's colours.
    QColor colour = statusColor(connected(), true);
    colour.setAlphaF(float(statusOpacity(connected(), pulseClock())));
    painter.setPen(colour);
    painter.drawText(QRect(textInset(), 0, std::max(0, width() - textInset()), height()), Qt::AlignLeft | Qt::AlignVCenter,
                     statusText(connected()));
}
