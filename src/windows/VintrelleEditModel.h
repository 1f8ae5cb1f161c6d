#pragma once

// The library editor's tree and every rule it applies, on plain data (no widgets).
//
// Nodes are keyed by their library identifier, which is unique across categories and entries, so
// a view can keep a node's identity across updates: a row's internal id can be the node id, and
// `rowChanges` tells a tree model which rows of which parent to remove and insert instead of
// resetting the whole list.

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

struct VintrelleEditEntry
{
    QString id;
    QString label;
    QString uri;
};

struct VintrelleEditCategory
{
    QString id;
    QString name;
    std::optional<QString> parentId;
    QList<VintrelleEditEntry> entries;
};

// The library's flat categories array as plain values; null, absent or non-text parents are none.
QList<VintrelleEditCategory> VintrelleEditCategoriesFromJson(const QJsonArray &categories);

// Every category below `parentId` (none: the top level) in tree order, each directly before its
// descendants; stops 64 levels down.
QList<const VintrelleEditCategory *> VintrelleEditDestinations(const QList<VintrelleEditCategory> &categories,
                                                               const std::optional<QString> &parentId, int depth = 0);

// "PARENT / CHILD": the names from the top down to `category`, upper-cased. A parent cycle stops
// at the first category seen twice.
QString VintrelleEditPath(const QList<VintrelleEditCategory> &categories, const VintrelleEditCategory &category);

// Which of the editor's controls may be used for the current selection.
struct VintrelleEditActions
{
    bool addSubcategory = false;
    bool addPlugin = false;
    bool moveUp = false;
    bool moveDown = false;
    bool rename = false;
    bool remove = false;
    bool moveTo = false; // the row menu offers "Move to" (a plug-in is selected)
};

// One item of the "Move to" menu.
struct VintrelleEditMoveDestination
{
    QString categoryID;
    QString title; // "PATH" or "PATH — notice"
    std::optional<QJsonObject> command; // none: shown disabled
};

// Where a dragged row would land: a position in the children of `parentId` (empty: the top level).
struct VintrelleEditDropTarget
{
    QString parentId;
    int childIndex = -1;
    bool operator==(const VintrelleEditDropTarget &) const = default;
};

struct VintrelleEditDrop
{
    VintrelleEditDropTarget target; // where the insertion line shows (the drop is retargeted here)
    QJsonObject command;
};

// The vertical extent of a visible row, in list coordinates (y grows downward).
struct VintrelleEditRowSpan
{
    double top = 0;
    double height = 0;
};
using VintrelleEditRowLookup = std::function<std::optional<VintrelleEditRowSpan>(const QString &id)>;

// What the list found under the pointer.
struct VintrelleEditDropProbe
{
    std::optional<QString> rowId; // the node of the row under the pointer
    double pointerY = 0;
    bool atOrBelowLastRow = false; // no row there, the list has rows and the pointer is at or below the last
};

// Expansion and selection to apply after the tree was rebuilt; `expanded` lists every category to
// open, each after its ancestors, and at most one per parent.
struct VintrelleEditRestorePlan
{
    QStringList expanded;
    std::optional<QString> selected;
};

// Rows of one parent to replace: remove `removeCount` rows at `first`, then insert `inserted` there.
struct VintrelleEditRowChange
{
    QString parentId; // empty: the top level
    int first = 0;
    int removeCount = 0;
    QStringList inserted;
};

class VintrelleEditModel
{
public:
    enum class Kind { Category, Plugin };

    struct Node
    {
        Kind kind = Kind::Category;
        QString id;
        QString title; // the stored name or label; shown upper-cased
        QString uri;
        QString parentId; // empty at the top level; a plug-in's owner
        QStringList children; // sub-categories first, then plug-ins
    };

    static constexpr int maximumDepth = 64;

    VintrelleEditModel() = default;
    explicit VintrelleEditModel(const QJsonArray &categories) { setCategories(categories); }

    // Rebuilds the tree from the library's flat categories array. A category whose JSON equals the
    // one `previous` read is taken over instead of read again: a library edit leaves all but a few
    // categories sharing their data with the previous state, and comparing those is immediate.
    void setCategories(const QJsonArray &categories, const VintrelleEditModel *previous = nullptr);

    const QList<VintrelleEditCategory> &categories() const { return m_categories; }
    const QStringList &roots() const { return m_roots; }
    const Node *node(const QString &id) const;
    // The children of `parentId`, or the top level for the empty id.
    const QStringList &childrenOf(const QString &parentId) const;
    int nodeCount() const { return int(m_nodes.size()); }

    // Selection rules.
    QStringList siblings(const std::optional<QString> &selected) const;
    std::optional<QString> selectedCategory(const std::optional<QString> &selected) const;
    VintrelleEditActions actions(const std::optional<QString> &selected) const;

    // Commands the editor sends.
    static QJsonObject addCategoryCommand();
    std::optional<QJsonObject> addSubcategoryCommand(const std::optional<QString> &selected) const;
    std::optional<QJsonObject> renameCommand(const std::optional<QString> &selected) const;
    std::optional<QJsonObject> deleteCommand(const std::optional<QString> &selected) const;
    std::optional<QJsonObject> reorderCommand(const std::optional<QString> &selected, int offset) const;
    static QJsonObject undoCommand();
    static QJsonObject redoCommand();
    static QJsonObject historyCommand();

    // Moving a plug-in to another category.
    std::optional<QString> dragNoticeForID(const QString &pluginID, const QString &categoryID) const;
    std::optional<QJsonObject> moveCommandForID(const QString &pluginID, const QString &categoryID) const;
    QList<VintrelleEditMoveDestination> moveDestinationsForID(const QString &pluginID) const;

    // Reordering by dragging.
    std::optional<VintrelleEditDropTarget> reorderIndexForID(const QString &id, const VintrelleEditDropProbe &probe,
                                                             const VintrelleEditRowLookup &rowSpan) const;
    std::optional<QJsonObject> dragCommandForID(const QString &id, const QString &parentId, int childIndex) const;
    std::optional<VintrelleEditDrop> dropForID(const QString &id, const VintrelleEditDropProbe &probe,
                                               const VintrelleEditRowLookup &rowSpan) const;

    // Expansion and selection.
    // The categories above `id` in the library, top first; at most 64, and cycle-safe.
    QStringList ancestorChain(const QString &id) const;
    // After this model replaced the one that showed `expandedBefore` with `selected` selected.
    VintrelleEditRestorePlan restorePlan(const std::optional<QString> &selected, const QSet<QString> &expandedBefore) const;
    // A click on a category row: it opens (closing its open siblings) or closes, with descendants.
    QSet<QString> expansionAfterClicking(const QSet<QString> &expanded, const QString &categoryID) const;
    // Any expansion: the other open categories of the same parent close, with their descendants.
    QSet<QString> expansionAfterExpanding(const QSet<QString> &expanded, const QString &categoryID) const;
    // After a successful move: the plug-in's category chain opens and the plug-in is selected.
    VintrelleEditRestorePlan revealPlan(const QString &pluginID, const QSet<QString> &expanded) const;

    // The row changes that turn `before`'s tree into `after`'s, parents before their children;
    // `retitled` gets the kept rows whose text changed.
    static QList<VintrelleEditRowChange> rowChanges(const VintrelleEditModel &before, const VintrelleEditModel &after,
                                                    QStringList *retitled = nullptr);

private:
    void buildChildren(const QString &parentId, int depth);
    const VintrelleEditCategory *category(const QString &id) const;
    std::optional<QString> libraryParentOf(const QString &id) const;
    void collapseWithDescendants(QSet<QString> &expanded, const QString &id) const;

    QList<VintrelleEditCategory> m_categories;
    QList<QJsonObject> m_sources; // the JSON each category was read from
    QHash<QString, qsizetype> m_categoryIndex; // id -> position in m_categories
    QHash<QString, QList<qsizetype>> m_childCategories; // parent id ("" for none) -> categories, library order
    QHash<QString, Node> m_nodes;
    QStringList m_roots;
};
