#include "VintrelleEditTreeModel.h"

#include <QMimeData>

VintrelleEditTreeModel::VintrelleEditTreeModel(QObject *parent)
    : QAbstractItemModel(parent)
{
}

quintptr VintrelleEditTreeModel::handleFor(const QString &id) const
{
    const auto found = m_handles.constFind(id);
    if (found != m_handles.constEnd())
        return *found;
    m_handleIds.append(id);
    const quintptr handle = quintptr(m_handleIds.size()); // 0 stays free for "no index"
    m_handles.insert(id, handle);
    return handle;
}

QString VintrelleEditTreeModel::idAt(const QModelIndex &index) const
{
    if (!index.isValid() || index.internalId() == 0 || index.internalId() > quintptr(m_handleIds.size()))
        return {};
    return m_handleIds[qsizetype(index.internalId() - 1)];
}

QModelIndex VintrelleEditTreeModel::indexForID(const QString &id) const
{
    const auto parent = m_parents.constFind(id);
    if (parent == m_parents.constEnd())
        return {};
    const qsizetype row = m_children.value(*parent).indexOf(id);
    return row < 0 ? QModelIndex() : createIndex(int(row), 0, handleFor(id));
}

QModelIndex VintrelleEditTreeModel::index(int row, int column, const QModelIndex &parent) const
{
    if (column != 0 || row < 0)
        return {};
    const auto children = m_children.constFind(parent.isValid() ? idAt(parent) : QString());
    if (children == m_children.constEnd() || row >= children->size())
        return {};
    return createIndex(row, 0, handleFor(children->at(row)));
}

QModelIndex VintrelleEditTreeModel::parent(const QModelIndex &child) const
{
    const QString parentId = m_parents.value(idAt(child));
    return parentId.isEmpty() ? QModelIndex() : indexForID(parentId);
}

int VintrelleEditTreeModel::rowCount(const QModelIndex &parent) const
{
    if (parent.column() > 0)
        return 0;
    return int(m_children.value(parent.isValid() ? idAt(parent) : QString()).size());
}

int VintrelleEditTreeModel::columnCount(const QModelIndex &) const
{
    return 1;
}

bool VintrelleEditTreeModel::hasChildren(const QModelIndex &parent) const
{
    return rowCount(parent) > 0;
}

QVariant VintrelleEditTreeModel::data(const QModelIndex &index, int role) const
{
    const VintrelleEditModel::Node *node = m_model.node(idAt(index));
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return node->title.toUpper();
    case Qt::ToolTipRole:
        return node->title;
    case IdRole:
        return node->id;
    case KindRole:
        return int(node->kind);
    default:
        return {};
    }
}

Qt::ItemFlags VintrelleEditTreeModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled;
}

QStringList VintrelleEditTreeModel::mimeTypes() const
{
    return {mimeType};
}

QMimeData *VintrelleEditTreeModel::mimeData(const QModelIndexList &indexes) const
{
    if (indexes.isEmpty())
        return nullptr;
    auto *data = new QMimeData;
    data->setData(mimeType, idAt(indexes.first()).toUtf8());
    return data;
}

void VintrelleEditTreeModel::removeSubtree(const QString &id)
{
    m_parents.remove(id);
    const QStringList children = m_children.take(id);
    for (const QString &child : children)
        removeSubtree(child);
}

void VintrelleEditTreeModel::adoptSubtree(const QString &id, const QString &parentId)
{
    m_parents.insert(id, parentId);
    const QStringList &children = m_model.childrenOf(id);
    if (children.isEmpty())
        return;
    m_children.insert(id, children);
    for (const QString &child : children)
        adoptSubtree(child, id);
}

void VintrelleEditTreeModel::setCategories(const QJsonArray &categories)
{
    VintrelleEditModel next;
    next.setCategories(categories, &m_model);
    QStringList retitled;
    const QList<VintrelleEditRowChange> changes = VintrelleEditModel::rowChanges(m_model, next, &retitled);
    m_model = std::move(next);
    // Every change is in a different parent, and none lies inside a removed row, so all removals
    // can go first: a row that moves to another parent is then never shown twice.
    for (const VintrelleEditRowChange &change : changes) {
        if (change.removeCount <= 0)
            continue;
        beginRemoveRows(indexForID(change.parentId), change.first, change.first + change.removeCount - 1);
        QStringList children = m_children.take(change.parentId);
        const QStringList removed = children.mid(change.first, change.removeCount);
        children.remove(change.first, change.removeCount);
        if (!children.isEmpty() || change.parentId.isEmpty())
            m_children.insert(change.parentId, children);
        for (const QString &id : removed)
            removeSubtree(id);
        endRemoveRows();
    }
    // The first library adopts every node at once; sizing the table up front spares its regrowth.
    m_parents.reserve(m_model.nodeCount());
    for (const VintrelleEditRowChange &change : changes) {
        if (change.inserted.isEmpty())
            continue;
        beginInsertRows(indexForID(change.parentId), change.first, change.first + int(change.inserted.size()) - 1);
        QStringList children = m_children.take(change.parentId);
        for (qsizetype i = 0; i < change.inserted.size(); ++i)
            children.insert(change.first + i, change.inserted[i]);
        m_children.insert(change.parentId, children);
        for (const QString &id : change.inserted)
            adoptSubtree(id, change.parentId);
        endInsertRows();
    }
    for (const QString &id : std::as_const(retitled)) {
        const QModelIndex changed = indexForID(id);
        if (changed.isValid())
            emit dataChanged(changed, changed);
    }
}
