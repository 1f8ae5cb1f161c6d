#include "VintrelleWelcomeArt.h"

#include "VintrelleGlassButton.h"
#include "VintrelleWelcomeMotion.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <numbers>

namespace {

struct GradientStop
{
    double location;
    int red, green, blue;
};

constexpr std::array<GradientStop, 9> gradientStops{{
    {0, 7, 16, 27},
    {0.27, 11, 19, 36},
    {0.37, 37, 36, 61},
    {0.44, 165, 74, 53},
    {0.49, 221, 167, 133},
    {0.54, 181, 195, 213},
    {0.65, 40, 141, 203},
    {0.82, 7, 82, 191},
    {1, 6, 43, 128},
}};

// Each shape's colour, its centre and its diameter as fractions of the art's width and height.
struct Shape
{
    QColor colour;
    QPointF centre;
    double diameter; // of the height
};

const std::array<Shape, 4> shapes{{
    {QColor(244, 143, 101), {0.86, 0.62}, 0.95},
    {QColor(30, 188, 214), {0.74, 0.10}, 0.85},
    {QColor(84, 69, 191), {0.12, 0.96}, 1.00},
    {QColor(5, 18, 38), {0.22, 0.30}, 1.25},
}};

// The gradient is laid over a larger area than the art, so the drift never shows its ends.
constexpr double gradientOverhang = 0.35; // of the height, above and below

QLinearGradient driftedGradient(const QRectF &bounds, const VintrelleWelcomeTransform &drift)
{
    const QPointF centre = bounds.center();
    const double half = bounds.height() * (0.5 + gradientOverhang);
    // The motion's y points up and its turns run counter-clockwise; Qt's y points down.
    QTransform transform;
    transform.translate(centre.x() + drift.translateX, centre.y() - drift.translateY);
    transform.rotateRadians(-drift.rotation);
    QLinearGradient gradient(transform.map(QPointF(0, -half)), transform.map(QPointF(0, half)));
    for (const GradientStop &stop : gradientStops)
        gradient.setColorAt(stop.location, QColor(stop.red, stop.green, stop.blue));
    return gradient;
}

QPixmap shapePixmap(const QColor &colour, int diameter)
{
    QImage image(diameter, diameter, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal radius = diameter / 2.0;
    QRadialGradient glow(QPointF(radius, radius), radius);
    QColor inner = colour, middle = colour, outer = colour;
    inner.setAlphaF(0.82f);
    middle.setAlphaF(0.4f);
    outer.setAlphaF(0);
    glow.setColorAt(0, inner);
    glow.setColorAt(0.5, middle);
    glow.setColorAt(1, outer);
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(QRectF(0, 0, diameter, diameter));
    painter.end();
    return QPixmap::fromImage(image);
}

} // namespace

VintrelleWelcomeArt::VintrelleWelcomeArt(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("vintrelle-welcome-art"));
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_frameTimer.setInterval(frameInterval);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_frameTimer, &QTimer::timeout, this, qOverload<>(&QWidget::update));
}

void VintrelleWelcomeArt::start()
{
    if (m_reducedMotion || !isVisible())
        return stop();
    if (!m_frameTimer.isActive()) {
        m_clock.start();
        m_frameTimer.start();
    }
}

// Back to the still picture, as if the motion had never been added.
void VintrelleWelcomeArt::stop()
{
    m_frameTimer.stop();
    m_clock.invalidate();
    update();
}

void VintrelleWelcomeArt::setReducedMotion(bool reduced)
{
    m_reducedMotion = reduced;
    if (reduced)
        stop();
}

std::optional<double> VintrelleWelcomeArt::animationSeconds() const
{
    if (!m_clock.isValid())
        return std::nullopt;
    return double(m_clock.nsecsElapsed()) / 1e9;
}

void VintrelleWelcomeArt::setTranslucentCorners(bool translucent)
{
    m_translucentCorners = translucent;
    setAttribute(Qt::WA_OpaquePaintEvent, !translucent);
    update();
}

void VintrelleWelcomeArt::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    stop();
}

void VintrelleWelcomeArt::prepareShapes()
{
    m_preparedSize = size();
    for (std::size_t i = 0; i < shapes.size(); ++i)
        m_shapes[i] = shapePixmap(shapes[i].colour, std::max(1, int(std::lround(shapes[i].diameter * height()))));

    const int radius = int(std::ceil(cornerRadius));
    QImage corner(radius, radius, QImage::Format_ARGB32_Premultiplied);
    corner.fill(Qt::transparent);
    QPainter painter(&corner);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath rounded;
    rounded.addRoundedRect(QRectF(0, 0, 4 * radius, 4 * radius), cornerRadius, cornerRadius);
    painter.fillPath(rounded, Qt::black);
    painter.end();
    m_corner = QPixmap::fromImage(corner);
}

void VintrelleWelcomeArt::paintEvent(QPaintEvent *)
{
    if (m_preparedSize != size())
        prepareShapes();
    QPainter painter(this);
    const QRectF bounds = rect();
    const std::optional<double> seconds = animationSeconds();

    painter.fillRect(bounds, driftedGradient(bounds, seconds ? VintrelleWelcomeDrift(*seconds) : VintrelleWelcomeTransform{}));

    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const VintrelleWelcomeTransform flow = seconds ? VintrelleWelcomeShapeFlow(int(i), *seconds) : VintrelleWelcomeTransform{};
        const QPixmap &pixmap = m_shapes[i];
        painter.save();
        painter.translate(shapes[i].centre.x() * bounds.width() + flow.translateX,
                          shapes[i].centre.y() * bounds.height() - flow.translateY);
        painter.rotate(-flow.rotation * 180 / std::numbers::pi);
        painter.scale(flow.scaleX, flow.scaleY);
        painter.drawPixmap(QPointF(-pixmap.width() / 2.0, -pixmap.height() / 2.0), pixmap);
        painter.restore();
    }

    // The glass buttons' shadows fall outside their own bounds, so they are drawn here, beneath them.
    for (const VintrelleGlassButton *button : findChildren<VintrelleGlassButton *>(Qt::FindDirectChildrenOnly))
        if (button->isVisible())
            painter.drawPixmap(button->shadowOrigin(), button->shadow());

    if (!m_translucentCorners)
        return;
    // Keep only what lies inside the rounded corners: the rest of each corner turns clear.
    painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    const qreal w = bounds.width(), h = bounds.height();
    const std::array<std::pair<QPointF, qreal>, 4> corners{{{{0, 0}, 0}, {{w, 0}, 90}, {{w, h}, 180}, {{0, h}, 270}}};
    for (const auto &[point, angle] : corners) {
        painter.save();
        painter.translate(point);
        painter.rotate(angle);
        painter.drawPixmap(QPointF(0, 0), m_corner);
        painter.restore();
    }
}
