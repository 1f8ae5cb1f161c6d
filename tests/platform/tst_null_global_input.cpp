#include "VintrelleGlobalInput.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QGuiApplication>

// A session without global input says so and refuses everything.
class NullGlobalInputTest : public QObject
{
    Q_OBJECT
    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    void reportsHonestly_data()
    {
        addColumns<QString, QString>({"combo", "title"});
        QTest::newRow("shortcut") << "control-option" << "Enable global hotkey\u2026";
        QTest::newRow("double tap") << "double-option" << "Enable double-tap Alt\u2026";
    }

    void reportsHonestly()
    {
        QFETCH(QString, combo); QFETCH(QString, title);
        QCOMPARE(QGuiApplication::platformName(), QString("offscreen"));
        std::unique_ptr<VintrelleGlobalInput> input = VintrelleGlobalInput::create();
        QVERIFY(!input->available());
        QVERIFY(input->unavailableReason().contains("vintrelle --toggle"));
        VintrelleError error;
        QVERIFY(!input->startObserving(&error));
        QCOMPARE(error, std::optional(input->unavailableReason()));

        QVERIFY(VintrelleStoreShortcut(combo, "P"));
        const VintrelleGlobalInput::ShortcutStatus status = input->installGlobalMonitorFallback();
        QCOMPARE(status.title, title);
        QVERIFY(status.opensHelp);
        QVERIFY(!input->observingFallbackKeys());

        // Only the double tap, which needs no grab, can be chosen.
        error.reset();
        const bool applies = combo == "double-option";
        QCOMPARE(input->applyShortcut(combo, "Q", &error), applies);
        QCOMPARE(error, applies ? std::nullopt : std::optional<QString>("Could not register a shortcut. Your previous shortcut is unchanged."));
    }
};

QTEST_MAIN(NullGlobalInputTest)
#include "tst_null_global_input.moc"
