#pragma once

#include "VintrelleQuickMenuLibrary.h"
#include "VintrelleMenuHeader.h"
#include "VintrelleQuickMenuRow.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonObject>
#include <QMenu>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QSet>

#include <functional>
#include <optional>

class QAction;

// Shows the library as the quick menu at a point. Sub-menus are filled when they first open, so
// opening costs the same for a small library and for the largest. A right-click on a category or
// plug-in row replaces the menu with RENAME and DELETE for that row. Everything the menu asks for
// goes out through the callbacks: a chosen plug-in on the next turn of the event loop, the other
// choices once their menu has closed.
//
// The controller decides first whether to open at all (VintrelleQuickMenuOpening), and sets the
// status menu's toggle item to "Show Vintrelle" when it opens the menu.
class VintrelleQuickMenuPresenter : public QObject
{
    Q_OBJECT

public:
    static constexpr int swallowReleaseFor = 500; // milliseconds
    static constexpr int frameKnownAfter = 10;    // milliseconds after opening

    explicit VintrelleQuickMenuPresenter(QObject *parent = nullptr);
    ~VintrelleQuickMenuPresenter() override;

    // Opens the main level with its top-left corner at the global point. False, and nothing
    // changes, while a menu of this presenter is open.
    bool showAtPoint(const QJsonArray &categories, const QPoint &globalTopLeft);
    bool isOpen() const { return m_tracking; }
    // Closes every menu of this presenter at once; onClosed follows on the next turn.
    void close();

    // The header of an open menu follows at once.
    void setConnected(bool connected);
    void setDarkTheme(bool dark);

    // The main level while it is on screen.
    QMenu *menu() const;
    // The main level's top-left corner while it is on screen (for the window anchor).
    std::optional<QPoint> openMenuTopLeft() const;
    // The row menu while it is on screen.
    QMenu *rowMenu() const;

    // A right-click at a global point while the menu is open: when it hits a category or plug-in
    // row, the menu closes, the row menu opens there on the next turn and the answer is true.
    bool handleContextAtPoint(const QPoint &globalPoint);

    // Reads a row's kind back from a menu item this presenter made.
    static std::optional<VintrelleQuickMenuRow::Kind> rowKindOf(const QAction *action);

    std::function<void(const QString &entryID)> onChoosePlugin; // next turn after the choice
    std::function<void()> onSettings;
    std::function<void()> onEdit;
    std::function<void()> onAddCategory;                        // the menu is already closed
    std::function<void(const QJsonObject &command, const QPoint &globalPoint)> onRowCommand;
    std::function<void(const QPoint &newTopLeft)> onMoved;      // the header dragged the menu
    std::function<void(const QPoint &topLeft)> onShown;         // the menu's frame is on screen
    std::function<void()> onClosed;                             // nothing of this presenter is open

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QMenu *createMenu(bool dressed);
    void dress(QMenu *menu);
    void disposeMainMenu();
    void fill(QMenu *menu, const VintrelleQuickMenuRows &rows);
    void fillSubmenu(QMenu *submenu);
    bool belongsToMainMenu(const QObject *object) const;
    void hideMenus();
    void finishIfClosed();
    void showRowMenu(const QString &id, const QString &name, const QPoint &point);

    VintrelleQuickMenuLibrary m_library;
    QPointer<QMenu> m_menu;
    QSet<QObject *> m_submenus; // owned; sub-menus have no parent widget

    QPointer<QMenu> m_rowMenu;
    QPointer<VintrelleMenuHeader> m_header;
    bool m_tracking = false;
    bool m_rowMenuPending = false;
    bool m_connected = false;
    bool m_darkTheme = true;
    bool m_swallowRightRelease = false;
    QElapsedTimer m_swallowSince;
};
