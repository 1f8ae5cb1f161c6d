#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// Whether the desktop asks programs to keep still, as its settings files say under the user's
// configuration folder (`configHome`, normally $XDG_CONFIG_HOME):
// - GTK 4 and GTK 3 (settings.ini, [Settings] gtk-enable-animations false or 0), the switch of
//   desktops that run no settings daemon and of users who set it by hand;
// - KDE Plasma (kdeglobals, [KDE] AnimationDurationFactor 0).
// Missing or unreadable files ask for nothing.
bool VintrelleDesktopReducesMotion(const QString &configHome);

// The value of "Gtk/EnableAnimations" in an XSETTINGS property (the settings a desktop's settings
// daemon publishes to X11 programs; GNOME's follows its "Reduce animation" switch): none when the
// setting is absent, not a number or the data is cut short or malformed.
std::optional<bool> VintrelleXSettingsAnimationsEnabled(const QByteArray &property);
