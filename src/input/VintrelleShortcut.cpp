#include "VintrelleShortcut.h"

#include "VintrelleInputEvent.h"

#include <QSettings>

namespace {

const QString comboKey = QStringLiteral("ShortcutCombo");
const QString letterKey = QStringLiteral("ShortcutLetter");

QString storedString(const QString &key, const QString &fallback)
{
    const QVariant value = QSettings("Vintrelle", "Vintrelle").value(key);
    return value.isValid() ? value.toString() : fallback;
}

QString stringOrEmpty(const QJsonValue &value)
{
    return value.isString() ? value.toString() : QString();
}

} // namespace

QString ShortcutCombo()
{
    return storedString(comboKey, VintrelleShortcutCombo::doubleOption);
}

QString ShortcutLetter()
{
    return storedString(letterKey, QStringLiteral("P"));
}

const QHash<QString, int> &ShortcutKeys()
{
    static const QHash<QString, int> keys{
        {"A", 0},  {"S", 1},  {"D", 2},  {"F", 3},  {"H", 4},  {"G", 5},  {"Z", 6},  {"X", 7},  {"C", 8},
        {"V", 9},  {"B", 11}, {"Q", 12}, {"W", 13}, {"E", 14}, {"R", 15}, {"Y", 16}, {"T", 17}, {"O", 31},
        {"U", 32}, {"I", 34}, {"P", 35}, {"L", 37}, {"J", 38}, {"K", 40}, {"N", 45}, {"M", 46},
    };
    return keys;
}

quint32 ShortcutModifiers(const QString &combo)
{
    using namespace VintrelleHotKeyModifier;
    if (combo == VintrelleShortcutCombo::commandShift)
        return command | shift;
    if (combo == VintrelleShortcutCombo::controlShift)
        return control | shift;
    return control | option;
}

QString ShortcutTitle()
{
    return VintrelleShortcutTitle(ShortcutCombo(), ShortcutLetter());
}

QString VintrelleShortcutTitle(const QString &combo, const QString &letter)
{
    if (combo == VintrelleShortcutCombo::doubleOption)
        return QStringLiteral("Hotkey: Double-tap Alt");
    return QStringLiteral("Hotkey: %1\u2013%2").arg(VintrelleShortcutComboDisplayName(combo), letter);
}

QString VintrelleShortcutComboDisplayName(const QString &combo)
{
    QString name = combo;
    name.replace(QStringLiteral("option"), QStringLiteral("alt"));
    name.replace(QStringLiteral("command"), QStringLiteral("super"));
    return name;
}

bool VintrelleIsShortcutCombo(const QString &combo)
{
    using namespace VintrelleShortcutCombo;
    return combo == doubleOption || combo == controlOption || combo == commandShift || combo == controlShift;
}

const QList<VintrelleShortcutChoice> &VintrelleShortcutChoices()
{
    using namespace VintrelleShortcutCombo;
    static const QList<VintrelleShortcutChoice> choices{
        {doubleOption, QStringLiteral("Double-tap Alt")},
        {controlOption, QStringLiteral("Control\u2013Alt")},
        {commandShift, QStringLiteral("Super\u2013Shift")},
        {controlShift, QStringLiteral("Control\u2013Shift")},
    };
    return choices;
}

QString VintrelleShortcutLetterForKeyCode(int keyCode)
{
    return keyCode < 0 ? QString() : ShortcutKeys().key(keyCode);
}

quint32 VintrelleShortcutRequiredModifiers(const QString &combo)
{
    using namespace VintrelleModifier;
    if (combo == VintrelleShortcutCombo::commandShift)
        return command | shift;
    if (combo == VintrelleShortcutCombo::controlShift)
        return control | shift;
    return control | option;
}

bool VintrelleMatchesObservedShortcut(int keyCode, quint32 modifiers, const QString &combo, const QString &letter)
{
    const auto key = ShortcutKeys().constFind(letter);
    if (key == ShortcutKeys().constEnd() || keyCode != *key)
        return false;
    const quint32 required = VintrelleShortcutRequiredModifiers(combo);
    return (modifiers & required) == required;
}

bool VintrelleStoreShortcut(const QString &combo, const QString &letter)
{
    QSettings settings("Vintrelle", "Vintrelle");
    settings.setValue(letterKey, letter);
    settings.setValue(comboKey, combo);
    settings.sync();
    return settings.status() == QSettings::NoError;
}

VintrelleShortcutSavePlan VintrellePlanShortcutSave(const QJsonObject &values, const QString &storedCombo,
                                                    const QString &storedLetter)
{
    VintrelleShortcutSavePlan plan;
    plan.letter = stringOrEmpty(values.value("letter"));
    plan.combo = stringOrEmpty(values.value("combo"));
    const QJsonValue login = values.value("login");
    plan.login = login.isBool() ? login.toBool() : (login.isDouble() && login.toDouble() != 0);
    if (!ShortcutKeys().contains(plan.letter) || !VintrelleIsShortcutCombo(plan.combo))
        plan.action = VintrelleShortcutSavePlan::Action::Refuse;
    else if (plan.letter == storedLetter && plan.combo == storedCombo)
        plan.action = VintrelleShortcutSavePlan::Action::KeepShortcut;
    else
        plan.action = VintrelleShortcutSavePlan::Action::ApplyShortcut;
    return plan;
}
