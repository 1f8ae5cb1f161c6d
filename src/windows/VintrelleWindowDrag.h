#pragma once

#include <QMouseEvent>
#include <QPoint>
#include <QWidget>
#include <QWindow>

#include <optional>

// Starts moving `window` with the pointer: the window manager moves it where it can; otherwise
// the caller follows the pointer with the returned offset (pointer minus window corner).
inline std::optional<QPoint> VintrelleBeginWindowDrag(QWidget *window, QMouseEvent *event)
{
    if (window->windowHandle() && window->windowHandle()->startSystemMove())
        return std::nullopt;
    return event->globalPosition().toPoint() - window->pos();
}
