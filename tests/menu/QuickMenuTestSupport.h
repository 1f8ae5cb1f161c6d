#pragma once

// Libraries and read-back helpers shared by the quick menu tests and benchmarks.

#include "VintrelleTestSupport.h"

#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleQuickMenuRow.h"

#include <QAction>
#include <QMenu>

// Test data written as JSON; a typo stops the test at once.
inline QJsonArray jsonArray(const char *json)
{
    QJsonParseError error;
    const QJsonArray array = QJsonDocument::fromJson(json, &error).array();
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test data: %s", qPrintable(error.errorString()));
    return array;
}

// A library as a user might keep it: nested categories, one empty, names with an ampersand.
inline QJsonArray demoCategories()
{
    return jsonArray(R"([
        {"id": "synths", "name": "Synths", "entries": [{"id": "frost", "label": "Frostline"}, {"id": "keys", "label": "Keys"}]},
        {"id": "pads", "name": "Pads & Textures", "parentId": "synths", "entries": [{"id": "strings", "label": "Strings"}]},
        {"id": "space", "name": "Reverb & Space", "entries": [{"id": "tidepool", "label": "Tidepool"}, {"id": "echo", "label": "Echo"}]},
        {"id": "mixing", "name": "Mixing", "entries": [{"id": "glue", "label": "Glue Compressor"}]},
        {"id": "dirt", "name": "Dirt", "parentId": "mixing", "entries": [{"id": "roar", "label": "Roar"}]},
        {"id": "later", "name": "For Later", "entries": []}])");
}

// 2,000 categories holding 20,000 plug-ins, the first 65 nested in one chain so that the deepest
// level the menu shows (64) exists and holds plug-ins.
inline QJsonArray limitsCategories()
{
    QJsonArray categories = generatedCategories(2000, 20000);
    for (int c = 1; c <= 64; ++c)
        categories[c] = with(categories[c].toObject(), "parentId", QStringLiteral("C%1").arg(c - 1));
    return categories;
}

// The rows a presented menu shows, each sub-menu opened (its aboutToShow) and read too; `wasLazy`
// turns false when a sub-menu held rows before it was opened.
inline VintrelleQuickMenuRows menuRows(QMenu *menu, bool *wasLazy)
{
    VintrelleQuickMenuRows rows;
    for (QAction *action : menu->actions()) {
        VintrelleQuickMenuRow row;
        row.kind = VintrelleQuickMenuPresenter::rowKindOf(action).value_or(VintrelleQuickMenuRow::Kind::Separator);
        // "&&" shows as "&"; a lone "&" would turn the next letter into a mnemonic, so such a title reads back marked.
        row.title = action->isSeparator() ? QString() : action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
        if (QKeySequence::mnemonic(action->text()).count())
            row.title.prepend(QStringLiteral("mnemonic! "));
        row.representedID = action->data().toString();
        row.enabled = action->isEnabled();
        if (QMenu *submenu = action->menu()) {
            row.submenuDepth = submenu->property("vintrelleDepth").toInt();
            if (!submenu->actions().isEmpty())
                *wasLazy = false;
            emit submenu->aboutToShow();
            row.children = menuRows(submenu, wasLazy);
        }
        rows << row;
    }
    return rows;
}

inline QAction *actionTitled(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}
