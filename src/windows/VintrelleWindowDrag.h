#pragma once

#include <QMouseEvent>
#include <QPoint>
#include <QWidget>
#include <QWindow>

#include <optional>

// Moves a window with the pointer from a press until the release: the window manager moves it
// where it can; otherwise the window follows the pointer by hand.
class VintrelleWindowDrag
{
public:
    void begin(QWidget *window, QMouseEvent *event)
    {
        if (window->windowHandle() && window->windowHandle()->startSystemMove())
            m_offset.reset();
        else
            m_offset = event->globalPosition().toPoint() - window->pos();
    }

    // True when the pointer moved `window` by hand.
    bool follow(QWidget *window, QMouseEvent *event) const
    {
        if (!m_offset)
            return false;
        window->move(event->globalPosition().toPoint() - *m_offset);
        return true;
    }

    void end() { m_offset.reset(); }

private:
    std::optional<QPoint> m_offset; // pointer minus window corner while it is moved by hand
};
