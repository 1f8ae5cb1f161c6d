#include "VintrelleNativeRowAtPoint.h"

#include "VintrelleQuickMenuPresenter.h"

#include <QAction>
#include <QMenu>

QAction *VintrelleNativeRowAtPoint(QMenu *menu, const QPoint &globalPoint)
{
    if (!menu || !menu->isVisible())
        return nullptr;
    if (QAction *active = menu->activeAction(); active && active->menu())
        if (QAction *hit = VintrelleNativeRowAtPoint(active->menu(), globalPoint))
            return hit;
    const QRect visible(menu->mapToGlobal(QPoint(0, 0)), menu->size());
    for (QAction *action : menu->actions()) {
        const auto kind = VintrelleQuickMenuPresenter::rowKindOf(action);
        if (kind != VintrelleQuickMenuRow::Kind::Category && kind != VintrelleQuickMenuRow::Kind::Plugin)
            continue;
        if (action->data().typeId() != QMetaType::QString || action->data().toString().isEmpty())
            continue;
        const QRect local = menu->actionGeometry(action);
        if (local.width() <= 0 || local.height() <= 0)
            continue;
        // A row scrolled out of a long menu has a rectangle but is not on screen.
        const QRect onScreen = QRect(menu->mapToGlobal(local.topLeft()), local.size()) & visible;
        if (onScreen.contains(globalPoint))
            return action;
    }
    return nullptr;
}
