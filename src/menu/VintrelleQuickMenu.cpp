#include "VintrelleQuickMenu.h"

#include <QJsonObject>

namespace {

VintrelleQuickMenuRow row(VintrelleQuickMenuRow::Kind kind, const QString &title, const QString &id = {})
{
    VintrelleQuickMenuRow row;
    row.kind = kind;
    row.title = title;
    row.representedID = id;
    return row;
}

void expand(const VintrelleQuickMenuLibrary &library, VintrelleQuickMenuRows &rows)
{
    for (VintrelleQuickMenuRow &row : rows)
        if (row.kind == VintrelleQuickMenuRow::Kind::Category) {
            row.children = VintrelleQuickMenuSubmenu(library, row.representedID, row.submenuDepth);
            expand(library, row.children);
        }
}

} // namespace

VintrelleQuickMenuRows VintrelleQuickMenuBranch(const VintrelleQuickMenuLibrary &library, const QString &parentID,
                                                int depth)
{
    VintrelleQuickMenuRows rows;
    if (depth >= VintrelleQuickMenuDepthLimit)
        return rows;
    const QJsonArray &categories = library.categories();
    for (qsizetype index : library.childCategories(parentID)) {
        const QJsonObject category = categories.at(index).toObject();
        VintrelleQuickMenuRow categoryRow =
            row(VintrelleQuickMenuRow::Kind::Category, category.value(QLatin1String("name")).toString().toUpper(),
                category.value(QLatin1String("id")).toString());
        categoryRow.submenuDepth = depth + 1;
        rows << categoryRow;
    }
    if (parentID.isEmpty())
        return rows;
    for (const QJsonValue element : library.entriesOf(parentID)) {
        const QJsonObject entry = element.toObject();
        const QJsonValue id = entry.value(QLatin1String("id"));
        const QJsonValue label = entry.value(QLatin1String("label"));
        if (id.isString() && label.isString())
            rows << row(VintrelleQuickMenuRow::Kind::Plugin, label.toString().toUpper(), id.toString());
    }
    return rows;
}

VintrelleQuickMenuRows VintrelleQuickMenuSubmenu(const VintrelleQuickMenuLibrary &library, const QString &categoryID,
                                                 int depth)
{
    VintrelleQuickMenuRows rows = VintrelleQuickMenuBranch(library, categoryID, depth);
    if (rows.isEmpty()) {
        VintrelleQuickMenuRow marker = row(VintrelleQuickMenuRow::Kind::EmptyMarker, QStringLiteral("EMPTY CATEGORY"));
        marker.enabled = false;
        rows << marker;
    }
    return rows;
}

VintrelleQuickMenuRows VintrelleQuickMenu(const VintrelleQuickMenuLibrary &library)
{
    VintrelleQuickMenuRows rows{row(VintrelleQuickMenuRow::Kind::Header, QStringLiteral("VINTRELLE"))};
    rows << VintrelleQuickMenuBranch(library, QString(), 0);
    if (rows.size() == 1)
        rows << row(VintrelleQuickMenuRow::Kind::AddCategory, QStringLiteral("+"));
    rows << row(VintrelleQuickMenuRow::Kind::Separator, QString())
         << row(VintrelleQuickMenuRow::Kind::Settings, QStringLiteral("SETTINGS"))
         << row(VintrelleQuickMenuRow::Kind::Edit, QStringLiteral("EDIT"));
    return rows;
}

VintrelleQuickMenuRows VintrelleQuickMenuExpanded(const VintrelleQuickMenuLibrary &library)
{
    VintrelleQuickMenuRows rows = VintrelleQuickMenu(library);
    expand(library, rows);
    return rows;
}

VintrelleQuickMenuRows VintrelleRenameDeleteMenu(const QString &id, const QString &name)
{
    VintrelleQuickMenuRow rename = row(VintrelleQuickMenuRow::Kind::Rename, QStringLiteral("RENAME"));
    rename.command = {{"op", "renamePrompt"}, {"id", id}, {"name", name}, {"returnToBrowse", true}};
    VintrelleQuickMenuRow remove = row(VintrelleQuickMenuRow::Kind::Delete, QStringLiteral("DELETE"));
    remove.command = {{"op", "deletePrompt"}, {"id", id}, {"name", name}, {"returnToBrowse", true}};
    return {rename, remove};
}
