#pragma once

#include <QHash>
#include <QJsonArray>
#include <QList>
#include <QString>

#include <optional>

// The library's flat "categories" array, indexed once so that any level of the quick menu can be
// built without walking the whole library: the categories fit to be rows, grouped by parent id
// in array order, and the first category holding each id (whose entries a level lists).
class VintrelleQuickMenuLibrary
{
public:
    VintrelleQuickMenuLibrary() = default;
    explicit VintrelleQuickMenuLibrary(const QJsonArray &categories);

    const QJsonArray &categories() const { return m_categories; }
    bool isEmpty() const { return m_categories.isEmpty(); }

    // Array positions of the category rows under `parentID` ("" for the top level), in order.
    QList<qsizetype> childCategories(const QString &parentID) const { return m_childrenByParent.value(parentID); }

    // The "entries" of the first category whose "id" is `categoryID`; empty when there is none or
    // it is not an array.
    QJsonArray entriesOf(const QString &categoryID) const;

    // The stored name of the first category with this id, else the label of the first entry with
    // it (categories in order, each one's entries in order); none when neither exists.
    std::optional<QString> displayNameOf(const QString &id) const;

private:
    QJsonArray m_categories;
    QHash<QString, QList<qsizetype>> m_childrenByParent;
    QHash<QString, qsizetype> m_firstCategoryByID;
};
