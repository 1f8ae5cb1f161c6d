#pragma once

#include <QList>
#include <QPointF>
#include <QRectF>

// One of the program's windows as the click rules see it.
struct VintrellePanelFrame
{
    bool exists = false;
    bool visible = false;
    QRectF frame;  // global coordinates
};

// Whether the pointer is over one of the program's visible windows. The caller lists them in
// this order: name prompt, welcome, editor, settings, search. The first match answers.
bool mouseInsideVisiblePanels(const QList<VintrellePanelFrame> &panels, QPointF pointer);
