#include "VintrellePreferences.h"

#include "VintrelleShortcut.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <algorithm>

namespace {

const QString invalidMessage = QStringLiteral("Choose a valid shortcut.");
const QString notRegisteredMessage =
    QStringLiteral("Could not register a shortcut. Your previous shortcut is unchanged.");
const QString notStoredMessage =
    QStringLiteral("Could not save the shortcut setting. Your previous shortcut is unchanged.");
const QString loginFailedMessage = QStringLiteral("Shortcut saved. Login setting could not be changed: %1");
const QString savedMessage = QStringLiteral("Preferences saved.");

// An argument of a desktop entry's Exec key: quoted when it has to be, then escaped as a string.
std::optional<QString> execArgument(const QString &path)
{
    if (path.contains(u'\n') || path.contains(u'\r'))
        return std::nullopt;
    QString argument = path;
    argument.replace(u'%', QStringLiteral("%%"));
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    if (std::any_of(argument.cbegin(), argument.cend(), [](QChar c) { return reserved.contains(c); })) {
        QString quoted;
        for (QChar c : argument) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                quoted += u'\\';
            quoted += c;
        }
        argument = u'"' + quoted + u'"';
    }
    argument.replace(u'\\', QStringLiteral("\\\\"));
    return argument;
}

} // namespace

QJsonObject VintrellePreferences::savePreferences(const QJsonObject &values)
{
    const QString storedCombo = ShortcutCombo();
    const QString storedLetter = ShortcutLetter();
    const VintrelleShortcutSavePlan plan = VintrellePlanShortcutSave(values, storedCombo, storedLetter);
    if (plan.action == VintrelleShortcutSavePlan::Action::Refuse)
        return reportPreferences(invalidMessage);

    if (plan.action == VintrelleShortcutSavePlan::Action::ApplyShortcut) {
        VintrelleError error;
        if (applyShortcut && !applyShortcut(plan.combo, plan.letter, &error))
            return reportPreferences(error.value_or(notRegisteredMessage));
        if (!VintrelleStoreShortcut(plan.combo, plan.letter)) {
            // The stored values are what the next start uses: never leave a shortcut in force
            // that the settings do not record.
            if (applyShortcut)
                applyShortcut(storedCombo, storedLetter, nullptr);
            return reportPreferences(notStoredMessage);
        }
        if (shortcutChanged)
            shortcutChanged();
    }

    if (plan.login != loginEnabled()) {
        VintrelleError error;
        if (!setLoginEnabled(plan.login, &error))
            return reportPreferences(loginFailedMessage.arg(error.value_or(QString())));
    }
    return reportPreferences(savedMessage);
}

QJsonObject VintrellePreferences::reportPreferences(const std::optional<QString> &message) const
{
    QJsonObject report = preferences();
    report.insert("message", message.value_or(QString()));
    return report;
}

QJsonObject VintrellePreferences::preferences() const
{
    return {{"letter", ShortcutLetter()}, {"combo", ShortcutCombo()}, {"login", loginEnabled() ? 1 : 0}};
}

QString VintrellePreferences::autostartPath()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
        + QStringLiteral("/autostart/vintrelle.desktop");
}

bool VintrellePreferences::loginEnabled()
{
    QFile file(autostartPath());
    if (!QFileInfo(file).isFile() || !file.open(QIODevice::ReadOnly))
        return false;
    bool inMainGroup = false;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine().trimmed();
        if (line.startsWith('['))
            inMainGroup = line == "[Desktop Entry]";
        else if (inMainGroup && line.startsWith("Hidden") && line.mid(6).trimmed().startsWith('='))
            return line.mid(line.indexOf('=') + 1).trimmed() != "true";
    }
    return true;
}

bool VintrellePreferences::setLoginEnabled(bool enabled, VintrelleError *error) const
{
    const QString path = autostartPath();
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return true;
        if (error)
            *error = QStringLiteral("Could not remove %1: %2.").arg(path, file.errorString());
        return false;
    }

    const QString folder = QFileInfo(path).path();
    if (!QDir().mkpath(folder)) {
        if (error)
            *error = QStringLiteral("Could not create the folder %1.").arg(folder);
        return false;
    }
    const std::optional<QString> exec =
        execArgument(executable.isEmpty() ? QCoreApplication::applicationFilePath() : executable);
    if (!exec) {
        if (error)
            *error = QStringLiteral("The program's path contains a line break and cannot be started at login.");
        return false;
    }
    const QString entry = QStringLiteral("[Desktop Entry]\nType=Application\nName=Vintrelle\n"
                                         "Comment=Your Ableton Live plug-ins, one gesture away\n"
                                         "Exec=%1\nTerminal=false\nX-GNOME-Autostart-enabled=true\n")
                              .arg(*exec);
    QSaveFile file(path);
    const QByteArray bytes = entry.toUtf8();
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = QStringLiteral("Could not save %1: %2.").arg(path, file.errorString());
        return false;
    }
    return true;
}
