#pragma once

// Paints the editor's rows: the move marker, a plug-in's icon, the upper-cased title and, for a
// category, the disclosure triangle at the right end.

#include <QStyledItemDelegate>

class QTreeView;

class VintrelleEditRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int rowHeight = 24;

    explicit VintrelleEditRowDelegate(QTreeView *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

    // The row as the drag preview shows it: selected, `size` big, its cell starting at `cellLeft`.
    static QPixmap rowImage(const QString &title, bool plugin, const QSize &size, int cellLeft, qreal devicePixelRatio);
    static void paintSelection(QPainter *painter, const QRect &row, bool emphasized);

private:
    QTreeView *m_view;
};
