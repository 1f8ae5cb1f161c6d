#include "VintrelleGlobalInput.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QGuiApplication>

// A session without global input says so and refuses everything.
class NullGlobalInputTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_home.apply(); }
    void reportsHonestly_data();
    void reportsHonestly();

private:
    VintrelleTestHome m_home;
};

void NullGlobalInputTest::reportsHonestly_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("title");
    QTest::addColumn<bool>("applies");
    QTest::newRow("shortcut") << "control-option" << "Enable global hotkey\u2026" << false;
    QTest::newRow("double tap") << "double-option" << "Enable double-tap Alt\u2026" << true;
}

void NullGlobalInputTest::reportsHonestly()
{
    QFETCH(QString, combo);
    QFETCH(QString, title);
    QFETCH(bool, applies);
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

    error.reset();
    QCOMPARE(input->applyShortcut(combo, "Q", &error), applies);
    QCOMPARE(error, applies ? std::nullopt
                            : std::optional<QString>("Could not register a shortcut. Your previous shortcut is unchanged."));
}

QTEST_MAIN(NullGlobalInputTest)
#include "tst_null_global_input.moc"
