#include "VintrelleInputEvent.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QSet>
#include <QSettings>

class ShortcutTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { m_home.apply(); }
    void keyTable();
    void combos_data();
    void combos();
    void observedKey_data();
    void observedKey();
    void savePlan_data();
    void savePlan();
    void storedValues_data();
    void storedValues();

private:
    VintrelleTestHome m_home;
};

void ShortcutTest::keyTable()
{
    const QHash<QString, int> &keys = ShortcutKeys();
    QCOMPARE(keys.size(), 26);
    QSet<int> codes;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const QString name(QChar::fromLatin1(letter));
        QVERIFY2(keys.contains(name), qPrintable(name));
        codes.insert(keys.value(name));
        QCOMPARE(VintrelleShortcutLetterForKeyCode(keys.value(name)), name);
    }
    QCOMPARE(codes.size(), 26);
    QCOMPARE(keys.value("A"), 0);
    QCOMPARE(keys.value("P"), 35);
    QCOMPARE(keys.value("M"), 46);
    for (const char *invalid : {"p", "", "AA", "1", "É", " P"})
        QVERIFY2(!keys.contains(QString::fromUtf8(invalid)), invalid);
    for (int code : {-1, 10, 18, 36, 47, 1000})
        QVERIFY(VintrelleShortcutLetterForKeyCode(code).isEmpty());
}

void ShortcutTest::combos_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<quint32>("mask");
    QTest::addColumn<quint32>("required");
    QTest::addColumn<QString>("title");
    using namespace VintrelleModifier;
    QTest::newRow("double tap") << "double-option" << true << 0x1800u << (control | option) << "Hotkey: Double-tap Alt";
    QTest::newRow("control-option") << "control-option" << true << 0x1800u << (control | option)
                                     << "Hotkey: control-alt\u2013K";
    QTest::newRow("command-shift") << "command-shift" << true << 0x0300u << (command | shift)
                                   << "Hotkey: super-shift\u2013K";
    QTest::newRow("control-shift") << "control-shift" << true << 0x1200u << (control | shift)
                                   << "Hotkey: control-shift\u2013K";
    QTest::newRow("unknown") << "option-shift" << false << 0x1800u << (control | option) << "Hotkey: alt-shift\u2013K";
    QTest::newRow("wrong case") << "Command-Shift" << false << 0x1800u << (control | option)
                                << "Hotkey: Command-Shift\u2013K";
    QTest::newRow("empty") << "" << false << 0x1800u << (control | option) << "Hotkey: \u2013K";
}

void ShortcutTest::combos()
{
    QFETCH(QString, combo);
    QFETCH(bool, valid);
    QFETCH(quint32, mask);
    QFETCH(quint32, required);
    QFETCH(QString, title);
    QCOMPARE(VintrelleIsShortcutCombo(combo), valid);
    QCOMPARE(ShortcutModifiers(combo), mask);
    QCOMPARE(VintrelleShortcutRequiredModifiers(combo), required);
    QCOMPARE(VintrelleShortcutTitle(combo, "K"), title);
}

void ShortcutTest::observedKey_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<int>("keyCode");
    QTest::addColumn<quint32>("modifiers");
    QTest::addColumn<bool>("matches");
    using namespace VintrelleModifier;
    QTest::newRow("exact") << "command-shift" << "P" << 35 << (command | shift) << true;
    QTest::newRow("extra Alt still matches") << "command-shift" << "P" << 35 << (command | shift | option) << true;
    QTest::newRow("caps lock on") << "control-option" << "P" << 35 << (control | option | capsLock) << true;
    QTest::newRow("missing Shift") << "command-shift" << "P" << 35 << command << false;
    QTest::newRow("other letter") << "command-shift" << "P" << 34 << (command | shift) << false;
    QTest::newRow("not a letter") << "command-shift" << "P" << -1 << (command | shift) << false;
    QTest::newRow("control-shift") << "control-shift" << "A" << 0 << (control | shift) << true;
    QTest::newRow("control-shift without Control") << "control-shift" << "A" << 0 << (shift | option) << false;
    QTest::newRow("stored letter invalid") << "command-shift" << "p" << 35 << (command | shift) << false;
    QTest::newRow("unknown combination means Control-Alt") << "bogus" << "P" << 35 << (control | option) << true;
}

void ShortcutTest::observedKey()
{
    QFETCH(QString, combo);
    QFETCH(QString, letter);
    QFETCH(int, keyCode);
    QFETCH(quint32, modifiers);
    QFETCH(bool, matches);
    QCOMPARE(VintrelleMatchesObservedShortcut(keyCode, modifiers, combo, letter), matches);
}

void ShortcutTest::savePlan_data()
{
    QTest::addColumn<QByteArray>("values");
    QTest::addColumn<int>("action");
    QTest::addColumn<bool>("login");
    const int refuse = int(VintrelleShortcutSavePlan::Action::Refuse);
    const int keep = int(VintrelleShortcutSavePlan::Action::KeepShortcut);
    const int apply = int(VintrelleShortcutSavePlan::Action::ApplyShortcut);
    // The stored shortcut is control-option with K.
    QTest::newRow("same shortcut, login on") << QByteArray(R"({"letter":"K","combo":"control-option","login":1})")
                                             << keep << true;
    QTest::newRow("same shortcut, login true") << QByteArray(R"({"letter":"K","combo":"control-option","login":true})")
                                               << keep << true;
    QTest::newRow("login missing is off") << QByteArray(R"({"letter":"K","combo":"control-option"})") << keep << false;
    QTest::newRow("login as text is off") << QByteArray(R"({"letter":"K","combo":"control-option","login":"1"})")
                                          << keep << false;
    QTest::newRow("login 0") << QByteArray(R"({"letter":"K","combo":"control-option","login":0})") << keep << false;
    QTest::newRow("new letter") << QByteArray(R"({"letter":"L","combo":"control-option","login":0})") << apply << false;
    QTest::newRow("new combination") << QByteArray(R"({"letter":"K","combo":"double-option","login":0})") << apply
                                     << false;
    QTest::newRow("lower-case letter") << QByteArray(R"({"letter":"p","combo":"command-shift","login":1})") << refuse
                                       << true;
    QTest::newRow("two letters") << QByteArray(R"({"letter":"KK","combo":"control-option"})") << refuse << false;
    QTest::newRow("letter as number") << QByteArray(R"({"letter":35,"combo":"control-option"})") << refuse << false;
    QTest::newRow("letter missing") << QByteArray(R"({"combo":"control-option"})") << refuse << false;
    QTest::newRow("unknown combination") << QByteArray(R"({"letter":"K","combo":"alt-shift"})") << refuse << false;
    QTest::newRow("combination as array") << QByteArray(R"({"letter":"K","combo":["control-option"]})") << refuse
                                          << false;
    QTest::newRow("double tap with any letter") << QByteArray(R"({"letter":"Z","combo":"double-option"})") << apply
                                                << false;
}

void ShortcutTest::savePlan()
{
    QFETCH(QByteArray, values);
    QFETCH(int, action);
    QFETCH(bool, login);
    const VintrelleShortcutSavePlan plan =
        VintrellePlanShortcutSave(QJsonDocument::fromJson(values).object(), "control-option", "K");
    QCOMPARE(int(plan.action), action);
    QCOMPARE(plan.login, login);
}

void ShortcutTest::storedValues_data()
{
    QTest::addColumn<QVariant>("combo");
    QTest::addColumn<QVariant>("letter");
    QTest::addColumn<QString>("expectedCombo");
    QTest::addColumn<QString>("expectedLetter");
    QTest::addColumn<QString>("title");
    QTest::newRow("nothing stored") << QVariant() << QVariant() << "double-option" << "P" << "Hotkey: Double-tap Alt";
    QTest::newRow("stored") << QVariant("command-shift") << QVariant("Q") << "command-shift" << "Q"
                            << "Hotkey: super-shift\u2013Q";
    QTest::newRow("only the letter") << QVariant() << QVariant("Q") << "double-option" << "Q"
                                     << "Hotkey: Double-tap Alt";
}

void ShortcutTest::storedValues()
{
    QFETCH(QVariant, combo);
    QFETCH(QVariant, letter);
    QFETCH(QString, expectedCombo);
    QFETCH(QString, expectedLetter);
    QFETCH(QString, title);
    {
        QSettings settings("Vintrelle", "Vintrelle");
        settings.clear();
        if (combo.isValid())
            settings.setValue("ShortcutCombo", combo);
        if (letter.isValid())
            settings.setValue("ShortcutLetter", letter);
    }
    QCOMPARE(ShortcutCombo(), expectedCombo);
    QCOMPARE(ShortcutLetter(), expectedLetter);
    QCOMPARE(ShortcutTitle(), title);
    QVERIFY(VintrelleStoreShortcut("control-shift", "B"));
    QCOMPARE(ShortcutCombo(), QString("control-shift"));
    QCOMPARE(ShortcutLetter(), QString("B"));
    // What the next start reads comes from the file, not from this process's cache.
    QVERIFY(readFile(m_home.config() + "/Vintrelle/Vintrelle.conf").contains("ShortcutCombo=control-shift"));
}

QTEST_GUILESS_MAIN(ShortcutTest)
#include "tst_shortcut.moc"
