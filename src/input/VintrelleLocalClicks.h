#pragma once

#include "VintrelleInputEvent.h"

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

// The right-button release that follows a right click the quick menu took for itself must not
// reach anything else. The release may never arrive (the press opened a new popup), so the
// request lapses at the next press or after `lifetime` seconds instead of waiting for it.
class VintrelleContextReleaseSuppression
{
public:
    static constexpr double lifetime = 0.5;

    void request(double now) { m_requestedAt = now; }
    bool pending() const { return m_requestedAt >= 0; }

    // True when this event is the release to swallow; a swallowed release ends the request.
    bool swallow(VintrelleInputEvent::Kind kind, double now);

private:
    double m_requestedAt = -1;
};
