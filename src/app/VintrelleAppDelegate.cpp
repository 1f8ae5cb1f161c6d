#include "VintrelleAppDelegate.h"

#include "VintrelleGlobalInput.h"
#include "VintrelleLocalClicks.h"
#include "VintrelleEditEntryPoints.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeNamePrompt.h"
#include "VintrelleNativeSearch.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleNativeStore.h"
#include "VintrelleNativeWelcome.h"
#include "VintrellePaletteLibraryFiles.h"
#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleShortcut.h"
#include "VintrellePlatform.h"
#include "VintrelleRunModalAlert.h"
#include "VintrelleSingleInstance.h"
#include "VintrelleStatusItem.h"
#include "VintrelleUserLibraryChooser.h"
#include "VintrelleWindowActions.h"
#include "VintrelleWindowHelpers.h"

#include <QApplication>
#include <QAction>
#include <QCursor>
#include <QSettings>
#include <QWidget>

VintrelleAppDelegate::VintrelleAppDelegate(bool welcome, QObject *parent)
    : QObject(parent), m_platform(VintrelleCreatePlatform()), m_router(&m_connection), m_startup(&m_router),
      m_welcomeRequested(welcome)
{
    m_router.chooseUserLibrary = &VintrelleChooseUserLibrary;
    m_router.loadConfirmed = [this] { closeWindowsAfterLoad(); };
    connect(&m_startup, &VintrelleStoreStartup::ready, this, &VintrelleAppDelegate::nativeStoreReady);
    connect(&m_startup, &VintrelleStoreStartup::failed, this, [this](const QString &informativeText) {
        nativeStartupFailed(informativeText);
    });
    connect(&m_startup, &VintrelleStoreStartup::launcherFailed, this, [this](const QString &informativeText) {
        nativeStartupFailed(informativeText, QStringLiteral("Vintrelle could not open"));
    });
    // The launcher page's export and import requests, while that page exists.
    new VintrellePaletteLibraryFiles(&m_startup, this);
    m_connectionTimer.setInterval(connectionCheckInterval);
    connect(&m_connectionTimer, &QTimer::timeout, this, [this] {
        // A check never overlaps a load: the bridge serves one request at a time.
        if (!m_connection.loading())
            m_connection.check([](bool) {});
    });
    if (auto *application = qobject_cast<QApplication *>(QCoreApplication::instance()))
        connect(application, &QCoreApplication::aboutToQuit, this, &VintrelleAppDelegate::tearDown);
}

VintrelleAppDelegate::~VintrelleAppDelegate()
{
    tearDown();
}

void VintrelleAppDelegate::launch()
{
    // Every window installs the application and Edit actions itself (installWindowActions).
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(VintrelleStatusItemImage())));
    m_statusItem = std::make_unique<VintrelleStatusItem>();
    connect(m_statusItem.get(), &VintrelleStatusItem::toggleRequested, this, &VintrelleAppDelegate::toggleVintrelle);
    connect(m_statusItem.get(), &VintrelleStatusItem::quitRequested, this, &VintrelleAppDelegate::quit);
    askForAccessibilityOnce();
    installGlobalInput();
    // Before the editor, whose window actions and buttons offer the settings once they exist.
    openSettingsWindow = [self = QPointer(this)] { if (self) self->openQuickMenuSettings(); };
    installEditor();
    installWelcome();
    openVintrelle();
}

// The hot key, the double tap of Alt and the double right-click, from any program. Each gesture
// is acted on at the next turn of the event loop, never inside the input layer's delivery.
void VintrelleAppDelegate::installGlobalInput()
{
    m_globalInput = VintrelleGlobalInput::create();
    m_globalInput->menuOpen = [this] { return isQuickMenuOpen(); };
    m_globalInput->pointerOverOwnWindows = [](QPointF point) {
        QList<VintrellePanelFrame> frames;
        for (QWidget *window : QApplication::topLevelWidgets())
            frames.append({true, window->isVisible(), QRectF(window->frameGeometry())});
        return mouseInsideVisiblePanels(frames, point);
    };
    connect(m_globalInput.get(), &VintrelleGlobalInput::hotKeyPressed, this, &VintrelleAppDelegate::toggleVintrelle, Qt::QueuedConnection);
    connect(m_globalInput.get(), &VintrelleGlobalInput::optionDoubleTapped, this, &VintrelleAppDelegate::toggleVintrelle, Qt::QueuedConnection);
    connect(m_globalInput.get(), &VintrelleGlobalInput::doubleRightClick, this,
            [this](QPointF point) { showQuickMenuAtPoint(point.toPoint()); }, Qt::QueuedConnection);

    // Observation first: when the hot key cannot be grabbed, its keys are observed instead.
    m_globalInput->startObserving(nullptr);
    const VintrelleGlobalInput::ShortcutStatus status = m_globalInput->installGlobalMonitorFallback();
    showShortcutStatus(status.title, status.opensHelp);

    VintrellePreferences &preferences = m_router.preferences();
    preferences.applyShortcut = [this](const QString &combo, const QString &letter, VintrelleError *error) {
        return m_globalInput->applyShortcut(combo, letter, error);
    };
    preferences.shortcutChanged = [this] {
        const VintrelleGlobalInput::ShortcutStatus status = m_globalInput->shortcutStatus(ShortcutCombo(), ShortcutLetter());
        showShortcutStatus(status.title, status.opensHelp);
    };
}

// The status menu's second line names the active gesture, or what is missing; when something is
// missing, choosing it explains how to open Vintrelle with a desktop shortcut instead.
void VintrelleAppDelegate::showShortcutStatus(const QString &title, bool opensHelp)
{
    if (!m_statusItem)
        return;
    m_statusItem->setHotKeyStatus(title);
    QAction *item = m_statusItem->hotKeyStatusAction();
    item->disconnect(this);
    item->setEnabled(opensHelp);
    if (opensHelp)
        connect(item, &QAction::triggered, this, [this] {
            const QString reason = m_globalInput->unavailableReason();
            VintrelleRunModalAlert(
                QStringLiteral("Global shortcuts are not available"),
                (reason.isEmpty() ? QString() : reason + QStringLiteral("\n\n"))
                    + QStringLiteral("Bind the command \"vintrelle --toggle\" to a keyboard shortcut in your desktop's "
                                     "keyboard settings; it opens and closes Vintrelle like the hotkey does."));
        });
}

void VintrelleAppDelegate::askForAccessibilityOnce()
{
    QSettings defaults(QStringLiteral("Vintrelle"), QStringLiteral("Vintrelle"));
    if (defaults.value(QStringLiteral("AppleAccessibilityPromptRequested")).toBool())
        return;
    defaults.setValue(QStringLiteral("AppleAccessibilityPromptRequested"), true);
    if (!m_platform->isAccessibilityTrusted())
        m_platform->requestAccessibilityTrust();
}

void VintrelleAppDelegate::attachInstance(VintrelleSingleInstance *instance)
{
    connect(instance, &VintrelleSingleInstance::openRequested, this, &VintrelleAppDelegate::openVintrelle);
    connect(instance, &VintrelleSingleInstance::toggleRequested, this, &VintrelleAppDelegate::toggleVintrelle);
    connect(instance, &VintrelleSingleInstance::welcomeRequested, this, &VintrelleAppDelegate::welcomeVintrelle);
    instance->executeCommand = [self = QPointer(this)](const QJsonObject &command, VintrelleReply reply) {
        if (!self)
            return reply(std::nullopt, QStringLiteral("Vintrelle is quitting. Nothing was changed."));
        self->executeInstanceCommand(command, std::move(reply));
    };
}

void VintrelleAppDelegate::openVintrelle()
{
    const QPoint point = QCursor::pos();
    if (m_startup.isReady()) {
        QTimer::singleShot(0, this, [this, point] { showQuickMenuAtPoint(point); });
        return;
    }
    // Remembered until the library is ready; a later request moves the point, the menu opens once.
    showQuickMenuAtPoint(point);
}

// A later launch with --welcome shows the welcome window, as the first one would have.
void VintrelleAppDelegate::welcomeVintrelle()
{
    if (!m_startup.isReady()) {
        m_welcomeRequested = true; // shown instead of the quick menu once the library is ready
        return openVintrelle();
    }
    QTimer::singleShot(0, this, [this] {
        if (isQuickMenuOpen())
            closeQuickMenu();
        if (showWelcomeWindow)
            showWelcomeWindow();
    });
}

void VintrelleAppDelegate::toggleVintrelle()
{
    if (isQuickMenuOpen())
        return closeQuickMenu();
    bool hidden = false;
    for (const QPointer<QWidget> &window : std::as_const(m_secondaryWindows)) {
        if (window && window->isVisible()) {
            window->hide();
            hidden = true;
        }
    }
    if (!hidden)
        openVintrelle();
}

void VintrelleAppDelegate::openNativeSettings()
{
    if (openSettingsWindow)
        openSettingsWindow();
}

void VintrelleAppDelegate::openQuickMenuSettings()
{
    QTimer::singleShot(0, this, [self = QPointer(this)] {
        if (!self)
            return;
        if (!self->m_startup.isReady())
            return self->openVintrelle();
        if (!self->m_nativeSettings) {
            self->m_nativeSettings = std::make_unique<VintrelleNativeSettings>();
            VintrelleNativeSettings *settings = self->m_nativeSettings.get();
            settings->command = self->windowCommand();
            settings->onClose = [self] { if (self) self->returnToMainMenu(); };
            settings->onMoved = [self](const QPoint &topLeft) { if (self) self->rememberNativeWindowPosition(topLeft); };
            self->addSecondaryWindow(settings);
        }
        const QPoint anchor = self->secondaryWindowAnchor();
        self->closeQuickMenu();
        if (self->hideWelcomeWindow)
            self->hideWelcomeWindow();
        // The editor and the search window make way for the settings.
        for (const QPointer<QWidget> &window : std::as_const(self->m_secondaryWindows))
            if (window && window != self->m_nativeSettings.get())
                window->hide();
        self->m_nativeSettings->openAtPoint(anchor);
    });
}

void VintrelleAppDelegate::quit()
{
    QCoreApplication::quit();
}

void VintrelleAppDelegate::tearDown()
{
    m_connectionTimer.stop();
    m_globalInput.reset(); // releases every grab and the observation
    m_statusItem.reset();
}

void VintrelleAppDelegate::nativeStoreReady()
{
    const QJsonObject state = *m_startup.store()->state();
    m_quickMenuCategories = state.value("categories").toArray();
    m_connection.setBridgeURL(state.value("bridgeUrl").toString());
    m_connection.setToken(state.value("token").toString());
    m_connection.statusChanged = [self = QPointer(this)](bool connected) {
        if (!self || (self->m_quickMenuConnected == connected && self->m_connectionChecked))
            return;
        self->m_connectionChecked = true;
        self->m_quickMenuConnected = connected;
        emit self->quickMenuConnectedChanged(connected);
    };
    // After every save the quick menu, the editor and the search show the saved categories before
    // the command's reply arrives; whatever the start-up hooked in before keeps running.
    m_startup.store()->changed = [self = QPointer(this), before = m_startup.store()->changed] {
        if (self && self->m_startup.store()->state()) {
            self->m_quickMenuCategories = self->m_startup.store()->state()->value("categories").toArray();
            if (self->m_editor)
                self->m_editor->updateLibrary(self->m_quickMenuCategories);
            if (self->m_search)
                self->m_search->updateLibrary(self->m_quickMenuCategories);
        }
        if (before)
            before();
    };
    m_connection.check([](bool) {});
    m_connectionTimer.start();

    const QList<std::pair<QJsonObject, VintrelleReply>> waiting = std::exchange(m_commandsAwaitingLibrary, {});
    for (const auto &[command, reply] : waiting)
        m_router.executeNativeCommand(command, reply);
    emit libraryReady();

    const std::optional<QPoint> pending = m_menuOpening.takePending();
    if (!pending)
        return;
    QTimer::singleShot(0, this, [this, point = *pending] {
        if (std::exchange(m_welcomeRequested, false) && showWelcomeWindow)
            showWelcomeWindow();
        else
            showQuickMenuAtPoint(point);
    });
}

void VintrelleAppDelegate::nativeStartupFailed(const QString &informativeText, const QString &message)
{
    m_menuOpening.takePending();
    // Second launches waiting for the library hear why at once, not after the alert.
    const QList<std::pair<QJsonObject, VintrelleReply>> waiting = std::exchange(m_commandsAwaitingLibrary, {});
    for (const auto &[command, reply] : waiting)
        reply(std::nullopt, QStringLiteral("%1: %2").arg(message, informativeText));
    VintrelleRunModalAlert(message, informativeText);
}

void VintrelleAppDelegate::executeNativeCommand(const QJsonObject &command, VintrelleReply reply)
{
    m_router.executeNativeCommand(command, std::move(reply));
}

// A command of a second launch runs against the library, as it would in-process; before the
// library is ready it waits for it instead of going to a page that may never answer.
void VintrelleAppDelegate::executeInstanceCommand(const QJsonObject &command, VintrelleReply reply)
{
    if (m_startup.isReady())
        return m_router.executeNativeCommand(command, std::move(reply));
    m_commandsAwaitingLibrary.append({command, std::move(reply)});
    m_startup.prepare();
}

void VintrelleAppDelegate::launchQuickMenuItem(const QString &entryID)
{
    QTimer::singleShot(0, this, [self = QPointer(this), entryID] {
        if (!self)
            return;
        self->executeNativeCommand({{"op", "load"}, {"id", entryID}}, [self](std::optional<QJsonObject>, std::optional<QString> error) {
            if (!error || !self)
                return;
            // "Connection Settings" is offered only once there is a settings window to open.
            QStringList buttons{QStringLiteral("OK")};
            if (self->openSettingsWindow)
                buttons << QStringLiteral("Connection Settings");
            if (VintrelleRunModalAlert(QStringLiteral("Plug-in not confirmed"), *error, buttons) == VintrelleAlertSecondButton
                && self && self->openSettingsWindow)
                self->openSettingsWindow();
        });
    });
}

// The library editor, the name prompt and the edit requests of the quick menu's rows. The windows
// are made once and kept; closing one only hides it.
// The command callable every window gets: through the router while this delegate lives, and a
// plain refusal once it is gone.
std::function<void(const QJsonObject &, VintrelleReply)> VintrelleAppDelegate::windowCommand()
{
    return [self = QPointer(this)](const QJsonObject &command, VintrelleReply reply) {
        if (!self)
            return reply(std::nullopt, QStringLiteral("Vintrelle is quitting. Nothing was changed."));
        self->executeNativeCommand(command, std::move(reply));
    };
}

void VintrelleAppDelegate::installEditor()
{
    QPointer<VintrelleAppDelegate> self(this);
    const auto command = windowCommand();
    m_namePrompt = std::make_unique<VintrelleNativeNamePrompt>();
    m_namePrompt->onMoved = [self](QWidget *window) {
        if (self)
            self->rememberNativeWindowPosition(window->pos());
    };
    m_editor = std::make_unique<VintrelleNativeEdit>();
    m_editEntryPoints = std::make_unique<VintrelleEditEntryPoints>(m_namePrompt.get());
    m_editor->command = command;
    m_editor->editAction = [self](const QJsonObject &request) {
        if (self)
            self->m_editEntryPoints->performNativeEdit(request);
    };
    m_editor->onClose = [self] { if (self) self->returnToMainMenu(); };
    m_editor->onMoved = [self](const QPoint &topLeft) { if (self) self->rememberNativeWindowPosition(topLeft); };
    m_editor->setConnected(m_quickMenuConnected);
    connect(this, &VintrelleAppDelegate::quickMenuConnectedChanged, m_editor.get(), &VintrelleNativeEdit::setConnected);
    addSecondaryWindow(m_editor.get());

    m_editEntryPoints->command = command;
    m_editEntryPoints->anchor = [self] { return self ? self->secondaryWindowAnchor() : QPoint(); };
    m_editEntryPoints->openEditor = [self] { if (self && self->openNativeEditor) self->openNativeEditor(); };
    m_editEntryPoints->editorWindow = [self]() -> QWidget * {
        return self && self->m_editor && self->m_editor->isVisible() ? self->m_editor.get() : nullptr;
    };
    m_editEntryPoints->returnToBrowse = [self] { if (self) self->returnToMainMenu(); };

    openNativeEditor = [self] {
        if (!self)
            return;
        self->closeQuickMenu();
        if (self->hideWelcomeWindow)
            self->hideWelcomeWindow();
        self->m_editor->updateLibrary(self->m_quickMenuCategories);
        self->m_editor->showAtTopLeft(self->secondaryWindowAnchor());
    };
    openNativeAddCategory = [self] {
        if (!self)
            return;
        self->openNativeEditor();
        self->m_editEntryPoints->performNativeEdit(QJsonObject{{"categoryID", ""}, {"op", "addCategoryPrompt"}});
    };
    performNativeEdit = [self](const QJsonObject &request, const QPoint &) {
        if (self)
            self->m_editEntryPoints->performNativeEdit(request);
    };
    isNamePromptVisible = [self] { return self && self->m_namePrompt->window() && self->m_namePrompt->window()->isVisible(); };
    raiseNamePrompt = [self] {
        if (!self || !self->m_namePrompt->window())
            return;
        self->m_namePrompt->window()->raise();
        self->m_namePrompt->window()->activateWindow();
    };
    installPluginSearch();
}

// The plug-in search, opened by the editor's "+ Plug-in" for the selected category; closing it
// returns to the editor. It follows every saved change, before the change's reply reaches it.
void VintrelleAppDelegate::installPluginSearch()
{
    QPointer<VintrelleAppDelegate> self(this);
    m_search = std::make_unique<VintrelleNativeSearch>();
    m_search->command = windowCommand();
    m_search->onClose = [self] { if (self && self->openNativeEditor) self->openNativeEditor(); };
    m_search->onMoved = [self](const QPoint &topLeft) { if (self) self->rememberNativeWindowPosition(topLeft); };
    m_search->setConnected(m_quickMenuConnected);
    connect(this, &VintrelleAppDelegate::quickMenuConnectedChanged, m_search.get(), &VintrelleNativeSearch::setConnected);
    addSecondaryWindow(m_search.get());
    m_editor->onAddPlugin = [self](const QString &categoryID) { if (self) self->openNativePluginSearch(categoryID); };
}

void VintrelleAppDelegate::openNativePluginSearch(const QString &categoryID)
{
    // Where the editor stands now, before it is hidden.
    const QPoint anchor = m_editor && m_editor->isVisible() ? m_editor->pos() : secondaryWindowAnchor();
    QTimer::singleShot(0, this, [self = QPointer(this), categoryID, anchor] {
        if (!self)
            return;
        self->closeQuickMenu();
        if (self->hideWelcomeWindow)
            self->hideWelcomeWindow();
        for (const QPointer<QWidget> &window : std::as_const(self->m_secondaryWindows))
            if (window && window != self->m_search.get())
                window->hide();
        self->m_search->updateLibrary(self->m_quickMenuCategories);
        self->m_search->openForCategory(categoryID, anchor);
    });
}

// The welcome window of --welcome, made at its first showing and kept. It follows the
// connection while open; toggling, a loaded plug-in and the quick menu hide it with the other
// secondary windows.
void VintrelleAppDelegate::installWelcome()
{
    QPointer<VintrelleAppDelegate> self(this);
    showWelcomeWindow = [self] {
        if (self)
            self->showNativeWelcome();
    };
    hideWelcomeWindow = [self] {
        if (self && self->m_welcome)
            self->m_welcome->hide();
    };
    connect(this, &VintrelleAppDelegate::quickMenuConnectedChanged, this, [this](bool connected) {
        if (m_welcome)
            m_welcome->updateConnected(connected, !m_quickMenuCategories.isEmpty());
    });
}

void VintrelleAppDelegate::showNativeWelcome()
{
    QPointer<VintrelleAppDelegate> self(this);
    if (!m_welcome) {
        m_welcome = std::make_unique<VintrelleNativeWelcome>(VintrelleCompositorActive());
        m_welcome->onMoved = [self](QWidget *window) {
            if (self)
                self->rememberNativeWindowPosition(window->pos());
        };
        m_welcome->onClose = [self] {
            if (self)
                self->returnToMainMenu();
        };
        m_welcome->onLibrary = [self] {
            if (!self)
                return;
            self->m_welcome->hide();
            if (!self->m_quickMenuCategories.isEmpty())
                self->returnToMainMenu();
            else if (self->performNativeEdit)
                self->performNativeEdit(QJsonObject{{"op", "addCategoryPrompt"}, {"categoryID", ""}}, self->secondaryWindowAnchor());
        };
        addSecondaryWindow(m_welcome->window());
    }
    // The connect button offers the settings window only once there is one.
    m_welcome->onConnect = openSettingsWindow ? std::function<void()>([self] {
        if (self && self->openSettingsWindow)
            self->openSettingsWindow();
    }) : nullptr;
    m_welcome->setReducedMotion(m_platform->prefersReducedMotion());

    const QPoint anchor = secondaryWindowAnchor();
    closeQuickMenu();
    for (const QPointer<QWidget> &window : std::as_const(m_secondaryWindows))
        if (window)
            window->hide();
    m_welcome->updateConnected(m_quickMenuConnected, !m_quickMenuCategories.isEmpty());
    m_welcome->openAtPoint(anchor);
}

void VintrelleAppDelegate::installQuickMenu()
{
    m_quickMenu = std::make_unique<VintrelleQuickMenuPresenter>();
    QPointer<VintrelleAppDelegate> self(this);
    m_quickMenu->onChoosePlugin = [self](const QString &entryID) {
        if (self)
            self->launchQuickMenuItem(entryID);
    };
    if (openSettingsWindow)
        m_quickMenu->onSettings = [self] { if (self) self->openNativeSettings(); };
    if (openNativeEditor)
        m_quickMenu->onEdit = [self] { if (self && self->openNativeEditor) self->openNativeEditor(); };
    if (openNativeAddCategory)
        m_quickMenu->onAddCategory = [self] { if (self && self->openNativeAddCategory) self->openNativeAddCategory(); };
    if (performNativeEdit)
        m_quickMenu->onRowCommand = [self](const QJsonObject &command, const QPoint &point) {
            if (self && self->performNativeEdit)
                self->performNativeEdit(command, point);
        };
    m_quickMenu->onMoved = [self](const QPoint &topLeft) {
        if (self)
            self->m_anchor.menuMovedTo(topLeft);
    };
    m_quickMenu->onShown = [self](const QPoint &topLeft) {
        if (self)
            self->m_anchor.secondaryWindowAnchor(topLeft, QCursor::pos());
    };
    m_quickMenu->setConnected(m_quickMenuConnected);
    connect(this, &VintrelleAppDelegate::quickMenuConnectedChanged, m_quickMenu.get(), &VintrelleQuickMenuPresenter::setConnected);
}

void VintrelleAppDelegate::showQuickMenuAtPoint(const QPoint &globalPoint)
{
    const bool namePromptVisible = isNamePromptVisible && isNamePromptVisible();
    switch (m_menuOpening.request(globalPoint, namePromptVisible, isQuickMenuOpen(), m_startup.isReady())) {
    case VintrelleQuickMenuOpening::Decision::RaiseNamePrompt:
        if (raiseNamePrompt)
            raiseNamePrompt();
        return;
    case VintrelleQuickMenuOpening::Decision::Ignore:
        return;
    case VintrelleQuickMenuOpening::Decision::Defer:
        m_startup.prepare(); // does nothing while a preparation is under way
        return;
    case VintrelleQuickMenuOpening::Decision::Open:
        break;
    }
    if (hideWelcomeWindow)
        hideWelcomeWindow();
    if (m_statusItem)
        m_statusItem->toggleAction()->setText(QStringLiteral("Show Vintrelle"));
    for (const QPointer<QWidget> &window : std::as_const(m_secondaryWindows))
        if (window)
            window->hide();
    if (!m_quickMenu)
        installQuickMenu();
    m_anchor.menuRequestedAt(globalPoint);
    if (m_quickMenu->showAtPoint(m_quickMenuCategories, globalPoint)) {
        ++m_quickMenuOpenings;
        m_lastQuickMenuPoint = globalPoint;
    }
}

bool VintrelleAppDelegate::isQuickMenuOpen() const
{
    return m_quickMenu && m_quickMenu->isOpen();
}

void VintrelleAppDelegate::closeQuickMenu()
{
    if (m_quickMenu)
        m_quickMenu->close();
}

void VintrelleAppDelegate::returnToMainMenu()
{
    const QPoint point = m_anchor.mainMenuPoint(QCursor::pos());
    QTimer::singleShot(0, this, [self = QPointer(this), point] {
        if (!self)
            return;
        if (self->hideWelcomeWindow)
            self->hideWelcomeWindow();
        for (const QPointer<QWidget> &window : std::as_const(self->m_secondaryWindows))
            if (window)
                window->hide();
        if (!self->isQuickMenuOpen())
            self->showQuickMenuAtPoint(point);
    });
}

QPoint VintrelleAppDelegate::secondaryWindowAnchor()
{
    return m_anchor.secondaryWindowAnchor(m_quickMenu ? m_quickMenu->openMenuTopLeft() : std::nullopt, QCursor::pos());
}

void VintrelleAppDelegate::rememberNativeWindowPosition(const QPoint &topLeft)
{
    m_anchor.rememberNativeWindowPosition(topLeft);
}

void VintrelleAppDelegate::addSecondaryWindow(QWidget *window)
{
    m_secondaryWindows.removeAll(nullptr);
    if (!m_secondaryWindows.contains(window))
        m_secondaryWindows.append(window);
    installWindowActions(window);
}

void VintrelleAppDelegate::installWindowActions(QWidget *window)
{
    QPointer<VintrelleAppDelegate> self(this);
    VintrelleInstallWindowActions(window, {
        [self] { if (self) self->showAbout(); },
        openSettingsWindow ? std::function<void()>([self] { if (self) self->openNativeSettings(); }) : nullptr,
        [self] { if (self) self->hideProgramWindows(); },
        [self] { if (self) self->quit(); },
    });
}

void VintrelleAppDelegate::closeWindowsAfterLoad()
{
    closeQuickMenu();
    for (const QPointer<QWidget> &window : std::as_const(m_secondaryWindows))
        if (window)
            window->hide();
}

void VintrelleAppDelegate::showAbout()
{
    VintrelleRunModalAlert(QStringLiteral("Vintrelle %1").arg(QCoreApplication::applicationVersion()),
                           QStringLiteral("Your favourite plug-ins, one gesture away in Ableton Live."));
}

void VintrelleAppDelegate::hideProgramWindows()
{
    closeQuickMenu();
    for (QWidget *window : QApplication::topLevelWidgets())
        if (window->isVisible() && window->isWindow())
            window->hide();
}
