#pragma once

// The library editor: a small floating panel with the whole library as a tree. It never changes
// the library itself; every action becomes a command for `command` (finished commands) or
// `editAction` (edits that ask for a name first), and the new library comes back through
// `updateLibrary`, which keeps the selection and the open categories.

#include "VintrelleEditModel.h"
#include "VintrelleEditOutline.h"
#include "VintrelleReply.h"
#include "VintrelleDarkPanel.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QMenu;
class QPushButton;
class VintrelleEditHeader;
class VintrelleEditTreeModel;

class VintrelleNativeEdit : public VintrelleDarkPanel
{
    Q_OBJECT

public:
    static constexpr int panelWidth = 300;
    static constexpr int panelHeight = 420;
    static constexpr int dragStripHeight = 58;

    VintrelleNativeEdit();
    ~VintrelleNativeEdit() override;

    std::function<void(const QJsonObject &command, VintrelleReply reply)> command;
    std::function<void(const QJsonObject &command)> editAction;
    // Opens the plug-in search for a category; while unset "+ Plug-in" stays disabled.
    std::function<void(const QString &categoryID)> onAddPlugin;
    std::function<void()> onClose;
    std::function<void(const QPoint &topLeft)> onMoved;

    // Places the window at `topLeft` (global) unless it is already shown, then shows it in front.
    void showAtTopLeft(const QPoint &topLeft);
    void updateLibrary(const QJsonArray &categories);
    void setConnected(bool connected);

    // Actions of the buttons and menus.
    void addCategory();
    void addSubcategory();
    void addPlugin();
    void rename();
    void remove();
    void up() { reorder(-1); }
    void down() { reorder(+1); }
    void undo();
    void redo();
    void moveToDestination(const QString &pluginID, const QString &categoryID);
    void openCategoryAtRow(const QModelIndex &index);
    void revealMovedPlugin(const QString &pluginID);

    // The row menu for the current selection (Rename, Delete and, for a plug-in, "Move to").
    QMenu *contextMenu();

    std::optional<QString> selectedID() const;
    QSet<QString> expandedIDs() const { return m_expanded; }
    const VintrelleEditModel &editModel() const;
    VintrelleEditOutline *outline() const { return m_outline; }
    VintrelleEditTreeModel *treeModel() const { return m_model; }
    VintrelleEditHeader *header() const { return m_header; }
    QLabel *status() const { return m_status; }
    QPushButton *button(const QString &title) const; // by its title as given ("+ Category", "Undo", ...)
    bool historyBusy() const { return m_historyBusy; }

protected:
    void closeEvent(QCloseEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QPushButton *makeButton(const QString &title, void (VintrelleNativeEdit::*action)());
    QPushButton *makeHistoryButton(const QString &title, const QString &glyph, void (VintrelleNativeEdit::*action)());
    void reorder(int offset);
    void run(const QJsonObject &command);
    void refreshActions();
    void refreshHistory();
    void updateCompactSize();
    void applyExpansion(const QStringList &openTopDown);
    QStringList topDown(const QSet<QString> &ids) const;
    void selectID(const QString &id);
    int visibleRowCount(const QString &parentId = {}) const;
    QString lastVisibleRow(const QString &parentId) const;
    VintrelleEditDropProbe probeAt(const QPoint &viewportPoint) const;
    std::optional<VintrelleEditRowSpan> rowSpan(const QString &id) const;
    VintrelleEditOutline::DropFeedback dragFeedback(const QString &id, const QPoint &viewportPoint) const;
    std::optional<QJsonObject> dropCommand(const QString &id, const QPoint &viewportPoint) const;
    std::optional<QString> moveTargetAt(const QString &id, const QPoint &viewportPoint) const;

    VintrelleEditTreeModel *m_model;
    VintrelleEditHeader *m_header;
    VintrelleEditOutline *m_outline;
    QLabel *m_status;
    QList<QPushButton *> m_buttons;
    QPushButton *m_subButton, *m_pluginButton, *m_upButton, *m_downButton;
    QPushButton *m_doneButton, *m_undoButton, *m_redoButton;
    QMenu *m_menu = nullptr;
    QSet<QString> m_expanded;
    bool m_sizing = false;
    bool m_historyBusy = false;
    bool m_expandingDragDestination = false;
    bool m_updating = false;
    quint64 m_historyGeneration = 0;
};
