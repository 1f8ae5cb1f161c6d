#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// One row of the quick menu as plain data: what the presenter turns into a menu item.
struct VintrelleQuickMenuRow
{
    enum class Kind {
        Header,      // "VINTRELLE", drawn by the header view
        Category,    // opens a sub-menu; represents the category's id
        Plugin,      // loads the entry; represents the entry's id
        EmptyMarker, // "EMPTY CATEGORY", disabled
        AddCategory, // "+", only in an empty library
        Separator,
        Settings,
        Edit,
        Rename,      // the row menu: carries its edit command
        Delete,
    };

    Kind kind = Kind::Separator;
    QString title;          // as shown: names and labels in upper case
    QString representedID;  // category or entry id; empty for every other row
    bool enabled = true;
    int submenuDepth = 0;   // a category's sub-menu level (the top level is 0)
    QJsonObject command;    // the edit command of RENAME and DELETE
    QList<VintrelleQuickMenuRow> children; // filled only by the eager expansion

    bool operator==(const VintrelleQuickMenuRow &) const = default;
};

using VintrelleQuickMenuRows = QList<VintrelleQuickMenuRow>;
