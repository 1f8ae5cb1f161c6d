#include "VintrelleEditRowDelegate.h"

#include "VintrelleEditTreeModel.h"

#include <QPainter>
#include <QPainterPath>
#include <QTreeView>

namespace {

const QColor labelColour(0xe4, 0xe4, 0xe7);
const QColor secondaryColour(0x8e, 0x8e, 0x96);
const QColor selectedTextColour(0xff, 0xff, 0xff);

QFont titleFont(QFont font)
{
    font.setPixelSize(13);
    font.setWeight(QFont::Medium);
    return font;
}

// Six dots, two columns of three: the handle that says "this row can be dragged".
void paintMoveMarker(QPainter *painter, const QPointF &topLeft, const QColor &colour)
{
    for (qreal x : {3.0, 7.0})
        for (qreal y : {1.0, 5.0, 9.0})
            painter->fillRect(QRectF(topLeft + QPointF(x, y), QSizeF(2, 2)), colour);
}

// A plug with two prongs and a cord, 14 × 14.
void paintPlug(QPainter *painter, const QPointF &topLeft, const QColor &colour)
{
    painter->save();
    painter->translate(topLeft);
    painter->setPen(Qt::NoPen);
    painter->setBrush(colour);
    painter->drawRect(QRectF(4, 1, 1.5, 3.5));
    painter->drawRect(QRectF(8.5, 1, 1.5, 3.5));
    painter->drawRoundedRect(QRectF(2.5, 4.5, 9, 5.5), 1.5, 1.5);
    painter->drawRect(QRectF(6.25, 10, 1.5, 3));
    painter->restore();
}

void paintTriangle(QPainter *painter, const QRectF &box, bool open, const QColor &colour)
{
    QPainterPath path;
    const QPointF c = box.center();
    if (open) {
        path.moveTo(c + QPointF(-3.5, -2));
        path.lineTo(c + QPointF(3.5, -2));
        path.lineTo(c + QPointF(0, 2.5));
    } else {
        path.moveTo(c + QPointF(-2, -3.5));
        path.lineTo(c + QPointF(2.5, 0));
        path.lineTo(c + QPointF(-2, 3.5));
    }
    path.closeSubpath();
    painter->fillPath(path, colour);
}

void paintTitle(QPainter *painter, const QRect &cell, bool plugin, const QString &title, const QColor &colour,
                int rightInset)
{
    const int left = plugin ? 40 : 20;
    const QRect textRect = cell.adjusted(left, 0, -rightInset, 0);
    painter->setPen(colour);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(title, Qt::ElideRight, textRect.width()));
}

} // namespace

VintrelleEditRowDelegate::VintrelleEditRowDelegate(QTreeView *view)
    : QStyledItemDelegate(view), m_view(view)
{
}

void VintrelleEditRowDelegate::paintSelection(QPainter *painter, const QRect &row, bool emphasized)
{
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(emphasized ? QColor(0x0a, 0x84, 0xff) : QColor(0x3a, 0x3a, 0x41));
    painter->drawRoundedRect(QRectF(row).adjusted(0, 1, 0, -1), 5, 5);
    painter->restore();
}

void VintrelleEditRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool plugin = index.data(VintrelleEditTreeModel::KindRole).toInt() == int(VintrelleEditModel::Kind::Plugin);
    const bool selected = option.state & QStyle::State_Selected;
    const bool emphasized = selected && m_view->hasFocus();
    const QRect cell = option.rect;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setFont(titleFont(option.font));
    const QColor secondary = emphasized ? selectedTextColour : secondaryColour;
    paintMoveMarker(painter, QPointF(cell.left() + 4, cell.top() + (cell.height() - 12) / 2.0), secondary);
    if (plugin)
        paintPlug(painter, QPointF(cell.left() + 20, cell.top() + (cell.height() - 14) / 2.0), secondary);
    paintTitle(painter, cell, plugin, index.data().toString(), selected ? selectedTextColour : labelColour, plugin ? 4 : 26);
    if (!plugin) {
        // The triangle stays at the right end of what is visible.
        const int right = std::min(cell.right(), m_view->viewport()->width());
        paintTriangle(painter, QRectF(right - 8 - 4, cell.top(), 8, cell.height()), m_view->isExpanded(index), secondary);
    }
    painter->restore();
}

QSize VintrelleEditRowDelegate::sizeHint(const QStyleOptionViewItem &, const QModelIndex &) const
{
    return {0, rowHeight};
}

QPixmap VintrelleEditRowDelegate::rowImage(const QString &title, bool plugin, const QSize &size, int cellLeft,
                                           qreal devicePixelRatio)
{
    QPixmap image(size * devicePixelRatio);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect row(QPoint(0, 0), size);
    paintSelection(&painter, row, true);
    painter.setFont(titleFont(QFont()));
    const QRect cell = row.adjusted(cellLeft, 0, 0, 0);
    if (plugin)
        paintPlug(&painter, QPointF(cell.left() + 20, (size.height() - 14) / 2.0), selectedTextColour);
    paintTitle(&painter, cell, plugin, title.toUpper(), selectedTextColour, 4);
    return image;
}
