#pragma once

#include "VintrelleQuickMenuLibrary.h"
#include "VintrelleQuickMenuRow.h"

// The quick menu as plain rows. Levels are built on demand: the top level never reads an entry,
// and a sub-menu reads only its own category's sub-categories and entries.

// Levels at or below this one are empty, so a category nested that deep shows only the marker.
inline constexpr int VintrelleQuickMenuDepthLimit = 64;

// One level: the categories whose parent is `parentID`, in library order, then (below the top)
// the plug-ins of the first category with that id. Malformed categories and entries are left out
// without a message.
VintrelleQuickMenuRows VintrelleQuickMenuBranch(const VintrelleQuickMenuLibrary &library, const QString &parentID,
                                                int depth);

// A category's sub-menu: its level, or the disabled "EMPTY CATEGORY" alone when that is empty.
VintrelleQuickMenuRows VintrelleQuickMenuSubmenu(const VintrelleQuickMenuLibrary &library, const QString &categoryID,
                                                 int depth);

// The main level: header, the top-level categories (or "+" when there are none), separator,
// "SETTINGS", "EDIT". Category rows carry no children yet.
VintrelleQuickMenuRows VintrelleQuickMenu(const VintrelleQuickMenuLibrary &library);

// The same menu with every sub-menu built, to check the lazy presentation against. Its size is
// the whole tree's, so it is meant for tests, not for showing.
VintrelleQuickMenuRows VintrelleQuickMenuExpanded(const VintrelleQuickMenuLibrary &library);

// The row menu of a category or plug-in row: "RENAME" then "DELETE", each carrying its edit
// command for the row's id and stored name.
VintrelleQuickMenuRows VintrelleRenameDeleteMenu(const QString &id, const QString &name);
