#include "VintrelleEditOutline.h"

#include "VintrelleDragPreview.h"
#include "VintrelleEditRowDelegate.h"
#include "VintrelleEditTreeModel.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>

VintrelleEditOutline::VintrelleEditOutline(QWidget *parent)
    : QTreeView(parent), m_previewTimer(new QTimer(this))
{
    setHeaderHidden(true);
    setRootIsDecorated(false);
    setItemsExpandable(false); // the editor opens and closes categories itself
    setExpandsOnDoubleClick(false);
    setUniformRowHeights(true);
    setIndentation(14);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    setDragEnabled(false); // rows are dragged by the list itself, see beginRowDrag
    setMouseTracking(false);
    setItemDelegate(new VintrelleEditRowDelegate(this));
    setAttribute(Qt::WA_MacShowFocusRect, false);
    m_previewTimer->setInterval(previewInterval);
    connect(m_previewTimer, &QTimer::timeout, this, [this] { updateVerticalPreviewAtScreenPoint(m_pointer); });
}

VintrelleEditOutline::~VintrelleEditOutline() = default;

void VintrelleEditOutline::mousePressEvent(QMouseEvent *event)
{
    m_suppressRowClick = false;
    m_pointer = event->globalPosition().toPoint();
    m_pressPoint = event->position().toPoint();
    m_pressedIndex = event->button() == Qt::LeftButton ? indexAt(m_pressPoint) : QModelIndex();
    QTreeView::mousePressEvent(event);
}

void VintrelleEditOutline::mouseMoveEvent(QMouseEvent *event)
{
    m_pointer = event->globalPosition().toPoint();
    if (m_verticalDragActive) {
        showFeedback(dragHover ? dragHover(m_draggedID, event->position().toPoint()) : DropFeedback{});
        return;
    }
    if ((event->buttons() & Qt::LeftButton) && m_pressedIndex.isValid()
        && (event->position().toPoint() - m_pressPoint).manhattanLength() >= QApplication::startDragDistance()) {
        beginRowDrag();
        showFeedback(dragHover ? dragHover(m_draggedID, event->position().toPoint()) : DropFeedback{});
        return;
    }
    // No rubber band and no selection sweep: a press selects one row.
}

void VintrelleEditOutline::mouseReleaseEvent(QMouseEvent *event)
{
    m_pointer = event->globalPosition().toPoint();
    if (m_verticalDragActive && event->button() == Qt::LeftButton) {
        endRowDrag(event->position().toPoint());
        return;
    }
    m_pressedIndex = QModelIndex();
    QTreeView::mouseReleaseEvent(event);
}

void VintrelleEditOutline::beginRowDrag()
{
    const QModelIndex index = m_pressedIndex;
    m_pressedIndex = QModelIndex();
    m_suppressRowClick = true;
    auto *model = qobject_cast<VintrelleEditTreeModel *>(this->model());
    if (!model)
        return;
    // The drag carries the row's id under the editor's own type; a drop reads it back from there.
    m_payload.reset(model->mimeData({index}));
    m_draggedID = QString::fromUtf8(m_payload->data(VintrelleEditTreeModel::mimeType));
    const QRect cell = visualRect(index);
    const QRect row(0, cell.top(), viewport()->width(), cell.height());
    const bool plugin = index.data(VintrelleEditTreeModel::KindRole).toInt() == int(VintrelleEditModel::Kind::Plugin);
    const QString title = model->editModel().node(m_draggedID) ? model->editModel().node(m_draggedID)->title : QString();
    startVerticalPreview(VintrelleEditRowDelegate::rowImage(title, plugin, row.size(), cell.left(), devicePixelRatioF()), row);
}

void VintrelleEditOutline::endRowDrag(std::optional<QPoint> dropPoint)
{
    const QString id = m_draggedID;
    const bool fromHere = m_payload && m_payload->hasFormat(VintrelleEditTreeModel::mimeType);
    clearVerticalPreview();
    m_payload.reset();
    m_draggedID.clear();
    if (dropPoint && fromHere && dragDropped)
        dragDropped(id, *dropPoint);
    if (dragEnded)
        dragEnded();
}

void VintrelleEditOutline::startVerticalPreview(const QPixmap &image, const QRect &rowRect)
{
    clearVerticalPreview();
    QWidget *content = window();
    const QRect placed(viewport()->mapTo(content, rowRect.topLeft()), rowRect.size());
    m_preview = new VintrelleDragPreview(image, content);
    m_preview->move(placed.topLeft());
    m_preview->show();
    m_preview->raise();
    m_dragColumnX = placed.x();
    m_verticalDragActive = true;
    m_previewPointerOffset = content->mapFromGlobal(m_pointer).y() - placed.y();
    m_previewTimer->start();
}

void VintrelleEditOutline::updateVerticalPreviewAtScreenPoint(const QPoint &screenPoint)
{
    if (!m_verticalDragActive || !m_preview)
        return;
    QWidget *content = window();
    const int height = m_preview->height();
    const QRect visible(viewport()->mapTo(content, QPoint(0, 0)), viewport()->size());
    double top = content->mapFromGlobal(screenPoint).y() - m_previewPointerOffset;
    top = std::max<double>(top, visible.top());
    top = std::min<double>(top, visible.top() + visible.height() - height); // the last clamp wins
    m_preview->move(int(m_dragColumnX), int(std::lround(top)));
}

void VintrelleEditOutline::clearVerticalPreview()
{
    m_previewTimer->stop();
    delete m_preview;
    m_verticalDragActive = false;
    m_feedback = {};
    viewport()->update();
}

void VintrelleEditOutline::showFeedback(const DropFeedback &feedback)
{
    m_feedback = feedback;
    if (m_preview)
        m_preview->setNotice(feedback.notice);
    viewport()->update();
}

void VintrelleEditOutline::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = indexAt(event->pos());
    if (!index.isValid())
        return;
    selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    emit contextMenuRequested(event->globalPos());
}

// The selection is drawn across the whole row, not just the indented cell.
void VintrelleEditOutline::drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (selectionModel() && selectionModel()->isSelected(index))
        VintrelleEditRowDelegate::paintSelection(painter, QRect(0, option.rect.top(), viewport()->width(), option.rect.height()),
                                                 hasFocus());
    QTreeView::drawRow(painter, option, index);
}

void VintrelleEditOutline::paintEvent(QPaintEvent *event)
{
    QTreeView::paintEvent(event);
    if (!m_verticalDragActive)
        return;
    QPainter painter(viewport());
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor accent(0x0a, 0x84, 0xff);
    if (m_feedback.insertionY) {
        painter.setPen(QPen(accent, 2));
        painter.drawLine(QPointF(4, *m_feedback.insertionY), QPointF(viewport()->width() - 4, *m_feedback.insertionY));
    }
    if (m_feedback.targetRow) {
        painter.setPen(QPen(m_feedback.notice.isEmpty() ? accent : QColor(0xf5, 0xc2, 0x6b), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(*m_feedback.targetRow).adjusted(1, 1.5, -1, -1.5), 5, 5);
    }
}
