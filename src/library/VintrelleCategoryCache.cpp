#include "VintrelleCategoryCache.h"

#include "VintrelleJsonWriter.h"
#include "VintrelleLibraryKeys.h"

#include <QSet>

namespace {

namespace key = VintrelleKeys;

// VTText for a value already read as text.
bool fits(const QString &text, qsizetype maximum)
{
    return text.size() <= maximum && !text.trimmed().isEmpty();
}

} // namespace

bool VintrelleCategoryCache::validate(const QJsonValue &categories, VintrelleError *error)
{
    return validate(categories, nullptr, error);
}

bool VintrelleCategoryCache::validate(const QJsonValue &value, QStringList *order, VintrelleError *error)
{
    using namespace VintrelleMessages;
    if (!value.isArray())
        return VTFail(error, unsupportedFile);
    const QJsonArray categories = value.toArray();
    if (categories.size() > VintrelleLimits::categories)
        return VTFail(error, unsupportedFile);

    QSet<QString> seen; // category and entry identifiers share one name space
    QHash<QString, QJsonValue> parentOf;
    QHash<QString, Known> known;
    QStringList ids;
    seen.reserve(categories.size() * 8);
    parentOf.reserve(categories.size());
    known.reserve(categories.size());
    ids.reserve(categories.size());
    qsizetype entryCount = 0;

    for (const QJsonValue &categoryValue : categories) {
        if (!categoryValue.isObject())
            return VTFail(error, invalidCategories);
        const QJsonObject category = categoryValue.toObject();
        const QJsonValue idValue = category.value(key::id);
        const QString id = idValue.toString();
        const QJsonValue parentId = category.value(key::parentId);

        // A category seen before with the same content passed every check of its own; only the
        // checks that span categories remain, in the same order as below.
        const auto remembered = m_known.constFind(id);
        if (remembered != m_known.constEnd() && remembered->category == category) {
            if (seen.contains(id))
                return VTFail(error, invalidCategories);
            seen.insert(id);
            for (const QString &entryId : remembered->entryIds) {
                if (++entryCount > VintrelleLimits::entries || seen.contains(entryId))
                    return VTFail(error, invalidPlugins);
                seen.insert(entryId);
            }
            parentOf.insert(id, parentId);
            known.insert(id, *remembered);
            ids.append(id);
            continue;
        }

        const QJsonValue entriesValue = category.value(key::entries);
        const QJsonValue name = category.value(key::name);
        if (!idValue.isString() || !fits(id, VintrelleLimits::identifier) || seen.contains(id) || !name.isString() ||
            !fits(name.toString(), VintrelleLimits::name) ||
            !(parentId.isNull() || (parentId.isString() && fits(parentId.toString(), VintrelleLimits::identifier))) ||
            !entriesValue.isArray())
            return VTFail(error, invalidCategories);
        seen.insert(id);
        parentOf.insert(id, parentId);

        const QJsonArray entries = entriesValue.toArray();
        QSet<QString> urisInCategory;
        QStringList entryIds;
        entryIds.reserve(entries.size());
        for (const QJsonValue &entryValue : entries) {
            if (++entryCount > VintrelleLimits::entries || !entryValue.isObject())
                return VTFail(error, invalidPlugins);
            const QJsonObject entry = entryValue.toObject();
            const QJsonValue entryIdValue = entry.value(key::id), label = entry.value(key::label), uriValue = entry.value(key::uri),
                             path = entry.value(key::path);
            if (!entryIdValue.isString() || !label.isString() || !uriValue.isString() || !path.isString())
                return VTFail(error, invalidPlugins);
            const QString entryId = entryIdValue.toString(), uri = uriValue.toString();
            if (!fits(entryId, VintrelleLimits::identifier) || seen.contains(entryId) ||
                !fits(label.toString(), VintrelleLimits::name) || !fits(uri, VintrelleLimits::uri) ||
                path.toString().size() > VintrelleLimits::path || urisInCategory.contains(uri))
                return VTFail(error, invalidPlugins);
            seen.insert(entryId);
            urisInCategory.insert(uri);
            entryIds.append(entryId);
        }
        known.insert(id, Known{category, entryIds, {}});
        ids.append(id);
    }

    // Only a complete set of categories can tell a dangling parent from a later one.
    for (const QString &id : std::as_const(ids)) {
        QSet<QString> visited{id};
        QJsonValue parent = parentOf.value(id);
        while (!parent.isNull()) {
            const QString parentId = parent.toString();
            const auto found = parentOf.constFind(parentId);
            if (found == parentOf.constEnd() || visited.contains(parentId) ||
                visited.size() >= VintrelleLimits::depth)
                return VTFail(error, invalidHierarchy);
            visited.insert(parentId);
            parent = found.value();
        }
    }

    m_known = std::move(known);
    if (order)
        *order = std::move(ids);
    return true;
}

std::optional<QByteArray> VintrelleCategoryCache::saveText(const QJsonObject &state, VintrelleError *error)
{
    QStringList order;
    if (!validate(state.value(QLatin1String("categories")), &order, error))
        return std::nullopt;
    qsizetype expected = 1024;
    for (const Known &known : std::as_const(m_known))
        expected += known.json.size() + 1;

    QByteArray text;
    text.reserve(expected);
    text.append('{');
    for (auto it = state.constBegin(); it != state.constEnd(); ++it) {
        if (it != state.constBegin())
            text.append(',');
        text.append(VintrelleCompactJson(it.key()));
        text.append(':');
        if (it.key() != QLatin1String("categories")) {
            text.append(VintrelleCompactJson(it.value()));
            continue;
        }
        text.append('[');
        for (qsizetype index = 0; index < order.size(); ++index) {
            Known &known = m_known[order.at(index)];
            if (known.json.isEmpty())
                known.json = VintrelleCompactJson(known.category);
            if (index > 0)
                text.append(',');
            text.append(known.json);
        }
        text.append(']');
    }
    text.append('}');
    return text;
}
