#pragma once

// The image of a dragged row that follows the pointer over the list. It never takes clicks; it
// may carry a short notice ("Already here") at its right end.

#include <QPixmap>
#include <QWidget>

class VintrelleDragPreview : public QWidget
{
    Q_OBJECT

public:
    VintrelleDragPreview(const QPixmap &image, QWidget *parent);

    void setNotice(const QString &notice);
    QString notice() const { return m_notice; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QPixmap m_image;
    QString m_notice;
};
