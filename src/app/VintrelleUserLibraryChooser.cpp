#include "VintrelleUserLibraryChooser.h"

#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>

std::optional<QString> VintrelleChooseUserLibrary()
{
    const QString message = QStringLiteral(
        "Choose your Ableton User Library folder. You can find its location in Ableton Settings → Library.");
    // Qt's own dialog, so that the message and the confirm button's title can be set everywhere.
    QFileDialog dialog(nullptr, QStringLiteral("Choose your Ableton User Library folder"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Install Here"));
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
        auto *label = new QLabel(message, &dialog);
        label->setWordWrap(true);
        label->setObjectName(QStringLiteral("vintrelleChooserMessage"));
        grid->addWidget(label, grid->rowCount(), 0, 1, grid->columnCount());
    }
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}
