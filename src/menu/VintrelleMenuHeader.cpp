#include "VintrelleMenuHeader.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDateTime>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <cmath>
#include <numbers>

namespace {

const QString title = QStringLiteral("VINTRELLE");
const QString help = QStringLiteral("Drag the header to move Vintrelle.");

// The header reads as one line of static text to assistive technology.
class HeaderAccessible : public QAccessibleWidget
{
public:
    explicit HeaderAccessible(QWidget *widget) : QAccessibleWidget(widget, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override
    {
        return t == QAccessible::Help ? help : QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *headerAccessibleFactory(const QString &className, QObject *object)
{
    if (className == QLatin1String("VintrelleMenuHeader") && object && object->isWidgetType())
        return new HeaderAccessible(static_cast<QWidget *>(object));
    return nullptr;
}

QFont titleFont()
{
    QFont font = QGuiApplication::font();
    font.setPixelSize(18);
    font.setWeight(QFont::Bold);
    return font;
}

QFont statusFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(10);
    font.setWeight(QFont::DemiBold);
    return font;
}

} // namespace

VintrelleMenuHeader::VintrelleMenuHeader(QWidget *parent)
    : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(headerAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;

    setObjectName(QStringLiteral("vintrelle-menu-brand"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setMinimumSize(preferredWidth(), headerHeight);
    setFocusPolicy(Qt::NoFocus);
    setAccessibleDescription(help);
    setWhatsThis(help);
    setCursor(Qt::PointingHandCursor);
    m_blinkTimer.setInterval(redrawInterval);
    connect(&m_blinkTimer, &QTimer::timeout, this, [this] { update(); });
    setConnected(false);
}

VintrelleMenuHeader::~VintrelleMenuHeader()
{
    endHeaderDrag();
}

int VintrelleMenuHeader::preferredWidth()
{
    return int(std::ceil(QFontMetricsF(titleFont()).horizontalAdvance(title))) + 24;
}

QColor VintrelleMenuHeader::statusColor(bool connected, bool darkAppearance)
{
    if (!connected)
        return QColor::fromRgbF(0.7f, 0.62f, 0.48f);
    return darkAppearance ? QColor::fromRgbF(0.459f, 0.812f, 0.588f) : QColor::fromRgbF(0.157f, 0.447f, 0.278f);
}

double VintrelleMenuHeader::statusOpacity(bool connected, double seconds)
{
    if (connected)
        return 1.0;
    return 0.65 + 0.35 * std::cos(2 * std::numbers::pi * seconds / pulsePeriod);
}

double VintrelleMenuHeader::pulseClock()
{
    constexpr qint64 referenceDate = 978307200; // 2001-01-01T00:00:00Z in Unix seconds
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - double(referenceDate);
}

void VintrelleMenuHeader::setConnected(bool connected)
{
    m_connected = connected;
    setAccessibleName(connected ? QStringLiteral("Vintrelle. Connected to Ableton.")
                                : QStringLiteral("Vintrelle. Not connected to Ableton."));
    updatePulse();
    update();
}

void VintrelleMenuHeader::setTextInset(int inset)
{
    m_textInset = inset;
    update();
}

void VintrelleMenuHeader::setOwnerMenu(QMenu *menu)
{
    m_ownerMenu = menu;
    setCursor(menu ? Qt::ArrowCursor : Qt::PointingHandCursor);
}

void VintrelleMenuHeader::setDarkTheme(bool dark)
{
    m_darkTheme = dark;
    update();
}

// Redraws only matter while the status pulses, and only while the header is on screen.
void VintrelleMenuHeader::updatePulse()
{
    if (!m_connected && isVisible())
        m_blinkTimer.start();
    else
        m_blinkTimer.stop();
}

void VintrelleMenuHeader::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    updatePulse();
}

void VintrelleMenuHeader::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updatePulse();
    endHeaderDrag();
}

void VintrelleMenuHeader::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const int textWidth = std::max(0, width() - m_textInset);

    painter.setFont(titleFont());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(QRect(m_textInset, 3, textWidth, 24), Qt::AlignLeft | Qt::AlignTop, title);

    // The drawing follows the appearance it sits on, whatever the stored theme flag says.
    const bool dark = palette().color(QPalette::Window).lightnessF() < 0.5;
    QColor status = statusColor(m_connected, dark);
    status.setAlphaF(float(statusOpacity(m_connected, pulseClock())));
    painter.setFont(statusFont());
    painter.setPen(status);
    painter.drawText(QRect(m_textInset, 27, textWidth, 16), Qt::AlignLeft | Qt::AlignTop,
                     m_connected ? QStringLiteral("CONNECTED") : QStringLiteral("NOT CONNECTED"));
}

void VintrelleMenuHeader::beginHeaderDragAtPoint(const QPoint &point)
{
    m_pressed = true;
    m_dragging = false;
    m_dragStartPoint = point;
    m_dragStartOrigin = window()->pos();
}

void VintrelleMenuHeader::moveHeaderDragToPoint(const QPoint &point)
{
    if (!m_pressed)
        return;
    const QPoint offset = point - m_dragStartPoint;
    if (!m_dragging) {
        if (std::hypot(double(offset.x()), double(offset.y())) < dragThreshold)
            return;
        m_dragging = true;
        QGuiApplication::setOverrideCursor(Qt::ClosedHandCursor);
    }
    QWidget *moved = window();
    moved->move(m_dragStartOrigin + offset);
    if (onMoved)
        onMoved(moved->pos());
}

void VintrelleMenuHeader::endHeaderDrag()
{
    if (m_dragging)
        QGuiApplication::restoreOverrideCursor();
    m_dragging = false;
    m_pressed = false;
}

// The header takes every click inside it, so none reaches the menu behind it.
void VintrelleMenuHeader::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton && m_ownerMenu && window() && window()->isVisible())
        beginHeaderDragAtPoint(event->globalPosition().toPoint());
}

void VintrelleMenuHeader::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
    if (event->buttons() & Qt::LeftButton)
        moveHeaderDragToPoint(event->globalPosition().toPoint());
}

void VintrelleMenuHeader::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
    if (event->button() == Qt::LeftButton)
        endHeaderDrag();
}

void VintrelleMenuHeader::mouseDoubleClickEvent(QMouseEvent *event)
{
    event->accept();
}
