#pragma once

#include <QWidget>

// An invisible strip along the top of a floating window that drags the window wherever no
// control lies beneath the pointer. It never takes clicks itself: it watches presses on its
// window and starts a window-manager move for the ones that land on it.
class VintrelleTopDragView : public QWidget
{
    Q_OBJECT

public:
    explicit VintrelleTopDragView(QWidget *window, int height);

    // This strip when a click at `point` (strip coordinates) should drag the window; null when
    // it is outside the strip or a control, text, tab or scroll view lies beneath it.
    QWidget *hitTest(const QPoint &point) const;

    int stripHeight() const { return m_height; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void follow();

    int m_height;
};

// Configures `window` as an overlay window and gives it a drag strip `height` pixels high.
VintrelleTopDragView *VintrelleInstallTopDragging(QWidget *window, int height);
