#pragma once

#include <QColor>
#include <QPoint>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

#include <QMenu>

// The product name and the state of the connection to Ableton, at the top of the quick menu and
// of the floating windows. While not connected the status pulses; inside a menu, dragging the
// header moves the menu.
class VintrelleMenuHeader : public QWidget
{
    Q_OBJECT

public:
    static constexpr int headerHeight = 46;
    static constexpr int redrawInterval = 150;    // milliseconds
    static constexpr double pulsePeriod = 1.8;    // seconds
    static constexpr double dragThreshold = 3.0;  // pixels before a press becomes a drag

    explicit VintrelleMenuHeader(QWidget *parent = nullptr);
    ~VintrelleMenuHeader() override;

    // The width that fits the title: "VINTRELLE" in bold at 18 pixels, rounded up, plus 24.
    static int preferredWidth();
    static QColor statusColor(bool connected, bool darkAppearance);
    // 1 when connected; otherwise between 0.3 and 1 with a period of 1.8 s at `seconds`.
    static double statusOpacity(bool connected, double seconds);
    // Seconds since 2001-01-01 UTC, the clock the pulse is phased to.
    static double pulseClock();

    bool connected() const { return m_connected; }
    void setConnected(bool connected);
    int textInset() const { return m_textInset; }
    void setTextInset(int inset);
    QMenu *ownerMenu() const { return m_ownerMenu; }
    void setOwnerMenu(QMenu *menu);
    bool darkTheme() const { return m_darkTheme; }
    void setDarkTheme(bool dark);
    bool isPulsing() const { return m_blinkTimer.isActive(); }
    bool isDragging() const { return m_dragging; }

    // Called with the menu's new top-left corner each time a drag moves it.
    std::function<void(const QPoint &topLeft)> onMoved;

    // A drag of the owning window, in global coordinates.
    void beginHeaderDragAtPoint(const QPoint &point);
    void moveHeaderDragToPoint(const QPoint &point);
    void endHeaderDrag();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void updatePulse();

    bool m_connected = false;
    int m_textInset = 12;
    QPointer<QMenu> m_ownerMenu;
    bool m_darkTheme = false;
    QTimer m_blinkTimer;
    bool m_pressed = false;
    bool m_dragging = false;
    QPoint m_dragStartPoint;
    QPoint m_dragStartOrigin;
};
