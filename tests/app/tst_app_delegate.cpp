#include "VintrelleAppDelegate.h"
#include "VintrelleGlassButton.h"
#include "VintrelleNativeEdit.h"
#include "VintrelleNativeSettings.h"
#include "VintrelleNativeWelcome.h"
#include "VintrelleQuickMenuPresenter.h"
#include "VintrelleScriptedServer.h"
#include "VintrelleTestSupport.h"
#include "VintrelleWelcomeStatus.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>

using S = VintrelleScriptedServer;

// The delegate in this process against real files and loopback servers: one wiring flow per window (their own tests use their models).
class TestAppDelegate : public QObject
{
    Q_OBJECT

    VintrelleTestHome m_home;
    void writeLibrary(const QString &bridgeURL = "http://127.0.0.1:9", const QJsonArray &categories = {categoryObject("C1", "Synths", QJsonValue::Null, {entryObject("E1", "Pad", "u")})})
    {
        writeFile(m_home.libraryPath(), compact(with(with(stateWith(categories), "bridgeUrl", bridgeURL), "token", "secret")));
    }
    // A delegate launched and waited for until its library is ready.
    std::unique_ptr<VintrelleAppDelegate> launched(bool welcome = false)
    {
        auto delegate = std::make_unique<VintrelleAppDelegate>(welcome);
        QSignalSpy ready(delegate.get(), &VintrelleAppDelegate::libraryReady);
        delegate->launch();
        return ready.isEmpty() && !ready.wait(10000) ? nullptr : std::move(delegate); // a saved library is ready at once
    }

private slots:
    void initTestCase() { m_home.apply(); }
    void init() { writeLibrary(); }
    // --welcome replaces the first menu with the welcome window, which follows the bridge (one signal per change); its buttons
    // open the settings and, for an empty library, the first category's name prompt; Escape on it returns to the menu.
    void welcomeReplacesTheFirstMenu()
    {
        S bridge;
        bridge.script << S::json(200, R"({"ok":true,"data":{"configured":true}})") << S::json(400, R"({"ok":false,"error":{"code":"invalid_request"}})");
        bridge.fallback = S::close(); // then Ableton goes away
        writeLibrary(bridge.url(), {});
        auto delegate = launched(true);
        QVERIFY(delegate);
        QSignalSpy changed(delegate.get(), &VintrelleAppDelegate::quickMenuConnectedChanged); // the first check is still on its way
        int settingsOpened = 0;
        delegate->openSettingsWindow = [&settingsOpened] { ++settingsOpened; };
        QTRY_VERIFY(delegate->welcome() && delegate->welcome()->isVisible());
        VintrelleNativeWelcome *welcome = delegate->welcome();
        QTRY_VERIFY(welcome->header()->connected());
        delegate->connection()->check([](bool) {});
        QTRY_VERIFY(!welcome->header()->connected());
        delegate->connection()->check([](bool) {}); // the same outcome again tells nobody
        QTest::qWait(100);
        QCOMPARE(changed, (QList<QList<QVariant>>{{true}, {false}}));
        QTest::mouseClick(welcome->connectButton(), Qt::LeftButton);
        QCOMPARE(settingsOpened, 1);
        QCOMPARE(delegate->quickMenuOpenings(), 0);
        QTest::keyClick(welcome->window(), Qt::Key_Escape);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        QVERIFY(!welcome->isVisible());
        delegate->closeQuickMenu();
        delegate->showWelcomeWindow();
        QTest::mouseClick(welcome->libraryButton(), Qt::LeftButton);
        QTest::qWait(50);
        QVERIFY(!welcome->isVisible() && delegate->quickMenuOpenings() == 1);
        const QWidgetList windows = QApplication::topLevelWidgets();
        const auto prompt = std::find_if(windows.begin(), windows.end(), [](QWidget *window) { return window->isVisible() && window->windowTitle() == u"New Category"; });
        QLineEdit *field = prompt == windows.end() ? nullptr : (*prompt)->findChild<QLineEdit *>();
        QVERIFY(field);
        QTest::keyClicks(field, "Drums");
        QTest::keyClick(field, Qt::Key_Return);
        QTRY_COMPARE(delegate->quickMenuCategories().size(), 1);
        QVERIFY(readFile(m_home.libraryPath()).contains("\"Drums\""));
    }
    // The first menu opens on the next turn after the library is ready, and a saved change reaches it before the reply.
    // Toggling closes an open menu and does nothing else; then it hides shown windows, or else opens the menu.
    void launchThenToggle()
    {
        auto delegate = launched();
        QVERIFY(delegate);
        QCOMPARE(delegate->connection()->bridgeURL() + ' ' + delegate->connection()->token(), "http://127.0.0.1:9 secret");
        QVERIFY(delegate->connectionTimer().isActive());
        QCOMPARE(delegate->quickMenuOpenings(), 0);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        qsizetype categoriesAtReply = -1;
        delegate->executeNativeCommand({{"op", "addCategory"}, {"name", "Drums"}}, [&](auto, auto) { categoriesAtReply = delegate->quickMenuCategories().size(); });
        QCOMPARE(categoriesAtReply, 2);
        QVERIFY(QSettings("Vintrelle", "Vintrelle").value("AppleAccessibilityPromptRequested").toBool());
        QWidget hidden, shown;
        delegate->addSecondaryWindow(&hidden);
        delegate->addSecondaryWindow(&shown);
        shown.show();
        delegate->toggleVintrelle();
        QTRY_VERIFY(!delegate->isQuickMenuOpen());
        QVERIFY(shown.isVisible());
        delegate->toggleVintrelle();
        QTest::qWait(20);
        QVERIFY(!shown.isVisible() && !hidden.isVisible() && delegate->quickMenuOpenings() == 1);
        delegate->toggleVintrelle();
        QTRY_COMPARE(delegate->quickMenuOpenings(), 2);
    }
    void failedStartShowsTheAlertAndTheNextOpeningRetries()
    {
        writeFile(m_home.libraryPath(), R"({"nativeVersion":2})");
        VintrelleAppDelegate delegate;
        QSignalSpy ready(&delegate, &VintrelleAppDelegate::libraryReady);
        auto alert = pressInNextModal("OK");
        delegate.launch();
        QTRY_VERIFY(alert->seen);
        QCOMPARE(alert->text + ' ' + alert->informativeText, QStringLiteral("Library could not open Your original library is unchanged."));
        QCOMPARE(readFile(m_home.libraryPath()), R"({"nativeVersion":2})");
        QCOMPARE(delegate.quickMenuOpenings(), 0);
        writeLibrary();
        delegate.openVintrelle();
        QVERIFY(!ready.isEmpty() || ready.wait(10000));
        QTRY_COMPARE(delegate.quickMenuOpenings(), 1);
    }
    // A plug-in chosen in the quick menu loads outside the menu action: an unconfirmed load (the router's outcomes)
    // shows an alert that offers the settings; a confirmed one closes the windows silently.
    void launchedPlugIn()
    {
        S bridge;
        writeLibrary(bridge.url());
        auto delegate = launched();
        QVERIFY(delegate);
        int opened = 0;
        delegate->openSettingsWindow = [&opened] { ++opened; };
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1); // the menu of the launch hides windows as it opens
        delegate->closeQuickMenu();
        QWidget editor;
        delegate->addSecondaryWindow(&editor);
        editor.show();
        for (bool loaded : {false, true}) {
            bridge.fallback = S::json(200, loaded ? R"({"ok":true,"data":{"loaded":true}})" : R"({"ok":true,"data":{"loaded":false}})");
            auto answered = loaded ? nullptr : pressInNextModal("Connection Settings");
            delegate->launchQuickMenuItem("E1");
            QVERIFY(!delegate->connection()->loading());
            QTRY_VERIFY(loaded ? !editor.isVisible() : answered->seen);
            if (answered)
                QCOMPARE(answered->text + ' ' + answered->informativeText + ' ' + answered->buttons.join('/'), "Plug-in not confirmed Request sent, but loading "
                         "was not confirmed. Check the selected Ableton track before trying again. OK/Connection Settings");
            QTRY_VERIFY(!delegate->connection()->loading());
            QCOMPARE(editor.isVisible(), !loaded);
            QCOMPARE(opened, 1);
        }
        QTest::qWait(50);
        QVERIFY(!QApplication::activeModalWidget());
    }
    // The SETTINGS row: before the library is ready it starts the library and shows the quick menu; then it opens the
    // settings window in place of the editor, wired to the router. Closing it returns to the menu; Settings… reuses it.
    void settingsOpenFromTheQuickMenu()
    {
        {
            VintrelleAppDelegate early;
            early.openQuickMenuSettings();
            QTRY_COMPARE(early.quickMenuOpenings(), 1);
            QVERIFY(!early.nativeSettings());
        }
        auto delegate = launched();
        QVERIFY(delegate);
        QTRY_COMPARE(delegate->quickMenuOpenings(), 1);
        QAction *settingsAction = delegate->editor()->actions().value(1);
        QVERIFY(settingsAction && settingsAction->isEnabled());
        delegate->openNativeEditor();
        delegate->quickMenu()->onSettings();
        QTRY_VERIFY(delegate->nativeSettings() && delegate->nativeSettings()->isVisible());
        VintrelleNativeSettings *settings = delegate->nativeSettings();
        QVERIFY(!delegate->editor()->isVisible() && !delegate->isQuickMenuOpen());
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
            dialog->setDirectory(m_home.path());
            dialog->selectFile(library);
            QMetaObject::invokeMethod(dialog, "accept");
        });
        const auto answer = recordAnswer([&](VintrelleReply reply) { delegate->executeNativeCommand({{"op", "install"}}, reply); });
        QVERIFY(chooser->seen);
        QCOMPARE(answer->result.value_or(QJsonObject()).value("ok"), QJsonValue(true));
        const QJsonDocument installed = QJsonDocument::fromJson(readFile(library + "/Remote Scripts/VintrelleBridge/config.json"));
        QCOMPARE(delegate->connection()->token().size(), 64); // the new token is used at once
        QCOMPARE(delegate->connection()->bridgeURL() + ' ' + delegate->connection()->token(), "http://127.0.0.1:45873 " + installed["token"].toString());
    }
};

QTEST_MAIN(TestAppDelegate)
#include "tst_app_delegate.moc"
