#include "VintrelleSearchModel.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <utility>

namespace {

bool isTopLevel(const QJsonObject &category)
{
    const QJsonValue parent = category.value("parentId");
    return parent.isUndefined() || parent.isNull();
}

void appendCategories(const QJsonArray &categories, const std::optional<QString> &parentID, const QString &prefix,
                      QSet<QString> seen, QList<VintrelleSearchDestination> &list)
{
    for (const QJsonValue value : categories) {
        const QJsonObject category = value.toObject();
        const QString id = category.value("id").toString();
        const bool onThisLevel = parentID ? category.value("parentId") == QJsonValue(*parentID) : isTopLevel(category);
        if (!onThisLevel || seen.contains(id))
            continue;
        const QString path = prefix + category.value("name").toString();
        list.append({id, path.toUpper(), path});
        QSet<QString> below = seen;
        below.insert(id);
        appendCategories(categories, id, path + QStringLiteral(" / "), below, list);
    }
}

} // namespace

QList<VintrelleSearchDestination> VintrelleSearchModel::destinationList(const QJsonArray &categories)
{
    QList<VintrelleSearchDestination> list;
    appendCategories(categories, std::nullopt, QString(), {}, list);
    return list;
}

QString VintrelleSearchModel::rowText(const QJsonObject &item, bool added)
{
    return item.value("name").toString() + (added ? QStringLiteral("  ✓") : QString()) + QLatin1Char('\n')
           + item.value("path").toString();
}

int VintrelleSearchModel::rowHeight(double textHeight)
{
    return std::max(52, int(std::ceil(textHeight)) + 20);
}

int VintrelleSearchModel::textWidth(int columnWidth)
{
    return std::max(100, columnWidth - 16);
}

void VintrelleSearchModel::setCategories(const QJsonArray &categories)
{
    m_categories = categories;
    m_destinations = destinationList(categories);
    if (m_destinationID && destinationIndex() < 0)
        m_destinationID.reset();
}

void VintrelleSearchModel::selectDestination(const QString &id)
{
    m_destinationID = id;
    if (destinationIndex() < 0)
        m_destinationID.reset();
}

int VintrelleSearchModel::destinationIndex() const
{
    if (!m_destinationID)
        return -1;
    const auto found = std::find_if(m_destinations.begin(), m_destinations.end(),
                                    [this](const VintrelleSearchDestination &entry) { return entry.id == *m_destinationID; });
    return found == m_destinations.end() ? -1 : int(found - m_destinations.begin());
}

void VintrelleSearchModel::selectRow(std::optional<int> row)
{
    m_selectedRow = row && *row >= 0 && *row < m_items.size() ? row : std::nullopt;
}

bool VintrelleSearchModel::isAdded(int row) const
{
    if (!m_destinationID || row < 0 || row >= m_items.size())
        return false;
    const QJsonValue uri = m_items.at(row).toObject().value("uri");
    for (const QJsonValue value : m_categories) {
        const QJsonObject category = value.toObject();
        if (category.value("id").toString() != *m_destinationID)
            continue;
        for (const QJsonValue entry : category.value("entries").toArray())
            if (entry.toObject().value("uri") == uri)
                return true;
    }
    return false;
}

void VintrelleSearchModel::opened()
{
    if (m_categories.isEmpty())
        m_status = noCategoriesStatus;
}

std::optional<QJsonObject> VintrelleSearchModel::beginSearch(const QString &text)
{
    const QString query = text.trimmed();
    if (query.isEmpty()) {
        m_status = blankQueryStatus;
        return std::nullopt;
    }
    ++m_generation;
    if (!m_searching)
        m_statusBeforeSearch = m_status;
    m_searching = true;
    m_status = searchingStatus;
    return QJsonObject{{"op", "search"}, {"query", query}};
}

bool VintrelleSearchModel::finishSearch(quint64 generation, const std::optional<QJsonObject> &result,
                                        const std::optional<QString> &error)
{
    if (generation != m_generation)
        return false;
    m_searching = false;
    if (error || !result) {
        m_status = error.value_or(QStringLiteral("The search did not answer. Your results are unchanged."));
        return true;
    }
    // Only objects can be results; anything else in the reply is not shown.
    m_items = QJsonArray();
    for (const QJsonValue item : result->value("items").toArray())
        if (item.isObject())
            m_items.append(item);
    m_selectedRow.reset();
    m_status = m_items.isEmpty() ? noResultsStatus : resultsStatus;
    return true;
}

void VintrelleSearchModel::closed()
{
    ++m_generation;
    // The forgotten search's "Searching Ableton…" would otherwise stay for good.
    if (std::exchange(m_searching, false))
        m_status = m_statusBeforeSearch;
}

std::optional<QJsonObject> VintrelleSearchModel::beginAdding()
{
    if (!addButton().enabled || !m_destinationID || !m_selectedRow)
        return std::nullopt;
    m_adding = true;
    m_status = addingStatus;
    return QJsonObject{{"op", "addPlugin"}, {"categoryID", *m_destinationID}, {"entry", m_items.at(*m_selectedRow)}};
}

void VintrelleSearchModel::finishAdding(const std::optional<QString> &error)
{
    m_adding = false;
    m_status = error.value_or(addedStatus);
}

VintrelleSearchAddButton VintrelleSearchModel::addButton() const
{
    const bool added = m_selectedRow && isAdded(*m_selectedRow);
    // A button that could not add (no destination chosen) is not offered either.
    return {added ? addedTitle : addTitle,
            !m_adding && !m_destinations.isEmpty() && m_destinationID && m_selectedRow && !added};
}
