#pragma once

#include "VintrelleLibraryDocument.h"

#include <QJsonObject>
#include <QString>

#include <functional>
#include <optional>

// The shortcut and open-at-login preferences: saving them all or nothing, and the report that
// answers the settings window. Open at login is an XDG autostart entry.
class VintrellePreferences
{
public:
    // Puts a new shortcut in force; on failure the old one must still be in force and `error`
    // says so to the user. Installed by the application; without it (the command line on its
    // own) a saved shortcut takes effect at the next start.
    using ShortcutApplier = std::function<bool(const QString &combo, const QString &letter, VintrelleError *error)>;
    ShortcutApplier applyShortcut;
    // Called once a new shortcut is stored, to retitle the status item.
    std::function<void()> shortcutChanged;
    // What the autostart entry starts; this executable unless set.
    QString executable;

    // Always answers a report; its message says what happened, failures included.
    QJsonObject savePreferences(const QJsonObject &values);
    // `letter`, `combo`, `login` and `message` (empty when none is given).
    QJsonObject reportPreferences(const std::optional<QString> &message) const;
    // The report without a message.
    QJsonObject preferences() const;

    static QString autostartPath();
    // The entry exists and is not hidden.
    static bool loginEnabled();
    bool setLoginEnabled(bool enabled, VintrelleError *error) const;
};
