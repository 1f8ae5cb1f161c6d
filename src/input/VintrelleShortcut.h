#pragma once

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QString>

// The keyboard shortcut preference: stored values, their defaults and what they mean.
// Stored under QSettings("Vintrelle", "Vintrelle") as "ShortcutCombo" and "ShortcutLetter".

namespace VintrelleShortcutCombo {
inline const QString doubleOption = QStringLiteral("double-option");
inline const QString controlOption = QStringLiteral("control-option");
inline const QString commandShift = QStringLiteral("command-shift");
inline const QString controlShift = QStringLiteral("control-shift");
} // namespace VintrelleShortcutCombo

// Modifier masks of the combinations, in the classic hot key bits that backends translate.
namespace VintrelleHotKeyModifier {
constexpr quint32 command = 0x0100;
constexpr quint32 shift = 0x0200;
constexpr quint32 option = 0x0800;
constexpr quint32 control = 0x1000;
} // namespace VintrelleHotKeyModifier

QString ShortcutCombo();
QString ShortcutLetter();
// The 26 capital letters and their key codes; a letter is valid exactly when it is a key here.
const QHash<QString, int> &ShortcutKeys();
// Command+Shift, Control+Shift, or Control+Alt for any other value.
quint32 ShortcutModifiers(const QString &combo);
// The status menu's shortcut item for the stored preference.
QString ShortcutTitle();

QString VintrelleShortcutTitle(const QString &combo, const QString &letter);
// The combination in the words of this desktop: Alt for Option, Super for Command.
QString VintrelleShortcutComboDisplayName(const QString &combo);
bool VintrelleIsShortcutCombo(const QString &combo);
// The four combinations in the order a chooser offers them, each with its title in this
// desktop's words ("Double-tap Alt", "Control–Alt", "Super–Shift", "Control–Shift").
struct VintrelleShortcutChoice
{
    QString combo;
    QString title;
};
const QList<VintrelleShortcutChoice> &VintrelleShortcutChoices();
// The letter for a key code of ShortcutKeys; empty for any other code.
QString VintrelleShortcutLetterForKeyCode(int keyCode);
// The modifier bits that must at least be held for a key press to match the combination when
// the shortcut is only observed, not grabbed; further modifiers do not prevent a match.
quint32 VintrelleShortcutRequiredModifiers(const QString &combo);
bool VintrelleMatchesObservedShortcut(int keyCode, quint32 modifiers, const QString &combo, const QString &letter);
// False when the settings file could not be written.
bool VintrelleStoreShortcut(const QString &combo, const QString &letter);

// What saving a set of preferences has to do with the shortcut, decided before anything changes.
struct VintrelleShortcutSavePlan
{
    enum class Action { Refuse, KeepShortcut, ApplyShortcut };
    Action action = Action::Refuse;
    QString combo;
    QString letter;
    bool login = false;
};
VintrelleShortcutSavePlan VintrellePlanShortcutSave(const QJsonObject &values, const QString &storedCombo,
                                                    const QString &storedLetter);
