#include "VintrelleInputEvent.h"
#include "VintrelleShortcut.h"
#include "VintrelleTestSupport.h"

#include <QSettings>

using namespace VintrelleModifier;

class ShortcutTest : public QObject
{
    Q_OBJECT
    VintrelleTestHome m_home;

private slots:
    void initTestCase() { m_home.apply(); }

    // Letters A-Z only, each with its own key code, and back.
    void keyTable()
    {
        const QHash<QString, int> &keys = ShortcutKeys();
        QCOMPARE(keys.size(), 26);
        for (char letter = 'A'; letter <= 'Z'; ++letter)
            QCOMPARE(VintrelleShortcutLetterForKeyCode(keys.value(QString(QChar::fromLatin1(letter)), -1)), QString(QChar::fromLatin1(letter)));
        QCOMPARE(keys.value("P"), 35);
        for (const char *invalid : {"p", "", "AA", "É", " P"})
            QVERIFY2(!keys.contains(QString::fromUtf8(invalid)), invalid);
        for (int code : {-1, 10, 36, 1000})
            QVERIFY(VintrelleShortcutLetterForKeyCode(code).isEmpty());
    }

    void combos_data()
    {
        addColumns<QString, bool, quint32, quint32, QString>({"combo", "valid", "mask", "required", "title"});
        QTest::newRow("double tap") << "double-option" << true << 0x1800u << (control | option) << "Hotkey: Double-tap Alt";
        QTest::newRow("control-option") << "control-option" << true << 0x1800u << (control | option) << "Hotkey: control-alt\u2013K";
        QTest::newRow("command-shift") << "command-shift" << true << 0x0300u << (command | shift) << "Hotkey: super-shift\u2013K";
        QTest::newRow("control-shift") << "control-shift" << true << 0x1200u << (control | shift) << "Hotkey: control-shift\u2013K";
        QTest::newRow("unknown") << "option-shift" << false << 0x1800u << (control | option) << "Hotkey: alt-shift\u2013K";
        QTest::newRow("wrong case") << "Command-Shift" << false << 0x1800u << (control | option) << "Hotkey: Command-Shift\u2013K";
        QTest::newRow("empty") << "" << false << 0x1800u << (control | option) << "Hotkey: \u2013K";
    }

    void combos()
    {
        QFETCH(QString, combo); QFETCH(bool, valid); QFETCH(quint32, mask); QFETCH(quint32, required); QFETCH(QString, title);
        QCOMPARE(VintrelleIsShortcutCombo(combo), valid);
        QCOMPARE(ShortcutModifiers(combo), mask);
        QCOMPARE(VintrelleShortcutRequiredModifiers(combo), required);
        QCOMPARE(VintrelleShortcutTitle(combo, "K"), title);
    }

    void observedKey_data()
    {
        addColumns<QString, QString, int, quint32, bool>({"combo", "letter", "keyCode", "modifiers", "matches"});
        QTest::newRow("exact") << "command-shift" << "P" << 35 << (command | shift) << true;
        QTest::newRow("extra Alt still matches") << "command-shift" << "P" << 35 << (command | shift | option) << true;
        QTest::newRow("caps lock on") << "control-option" << "P" << 35 << (control | option | capsLock) << true;
        QTest::newRow("missing Shift") << "command-shift" << "P" << 35 << command << false;
        QTest::newRow("other letter") << "command-shift" << "P" << 34 << (command | shift) << false;
        QTest::newRow("not a letter") << "command-shift" << "P" << -1 << (command | shift) << false;
        QTest::newRow("control-shift without Control") << "control-shift" << "A" << 0 << (shift | option) << false;
        QTest::newRow("stored letter invalid") << "command-shift" << "p" << 35 << (command | shift) << false;
        QTest::newRow("unknown combination means Control-Alt") << "bogus" << "P" << 35 << (control | option) << true;
    }

    void observedKey()
    {
        QFETCH(QString, combo); QFETCH(QString, letter); QFETCH(int, keyCode); QFETCH(quint32, modifiers); QFETCH(bool, matches);
        QCOMPARE(VintrelleMatchesObservedShortcut(keyCode, modifiers, combo, letter), matches);
    }

    // Values from the settings page, against a stored control-option with K.
    void savePlan_data()
    {
        addColumns<QByteArray, int, bool>({"values", "action", "login"});
        const int refuse = int(VintrelleShortcutSavePlan::Action::Refuse), keep = int(VintrelleShortcutSavePlan::Action::KeepShortcut),
                  apply = int(VintrelleShortcutSavePlan::Action::ApplyShortcut);
        QTest::newRow("same shortcut, login 1") << QByteArray(R"({"letter":"K","combo":"control-option","login":1})") << keep << true;
        QTest::newRow("same shortcut, login true") << QByteArray(R"({"letter":"K","combo":"control-option","login":true})") << keep << true;
        QTest::newRow("login missing is off") << QByteArray(R"({"letter":"K","combo":"control-option"})") << keep << false;
        QTest::newRow("login as text is off") << QByteArray(R"({"letter":"K","combo":"control-option","login":"1"})") << keep << false;
        QTest::newRow("new letter") << QByteArray(R"({"letter":"L","combo":"control-option","login":0})") << apply << false;
        QTest::newRow("new combination") << QByteArray(R"({"letter":"K","combo":"double-option","login":0})") << apply << false;
        QTest::newRow("lower-case letter") << QByteArray(R"({"letter":"p","combo":"command-shift","login":1})") << refuse << true;
        QTest::newRow("two letters") << QByteArray(R"({"letter":"KK","combo":"control-option"})") << refuse << false;
        QTest::newRow("letter as number") << QByteArray(R"({"letter":35,"combo":"control-option"})") << refuse << false;
        QTest::newRow("letter missing") << QByteArray(R"({"combo":"control-option"})") << refuse << false;
        QTest::newRow("unknown combination") << QByteArray(R"({"letter":"K","combo":"alt-shift"})") << refuse << false;
        QTest::newRow("combination as array") << QByteArray(R"({"letter":"K","combo":["control-option"]})") << refuse << false;
        QTest::newRow("double tap with any letter") << QByteArray(R"({"letter":"Z","combo":"double-option"})") << apply << false;
    }

    void savePlan()
    {
        QFETCH(QByteArray, values); QFETCH(int, action); QFETCH(bool, login);
        const VintrelleShortcutSavePlan plan = VintrellePlanShortcutSave(QJsonDocument::fromJson(values).object(), "control-option", "K");
        QCOMPARE(int(plan.action), action);
        QCOMPARE(plan.login, login);
    }

    // What was stored (nothing: "-"), what is read back, and that a new shortcut reaches the file.
    void storedValues_data()
    {
        addColumns<QString, QString, QString>({"combo", "letter", "readBack"});
        QTest::newRow("nothing stored") << "-" << "-" << "double-option P Hotkey: Double-tap Alt";
        QTest::newRow("stored") << "command-shift" << "Q" << "command-shift Q Hotkey: super-shift\u2013Q";
        QTest::newRow("only the letter") << "-" << "Q" << "double-option Q Hotkey: Double-tap Alt";
    }

    void storedValues()
    {
        QFETCH(QString, combo); QFETCH(QString, letter); QFETCH(QString, readBack);
        {
            QSettings settings("Vintrelle", "Vintrelle");
            settings.clear();
            if (combo != "-")
                settings.setValue("ShortcutCombo", combo);
            if (letter != "-")
                settings.setValue("ShortcutLetter", letter);
        }
        QCOMPARE(ShortcutCombo() + ' ' + ShortcutLetter() + ' ' + ShortcutTitle(), readBack);
        QVERIFY(VintrelleStoreShortcut("control-shift", "B"));
        QCOMPARE(ShortcutCombo() + ShortcutLetter(), QString("control-shiftB"));
        // What the next start reads comes from the file, not from this process's cache.
        QVERIFY(readFile(m_home.config() + "/Vintrelle/Vintrelle.conf").contains("ShortcutCombo=control-shift"));
    }
};

QTEST_GUILESS_MAIN(ShortcutTest)
#include "tst_shortcut.moc"
