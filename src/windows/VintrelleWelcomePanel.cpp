#include "VintrelleWelcomePanel.h"

#include "VintrelleWindowHelpers.h"

#include <QCloseEvent>
#include <QKeyEvent>

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

void VintrelleWelcomePanel::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!m_translucent)
        VintrelleCutRoundedCorners(this, cornerRadius);
}
