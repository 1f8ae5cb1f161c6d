#pragma once

// The editor's tree as a Qt item model. A new library is applied as row removals and insertions
// (from VintrelleEditModel::rowChanges), never as a reset, so the view keeps its expansion,
// selection and scroll position and only the changed rows are laid out again.

#include "VintrelleEditModel.h"

#include <QAbstractItemModel>
#include <QHash>
#include <QStringList>

class VintrelleEditTreeModel : public QAbstractItemModel
{
    Q_OBJECT

public:
    enum Role { IdRole = Qt::UserRole + 1, KindRole };
    static inline const QString mimeType = QStringLiteral("com.dorvenhall.vintrelle.edit-row");

    explicit VintrelleEditTreeModel(QObject *parent = nullptr);

    const VintrelleEditModel &editModel() const { return m_model; }
    void setCategories(const QJsonArray &categories);

    QModelIndex indexForID(const QString &id) const;
    QString idAt(const QModelIndex &index) const;

    QModelIndex index(int row, int column, const QModelIndex &parent = {}) const override;
    QModelIndex parent(const QModelIndex &child) const override;
    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    bool hasChildren(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QStringList mimeTypes() const override;
    QMimeData *mimeData(const QModelIndexList &indexes) const override;

private:
    quintptr handleFor(const QString &id) const;
    void removeSubtree(const QString &id);
    void adoptSubtree(const QString &id, const QString &parentId);

    VintrelleEditModel m_model;
    // What the view was last told: changed one step at a time while a new library is applied.
    QHash<QString, QStringList> m_children; // parent id ("" for the top) -> children
    QHash<QString, QString> m_parents;      // shown id -> parent id
    // Stable handles for ids, so an index stays valid while its row is kept.
    mutable QHash<QString, quintptr> m_handles;
    mutable QStringList m_handleIds;
};
