#include "VintrelleEditModel.h"

#include "VintrelleLibraryKeys.h"

#include <QJsonValue>

namespace {

QString parentKey(const std::optional<QString> &parentId)
{
    return parentId.value_or(QString());
}

QHash<QString, QList<qsizetype>> childCategoryIndex(const QList<VintrelleEditCategory> &categories)
{
    QHash<QString, QList<qsizetype>> index;
    for (qsizetype i = 0; i < categories.size(); ++i)
        index[parentKey(categories[i].parentId)].append(i);
    return index;
}

QHash<QString, qsizetype> categoryIndex(const QList<VintrelleEditCategory> &categories)
{
    QHash<QString, qsizetype> index;
    for (qsizetype i = 0; i < categories.size(); ++i)
        index.insert(categories[i].id, i); // the last of duplicate ids wins, as a scan would find it last
    return index;
}

// Each category is listed once, so a parent cycle below `parent` cannot repeat it down to the
// depth limit.
void appendDestinations(const QList<VintrelleEditCategory> &categories, const QHash<QString, QList<qsizetype>> &children,
                        const QString &parent, int depth, QList<const VintrelleEditCategory *> &out,
                        QSet<qsizetype> &listed)
{
    if (depth >= VintrelleEditModel::maximumDepth)
        return;
    for (qsizetype i : children.value(parent)) {
        if (listed.contains(i))
            continue;
        listed.insert(i);
        out.append(&categories[i]);
        appendDestinations(categories, children, categories[i].id, depth + 1, out, listed);
    }
}

QString pathOf(const QList<VintrelleEditCategory> &categories, const QHash<QString, qsizetype> &index,
               const VintrelleEditCategory &category)
{
    QStringList names;
    QSet<QString> visited;
    const VintrelleEditCategory *current = &category;
    while (current && !visited.contains(current->id)) {
        visited.insert(current->id);
        names.prepend(current->name);
        if (!current->parentId)
            break;
        const auto found = index.constFind(*current->parentId);
        current = found == index.constEnd() ? nullptr : &categories[*found];
    }
    return names.join(QStringLiteral(" / ")).toUpper();
}

const QStringList emptyList;

} // namespace

namespace {

VintrelleEditCategory categoryFromJson(const QJsonObject &object)
{
    VintrelleEditCategory category;
    category.id = object.value(VintrelleKeys::id).toString();
    category.name = object.value(VintrelleKeys::name).toString();
    const QJsonValue parent = object.value(VintrelleKeys::parentId);
    if (parent.isString() && !parent.toString().isEmpty())
        category.parentId = parent.toString();
    const QJsonArray entries = object.value(VintrelleKeys::entries).toArray();
    category.entries.reserve(entries.size());
    for (const QJsonValue &entryValue : entries) {
        const QJsonObject entry = entryValue.toObject();
        category.entries.append({entry.value(VintrelleKeys::id).toString(), entry.value(VintrelleKeys::label).toString(),
                                 entry.value(VintrelleKeys::uri).toString()});
    }
    return category;
}

} // namespace

QList<VintrelleEditCategory> VintrelleEditCategoriesFromJson(const QJsonArray &categories)
{
    QList<VintrelleEditCategory> out;
    out.reserve(categories.size());
    for (const QJsonValue &value : categories)
        out.append(categoryFromJson(value.toObject()));
    return out;
}

QList<const VintrelleEditCategory *> VintrelleEditDestinations(const QList<VintrelleEditCategory> &categories,
                                                               const std::optional<QString> &parentId, int depth)
{
    QList<const VintrelleEditCategory *> out;
    QSet<qsizetype> listed;
    appendDestinations(categories, childCategoryIndex(categories), parentKey(parentId), depth, out, listed);
    return out;
}

QString VintrelleEditPath(const QList<VintrelleEditCategory> &categories, const VintrelleEditCategory &category)
{
    return pathOf(categories, categoryIndex(categories), category);
}

void VintrelleEditModel::setCategories(const QJsonArray &categories, const VintrelleEditModel *previous)
{
    QList<VintrelleEditCategory> read;
    QList<QJsonObject> sources;
    read.reserve(categories.size());
    sources.reserve(categories.size());
    for (const QJsonValue &value : categories) {
        const QJsonObject object = value.toObject();
        const qsizetype before =
            previous ? previous->m_categoryIndex.value(object.value(VintrelleKeys::id).toString(), -1) : -1;
        if (before >= 0 && previous->m_sources[before] == object)
            read.append(previous->m_categories[before]);
        else
            read.append(categoryFromJson(object));
        sources.append(object);
    }
    m_categories = std::move(read);
    m_sources = std::move(sources);
    m_categoryIndex = categoryIndex(m_categories);
    m_childCategories = childCategoryIndex(m_categories);
    qsizetype nodeCount = m_categories.size();
    for (const VintrelleEditCategory &category : std::as_const(m_categories))
        nodeCount += category.entries.size();
    m_nodes.clear();
    m_nodes.reserve(nodeCount);
    m_roots.clear();
    buildChildren(QString(), 0);
}

// A node is placed once, at its first position in the walk, so a library with a repeated id
// can never make the tree share a node between two parents.
void VintrelleEditModel::buildChildren(const QString &parentId, int depth)
{
    if (depth >= maximumDepth)
        return;
    // One hash lookup per node: the slot is taken, and only a new one (the size grew) is filled.
    const auto placeNew = [this](Kind kind, const QString &id, const QString &title, const QString &uri,
                                 const QString &parent) {
        const qsizetype sizeBefore = m_nodes.size();
        Node &slot = m_nodes[id];
        if (m_nodes.size() == sizeBefore)
            return false;
        slot.kind = kind;
        slot.id = id;
        slot.title = title;
        slot.uri = uri;
        slot.parentId = parent;
        return true;
    };
    QStringList children;
    const auto subcategories = m_childCategories.constFind(parentId);
    if (subcategories != m_childCategories.constEnd()) {
        for (qsizetype i : *subcategories) {
            const VintrelleEditCategory &category = m_categories[i];
            if (!placeNew(Kind::Category, category.id, category.name, QString(), parentId))
                continue;
            children.append(category.id);
            buildChildren(category.id, depth + 1);
        }
    }
    if (!parentId.isEmpty()) {
        if (const VintrelleEditCategory *owner = category(parentId)) {
            children.reserve(children.size() + owner->entries.size());
            for (const VintrelleEditEntry &entry : owner->entries) {
                if (placeNew(Kind::Plugin, entry.id, entry.label, entry.uri, parentId))
                    children.append(entry.id);
            }
        }
        m_nodes[parentId].children = std::move(children);
    } else {
        m_roots = std::move(children);
    }
}

const VintrelleEditModel::Node *VintrelleEditModel::node(const QString &id) const
{
    const auto found = m_nodes.constFind(id);
    return found == m_nodes.constEnd() ? nullptr : &*found;
}

const QStringList &VintrelleEditModel::childrenOf(const QString &parentId) const
{
    if (parentId.isEmpty())
        return m_roots;
    const Node *parent = node(parentId);
    return parent ? parent->children : emptyList;
}

const VintrelleEditCategory *VintrelleEditModel::category(const QString &id) const
{
    const auto found = m_categoryIndex.constFind(id);
    return found == m_categoryIndex.constEnd() ? nullptr : &m_categories[*found];
}

QStringList VintrelleEditModel::siblings(const std::optional<QString> &selected) const
{
    const Node *chosen = selected ? node(*selected) : nullptr;
    QStringList out;
    if (!chosen)
        return out;
    if (chosen->kind == Kind::Category) {
        for (qsizetype i : m_childCategories.value(chosen->parentId))
            out.append(m_categories[i].id);
    } else if (const VintrelleEditCategory *owner = category(chosen->parentId)) {
        for (const VintrelleEditEntry &entry : owner->entries)
            out.append(entry.id);
    }
    return out;
}

std::optional<QString> VintrelleEditModel::selectedCategory(const std::optional<QString> &selected) const
{
    const Node *chosen = selected ? node(*selected) : nullptr;
    if (!chosen)
        return std::nullopt;
    return chosen->kind == Kind::Category ? chosen->id : chosen->parentId;
}

VintrelleEditActions VintrelleEditModel::actions(const std::optional<QString> &selected) const
{
    VintrelleEditActions actions;
    const Node *chosen = selected ? node(*selected) : nullptr;
    if (!chosen)
        return actions;
    actions.addSubcategory = actions.addPlugin = actions.rename = actions.remove = true;
    actions.moveTo = chosen->kind == Kind::Plugin;
    const QStringList around = siblings(selected);
    const qsizetype position = around.indexOf(chosen->id);
    actions.moveUp = position > 0;
    actions.moveDown = position >= 0 && position + 1 < around.size();
    return actions;
}

QJsonObject VintrelleEditModel::addCategoryCommand()
{
    return {{"op", "addCategoryPrompt"}, {"categoryID", ""}};
}

std::optional<QJsonObject> VintrelleEditModel::addSubcategoryCommand(const std::optional<QString> &selected) const
{
    const std::optional<QString> parent = selectedCategory(selected);
    if (!parent)
        return std::nullopt;
    return QJsonObject{{"op", "addCategoryPrompt"}, {"categoryID", *parent}};
}

std::optional<QJsonObject> VintrelleEditModel::renameCommand(const std::optional<QString> &selected) const
{
    const Node *chosen = selected ? node(*selected) : nullptr;
    if (!chosen)
        return std::nullopt;
    return QJsonObject{{"op", "renamePrompt"}, {"id", chosen->id}, {"name", chosen->title}};
}

std::optional<QJsonObject> VintrelleEditModel::deleteCommand(const std::optional<QString> &selected) const
{
    const Node *chosen = selected ? node(*selected) : nullptr;
    if (!chosen)
        return std::nullopt;
    return QJsonObject{{"op", "deletePrompt"}, {"id", chosen->id}, {"name", chosen->title}};
}

std::optional<QJsonObject> VintrelleEditModel::reorderCommand(const std::optional<QString> &selected, int offset) const
{
    if (!selected)
        return std::nullopt;
    const QStringList around = siblings(selected);
    const qsizetype position = around.indexOf(*selected);
    if (position < 0)
        return std::nullopt;
    const qsizetype target = position + offset;
    if (target < 0 || target >= around.size())
        return std::nullopt;
    return QJsonObject{{"op", "reorder"}, {"id", *selected}, {"index", int(target)}};
}

QJsonObject VintrelleEditModel::undoCommand() { return {{"op", "undo"}}; }
QJsonObject VintrelleEditModel::redoCommand() { return {{"op", "redo"}}; }
QJsonObject VintrelleEditModel::historyCommand() { return {{"op", "history"}}; }

std::optional<QString> VintrelleEditModel::dragNoticeForID(const QString &pluginID, const QString &categoryID) const
{
    const VintrelleEditCategory *destination = category(categoryID);
    const Node *plugin = node(pluginID);
    if (!destination || !plugin || plugin->kind != Kind::Plugin)
        return std::nullopt;
    if (plugin->parentId == destination->id)
        return QStringLiteral("Already here");
    const QString &uri = plugin->uri;
    for (const VintrelleEditEntry &entry : destination->entries)
        if (entry.uri == uri)
            return QStringLiteral("Already added");
    return std::nullopt;
}

std::optional<QJsonObject> VintrelleEditModel::moveCommandForID(const QString &pluginID, const QString &categoryID) const
{
    const Node *plugin = node(pluginID);
    if (!category(categoryID) || !plugin || plugin->kind != Kind::Plugin || dragNoticeForID(pluginID, categoryID))
        return std::nullopt;
    return QJsonObject{{"op", "move"}, {"id", pluginID}, {"categoryID", categoryID}};
}

QList<VintrelleEditMoveDestination> VintrelleEditModel::moveDestinationsForID(const QString &pluginID) const
{
    QList<const VintrelleEditCategory *> destinations;
    QSet<qsizetype> listed;
    appendDestinations(m_categories, m_childCategories, QString(), 0, destinations, listed);
    QList<VintrelleEditMoveDestination> out;
    out.reserve(destinations.size());
    for (const VintrelleEditCategory *destination : destinations) {
        QString title = pathOf(m_categories, m_categoryIndex, *destination);
        if (const std::optional<QString> notice = dragNoticeForID(pluginID, destination->id))
            title += QStringLiteral(" — %1").arg(*notice);
        out.append({destination->id, title, moveCommandForID(pluginID, destination->id)});
    }
    return out;
}

std::optional<VintrelleEditDropTarget> VintrelleEditModel::reorderIndexForID(const QString &id,
                                                                              const VintrelleEditDropProbe &probe,
                                                                              const VintrelleEditRowLookup &rowSpan) const
{
    const Node *dragged = node(id);
    if (!dragged || !rowSpan(id))
        return std::nullopt;
    const QStringList &siblings = childrenOf(dragged->parentId);
    if (!probe.rowId) {
        if (probe.atOrBelowLastRow)
            return VintrelleEditDropTarget{dragged->parentId, int(siblings.size())};
        return std::nullopt;
    }
    // Climb from the hovered row to the dragged row's level; a row of another branch never gets there.
    const Node *hovered = node(*probe.rowId);
    for (int step = 0; hovered && hovered->parentId != dragged->parentId; ++step) {
        if (hovered->parentId.isEmpty() || step > maximumDepth)
            return std::nullopt;
        hovered = node(hovered->parentId);
    }
    if (!hovered || hovered->kind != dragged->kind)
        return std::nullopt;
    const qsizetype position = siblings.indexOf(hovered->id);
    const std::optional<VintrelleEditRowSpan> span = rowSpan(hovered->id);
    if (position < 0 || !span)
        return std::nullopt;
    const bool below = probe.pointerY > span->top + span->height * 0.5;
    return VintrelleEditDropTarget{dragged->parentId, int(position) + (below ? 1 : 0)};
}

std::optional<QJsonObject> VintrelleEditModel::dragCommandForID(const QString &id, const QString &parentId,
                                                                int childIndex) const
{
    if (childIndex < 0)
        return std::nullopt;
    const QStringList &siblings = childrenOf(parentId);
    if (!siblings.contains(id))
        return std::nullopt;
    const Node *dragged = node(id);
    qsizetype categoryCount = 0;
    QStringList sameKind;
    for (const QString &sibling : siblings) {
        const Node *other = node(sibling);
        if (other->kind == Kind::Category)
            ++categoryCount;
        if (other->kind == dragged->kind)
            sameKind.append(sibling);
    }
    const bool isCategory = dragged->kind == Kind::Category;
    if ((isCategory && childIndex > categoryCount) || (!isCategory && childIndex < categoryCount)
        || childIndex > siblings.size())
        return std::nullopt;
    const qsizetype from = sameKind.indexOf(id);
    qsizetype target = childIndex - (isCategory ? 0 : categoryCount);
    if (from < target)
        --target; // counted after the item is taken out
    if (target < 0 || target >= sameKind.size() || target == from)
        return std::nullopt;
    return QJsonObject{{"op", "reorder"}, {"id", id}, {"index", int(target)}};
}

std::optional<VintrelleEditDrop> VintrelleEditModel::dropForID(const QString &id, const VintrelleEditDropProbe &probe,
                                                               const VintrelleEditRowLookup &rowSpan) const
{
    const std::optional<VintrelleEditDropTarget> target = reorderIndexForID(id, probe, rowSpan);
    if (!target)
        return std::nullopt;
    const std::optional<QJsonObject> command = dragCommandForID(id, target->parentId, target->childIndex);
    if (!command)
        return std::nullopt;
    return VintrelleEditDrop{*target, *command};
}

std::optional<QString> VintrelleEditModel::libraryParentOf(const QString &id) const
{
    if (const Node *plugin = node(id); plugin && plugin->kind == Kind::Plugin)
        return plugin->parentId;
    if (const VintrelleEditCategory *found = category(id))
        return found->parentId;
    return std::nullopt;
}

QStringList VintrelleEditModel::ancestorChain(const QString &id) const
{
    QStringList chain;
    std::optional<QString> parent = libraryParentOf(id);
    for (int step = 0; parent && step < maximumDepth; ++step) {
        chain.prepend(*parent);
        const VintrelleEditCategory *above = category(*parent);
        parent = above ? above->parentId : std::nullopt;
    }
    return chain;
}

VintrelleEditRestorePlan VintrelleEditModel::restorePlan(const std::optional<QString> &selected,
                                                         const QSet<QString> &expandedBefore) const
{
    const QStringList chain = selected ? ancestorChain(*selected) : QStringList();
    const QSet<QString> chainSet(chain.begin(), chain.end());
    VintrelleEditRestorePlan plan;
    // Walk the rows as they appear: at each level the selection's ancestor wins, otherwise the last
    // category that was open (opening a category closes the siblings opened before it).
    std::function<void(const QString &)> walk = [&](const QString &parentId) {
        QString open;
        for (const QString &child : childrenOf(parentId)) {
            const Node *childNode = node(child);
            if (childNode->kind != Kind::Category)
                break;
            if (chainSet.contains(child)) {
                open = child;
                break;
            }
            if (expandedBefore.contains(child))
                open = child;
        }
        if (!open.isEmpty()) {
            plan.expanded.append(open);
            walk(open);
        }
    };
    walk(QString());
    // A node in the tree has its whole chain there, and the chain wins at every level, so it shows.
    if (selected && node(*selected))
        plan.selected = selected;
    return plan;
}

void VintrelleEditModel::collapseWithDescendants(QSet<QString> &expanded, const QString &id) const
{
    if (!expanded.remove(id))
        return;
    if (const Node *collapsed = node(id))
        for (const QString &child : collapsed->children)
            collapseWithDescendants(expanded, child);
}

QSet<QString> VintrelleEditModel::expansionAfterExpanding(const QSet<QString> &expanded, const QString &categoryID) const
{
    const Node *opened = node(categoryID);
    if (!opened || opened->kind != Kind::Category)
        return expanded;
    QSet<QString> out = expanded;
    for (const QString &sibling : childrenOf(opened->parentId))
        if (sibling != categoryID)
            collapseWithDescendants(out, sibling);
    out.insert(categoryID);
    return out;
}

QSet<QString> VintrelleEditModel::expansionAfterClicking(const QSet<QString> &expanded, const QString &categoryID) const
{
    const Node *clicked = node(categoryID);
    if (!clicked || clicked->kind != Kind::Category)
        return expanded;
    if (!expanded.contains(categoryID))
        return expansionAfterExpanding(expanded, categoryID);
    QSet<QString> out = expanded;
    for (const QString &sibling : childrenOf(clicked->parentId))
        collapseWithDescendants(out, sibling);
    return out;
}

VintrelleEditRestorePlan VintrelleEditModel::revealPlan(const QString &pluginID, const QSet<QString> &expanded) const
{
    QSet<QString> open = expanded;
    VintrelleEditRestorePlan plan;
    const Node *plugin = node(pluginID);
    if (!plugin || plugin->kind != Kind::Plugin)
        return plan;
    for (const QString &ancestor : ancestorChain(pluginID))
        open = expansionAfterExpanding(open, ancestor);
    // Report the open categories top-down, so every one is expanded after its parent.
    std::function<void(const QString &)> walk = [&](const QString &parentId) {
        for (const QString &child : childrenOf(parentId)) {
            if (open.contains(child)) {
                plan.expanded.append(child);
                walk(child);
            }
        }
    };
    walk(QString());
    plan.selected = pluginID;
    return plan;
}

QList<VintrelleEditRowChange> VintrelleEditModel::rowChanges(const VintrelleEditModel &before,
                                                             const VintrelleEditModel &after, QStringList *retitled)
{
    QList<VintrelleEditRowChange> changes;
    const auto same = [&](const QString &id, const QString &otherId) {
        return id == otherId && before.node(id)->kind == after.node(otherId)->kind;
    };
    // A category whose JSON is unchanged has unchanged plug-ins; only its sub-categories can differ.
    const auto sameEntries = [&](const QString &categoryId) {
        const qsizetype was = before.m_categoryIndex.value(categoryId, -1);
        const qsizetype is = after.m_categoryIndex.value(categoryId, -1);
        return was >= 0 && is >= 0 && before.m_sources[was] == after.m_sources[is];
    };
    std::function<void(const QString &)> compare = [&](const QString &parentId) {
        const bool plugInsKept = !parentId.isEmpty() && sameEntries(parentId);
        const QStringList &old = before.childrenOf(parentId);
        const QStringList &now = after.childrenOf(parentId);
        qsizetype prefix = 0;
        while (prefix < old.size() && prefix < now.size() && same(old[prefix], now[prefix]))
            ++prefix;
        qsizetype suffix = 0;
        while (suffix < old.size() - prefix && suffix < now.size() - prefix
               && same(old[old.size() - 1 - suffix], now[now.size() - 1 - suffix]))
            ++suffix;
        if (prefix + suffix < old.size() || prefix + suffix < now.size())
            changes.append({parentId, int(prefix), int(old.size() - prefix - suffix),
                            now.mid(prefix, now.size() - prefix - suffix)});
        // Kept rows keep their subtrees, which are compared in turn.
        const auto keep = [&](const QString &id) {
            const Node *newNode = after.node(id);
            if (newNode->kind == Kind::Plugin && plugInsKept)
                return;
            const Node *oldNode = before.node(id);
            if (retitled && (oldNode->title != newNode->title || oldNode->uri != newNode->uri))
                retitled->append(id);
            if (newNode->kind == Kind::Category)
                compare(id);
        };
        for (qsizetype i = 0; i < prefix; ++i)
            keep(old[i]);
        for (qsizetype i = old.size() - suffix; i < old.size(); ++i)
            keep(old[i]);
    };
    compare(QString());
    return changes;
}
