#pragma once

#include <QList>

#include <functional>

class QAction;
class QWidget;

// What the program-wide actions do; the controller fills them in. An empty one leaves its action
// disabled rather than pretending.
struct VintrelleWindowActionHandlers
{
    std::function<void()> about;
    std::function<void()> openSettings;
    std::function<void()> hide;
    std::function<void()> quit;
};

// Linux desktops have no global menu bar, so the application menu's actions (About Vintrelle,
// Settings… Ctrl+,, Hide Vintrelle Ctrl+H, Quit Vintrelle Ctrl+Q) and the Edit actions (Undo,
// Cut, Copy, Paste, Select All, acting on the focused text field) belong to each window. Every
// program window calls this once; the actions are children of `window`, in that order.
QList<QAction *> VintrelleInstallWindowActions(QWidget *window, const VintrelleWindowActionHandlers &handlers);
