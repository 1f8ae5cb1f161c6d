#include "VintrelleTestSupport.h"
#include "VintrelleAppDelegate.h"
#include "VintrelleCommandLine.h"
#include "VintrelleGlassButton.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleNativeStore.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleWelcomeArt.h"
#include "VintrelleWelcomeStatus.h"
#include "VintrelleRunModalAlert.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleStatusItem.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWindowActions.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>

using S = VintrelleScriptedServer;

// The application delegate in this process, on the offscreen platform, against real files and
// loopback servers. Alerts and the folder chooser are answered by the test.
class TestAppDelegate : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

    void writeLibrary(const QString &bridgeURL = "http://127.0.0.1:9", const QString &token = "secret")
    {
        QJsonObject state = stateWith({categoryObject("C1", "Synths", QJsonValue::Null,
                                                      {entryObject("E1", "Pad Machine", "query:Synths#Pad")})});
        state["bridgeUrl"] = bridgeURL;
        state["token"] = token;
        writeFile(m_home.libraryPath(), compact(state));
    }

    // A delegate launched and waited for until its library is ready.
    std::unique_ptr<VintrelleAppDelegate> launched(bool welcome = false)
    {
        auto delegate = std::make_unique<VintrelleAppDelegate>(welcome);
        QSignalSpy ready(delegate.get(), &VintrelleAppDelegate::libraryReady);
        delegate->launch();
        if (ready.isEmpty() && !ready.wait(10000)) // a saved library is ready at once
            return nullptr;
        return delegate;
    }

private slots:
    void initTestCase()
    {
        m_home.apply();
    }

    void init()
    {
        QFile::remove(m_home.libraryPath());
        writeLibrary();
    }

    void launchOpensTheQuickMenuOnceReady()
    {
        auto delegate = launched();
        QVERIFY(delegate);
        QCOMPARE(delegate->quickMenuCategories().size(), 1);
        QCOMPARE(delegate->connection()->bridgeURL(), QStringLiteral("http://127.0.0.1:9"));
        QCOMPARE(delegate->connectionTimer().interval(), 15000);
        QVERIFY(delegate->connectionTimer().isActive());
        QCOMPARE(delegate->quickMenuOpenings(), 0); // on the next turn, not inside the ready call
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        // A saved change reaches the quick menu's categories before the command's reply.
        int categoriesAtReply = -1;
        delegate->executeNativeCommand({{"op", "addCategory"}, {"name", "Drums"}}, [&](auto, auto) {
            categoriesAtReply = int(delegate->quickMenuCategories().size());
        });
        QCOMPARE(categoriesAtReply, 2);
        // The first launch asked about accessibility and noted it.
        QVERIFY(QSettings("Vintrelle", "Vintrelle").value("AppleAccessibilityPromptRequested").toBool());
    }

    // The check at once after the library is ready reaches the headers through one signal.
    void connectionStateReachesTheHeaders_data()
    {
        QTest::addColumn<QList<QByteArray>>("answers"); // empty: nothing listens
        QTest::addColumn<QString>("token");
        QTest::addColumn<bool>("connected");
        const QByteArray healthy = R"({"ok":true,"data":{"configured":true}})";
        const QByteArray refusedEmptyQuery = R"({"ok":false,"error":{"code":"invalid_request","message":"Empty."}})";
        QTest::newRow("bridge answers") << QList<QByteArray>{healthy, refusedEmptyQuery} << "secret" << true;
        QTest::newRow("nothing listens") << QList<QByteArray>{} << "secret" << false;
        QTest::newRow("bridge not configured") << QList<QByteArray>{R"({"ok":true,"data":{"configured":false}})"} << "secret" << false;
        QTest::newRow("no token in the library") << QList<QByteArray>{healthy, refusedEmptyQuery} << "" << false;
    }

    void connectionStateReachesTheHeaders()
    {
        QFETCH(QList<QByteArray>, answers);
        QFETCH(QString, token);
        QFETCH(bool, connected);
        S bridge;
        for (int check = 0; check < 2 && !answers.isEmpty(); ++check) {
            bridge.script << S::json(200, answers.first());
            if (answers.size() > 1)
                bridge.script << S::json(400, answers.at(1));
        }
        writeLibrary(answers.isEmpty() ? "http://127.0.0.1:9" : bridge.url(), token);
        VintrelleAppDelegate delegate;
        QSignalSpy changed(&delegate, &VintrelleAppDelegate::quickMenuConnectedChanged);
        delegate.launch();
        QTRY_COMPARE(changed.size(), 1);
        QCOMPARE(changed.first().first().toBool(), connected);
        QCOMPARE(delegate.quickMenuConnected(), connected);
        // A later check with the same outcome tells nobody.
        delegate.connection()->check([](bool) {});
        QTest::qWait(100);
        QCOMPARE(changed.size(), 1);
    }

    void welcomeReplacesTheFirstMenu_data()
    {
        QTest::addColumn<bool>("welcome");
        QTest::addColumn<int>("menus");
        QTest::newRow("plain start") << false << 1;
        QTest::newRow("--welcome") << true << 0;
    }

    void welcomeReplacesTheFirstMenu()
    {
        QFETCH(bool, welcome);
        QFETCH(int, menus);
        auto delegate = launched(welcome);
        QVERIFY(delegate);
        QTRY_COMPARE(delegate->quickMenuOpenings() + (delegate->welcome() ? 1 : 0), 1);
        QTest::qWait(20);
        QCOMPARE(delegate->quickMenuOpenings(), menus);
        QCOMPARE(delegate->welcome() && delegate->welcome()->isVisible(), welcome);
        if (welcome) {
            QVERIFY(delegate->welcome()->art()->isAnimating());
            // Toggling hides it and opens nothing.
            delegate->toggleVintrelle();
            QVERIFY(!delegate->welcome()->isVisible());
            QVERIFY(!delegate->welcome()->art()->isAnimating());
            QTest::qWait(20);
            QCOMPARE(delegate->quickMenuOpenings(), 0);
            delegate->showWelcomeWindow();
            QVERIFY(delegate->welcome()->isVisible());
        } else {
            delegate->closeQuickMenu();
            QTRY_VERIFY(!delegate->isQuickMenuOpen());
        }
        // Later openings show the menu, and the welcome window goes; Escape on it returns to the menu.
        if (welcome)
            QTest::keyClick(delegate->welcome()->window(), Qt::Key_Escape);
        else
            delegate->openVintrelle();
        QTRY_COMPARE(delegate->quickMenuOpenings(), menus + 1);
        QVERIFY(!delegate->welcome() || !delegate->welcome()->isVisible());
    }

    // The library button: an empty library asks for the first category's name, and the name
    // given becomes a category; otherwise the quick menu opens.
    void welcomeLibraryButton_data()
    {
        QTest::addColumn<QJsonArray>("categories");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("menus");
        QTest::newRow("empty library") << QJsonArray() << "CREATE YOUR FIRST CATEGORY" << 0;
        QTest::newRow("categories") << QJsonArray{categoryObject("C1", "Synths")} << "OPEN YOUR LIBRARY" << 1;
    }

    void welcomeLibraryButton()
    {
        QFETCH(QJsonArray, categories);
        QFETCH(QString, title);
        QFETCH(int, menus);
        writeFile(m_home.libraryPath(), compact(stateWith(categories)));
        auto delegate = launched(true);
        QVERIFY(delegate);
        QTRY_VERIFY(delegate->welcome() && delegate->welcome()->isVisible());
        QCOMPARE(delegate->welcome()->libraryButton()->text(), title);
        QTest::mouseClick(delegate->welcome()->libraryButton(), Qt::LeftButton);
        QVERIFY(!delegate->welcome()->isVisible());
        QTest::qWait(50);
        QTRY_COMPARE(delegate->quickMenuOpenings(), menus);
        QWidget *prompt = nullptr;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->isVisible() && window->windowTitle() == u"New Category")
                prompt = window;
        QCOMPARE(prompt != nullptr, categories.isEmpty());
        if (!prompt)
            return;
        auto *field = prompt->findChild<QLineEdit *>();
        QVERIFY(field);
        QTest::keyClicks(field, "Drums");
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(delegate->quickMenuCategories().size(), 1);
        QCOMPARE(delegate->quickMenuCategories().first()["name"].toString(), QStringLiteral("Drums"));
        QVERIFY(readFile(m_home.libraryPath()).contains("\"Drums\""));
    }

    // The status and the connect button follow the bridge while the window is open; the button
    // opens the settings window.
    void welcomeFollowsTheConnection()
    {
        const QByteArray healthy = R"({"ok":true,"data":{"configured":true}})";
        const QByteArray refusedEmptyQuery = R"({"ok":false,"error":{"code":"invalid_request","message":"Empty."}})";
        S bridge;
        bridge.script << S::json(200, healthy) << S::json(400, refusedEmptyQuery);
        bridge.fallback = S::close(); // then Ableton goes away
        writeLibrary(bridge.url());
        VintrelleAppDelegate delegate(true);
        delegate.launch();
        int settingsOpened = 0;
        delegate.openSettingsWindow = [&settingsOpened] { ++settingsOpened; }; // in place of the real window
        QTRY_VERIFY(delegate.welcome() && delegate.welcome()->isVisible());
        VintrelleNativeWelcome *welcome = delegate.welcome();
        QTRY_COMPARE(welcome->connectButton()->text(), QStringLiteral("CONNECTED TO ABLETON ✓"));
        QVERIFY(welcome->header()->connected());
        QVERIFY(!welcome->header()->isPulsing());
        delegate.connection()->check([](bool) {});
        QTRY_COMPARE(welcome->connectButton()->text(), QStringLiteral("CONNECT TO ABLETON"));
        QVERIFY(!welcome->header()->connected());
        QVERIFY(welcome->header()->isPulsing());
        QVERIFY(welcome->isVisible());
        QVERIFY(welcome->connectButton()->isEnabled());
        QTest::mouseClick(welcome->connectButton(), Qt::LeftButton);
        QCOMPARE(settingsOpened, 1);
    }

    void toggleHidesWindowsOrOpens_data()
    {
        QTest::addColumn<QList<bool>>("visible");
        QTest::addColumn<int>("menus");
        QTest::newRow("no windows") << QList<bool>{} << 1;
        QTest::newRow("all hidden") << QList<bool>{false, false, false} << 1;
        QTest::newRow("one of three shown") << QList<bool>{false, true, false} << 0;
        QTest::newRow("all shown") << QList<bool>{true, true, true} << 0;
    }

    void toggleHidesWindowsOrOpens()
    {
        QFETCH(QList<bool>, visible);
        QFETCH(int, menus);
        auto delegate = launched();
        QVERIFY(delegate);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        delegate->toggleVintrelle(); // the open menu closes first, and nothing else happens
        QTRY_VERIFY(!delegate->isQuickMenuOpen());
        QCOMPARE(delegate->quickMenuOpenings(), 1);
        std::vector<std::unique_ptr<QWidget>> windows;
        for (bool shown : visible) {
            windows.push_back(std::make_unique<QWidget>());
            delegate->addSecondaryWindow(windows.back().get());
            windows.back()->setVisible(shown);
        }
        delegate->toggleVintrelle();
        QTest::qWait(20);
        QCOMPARE(delegate->quickMenuOpenings(), 1 + menus);
        for (const auto &window : windows)
            QVERIFY(!window->isVisible());
    }

    void failedStartShowsTheAlertAndTheNextOpeningRetries()
    {
        writeFile(m_home.libraryPath(), R"({"nativeVersion":2,"categories":[]})");
        const QByteArray before = readFile(m_home.libraryPath());
        VintrelleAppDelegate delegate;
        QSignalSpy ready(&delegate, &VintrelleAppDelegate::libraryReady);
        auto alert = pressInNextModal("OK");
        delegate.launch();
        QTRY_VERIFY(alert->seen);
        QCOMPARE(alert->text, QStringLiteral("Library could not open"));
        QCOMPARE(alert->informativeText, QStringLiteral("Your original library is unchanged."));
        QCOMPARE(readFile(m_home.libraryPath()), before);
        QCOMPARE(delegate.quickMenuOpenings(), 0);

        writeLibrary();
        delegate.openVintrelle();
        QVERIFY(!ready.isEmpty() || ready.wait(10000));
        QTRY_COMPARE(delegate.quickMenuOpenings(), 1);
    }

    // A plug-in chosen in the quick menu: a confirmed load closes the windows silently; anything
    // else shows "Plug-in not confirmed", offering the settings only once they exist.
    void launchedPlugInOutcomes_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QByteArray>("bridgeAnswer");
        QTest::addColumn<bool>("settingsWindow");
        QTest::addColumn<QString>("press");
        QTest::addColumn<QString>("alert"); // empty: none expected
        QTest::addColumn<bool>("windowsClosed");
        QTest::addColumn<int>("settingsOpened");
        const QByteArray loaded = R"({"ok":true,"data":{"loaded":true}})";
        const QByteArray notLoaded = R"({"ok":true,"data":{"loaded":false}})";
        const QString notConfirmed = "Request sent, but loading was not confirmed. Check the selected Ableton track before trying again.";
        QTest::newRow("confirmed") << "E1" << loaded << true << "" << "" << true << 0;
        QTest::newRow("not confirmed, no settings window yet") << "E1" << notLoaded << false << "OK" << notConfirmed << false << 0;
        QTest::newRow("not confirmed, OK") << "E1" << notLoaded << true << "OK" << notConfirmed << false << 0;
        QTest::newRow("not confirmed, Connection Settings") << "E1" << notLoaded << true << "Connection Settings" << notConfirmed << false << 1;
        QTest::newRow("entry gone") << "E9" << loaded << true << "OK" << "Plug-in is no longer available." << false << 0;
    }

    void launchedPlugInOutcomes()
    {
        QFETCH(QString, entry);
        QFETCH(QByteArray, bridgeAnswer);
        QFETCH(bool, settingsWindow);
        QFETCH(QString, press);
        QFETCH(QString, alert);
        QFETCH(bool, windowsClosed);
        QFETCH(int, settingsOpened);
        S bridge;
        bridge.fallback = S::json(200, bridgeAnswer);
        writeLibrary(bridge.url());
        auto delegate = launched();
        QVERIFY(delegate);
        int opened = 0;
        delegate->openSettingsWindow = nullptr;
        if (settingsWindow)
            delegate->openSettingsWindow = [&opened] { ++opened; };
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1); // the menu of the launch hides windows as it opens
        delegate->closeQuickMenu();
        QWidget editor;
        delegate->addSecondaryWindow(&editor);
        editor.show();

        auto answered = press.isEmpty() ? std::shared_ptr<VintrelleModalAnswer>() : pressInNextModal(press);
        delegate->launchQuickMenuItem(entry);
        QVERIFY(!delegate->connection()->loading()); // nothing is sent inside the menu action
        if (answered) {
            QTRY_VERIFY(answered->seen);
            QCOMPARE(answered->text, QStringLiteral("Plug-in not confirmed"));
            QCOMPARE(answered->informativeText, alert);
            QCOMPARE(answered->buttons, settingsWindow ? QStringList({"OK", "Connection Settings"}) : QStringList({"OK"}));
        } else {
            QTRY_VERIFY(!editor.isVisible());
            QTest::qWait(50);
            QVERIFY(!QApplication::activeModalWidget());
        }
        QTRY_VERIFY(!delegate->connection()->loading());
        QCOMPARE(!editor.isVisible(), windowsClosed);
        QCOMPARE(opened, settingsOpened);
    }

    // The quick menu's SETTINGS row opens the settings window in place of the editor, wired to the
    // router; closing it returns to the quick menu. Before the library is ready the same request
    // starts the library and shows the quick menu instead.
    void settingsOpenFromTheQuickMenu_data()
    {
        QTest::addColumn<bool>("launchedFirst");
        QTest::newRow("library ready") << true;
        QTest::newRow("library not ready") << false;
    }

    void settingsOpenFromTheQuickMenu()
    {
        QFETCH(bool, launchedFirst);
        auto delegate = launchedFirst ? launched() : std::make_unique<VintrelleAppDelegate>();
        QVERIFY(delegate);
        if (!launchedFirst) {
            delegate->openQuickMenuSettings();
            QVERIFY(!delegate->nativeSettings()); // on the next turn, never inside the request
            QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
            QVERIFY(!delegate->nativeSettings());
            return;
        }
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        QVERIFY(delegate->quickMenu()->onSettings); // the SETTINGS row is enabled
        QAction *settingsAction = delegate->editor()->actions().value(1);
        QVERIFY(settingsAction && settingsAction->isEnabled());
        delegate->openNativeEditor();
        QVERIFY(delegate->editor()->isVisible());

        delegate->quickMenu()->onSettings();
        QTRY_VERIFY(delegate->nativeSettings() && delegate->nativeSettings()->isVisible());
        VintrelleNativeSettings *settings = delegate->nativeSettings();
        QVERIFY(!delegate->editor()->isVisible());
        QVERIFY(!delegate->isQuickMenuOpen());
        settings->selectPane(VintrelleNativeSettings::libraryPane);
        settings->addStarterCategories();
        QCOMPARE(settings->status()->text(), QStringLiteral("Default categories are ready. Undo changes in Edit."));
        QVERIFY(delegate->quickMenuCategories().size() > 1); // the change reached the quick menu

        settings->hide();
        settingsAction->trigger(); // a second request reuses the window
        QTRY_VERIFY(settings->isVisible());
        QCOMPARE(delegate->nativeSettings(), settings);
        settings->cancelOperation();
        QTRY_COMPARE(delegate->quickMenuOpenings(), 2);
        QVERIFY(!settings->isVisible());
    }

    // The installation asks for the User Library when none is detected.
    void installChoosesTheUserLibrary_data()
    {
        QTest::addColumn<bool>("choose");
        QTest::addColumn<QString>("error");
        QTest::newRow("cancelled") << false << "Installation cancelled. Your files were not changed.";
        QTest::newRow("folder chosen") << true << "";
    }

    void installChoosesTheUserLibrary()
    {
        QFETCH(bool, choose);
        QFETCH(QString, error);
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        const QString library = m_home.path("User Library");
        QVERIFY(QDir().mkpath(library));
        auto delegate = launched();
        QVERIFY(delegate);
        auto chooser = answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog);
            QCOMPARE(dialog->fileMode(), QFileDialog::Directory);
            QCOMPARE(dialog->labelText(QFileDialog::Accept), QStringLiteral("Install Here"));
            auto *message = dialog->findChild<QLabel *>("vintrelleChooserMessage");
            QVERIFY(message);
            QVERIFY(message->text().startsWith("Choose your Ableton User Library folder."));
            if (!choose)
                return dialog->reject();
            dialog->setDirectory(m_home.path());
            dialog->selectFile(library);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        std::optional<std::pair<std::optional<QJsonObject>, std::optional<QString>>> answer;
        delegate->executeNativeCommand({{"op", "install"}}, [&](auto result, auto message) { answer.emplace(result, message); });
        QVERIFY(chooser->seen);
        QVERIFY(answer);
        QCOMPARE(answer->second.value_or(QString()), error);
        QCOMPARE(QFileInfo::exists(library + "/Remote Scripts/VintrelleBridge/config.json"), choose);
        if (choose)
            QCOMPARE(answer->first->value("ok"), QJsonValue(true));
    }

    void statusItemMenu()
    {
        VintrelleStatusItem item;
        QStringList titles;
        QList<bool> enabled;
        for (QAction *action : item.menu()->actions()) {
            titles << (action->isSeparator() ? QStringLiteral("—") : action->text());
            enabled << action->isEnabled();
        }
        QCOMPARE(titles, QStringList({"Show / Hide Vintrelle", "Checking hotkey access…", "Open: Double right-click", "—",
                                      "Quit Vintrelle"}));
        QCOMPARE(enabled, QList<bool>({true, false, false, true, true}));
        QCOMPARE(item.menu()->actions().last()->shortcut(), QKeySequence("Ctrl+Q"));
        item.setHotKeyStatus("Hotkey: Ctrl+Alt+P");
        QCOMPARE(item.menu()->actions().at(1)->text(), QStringLiteral("Hotkey: Ctrl+Alt+P"));
        QSignalSpy toggled(&item, &VintrelleStatusItem::toggleRequested);
        QSignalSpy quit(&item, &VintrelleStatusItem::quitRequested);
        item.menu()->actions().first()->trigger();
        QCOMPARE(toggled.size(), 1);
        QCOMPARE(quit.size(), 0);
    }

    // The folder: its pixels in the given colour, the corners and the notch above the tab empty.
    void statusItemImage_data()
    {
        QTest::addColumn<QPoint>("pixel"); // Qt's coordinates, y downwards
        QTest::addColumn<bool>("filled");
        QTest::newRow("middle") << QPoint(11, 11) << true;
        QTest::newRow("under the tab") << QPoint(4, 5) << true;
        QTest::newRow("right of the tab, above the body") << QPoint(15, 4) << false;
        QTest::newRow("near the bottom edge") << QPoint(11, 17) << true;
        QTest::newRow("below the body") << QPoint(11, 19) << false;
        QTest::newRow("left margin") << QPoint(0, 11) << false;
        QTest::newRow("right margin") << QPoint(21, 11) << false;
    }

    void statusItemImage()
    {
        QFETCH(QPoint, pixel);
        QFETCH(bool, filled);
        const QImage image = VintrelleStatusItemImage();
        QCOMPARE(image.size(), QSize(22, 22));
        const QColor colour = image.pixelColor(pixel);
        if (filled)
            QCOMPARE(colour, QColor(233, 232, 222));
        else
            QCOMPARE(colour.alpha(), 0);
    }

    // Every window's shortcuts stay inside it; without a settings window the Settings action is off.
    void windowActions()
    {
        QWidget window;
        const QList<QAction *> actions = VintrelleInstallWindowActions(&window, {[] {}, nullptr, [] {}, [] {}});
        QCOMPARE(window.actions(), actions);
        QCOMPARE(actions.at(1)->text(), QStringLiteral("Settings…"));
        for (QAction *action : actions) {
            QCOMPARE(action->shortcutContext(), Qt::WindowShortcut);
            QCOMPARE(action->isEnabled(), action != actions.at(1));
        }
    }

    // The Edit actions work on whichever text field has the focus.
    void editActionsReachTheFocusedField()
    {
        QWidget window;
        auto *field = new QLineEdit("plug-in", &window);
        auto *other = new QLineEdit(&window);
        const QList<QAction *> actions = VintrelleInstallWindowActions(&window, {});
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        actions.at(8)->trigger(); // Select All
        QCOMPARE(field->selectedText(), QStringLiteral("plug-in"));
        actions.at(5)->trigger(); // Cut
        QCOMPARE(field->text(), QString());
        actions.at(4)->trigger(); // Undo
        QCOMPARE(field->text(), QStringLiteral("plug-in"));
        actions.at(8)->trigger();
        actions.at(6)->trigger(); // Copy
        other->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), other);
        actions.at(7)->trigger(); // Paste
        QCOMPARE(other->text(), QStringLiteral("plug-in"));
        QCOMPARE(field->text(), QStringLiteral("plug-in"));
    }

    void alertAnswers_data()
    {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QString>("press");
        QTest::addColumn<int>("answer");
        QTest::newRow("first") << QStringList{"OK", "Connection Settings"} << "OK" << VintrelleAlertFirstButton;
        QTest::newRow("second") << QStringList{"OK", "Connection Settings"} << "Connection Settings" << VintrelleAlertSecondButton;
        QTest::newRow("closed without a button") << QStringList{"OK", "Connection Settings"} << "" << VintrelleAlertFirstButton;
        QTest::newRow("no buttons given") << QStringList{} << "OK" << VintrelleAlertFirstButton;
    }

    void alertAnswers()
    {
        QFETCH(QStringList, buttons);
        QFETCH(QString, press);
        QFETCH(int, answer);
        auto seen = pressInNextModal(press); // an empty title presses nothing: the dialog is closed
        QCOMPARE(VintrelleRunModalAlert("Title", "Details", buttons), answer);
        QVERIFY(seen->seen);
        QCOMPARE(seen->text, QStringLiteral("Title"));
        QCOMPARE(seen->informativeText, QStringLiteral("Details"));
        QVERIFY(seen->buttons.size() == qMax<qsizetype>(buttons.size(), 1));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_app_delegate.moc"
