#pragma once

// Libraries and read-back helpers shared by the quick menu tests and benchmarks.

#include "VintrelleTestSupport.h"

#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleQuickMenuRow.h"

#include <QAction>
#include <QMenu>

// A library as a user might keep it: nested categories, one empty, plug-ins of the simulator's
// demo catalogue (so they load through it), and a name with an ampersand.
inline QJsonArray demoCategories()
{
    auto plugin = [](const QString &id, const QString &label, const QString &uri) {
        return entryObject(id, label, uri, QStringLiteral("Plug-Ins"));
    };
    return {
        categoryObject("synths", "Synths", QJsonValue::Null,
                       {plugin("frostline", "Frostline Synth", "query:Plugins#VST3:Halvorsen%20Audio:Frostline%20Synth"),
                        plugin("ostrava", "Ostrava Keys", "query:Plugins#VST3:Quillon:Ostrava%20Keys")}),
        categoryObject("pads", "Pads & Textures", "synths",
                       {plugin("strings", "Ostrava Strings", "query:Plugins#VST3:Quillon:Ostrava%20Strings")}),
        categoryObject("space", "Reverb & Space", QJsonValue::Null,
                       {plugin("tidepool", "Tidepool Reverb", "query:Plugins#VST3:Mireau%20Labs:Tidepool%20Reverb"),
                        plugin("garden", "Reverb Garden", "query:Plugins#Audio%20Units:Pellucid%20Sound:Reverb%20Garden"),
                        plugin("echo", "Echo", "query:AudioFx#Delay:Echo")}),
        categoryObject("mixing", "Mixing", QJsonValue::Null,
                       {plugin("kestrel", "Kestrel Compressor", "query:Plugins#VST3:Mireau%20Labs:Kestrel%20Compressor"),
                        plugin("brightwall", "Brightwall EQ", "query:Plugins#VST3:Halvorsen%20Audio:Brightwall%20EQ"),
                        plugin("glue", "Glue Compressor", "query:AudioFx#Dynamics:Glue%20Compressor"),
                        plugin("utility", "Utility", "query:AudioFx#Utilities:Utility")}),
        categoryObject("dirt", "Dirt", "mixing",
                       {plugin("gritbox", "Gritbox", "query:Plugins#VST:Tamsworth%20DSP:Gritbox"),
                        plugin("roar", "Roar", "query:AudioFx#Distortion:Roar")}),
        categoryObject("later", "For Later", QJsonValue::Null),
    };
}

// 2,000 categories holding 20,000 plug-ins, the first 65 nested in one chain so that the deepest
// level the menu shows (64) exists and holds plug-ins.
inline QJsonArray limitsCategories()
{
    QJsonArray categories = generatedCategories(2000, 20000);
    for (int c = 1; c <= 64; ++c) {
        QJsonObject category = categories[c].toObject();
        category["parentId"] = QStringLiteral("C%1").arg(c - 1);
        categories[c] = category;
    }
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
