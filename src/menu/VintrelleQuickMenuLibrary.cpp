#include "VintrelleQuickMenuLibrary.h"

#include <QJsonObject>

VintrelleQuickMenuLibrary::VintrelleQuickMenuLibrary(const QJsonArray &categories)
    : m_categories(categories)
{
    for (qsizetype i = 0; i < categories.size(); ++i) {
        const QJsonValue element = categories.at(i);
        if (!element.isObject())
            continue;
        const QJsonObject category = element.toObject();
        const QJsonValue id = category.value(QLatin1String("id"));
        if (id.isString() && !m_firstCategoryByID.contains(id.toString()))
            m_firstCategoryByID.insert(id.toString(), i);

        // A category with an empty id would list the top level again as its own sub-menu.
        if (!id.isString() || id.toString().isEmpty() || !category.value(QLatin1String("name")).isString())
            continue;
        const QJsonValue parent = category.value(QLatin1String("parentId"));
        if (parent.isUndefined() || parent.isNull())
            m_childrenByParent[QString()].append(i);
        else if (parent.isString())
            m_childrenByParent[parent.toString()].append(i);
    }
}

QJsonArray VintrelleQuickMenuLibrary::entriesOf(const QString &categoryID) const
{
    const auto found = m_firstCategoryByID.constFind(categoryID);
    if (found == m_firstCategoryByID.constEnd())
        return {};
    return m_categories.at(*found).toObject().value(QLatin1String("entries")).toArray();
}

std::optional<QString> VintrelleQuickMenuLibrary::displayNameOf(const QString &id) const
{
    const auto found = m_firstCategoryByID.constFind(id);
    if (found != m_firstCategoryByID.constEnd()) {
        const QJsonValue name = m_categories.at(*found).toObject().value(QLatin1String("name"));
        return name.isString() ? std::optional<QString>(name.toString()) : std::nullopt;
    }
    for (const QJsonValue category : m_categories)
        for (const QJsonValue entry : category.toObject().value(QLatin1String("entries")).toArray()) {
            const QJsonObject object = entry.toObject();
            if (object.value(QLatin1String("id")) == QJsonValue(id)) {
                const QJsonValue label = object.value(QLatin1String("label"));
                return label.isString() ? std::optional<QString>(label.toString()) : std::nullopt;
            }
        }
    return std::nullopt;
}
