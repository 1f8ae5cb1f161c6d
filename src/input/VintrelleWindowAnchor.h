#pragma once

#include <QPoint>

#include <optional>

// Where the program's windows open: where the quick menu's main level was last requested, shown
// or moved to, and where the user last dragged a secondary window. Qt coordinates; lives as
// long as the process and is never saved.
class VintrelleWindowAnchor
{
public:
    // The quick menu was asked to open at `point`: it becomes the menu point; the menu's frame
    // is not known until the menu is on screen.
    void menuRequestedAt(QPoint point);

    // The user dragged the open menu: its new top-left corner is both the menu point and frame.
    void menuMovedTo(QPoint topLeft);

    // Where the next secondary window opens. `openMenuTopLeft` is the open quick menu's corner
    // when it is on screen; it is recorded as the frame. Then the frame, the menu point, the
    // pointer, the first that is known.
    QPoint secondaryWindowAnchor(std::optional<QPoint> openMenuTopLeft, QPoint pointer);

    // A secondary window was moved to `topLeft`: the frame follows it and the menu point keeps
    // its offset from the frame.
    void rememberNativeWindowPosition(QPoint topLeft);

    // Where returning to the quick menu reopens it.
    QPoint mainMenuPoint(QPoint pointer) const { return m_menuPoint.value_or(pointer); }

    std::optional<QPoint> menuPoint() const { return m_menuPoint; }
    std::optional<QPoint> frameTopLeft() const { return m_frameTopLeft; }

private:
    std::optional<QPoint> m_menuPoint;
    std::optional<QPoint> m_frameTopLeft;
};
