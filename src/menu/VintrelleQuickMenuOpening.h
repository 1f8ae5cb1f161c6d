#pragma once

#include <QPoint>

#include <optional>

// Whether a request to open the quick menu opens it, and the opening that waits for the library.
// The controller asks `request` before showing the menu and `takePending` once the store is ready.
class VintrelleQuickMenuOpening
{
public:
    enum class Decision {
        RaiseNamePrompt, // the name prompt is visible: bring it forward and make it key instead
        Ignore,          // a menu is already open
        Defer,           // the library is not loaded: remembered, opened by takePending
        Open,            // show the menu at the point
    };

    Decision request(QPoint point, bool namePromptVisible, bool menuOpen, bool libraryLoaded);

    bool isPending() const { return m_pending.has_value(); }

    // The point of the last deferred request, once; none when nothing waits.
    std::optional<QPoint> takePending();

private:
    std::optional<QPoint> m_pending;
};
