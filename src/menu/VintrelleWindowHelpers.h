#pragma once

#include <QPoint>

class QWidget;

// Placement and floating behaviour shared by the program's windows.

// Moves `window` so that its frame's top-left corner is as close to the global point as the
// usable area of the screen holding that corner allows.
void VintrellePlaceWindowAtTopLeft(QWidget *window, const QPoint &topLeft);

// A window without a title bar of the window manager gets the program's own centred title strip,
// which follows the window's title; once only. A decorated window keeps the manager's title.
// Returns the title strip, or null when the window manager draws the title.
QWidget *VintrelleCenterWindowTitle(QWidget *window);

// Keeps `window` above other applications' windows, on every workspace and out of the taskbar,
// the pager and window cycling, then centres its title. On X11 the window manager is told
// through the _NET_WM_STATE and _NET_WM_DESKTOP hints; elsewhere only Qt's flags apply.
void VintrelleConfigureOverlayWindow(QWidget *window);

// Cuts `window`'s corners round with a mask on X11, where without a compositor its clear corners
// would show black. Call it whenever the window is resized.
void VintrelleCutRoundedCorners(QWidget *window, qreal radius);

// Whether a compositing manager runs, so that rounded, translucent corners show as such.
bool VintrelleCompositorActive();
