#pragma once

// Libraries and read-back helpers shared by the quick menu tests and benchmarks.

#include "VintrelleTestSupport.h"

#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleQuickMenuRow.h"

#include <QAction>
#include <QMenu>

// A library as a user might keep it: nested categories, one empty, plug-ins of the simulator's
// demo catalogue (so they load through it), and names with an ampersand.
inline QJsonArray demoCategories()
{
    // "id|Label|uri" for each plug-in.
    const auto category = [](const char *id, const char *name, const QJsonValue &parent, QStringList plugins) {
        QJsonArray entries;
        for (const QString &plugin : plugins) {
            const QStringList p = plugin.split(u'|');
            entries.append(entryObject(p[0], p[1], p[2], QStringLiteral("Plug-Ins")));
        }
        return categoryObject(id, name, parent, entries);
    };
    return {category("synths", "Synths", {}, {"frostline|Frostline Synth|query:Plugins#VST3:Halvorsen%20Audio:Frostline%20Synth",
                                              "ostrava|Ostrava Keys|query:Plugins#VST3:Quillon:Ostrava%20Keys"}),
            category("pads", "Pads & Textures", "synths", {"strings|Ostrava Strings|query:Plugins#VST3:Quillon:Ostrava%20Strings"}),
            category("space", "Reverb & Space", {}, {"tidepool|Tidepool Reverb|query:Plugins#VST3:Mireau%20Labs:Tidepool%20Reverb",
                                                     "echo|Echo|query:AudioFx#Delay:Echo"}),
            category("mixing", "Mixing", {}, {"glue|Glue Compressor|query:AudioFx#Dynamics:Glue%20Compressor",
                                              "utility|Utility|query:AudioFx#Utilities:Utility"}),
            category("dirt", "Dirt", "mixing", {"roar|Roar|query:AudioFx#Distortion:Roar"}),
            category("later", "For Later", {}, {})};
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

// The rows a presented menu shows. With `open`, each sub-menu is opened (its aboutToShow) and read
// too; `wasLazy` turns false when a sub-menu held rows before it was opened.
inline VintrelleQuickMenuRows menuRows(QMenu *menu, bool open, bool *wasLazy = nullptr)
{
    VintrelleQuickMenuRows rows;
    for (QAction *action : menu->actions()) {
        VintrelleQuickMenuRow row;
        row.kind = VintrelleQuickMenuPresenter::rowKindOf(action).value_or(VintrelleQuickMenuRow::Kind::Separator);
        row.title = action->isSeparator() ? QString() : action->text().replace(QStringLiteral("&&"), QStringLiteral("&"));
        row.representedID = action->data().toString();
        row.enabled = action->isEnabled();
        if (QMenu *submenu = action->menu()) {
            row.submenuDepth = submenu->property("vintrelleDepth").toInt();
            if (open) {
                if (wasLazy && !submenu->actions().isEmpty())
                    *wasLazy = false;
                emit submenu->aboutToShow();
                row.children = menuRows(submenu, true, wasLazy);
            }
        }
        rows << row;
    }
    return rows;
}

// Titles of one level, for readable comparisons.
inline QStringList titlesOf(const VintrelleQuickMenuRows &rows)
{
    QStringList titles;
    for (const VintrelleQuickMenuRow &row : rows)
        titles << (row.kind == VintrelleQuickMenuRow::Kind::Separator ? QStringLiteral("---") : row.title);
    return titles;
}

inline QAction *actionTitled(QMenu *menu, const QString &title)
{
    for (QAction *action : menu->actions())
        if (action->text() == title)
            return action;
    return nullptr;
}
