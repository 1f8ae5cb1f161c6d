#include "VintrelleCategoryCache.h"

#include "VintrelleJsonWriter.h"
#include "VintrelleLibraryKeys.h"

#include <QSet>

#include <algorithm>
#include <vector>

namespace {

namespace key = VintrelleKeys;

// VTText for a value already read as text: blank means white space only, as trimmed() sees it.
bool fits(const QString &text, qsizetype maximum)
{
    if (text.size() > maximum)
        return false;
    for (const QChar unit : text)
        if (!unit.isSpace())
            return true;
    return false;
}

bool fitsIdentifier(const QJsonValue &value, QString *text)
{
    if (!value.isString())
        return false;
    *text = value.toString();
    return fits(*text, VintrelleLimits::identifier);
}

// A category's own rules, apart from the identifiers it shares with the rest of the library.
bool categoryFieldsFit(const QJsonObject &category, const QJsonValue &parentId)
{
    const QJsonValue name = category.value(key::name);
    return name.isString() && fits(name.toString(), VintrelleLimits::name) &&
           (parentId.isNull() || (parentId.isString() && fits(parentId.toString(), VintrelleLimits::identifier))) &&
           category.value(key::entries).isArray();
}

// An entry's own rules and the category's uri rule. Collects the entries' identifiers, in order,
// for the rules that span the library.
bool entriesFit(const QJsonArray &entries, QStringList *entryIds)
{
    // Uris are compared by their hashes, and only those alike in full, so no uri text is kept.
    std::vector<std::pair<size_t, qsizetype>> uris; // hash, position
    uris.reserve(entries.size());
    entryIds->reserve(entries.size());
    for (qsizetype position = 0; position < entries.size(); ++position) {
        const QJsonValue value = entries.at(position);
        const QJsonObject entry = value.toObject();
        const QJsonValue label = entry.value(key::label), uri = entry.value(key::uri), path = entry.value(key::path);
        QString id;
        if (!value.isObject() || !fitsIdentifier(entry.value(key::id), &id) || !label.isString() ||
            !fits(label.toString(), VintrelleLimits::name) || !uri.isString() || !path.isString() ||
            path.toString().size() > VintrelleLimits::path)
            return false;
        const QString uriText = uri.toString();
        if (!fits(uriText, VintrelleLimits::uri))
            return false;
        uris.emplace_back(qHash(uriText), position);
        entryIds->append(id);
    }
    std::sort(uris.begin(), uris.end());
    const auto uriAt = [&](qsizetype position) { return entries.at(position).toObject().value(key::uri); };
    for (size_t first = 0; first < uris.size(); ++first)
        for (size_t next = first + 1; next < uris.size() && uris[next].first == uris[first].first; ++next)
            if (uriAt(uris[first].second) == uriAt(uris[next].second))
                return false;
    return true;
}

// Every category reaches the top within 64 levels. `parents` holds each category's parent as a
// position, root for none and missing for an identifier that names no category.
constexpr qsizetype root = -1, missing = -2;
bool hierarchyIsValid(const std::vector<qsizetype> &parents)
{
    // Levels counted from the top, known once a category's chain was walked; a chain stops at the
    // first category already counted, so every category is walked once.
    std::vector<qsizetype> levels(parents.size(), 0);
    constexpr qsizetype onPath = -1;
    std::vector<qsizetype> path;
    for (qsizetype start = 0; start < qsizetype(parents.size()); ++start) {
        path.clear();
        qsizetype level = 0;
        for (qsizetype at = start;;) {
            if (levels[at] > 0) {
                level = levels[at];
                break;
            }
            if (levels[at] == onPath)
                return false; // a cycle
            levels[at] = onPath;
            path.push_back(at);
            const qsizetype parent = parents[at];
            if (parent == missing)
                return false;
            if (parent == root)
                break;
            at = parent;
        }
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            if (++level > VintrelleLimits::depth)
                return false;
            levels[*it] = level;
        }
    }
    return true;
}

// The parents of `list` as positions, for hierarchyIsValid. `ids` are the categories' identifiers.
std::vector<qsizetype> parentPositions(const QJsonArray &list, const QStringList &ids)
{
    QHash<QString, qsizetype> positions;
    positions.reserve(ids.size());
    for (qsizetype index = 0; index < ids.size(); ++index)
        positions.insert(ids.at(index), index);
    std::vector<qsizetype> parents(ids.size(), root);
    for (qsizetype index = 0; index < ids.size(); ++index) {
        const QJsonValue parent = list.at(index).toObject().value(key::parentId);
        if (parent.isString())
            parents[index] = positions.value(parent.toString(), missing);
    }
    return parents;
}

} // namespace

bool VintrelleCategoryCache::validateWhole(const QJsonValue &value, Checked *checked, VintrelleError *error)
{
    using namespace VintrelleMessages;
    if (!value.isArray())
        return VTFail(error, unsupportedFile);
    const QJsonArray list = value.toArray();
    if (list.size() > VintrelleLimits::categories)
        return VTFail(error, unsupportedFile);

    QHash<QString, QString> owner; // category and entry identifiers share one name space
    owner.reserve(list.size() * 12);
    QStringList ids;
    ids.reserve(list.size());
    QList<Category> categories;
    if (checked)
        categories.reserve(list.size());
    qsizetype entryCount = 0;

    for (const QJsonValue &categoryValue : list) {
        const QJsonObject category = categoryValue.toObject();
        const QJsonValue parentId = category.value(key::parentId);
        QString id;
        if (!categoryValue.isObject() || !fitsIdentifier(category.value(key::id), &id) || owner.contains(id) ||
            !categoryFieldsFit(category, parentId))
            return VTFail(error, invalidCategories);
        owner.insert(id, id);

        // Every failure among a category's entries gives the same message, so their rules can
        // run in any order.
        const QJsonArray entries = category.value(key::entries).toArray();
        QStringList entryIds;
        entryCount += entries.size();
        if (entryCount > VintrelleLimits::entries || !entriesFit(entries, &entryIds))
            return VTFail(error, invalidPlugins);
        for (const QString &entryId : std::as_const(entryIds)) {
            const qsizetype known = owner.size();
            owner.insert(entryId, id);
            if (owner.size() == known) // seen before
                return VTFail(error, invalidPlugins);
        }
        if (checked)
            categories.append(Category{id, category, entryIds, ids.size()});
        ids.append(id);
    }

    // Only a complete set of categories can tell a dangling parent from a later one.
    if (!hierarchyIsValid(parentPositions(list, ids)))
        return VTFail(error, invalidHierarchy);

    if (checked) {
        *checked = Checked{};
        checked->list = list;
        checked->json.resize(list.size());
        checked->ids = std::move(ids);
        checked->whole = true;
        checked->changed = std::move(categories);
        checked->owner = std::move(owner);
        checked->entryCount = entryCount;
    }
    return true;
}

std::optional<VintrelleCategoryCache::Checked> VintrelleCategoryCache::check(const QJsonValue &categories, VintrelleError *error) const
{
    if (m_remembers && categories.isArray()) {
        if (std::optional<Checked> checked = checkChanges(categories.toArray()))
            return checked;
    }
    Checked checked;
    if (!validateWhole(categories, &checked, error))
        return std::nullopt;
    return checked;
}

// Proves `list` valid from what changed since the remembered list, or gives none: invalid, or
// too much changed to be worth it. Validity does not depend on the order of the categories, so
// only the changed ones are examined, and the rest is known to hold.
std::optional<VintrelleCategoryCache::Checked> VintrelleCategoryCache::checkChanges(const QJsonArray &list) const
{
    if (list.size() > VintrelleLimits::categories)
        return std::nullopt;
    // Past this many changed categories the whole validation is as cheap.
    const qsizetype mostChanged = 64 + list.size() / 8;

    Checked checked;
    checked.list = list;
    checked.ids.resize(list.size());
    checked.json.resize(list.size());
    std::vector<bool> kept(m_list.size(), false); // remembered positions still present
    bool hierarchyChanged = false;
    qsizetype entryCount = m_entryCount;

    for (qsizetype index = 0; index < list.size(); ++index) {
        const QJsonValue value = list.at(index);
        // A category untouched by the command is the very same container: the comparison ends at once.
        if (index < m_list.size() && value == m_list.at(index)) {
            if (kept[index])
                return std::nullopt; // present twice
            kept[index] = true;
            checked.ids[index] = m_ids.at(index);
            checked.json[index] = m_json.at(index);
            continue;
        }
        const QJsonObject object = value.toObject();
        QString id;
        if (!value.isObject() || !fitsIdentifier(object.value(key::id), &id))
            return std::nullopt;
        checked.ids[index] = id;
        const auto known = m_known.constFind(id);
        if (known != m_known.constEnd()) {
            if (kept[known->slot])
                return std::nullopt; // present twice
            kept[known->slot] = true;
            // Unchanged but elsewhere; at its own position it was compared above already.
            if (known->slot != index && known->object == object) {
                checked.moved.append({id, index});
                checked.json[index] = m_json.at(known->slot);
                continue;
            }
            hierarchyChanged = hierarchyChanged || known->object.value(key::parentId) != object.value(key::parentId);
            checked.removedIds.append(id);
            checked.removedIds.append(known->entryIds);
            entryCount -= known->entryIds.size();
        } else {
            hierarchyChanged = true;
        }
        if (checked.changed.size() >= mostChanged)
            return std::nullopt;
        checked.changed.append(Category{id, object, {}, index});
    }

    for (qsizetype slot = 0; slot < m_list.size(); ++slot) {
        if (kept[slot])
            continue;
        const Category &gone = *m_known.constFind(m_ids.at(slot));
        checked.removedCategories.append(gone.id);
        checked.removedIds.append(gone.id);
        checked.removedIds.append(gone.entryIds);
        entryCount -= gone.entryIds.size();
        hierarchyChanged = true;
    }

    // The changed categories' own rules, and their identifiers against every other one.
    const QSet<QString> removed(checked.removedIds.cbegin(), checked.removedIds.cend());
    QSet<QString> added;
    const auto isNew = [&](const QString &id) {
        if (added.contains(id) || (m_owner.contains(id) && !removed.contains(id)))
            return false;
        added.insert(id);
        return true;
    };
    for (Category &category : checked.changed) {
        if (!categoryFieldsFit(category.object, category.object.value(key::parentId)) || !isNew(category.id))
            return std::nullopt;
        const QJsonArray entries = category.object.value(key::entries).toArray();
        entryCount += entries.size();
        if (entryCount > VintrelleLimits::entries || !entriesFit(entries, &category.entryIds))
            return std::nullopt;
        for (const QString &entryId : std::as_const(category.entryIds))
            if (!isNew(entryId))
                return std::nullopt;
    }
    checked.entryCount = entryCount;

    if (hierarchyChanged && !hierarchyIsValid(parentPositions(list, checked.ids)))
        return std::nullopt;
    return checked;
}

void VintrelleCategoryCache::adopt(Checked &&checked)
{
    m_remembers = true;
    m_list = std::move(checked.list);
    m_ids = std::move(checked.ids);
    m_json = std::move(checked.json);
    m_entryCount = checked.entryCount;
    if (checked.whole) {
        m_owner = std::move(checked.owner);
        m_known.clear();
        m_known.reserve(checked.changed.size());
        for (Category &category : checked.changed)
            m_known.insert(category.id, std::move(category));
        return;
    }
    for (const QString &id : std::as_const(checked.removedIds))
        m_owner.remove(id);
    for (const QString &id : std::as_const(checked.removedCategories))
        m_known.remove(id);
    for (const auto &[id, slot] : std::as_const(checked.moved))
        m_known[id].slot = slot;
    for (Category &category : checked.changed) {
        m_owner.insert(category.id, category.id);
        for (const QString &entryId : std::as_const(category.entryIds))
            m_owner.insert(entryId, category.id);
        m_known.insert(category.id, std::move(category));
    }
}

QList<QByteArray> VintrelleCategoryCache::text(const QJsonObject &state, Checked &checked) const
{
    static const QByteArray open("{"), close("}"), colon(":"), comma(","), openList("["), closeList("]");
    QList<QByteArray> pieces;
    pieces.reserve(2 * checked.list.size() + 4 * state.size() + 4);
    pieces.append(open);
    for (auto it = state.constBegin(); it != state.constEnd(); ++it) {
        if (it != state.constBegin())
            pieces.append(comma);
        pieces.append(VintrelleCompactJson(it.key()));
        pieces.append(colon);
        if (it.key() != key::categories) {
            pieces.append(VintrelleCompactJson(it.value()));
            continue;
        }
        pieces.append(openList);
        for (qsizetype index = 0; index < checked.list.size(); ++index) {
            if (checked.json.at(index).isEmpty())
                checked.json[index] = VintrelleCompactJson(checked.list.at(index));
            if (index > 0)
                pieces.append(comma);
            pieces.append(checked.json.at(index));
        }
        pieces.append(closeList);
    }
    pieces.append(close);
    return pieces;
}

std::optional<VintrelleCategoryCache::Position> VintrelleCategoryCache::find(const QJsonValue &id) const
{
    if (!id.isString())
        return std::nullopt;
    const QString text = id.toString();
    const auto owner = m_owner.constFind(text);
    if (owner == m_owner.constEnd())
        return std::nullopt;
    const auto category = m_known.constFind(*owner);
    return Position{category->slot, *owner == text ? -1 : category->entryIds.indexOf(text)};
}
