#include "AppTestSupport.h"
#include "VintrelleAppDelegate.h"
#include "VintrelleGlassButton.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleWelcomeStatus.h"
#include "VintrelleWindowActions.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>

using S = VintrelleScriptedServer;

namespace {
const QByteArray healthy = R"({"ok":true,"data":{"configured":true}})";
const QByteArray refusedEmptyQuery = R"({"ok":false,"error":{"code":"invalid_request","message":"Empty."}})";
}

// The application delegate in this process, on the offscreen platform, against real files and
// loopback servers. Alerts and the folder chooser are answered by the test.
class TestAppDelegate : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;

    void writeLibrary(const QString &bridgeURL = "http://127.0.0.1:9", const QString &token = "secret")
    {
        writeFile(m_home.libraryPath(), libraryWithBridge(bridgeURL, token));
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
    void initTestCase() { m_home.apply(); }
    void init() { writeLibrary(); }

    // With --welcome the welcome window replaces the first menu. Its status and connect button
    // follow the bridge (one signal per change), and the button opens the settings; toggling hides
    // it and opens nothing; Escape on it returns to the menu.
    void welcomeReplacesTheFirstMenu()
    {
        S bridge;
        bridge.script << S::json(200, healthy) << S::json(400, refusedEmptyQuery);
        bridge.fallback = S::close(); // then Ableton goes away
        writeLibrary(bridge.url());
        auto delegate = launched(true);
        QVERIFY(delegate);
        QSignalSpy changed(delegate.get(), &VintrelleAppDelegate::quickMenuConnectedChanged); // the first check is still on its way
        int settingsOpened = 0;
        delegate->openSettingsWindow = [&settingsOpened] { ++settingsOpened; };
        QTRY_VERIFY(delegate->welcome() && delegate->welcome()->isVisible());
        VintrelleNativeWelcome *welcome = delegate->welcome();
        QTRY_VERIFY(welcome->header()->connected() && welcome->connectButton()->text() == QStringLiteral("CONNECTED TO ABLETON ✓"));
        delegate->connection()->check([](bool) {});
        QTRY_VERIFY(!welcome->header()->connected() && welcome->connectButton()->text() == QStringLiteral("CONNECT TO ABLETON"));
        delegate->connection()->check([](bool) {}); // the same outcome again tells nobody
        QTest::qWait(100);
        QCOMPARE(changed, (QList<QList<QVariant>>{{true}, {false}}));
        QVERIFY(!delegate->quickMenuConnected());
        QTest::mouseClick(welcome->connectButton(), Qt::LeftButton);
        QCOMPARE(settingsOpened, 1);

        delegate->toggleVintrelle();
        QVERIFY(!welcome->isVisible());
        delegate->showWelcomeWindow();
        QVERIFY(welcome->isVisible());
        QTest::qWait(20);
        QCOMPARE(delegate->quickMenuOpenings(), 0);
        QTest::keyClick(welcome->window(), Qt::Key_Escape);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        QVERIFY(!welcome->isVisible());
    }

    // The library button: an empty library asks for the first category's name, and the name
    // given becomes a category; otherwise the quick menu opens.
    void welcomeLibraryButton_data()
    {
        addColumns<QJsonArray, QString, int>({"categories", "title", "menus"});
        QTest::newRow("empty library") << QJsonArray() << "CREATE YOUR FIRST CATEGORY" << 0;
        QTest::newRow("categories") << QJsonArray{categoryObject("C1", "Synths")} << "OPEN YOUR LIBRARY" << 1;
    }
    void welcomeLibraryButton()
    {
        QFETCH(QJsonArray, categories); QFETCH(QString, title); QFETCH(int, menus);
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

    // The first menu opens on the next turn after the library is ready; a saved change reaches its
    // categories before the command's reply. Toggling closes an open menu and does nothing else;
    // then it hides shown windows, or opens the menu.
    void launchThenToggle_data()
    {
        addColumns<QList<bool>, int>({"visible", "menus"});
        QTest::newRow("all hidden") << QList<bool>{false, false} << 1;
        QTest::newRow("one of three shown") << QList<bool>{false, true, false} << 0;
    }
    void launchThenToggle()
    {
        QFETCH(QList<bool>, visible); QFETCH(int, menus);
        auto delegate = launched();
        QVERIFY(delegate);
        QCOMPARE(delegate->connection()->bridgeURL(), QStringLiteral("http://127.0.0.1:9"));
        QVERIFY(delegate->connectionTimer().isActive());
        QCOMPARE(delegate->quickMenuOpenings(), 0);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        qsizetype categoriesAtReply = -1;
        delegate->executeNativeCommand({{"op", "addCategory"}, {"name", "Drums"}}, [&](auto, auto) { categoriesAtReply = delegate->quickMenuCategories().size(); });
        QCOMPARE(categoriesAtReply, 2);
        QVERIFY(QSettings("Vintrelle", "Vintrelle").value("AppleAccessibilityPromptRequested").toBool());

        delegate->toggleVintrelle();
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
        QCOMPARE(alert->text + ' ' + alert->informativeText, QStringLiteral("Library could not open Your original library is unchanged."));
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
        addColumns<bool, bool, QString>({"loaded", "settingsWindow", "press"}); // loaded: no alert
        QTest::newRow("confirmed") << true << true << "";
        QTest::newRow("not confirmed, no settings window yet") << false << false << "OK";
        QTest::newRow("not confirmed, Connection Settings") << false << true << "Connection Settings";
        QTest::newRow("not confirmed, alert closed without a button") << false << true << "";
    }
    void launchedPlugInOutcomes()
    {
        QFETCH(bool, loaded); QFETCH(bool, settingsWindow); QFETCH(QString, press);
        S bridge;
        bridge.fallback = S::json(200, loaded ? R"({"ok":true,"data":{"loaded":true}})" : R"({"ok":true,"data":{"loaded":false}})");
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

        auto answered = loaded ? nullptr : pressInNextModal(press);
        delegate->launchQuickMenuItem("E1");
        QVERIFY(!delegate->connection()->loading()); // nothing is sent inside the menu action
        if (answered) {
            QTRY_VERIFY(answered->seen);
            QCOMPARE(answered->text + ' ' + answered->informativeText, "Plug-in not confirmed Request sent, but loading was not confirmed. "
                                                                       "Check the selected Ableton track before trying again.");
            QCOMPARE(answered->buttons, settingsWindow ? QStringList({"OK", "Connection Settings"}) : QStringList({"OK"}));
        } else {
            QTRY_VERIFY(!editor.isVisible());
            QTest::qWait(50);
            QVERIFY(!QApplication::activeModalWidget());
        }
        QTRY_VERIFY(!delegate->connection()->loading());
        QCOMPARE(editor.isVisible(), bool(answered));
        QCOMPARE(opened, press == "Connection Settings" ? 1 : 0);
    }

    // Before the library is ready the SETTINGS row starts the library and shows the quick menu,
    // never inside the request.
    void settingsBeforeTheLibraryOpenTheQuickMenu()
    {
        VintrelleAppDelegate delegate;
        delegate.openQuickMenuSettings();
        QVERIFY(!delegate.nativeSettings());
        QTRY_COMPARE(delegate.quickMenuOpenings(), 1);
        QVERIFY(!delegate.nativeSettings());
    }

    // The SETTINGS row opens the settings window in place of the editor, wired to the router;
    // closing it returns to the quick menu, and Settings… reuses the window.
    void settingsOpenFromTheQuickMenu()
    {
        auto delegate = launched();
        QVERIFY(delegate);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        QVERIFY(delegate->quickMenu()->onSettings);
        QAction *settingsAction = delegate->editor()->actions().value(1);
        QVERIFY(settingsAction && settingsAction->isEnabled());
        delegate->openNativeEditor();
        QVERIFY(delegate->editor()->isVisible());
        delegate->quickMenu()->onSettings();
        QTRY_VERIFY(delegate->nativeSettings() && delegate->nativeSettings()->isVisible());
        VintrelleNativeSettings *settings = delegate->nativeSettings();
        QVERIFY(!delegate->editor()->isVisible() && !delegate->isQuickMenuOpen());
        settings->selectPane(VintrelleNativeSettings::libraryPane);
        settings->addStarterCategories();
        QVERIFY(delegate->quickMenuCategories().size() > 1); // the change reached the quick menu
        settings->hide();
        settingsAction->trigger();
        QTRY_VERIFY(settings->isVisible());
        QCOMPARE(delegate->nativeSettings(), settings);
        settings->cancelOperation();
        QTRY_COMPARE(delegate->quickMenuOpenings(), 2);
        QVERIFY(!settings->isVisible());
    }

    // The installation asks for the User Library, in a folder chooser, when none is detected.
    void installChoosesTheUserLibrary()
    {
        QSettings("Vintrelle", "Vintrelle").remove("VintrelleUserLibrary");
        const QString library = m_home.path("User Library");
        QVERIFY(QDir().mkpath(library));
        auto delegate = launched();
        QVERIFY(delegate);
        auto chooser = answerNextModal([&](QWidget *modal) {
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            QVERIFY(dialog && dialog->fileMode() == QFileDialog::Directory);
            auto *message = dialog->findChild<QLabel *>("vintrelleChooserMessage");
            QVERIFY(message && message->text().startsWith("Choose your Ableton User Library folder."));
            dialog->setDirectory(m_home.path());
            dialog->selectFile(library);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const auto answer = recordAnswer([&](VintrelleReply reply) { delegate->executeNativeCommand({{"op", "install"}}, reply); });
        QVERIFY(chooser->seen);
        QCOMPARE(answer->calls, 1);
        QCOMPARE(answer->result.value_or(QJsonObject()).value("ok"), QJsonValue(true));
        QVERIFY(QFileInfo::exists(library + "/Remote Scripts/VintrelleBridge/config.json"));
    }

    // Every window's shortcuts stay inside it; without a settings window the Settings action is
    // off; the Edit actions work on whichever text field has the focus.
    void windowActions()
    {
        QWidget window;
        auto *field = new QLineEdit("plug-in", &window), *other = new QLineEdit(&window);
        const QList<QAction *> actions = VintrelleInstallWindowActions(&window, {[] {}, nullptr, [] {}, [] {}});
        QCOMPARE(window.actions(), actions);
        QCOMPARE(actions.at(1)->text(), QStringLiteral("Settings…"));
        for (QAction *action : actions)
            QVERIFY(action->shortcutContext() == Qt::WindowShortcut && action->isEnabled() == (action != actions.at(1)));
        window.show();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        field->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), field);
        actions.at(8)->trigger(); // Select All
        actions.at(5)->trigger(); // Cut
        QCOMPARE(field->text(), QString());
        actions.at(4)->trigger(); // Undo
        actions.at(8)->trigger();
        actions.at(6)->trigger(); // Copy
        other->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), other);
        actions.at(7)->trigger(); // Paste
        QCOMPARE(other->text() + ' ' + field->text(), QStringLiteral("plug-in plug-in"));
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_app_delegate.moc"
