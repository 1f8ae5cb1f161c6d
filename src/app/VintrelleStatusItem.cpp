#include "VintrelleStatusItem.h"

#include <QAction>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QGuiApplication>
#include <QPolygonF>
#include <QSystemTrayIcon>

namespace {

constexpr int imageSide = 22;

// An action without a slot reads as a disabled information line, as on other desktops' menus.
QAction *informationLine(QMenu *menu, const QString &title)
{
    QAction *action = menu->addAction(title);
    action->setEnabled(false);
    return action;
}

} // namespace

QImage VintrelleStatusItemImage()
{
    QImage image(imageSide, imageSide, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    // A folder with its tab on the upper left, in points measured upwards from the bottom edge.
    const QList<QPointF> upwards{{2, 4}, {2, 18}, {8, 18}, {10, 16}, {20, 16}, {20, 4}};
    QPolygonF outline;
    for (const QPointF &point : upwards)
        outline << QPointF(point.x(), imageSide - point.y());
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(233, 232, 222));
    painter.drawPolygon(outline);
    return image;
}

VintrelleStatusItem::VintrelleStatusItem(QObject *parent)
    : QObject(parent), m_menu(new QMenu)
{
    m_toggleAction = m_menu->addAction(QStringLiteral("Show / Hide Vintrelle"));
    connect(m_toggleAction, &QAction::triggered, this, &VintrelleStatusItem::toggleRequested);
    m_hotKeyStatusAction = informationLine(m_menu, QStringLiteral("Checking hotkey access…"));
    informationLine(m_menu, QStringLiteral("Open: Double right-click"));
    m_menu->addSeparator();
    QAction *quit = m_menu->addAction(QStringLiteral("Quit Vintrelle"));
    quit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    connect(quit, &QAction::triggered, this, &VintrelleStatusItem::quitRequested);

    // The offscreen platform (tests, benchmarks) has no tray to dock in.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QPixmap::fromImage(VintrelleStatusItemImage())));
    m_trayIcon->setToolTip(QStringLiteral("Vintrelle"));
    m_trayIcon->setContextMenu(m_menu);
    // A left click opens the same menu, as a click on a status item does elsewhere.
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger)
            m_menu->popup(QCursor::pos());
    });
    // Shown even without a tray host: Qt docks the icon as soon as one appears.
    m_trayIcon->show();
}

VintrelleStatusItem::~VintrelleStatusItem()
{
    delete m_menu;
}

void VintrelleStatusItem::setHotKeyStatus(const QString &title)
{
    m_hotKeyStatusAction->setText(title);
}
