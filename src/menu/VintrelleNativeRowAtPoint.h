#pragma once

#include <QPoint>

class QAction;
class QMenu;

// The category or plug-in row of an open menu under a global point: the open sub-menu of the
// highlighted row first, then the menu's own rows. Rows that represent no id (header, fixed
// items, markers) never qualify.
QAction *VintrelleNativeRowAtPoint(QMenu *menu, const QPoint &globalPoint);
