#include "VintrelleLibraryDocument.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QSet>

bool VTText(const QJsonValue &value, qsizetype maximum)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    return text.size() <= maximum && !text.trimmed().isEmpty();
}

bool VTFail(VintrelleError *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

std::optional<QJsonValue> VTCopyJSON(const QJsonValue &value)
{
    if (value.isUndefined())
        return std::nullopt;
    return value;
}

namespace {

bool isIdentifier(const QJsonValue &value)
{
    return VTText(value, VintrelleLimits::identifier);
}

} // namespace

bool VTValidateCategories(const QJsonValue &value, VintrelleError *error)
{
    using namespace VintrelleMessages;
    if (!value.isArray())
        return VTFail(error, unsupportedFile);
    const QJsonArray categories = value.toArray();
    if (categories.size() > VintrelleLimits::categories)
        return VTFail(error, unsupportedFile);

    QSet<QString> seen; // category and entry identifiers share one name space
    QHash<QString, QJsonValue> parentOf;
    seen.reserve(categories.size() * 4);
    parentOf.reserve(categories.size());
    qsizetype entryCount = 0;

    for (const QJsonValue &categoryValue : categories) {
        if (!categoryValue.isObject())
            return VTFail(error, invalidCategories);
        const QJsonObject category = categoryValue.toObject();
        const QJsonValue id = category.value(QLatin1String("id"));
        const QJsonValue parentId = category.value(QLatin1String("parentId"));
        const QJsonValue entriesValue = category.value(QLatin1String("entries"));
        if (!isIdentifier(id) || seen.contains(id.toString()) ||
            !VTText(category.value(QLatin1String("name")), VintrelleLimits::name) ||
            !(parentId.isNull() || isIdentifier(parentId)) || !entriesValue.isArray())
            return VTFail(error, invalidCategories);
        seen.insert(id.toString());
        parentOf.insert(id.toString(), parentId);

        QSet<QString> urisInCategory;
        for (const QJsonValue &entryValue : entriesValue.toArray()) {
            if (++entryCount > VintrelleLimits::entries || !entryValue.isObject())
                return VTFail(error, invalidPlugins);
            const QJsonObject entry = entryValue.toObject();
            const QJsonValue entryId = entry.value(QLatin1String("id"));
            const QJsonValue uri = entry.value(QLatin1String("uri"));
            const QJsonValue path = entry.value(QLatin1String("path"));
            if (!isIdentifier(entryId) || seen.contains(entryId.toString()) ||
                !VTText(entry.value(QLatin1String("label")), VintrelleLimits::name) ||
                !VTText(uri, VintrelleLimits::uri) || !path.isString() ||
                path.toString().size() > VintrelleLimits::path || urisInCategory.contains(uri.toString()))
                return VTFail(error, invalidPlugins);
            seen.insert(entryId.toString());
            urisInCategory.insert(uri.toString());
        }
    }

    // Only a complete set of categories can tell a dangling parent from a later one.
    for (const QJsonValue &categoryValue : categories) {
        const QJsonObject category = categoryValue.toObject();
        QSet<QString> visited{category.value(QLatin1String("id")).toString()};
        QJsonValue parent = category.value(QLatin1String("parentId"));
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
    return true;
}
