#pragma once

// Libraries and menu helpers shared by the quick menu and window tests and the benchmarks.

#include "VintrelleTestSupport.h"

#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleQuickMenuRow.h"

#include <QAction>
#include <QMenu>

// Nested categories, one empty, names with an ampersand.
inline QJsonArray demoCategories()
{
    return QJsonDocument::fromJson(R"([
        {"id": "synths", "name": "Synths", "entries": [{"id": "frost", "label": "Frostline"}, {"id": "keys", "label": "Keys"}]},
        {"id": "pads", "name": "Pads & Textures", "parentId": "synths", "entries": [{"id": "strings", "label": "Strings"}]},
        {"id": "space", "name": "Reverb & Space", "entries": [{"id": "tidepool", "label": "Tidepool"}, {"id": "echo", "label": "Echo"}]},
        {"id": "mixing", "name": "Mixing", "entries": [{"id": "glue", "label": "Glue Compressor"}]},
        {"id": "dirt", "name": "Dirt", "parentId": "mixing", "entries": [{"id": "roar", "label": "Roar"}]},
        {"id": "later", "name": "For Later", "entries": []}])").array();
}

// 2,000 categories holding 20,000 plug-ins, the first 65 in one chain down to the deepest level shown (64).
inline QJsonArray limitsCategories()
{
    QJsonArray categories = generatedCategories(2000, 20000);
    for (int c = 1; c <= 64; ++c)
        categories[c] = with(categories[c].toObject(), "parentId", QStringLiteral("C%1").arg(c - 1));
    return categories;
}

inline QAction *actionTitled(const QList<QAction *> &actions, const QString &title)
{
    for (QAction *action : actions)
        if (action->text() == title)
            return action;
    return nullptr;
}
