#pragma once

// The plug-in search window's state and rules on plain data: the destination list, the results,
// which of them the destination already holds, the status line, the add button and the search
// generations. The window only shows what this says and sends the commands it makes.

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

struct VintrelleSearchDestination
{
    QString id;
    QString title;   // the path in upper case: "INSTRUMENTS / SYNTHS"
    QString toolTip; // the path in the names' own case
};

struct VintrelleSearchAddButton
{
    QString title;
    bool enabled = false;
};

class VintrelleSearchModel
{
public:
    static inline const QString idleStatus = QStringLiteral("Search for a plug-in or Ableton device.");
    static inline const QString noCategoriesStatus = QStringLiteral("Create a category from Edit first.");
    static inline const QString blankQueryStatus = QStringLiteral("Enter a plug-in name.");
    static inline const QString searchingStatus = QStringLiteral("Searching Ableton…");
    static inline const QString resultsStatus = QStringLiteral("Select a result to add it.");
    static inline const QString noResultsStatus = QStringLiteral("No matching plug-ins found.");
    static inline const QString addingStatus = QStringLiteral("Adding plug-in…");
    static inline const QString addedStatus = QStringLiteral("Plug-in added.");
    static inline const QString addTitle = QStringLiteral("+ Add Selected");
    static inline const QString addedTitle = QStringLiteral("Added ✓");

    // Every category depth first from the top level, in library order, each once: a category
    // met again (a cycle or a repeated identifier) is not descended into a second time.
    static QList<VintrelleSearchDestination> destinationList(const QJsonArray &categories);

    // The row's text: the name, "  ✓" when added, a line break, the path.
    static QString rowText(const QJsonObject &item, bool added);
    // Wrapped text of `textHeight` gets a row of this height; the text wraps at `textWidth`.
    static int rowHeight(double textHeight);
    static int textWidth(int columnWidth);

    // New categories; the chosen destination stays chosen while it exists.
    void setCategories(const QJsonArray &categories);
    const QJsonArray &categories() const { return m_categories; }
    const QList<VintrelleSearchDestination> &destinations() const { return m_destinations; }
    // Chooses the destination with `id`; none is chosen when no destination has it.
    void selectDestination(const QString &id);
    std::optional<QString> destinationID() const { return m_destinationID; }
    int destinationIndex() const;

    const QJsonArray &items() const { return m_items; }
    void selectRow(std::optional<int> row);
    std::optional<int> selectedRow() const { return m_selectedRow; }
    // Whether the chosen destination holds an entry with the result's uri.
    bool isAdded(int row) const;

    const QString &status() const { return m_status; }
    // The window opens: without categories nothing can be added, and the status says why.
    void opened();

    // The search command for the field's text, or none (and a status saying why) for a blank one.
    std::optional<QJsonObject> beginSearch(const QString &text);
    quint64 generation() const { return m_generation; }
    // A search reply: applied only when `generation` is still the current one. An error keeps
    // the results. Returns whether the reply was applied.
    bool finishSearch(quint64 generation, const std::optional<QJsonObject> &result, const std::optional<QString> &error);
    // The window closed: a search in flight is forgotten.
    void closed();

    // The addPlugin command for the selected result, or none when the button would not take it.
    std::optional<QJsonObject> beginAdding();
    void finishAdding(const std::optional<QString> &error);
    bool adding() const { return m_adding; }

    VintrelleSearchAddButton addButton() const;

private:
    QJsonArray m_categories;
    QList<VintrelleSearchDestination> m_destinations;
    std::optional<QString> m_destinationID;
    QJsonArray m_items;
    std::optional<int> m_selectedRow;
    QString m_status = idleStatus;
    QString m_statusBeforeSearch;
    quint64 m_generation = 0;
    bool m_searching = false;
    bool m_adding = false;
};
