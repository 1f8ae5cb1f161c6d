#include "VintrelleWelcomePanel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainterPath>

namespace {

constexpr qreal cornerRadius = 8;

} // namespace

VintrelleWelcomePanel::VintrelleWelcomePanel(bool translucent)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
    , m_translucent(translucent)
{
    setObjectName(QStringLiteral("vintrelle-welcome"));
    setWindowTitle(tr("Welcome to Vintrelle"));
    setAttribute(Qt::WA_TranslucentBackground, translucent);
    setFixedSize(panelWidth, panelHeight);
}

void VintrelleWelcomePanel::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

// Closing only hides the panel; it is kept for the next welcome.
void VintrelleWelcomePanel::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    if (event->isAccepted())
        emit closed();
}

void VintrelleWelcomePanel::moveEvent(QMoveEvent *event)
{
    QWidget::moveEvent(event);
    if (isVisible())
        emit moved();
}

// Without a compositor an X11 window's clear corners would show black; the mask cuts them off.
void VintrelleWelcomePanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_translucent && QGuiApplication::platformName() == QLatin1String("xcb")) {
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), cornerRadius, cornerRadius);
        setMask(QRegion(shape.toFillPolygon().toPolygon()));
    }
}
