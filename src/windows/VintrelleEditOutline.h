#pragma once

// The editor's list. Besides showing the tree it runs the vertical drag of a row: after the
// pointer leaves the pressed row by the drag distance, a preview of the row follows the pointer
// inside the list (moved by a 60 Hz timer, so it also settles while the pointer rests), the
// editor is asked where a drop would go, and releasing the button hands the drop to the editor.
// The press that starts a drag never counts as a click.

#include <QPointer>
#include <QTreeView>

#include <functional>
#include <memory>
#include <optional>

class QMimeData;
class QTimer;
#include "VintrelleDragPreview.h"

class VintrelleEditOutline : public QTreeView
{
    Q_OBJECT

public:
    static constexpr int previewInterval = 16; // about 1/60 s

    // What a drop at a point would do, as the editor decides it.
    struct DropFeedback
    {
        std::optional<int> insertionY; // a reorder: the line between rows, in viewport coordinates
        std::optional<QRect> targetRow; // a move: the category row that would take the plug-in
        QString notice;                 // why a move there is refused, if it is
    };

    explicit VintrelleEditOutline(QWidget *parent = nullptr);
    ~VintrelleEditOutline() override;

    bool suppressRowClick() const { return m_suppressRowClick; }
    bool verticalDragActive() const { return m_verticalDragActive; }
    VintrelleDragPreview *verticalPreview() const { return m_preview; }

    std::function<DropFeedback(const QString &id, const QPoint &viewportPoint)> dragHover;
    std::function<void(const QString &id, const QPoint &viewportPoint)> dragDropped;
    std::function<void()> dragEnded;

    void startVerticalPreview(const QPixmap &image, const QRect &rowRect);
    void updateVerticalPreviewAtScreenPoint(const QPoint &screenPoint);
    void clearVerticalPreview();

signals:
    void contextMenuRequested(const QPoint &globalPosition);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void drawBranches(QPainter *, const QRect &, const QModelIndex &) const override {}
    void drawRow(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    void paintEvent(QPaintEvent *event) override;

private:
    void beginRowDrag();
    void endRowDrag(std::optional<QPoint> dropPoint);
    void showFeedback(const DropFeedback &feedback);

    bool m_suppressRowClick = false;
    bool m_verticalDragActive = false;
    QPersistentModelIndex m_pressedIndex;
    QPoint m_pressPoint;
    QPoint m_pointer; // the last pointer position seen, global
    QString m_draggedID;
    std::unique_ptr<QMimeData> m_payload;
    double m_dragColumnX = 0;
    double m_previewPointerOffset = 0;
    QPointer<VintrelleDragPreview> m_preview;
    QTimer *m_previewTimer;
    DropFeedback m_feedback;
};
