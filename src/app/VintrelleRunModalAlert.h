#pragma once

#include <QString>
#include <QStringList>

// Answers of VintrelleRunModalAlert: the first button, the second, and so on.
constexpr int VintrelleAlertFirstButton = 1000;
constexpr int VintrelleAlertSecondButton = 1001;

// Shows an alert above every window of the program (its floating windows included), brings it to
// the front and waits for a button. Escape and closing the window count as the first button.
// Answers VintrelleAlertFirstButton plus the index of the pressed button.
int VintrelleRunModalAlert(const QString &message, const QString &informativeText,
                           const QStringList &buttons = {QStringLiteral("OK")});
