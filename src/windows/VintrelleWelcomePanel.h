#pragma once

#include <QWidget>

// The welcome window itself: a frameless, dark floating panel with rounded corners, translucent
// where a compositor runs and solid (corners cut by the window's mask) otherwise. Escape or the
// window manager's close closes it; the controller is told, as it is of every move.
class VintrelleWelcomePanel : public QWidget
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 440;
    static constexpr int panelHeight = 242;

    explicit VintrelleWelcomePanel(bool translucent);

    bool translucent() const { return m_translucent; }

signals:
    void closed();
    void moved();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool m_translucent;
};
