#pragma once

#include "VintrelleWindowDrag.h"

#include <QWidget>

// The floating dark panel with rounded corners that the editor and the search share: kept above
// other windows, without a window-manager frame, and moved by dragging its top strip.
class VintrelleDarkPanel : public QWidget
{
public:
    explicit VintrelleDarkPanel(int dragStripHeight);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int m_dragStripHeight;
    VintrelleWindowDrag m_drag;
};
