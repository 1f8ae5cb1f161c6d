#pragma once

// The editor's header: the product name and the connection to Ableton, pulsing while it is down.
// Pressing in it drags the window.

#include "VintrelleWindowDrag.h"

#include <QWidget>

class QTimer;

class VintrelleEditHeader : public QWidget
{
    Q_OBJECT

public:
    explicit VintrelleEditHeader(QWidget *parent = nullptr);

    bool connected() const { return m_connected; }
    void setConnected(bool connected);

    QSize sizeHint() const override { return {276, 46}; }

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_connected = false;
    QTimer *m_pulse;
    VintrelleWindowDrag m_drag;
};
