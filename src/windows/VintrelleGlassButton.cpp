#include "VintrelleGlassButton.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int buttonHeight = 32;

QFont titleFont(QFont font)
{
    font.setPixelSize(11);
    font.setWeight(QFont::DemiBold);
    return font;
}

QPainterPath capsule(const QRectF &bounds)
{
    const qreal radius = bounds.height() / 2; // the corners stay round at any height
    QPainterPath path;
    path.addRoundedRect(bounds, radius, radius);
    return path;
}

// A box blur run three times, close to a Gaussian of the given radius, on the alpha channel.
void blurAlpha(QImage &image, int radius)
{
    const int width = image.width(), rows = image.height();
    std::vector<int> line(std::size_t(std::max(width, rows)));
    const int box = std::max(1, radius / 2);
    auto pass = [&](bool horizontal) {
        const int length = horizontal ? width : rows, count = horizontal ? rows : width;
        for (int i = 0; i < count; ++i) {
            auto pixel = [&](int j) -> QRgb & {
                return reinterpret_cast<QRgb *>(image.scanLine(horizontal ? i : j))[horizontal ? j : i];
            };
            for (int j = 0; j < length; ++j)
                line[std::size_t(j)] = qAlpha(pixel(j));
            int sum = 0;
            for (int j = -box; j <= box; ++j)
                sum += line[std::size_t(std::clamp(j, 0, length - 1))];
            for (int j = 0; j < length; ++j) {
                const int alpha = sum / (2 * box + 1);
                pixel(j) = qRgba(0, 0, 0, alpha);
                sum += line[std::size_t(std::min(j + box + 1, length - 1))] - line[std::size_t(std::max(j - box, 0))];
            }
        }
    };
    for (int round = 0; round < 3; ++round) {
        pass(true);
        pass(false);
    }
}

} // namespace

VintrelleGlassButton::VintrelleGlassButton(const QString &title, QWidget *parent)
    : QPushButton(title, parent)
{
    setFlat(true);
    setAttribute(Qt::WA_Hover);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(titleFont(font()));
    setFixedHeight(buttonHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize VintrelleGlassButton::sizeHint() const
{
    return {fontMetrics().horizontalAdvance(text()) + 2 * buttonHeight, buttonHeight};
}

QSize VintrelleGlassButton::minimumSizeHint() const
{
    return {buttonHeight, buttonHeight};
}

const QPixmap &VintrelleGlassButton::shadow() const
{
    const QSize wanted = size() + QSize(4 * shadowBlur, 4 * shadowBlur);
    if (m_shadow.size() == wanted)
        return m_shadow;
    QImage image(wanted, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(capsule(QRectF(QPointF(2 * shadowBlur, 2 * shadowBlur), QSizeF(size()))),
                         QColor::fromRgbF(0, 0, 0, float(shadowOpacity)));
    }
    blurAlpha(image, shadowBlur);
    m_shadow = QPixmap::fromImage(image);
    return m_shadow;
}

QPoint VintrelleGlassButton::shadowOrigin() const
{
    return pos() + QPoint(-2 * shadowBlur, shadowOffset - 2 * shadowBlur);
}

void VintrelleGlassButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const QPainterPath shape = capsule(bounds);

    // Frosted glass: a pale wash, lighter at the top, and a thin bright rim.
    const bool enabled = isEnabled();
    const bool hovered = enabled && underMouse();
    const bool pressed = enabled && isDown();
    const qreal wash = !enabled ? 0.06 : pressed ? 0.10 : hovered ? 0.26 : 0.16;
    QLinearGradient fill(bounds.topLeft(), bounds.bottomLeft());
    fill.setColorAt(0, QColor::fromRgbF(1, 1, 1, float(wash + 0.08)));
    fill.setColorAt(1, QColor::fromRgbF(1, 1, 1, float(wash)));
    painter.fillPath(shape, fill);
    QLinearGradient rim(bounds.topLeft(), bounds.bottomLeft());
    rim.setColorAt(0, QColor::fromRgbF(1, 1, 1, hovered ? 0.55f : 0.38f));
    rim.setColorAt(1, QColor::fromRgbF(1, 1, 1, 0.10f));
    painter.setPen(QPen(QBrush(rim), 1));
    painter.drawPath(shape);

    painter.setFont(font());
    painter.setPen(QColor::fromRgbF(1, 1, 1, enabled ? 1.0f : 0.45f));
    painter.drawText(rect(), Qt::AlignCenter, fontMetrics().elidedText(text(), Qt::ElideRight, width() - buttonHeight));
}
