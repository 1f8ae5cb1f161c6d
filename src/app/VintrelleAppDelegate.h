#pragma once

#include "VintrelleCommandRouter.h"
#include "VintrelleNativeConnection.h"
#include "VintrelleReply.h"
#include "VintrelleStoreStartup.h"
#include "VintrelleQuickMenuOpening.h"
#include "VintrelleWindowAnchor.h"

#include <QJsonArray>
#include <QList>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QWidget;
class VintrelleGlobalInput;
class VintrellePlatform;
class VintrelleQuickMenuPresenter;
class VintrelleEditEntryPoints;
class VintrelleNativeEdit;
class VintrelleNativeNamePrompt;
class VintrelleNativeSearch;
class VintrelleNativeWelcome;
class VintrelleNativeSettings;
class VintrelleSingleInstance;
class VintrelleStatusItem;

// The owner of every long-lived object of the running program: the store start-up, the command
// router and bridge client, the status item and, as they arrive, the quick menu and the windows.
// Created once by main() and kept for the life of the process.
class VintrelleAppDelegate : public QObject
{
    Q_OBJECT

public:
    static constexpr int connectionCheckInterval = 15000;

    // `welcome`: started with --welcome, so the first opening shows the welcome window.
    explicit VintrelleAppDelegate(bool welcome = false, QObject *parent = nullptr);
    ~VintrelleAppDelegate() override;

    // The launch sequence: window actions, icon, status item, the accessibility question, then
    // openVintrelle().
    void launch();
    // Second launches reach us through this instance: open (reopen), toggle, welcome and commands.
    void attachInstance(VintrelleSingleInstance *instance);

    void openVintrelle();
    void toggleVintrelle();
    void welcomeVintrelle();
    void openNativeSettings();
    // The settings window, on the next turn: created on first use, at the secondary windows'
    // anchor, in place of the other secondary windows. Before the library is ready this opens
    // Vintrelle instead, which starts the library.
    void openQuickMenuSettings();
    void quit();

    // The one command entry point of every window (answers exactly once, on the main thread).
    void executeNativeCommand(const QJsonObject &command, VintrelleReply reply);
    // A plug-in chosen in the quick menu: loads it on the next turn; an unconfirmed load shows
    // "Plug-in not confirmed".
    void launchQuickMenuItem(const QString &entryID);

    // The quick menu, top-left corner at a global point (Qt coordinates). A request while the
    // library is not ready waits for it; one while the menu is open is ignored.
    void showQuickMenuAtPoint(const QPoint &globalPoint);
    bool isQuickMenuOpen() const;
    void closeQuickMenu();
    // Closes the secondary windows and reopens the quick menu where it last stood.
    void returnToMainMenu();
    // Where the next secondary window opens, and where the user last moved one.
    QPoint secondaryWindowAnchor();
    void rememberNativeWindowPosition(const QPoint &topLeft);

    // Filled in by the editor as it arrives; while unset, "EDIT" and "+" are disabled.
    std::function<void()> openNativeEditor;
    std::function<bool()> isNamePromptVisible;
    std::function<void()> raiseNamePrompt;
    std::function<void()> hideWelcomeWindow;
    std::function<void()> openNativeAddCategory;
    std::function<void(const QJsonObject &command, const QPoint &globalPoint)> performNativeEdit;

    // Every secondary window (editor, settings, search) registers here: toggling hides them
    // together, and a confirmed load closes them.
    void addSecondaryWindow(QWidget *window);
    // Gives a program window the application and Edit actions.
    void installWindowActions(QWidget *window);

    // Filled in by the windows as they arrive. Without a settings window no button offers it.
    std::function<void()> openSettingsWindow;
    std::function<void()> showWelcomeWindow;

    VintrelleStatusItem *statusItem() const { return m_statusItem.get(); }
    VintrelleCommandRouter *router() { return &m_router; }
    VintrelleNativeConnection *connection() { return &m_connection; }
    VintrelleStoreStartup *startup() { return &m_startup; }
    VintrellePlatform *platform() const { return m_platform.get(); }
    VintrelleGlobalInput *globalInput() const { return m_globalInput.get(); }
    VintrelleQuickMenuPresenter *quickMenu() const { return m_quickMenu.get(); }
    VintrelleNativeEdit *editor() const { return m_editor.get(); }
    VintrelleNativeSearch *pluginSearch() const { return m_search.get(); }
    // Made by the first welcome; null before.
    VintrelleNativeWelcome *welcome() const { return m_welcome.get(); }
    VintrelleNativeSettings *nativeSettings() const { return m_nativeSettings.get(); }
    const QJsonArray &quickMenuCategories() const { return m_quickMenuCategories; }
    bool quickMenuConnected() const { return m_quickMenuConnected; }
    const QTimer &connectionTimer() const { return m_connectionTimer; }
    int quickMenuOpenings() const { return m_quickMenuOpenings; }
    QPoint lastQuickMenuPoint() const { return m_lastQuickMenuPoint; }
    bool welcomeRequested() const { return m_welcomeRequested; }

signals:
    // The bridge answered a connection check differently from before (or for the first time).
    void quickMenuConnectedChanged(bool connected);
    // The library store holds a library state; it keeps one until the process ends.
    void libraryReady();

private:
    void nativeStoreReady();
    void nativeStartupFailed(const QString &informativeText, const QString &message = QStringLiteral("Library could not open"));
    void executeInstanceCommand(const QJsonObject &command, VintrelleReply reply);
    void closeWindowsAfterLoad();
    void showAbout();
    void hideProgramWindows();
    void askForAccessibilityOnce();
    void installGlobalInput();
    void showShortcutStatus(const QString &title, bool opensHelp);
    void tearDown();

    std::unique_ptr<VintrellePlatform> m_platform;
    VintrelleNativeConnection m_connection;
    VintrelleCommandRouter m_router;
    VintrelleStoreStartup m_startup;
    std::unique_ptr<VintrelleStatusItem> m_statusItem;
    std::unique_ptr<VintrelleGlobalInput> m_globalInput;
    std::function<void(const QJsonObject &, VintrelleReply)> windowCommand();
    void installQuickMenu();
    void installEditor();
    void installPluginSearch();
    void openNativePluginSearch(const QString &categoryID);
    void installWelcome();
    void showNativeWelcome();
    QTimer m_connectionTimer;
    QJsonArray m_quickMenuCategories;
    bool m_quickMenuConnected = false;
    bool m_connectionChecked = false;
    bool m_welcomeRequested = false;
    VintrelleQuickMenuOpening m_menuOpening;
    VintrelleWindowAnchor m_anchor;
    std::unique_ptr<VintrelleQuickMenuPresenter> m_quickMenu;
    std::unique_ptr<VintrelleNativeNamePrompt> m_namePrompt;
    std::unique_ptr<VintrelleNativeEdit> m_editor;
    std::unique_ptr<VintrelleNativeSettings> m_nativeSettings;
    std::unique_ptr<VintrelleEditEntryPoints> m_editEntryPoints;
    std::unique_ptr<VintrelleNativeSearch> m_search;
    std::unique_ptr<VintrelleNativeWelcome> m_welcome;
    int m_quickMenuOpenings = 0;
    QPoint m_lastQuickMenuPoint;
    QList<QPointer<QWidget>> m_secondaryWindows;
    // Commands of second launches that came before the library was ready.
    QList<std::pair<QJsonObject, VintrelleReply>> m_commandsAwaitingLibrary;
};
