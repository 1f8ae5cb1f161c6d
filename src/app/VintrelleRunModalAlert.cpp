#include "VintrelleRunModalAlert.h"

#include <QList>
#include <QMessageBox>
#include <QPushButton>

int VintrelleRunModalAlert(const QString &message, const QString &informativeText, const QStringList &buttons)
{
    QMessageBox alert;
    alert.setIcon(QMessageBox::Warning);
    alert.setWindowTitle(QStringLiteral("Vintrelle"));
    alert.setText(message);
    alert.setInformativeText(informativeText);
    alert.setWindowModality(Qt::ApplicationModal);
    // Floating windows stay on top; an alert must stay above them.
    alert.setWindowFlag(Qt::WindowStaysOnTopHint);
    QList<QPushButton *> pushButtons;
    for (const QString &title : buttons.isEmpty() ? QStringList{QStringLiteral("OK")} : buttons)
        pushButtons << alert.addButton(title, pushButtons.isEmpty() ? QMessageBox::AcceptRole : QMessageBox::ActionRole);
    alert.setDefaultButton(pushButtons.first());
    alert.setEscapeButton(pushButtons.first());
    alert.show();
    alert.raise();
    alert.activateWindow();
    alert.exec();
    const qsizetype pressed = pushButtons.indexOf(qobject_cast<QPushButton *>(alert.clickedButton()));
    return VintrelleAlertFirstButton + int(qMax<qsizetype>(pressed, 0));
}
