#include "VintrellePaletteLibraryFiles.h"

#include "VintrelleLibraryFile.h"
#include "VintrelleMigrationPage.h"
#include "VintrelleStoreStartup.h"

#include <QDir>
#include <QFileDialog>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTimer>

namespace {

const QString notSaved = QStringLiteral("Could not save the library. Choose a writable folder and try again.");
const QString exportCancelled = QStringLiteral("Export cancelled.");
const QString exportTooLarge = QStringLiteral("Library export is too large.");
const QString importCancelled = QStringLiteral("Import cancelled.");
const QString notReadable = QStringLiteral("Could not read this library file.");

// Qt's own dialog above the program's floating windows, as the folder chooser of the installer.
std::optional<QString> chooseLibraryFile(QFileDialog::AcceptMode mode, const QString &title)
{
    QFileDialog dialog(nullptr, title, QDir::homePath(), QStringLiteral("JSON (*.json)"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(mode);
    if (mode == QFileDialog::AcceptSave) {
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("json"));
        dialog.selectFile(VintrelleLibraryFile::proposedName);
    } else {
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    dialog.setWindowFlag(Qt::WindowStaysOnTopHint);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.raise();
    dialog.activateWindow();
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().first();
}

} // namespace

const QString VintrellePaletteLibraryFiles::exportTitle = QStringLiteral("Export Vintrelle Library");
const QString VintrellePaletteLibraryFiles::importTitle = QStringLiteral("Import Vintrelle Library");

VintrellePaletteLibraryFiles::VintrellePaletteLibraryFiles(VintrelleStoreStartup *startup, QObject *parent)
    : QObject(parent)
    , chooseExportPath([] { return chooseLibraryFile(QFileDialog::AcceptSave, exportTitle); })
    , chooseImportPath([] { return chooseLibraryFile(QFileDialog::AcceptOpen, importTitle); })
    , m_startup(startup)
{
    connect(startup, &VintrelleStoreStartup::pageAction, this, &VintrellePaletteLibraryFiles::handlePageAction);
}

void VintrellePaletteLibraryFiles::handlePageAction(const QString &action, const QJsonObject &body)
{
    if (action == u"exportLibrary")
        exportLibrary(body.value(QLatin1String("contents")));
    else if (action == u"importLibrary")
        importLibrary();
}

void VintrellePaletteLibraryFiles::exportLibrary(const QJsonValue &contents)
{
    if (m_busy)
        return;
    m_busy = true;
    // Out of the page's message delivery: the dialog runs its own event loop, in which the page
    // may go away.
    QTimer::singleShot(0, this, [this, contents] {
        if (!contents.isString() || contents.toString().size() > exportTextUnits)
            libraryFileMessage(exportTooLarge);
        else
            runExport(contents.toString());
        m_busy = false;
    });
}

void VintrellePaletteLibraryFiles::importLibrary()
{
    if (m_busy)
        return;
    m_busy = true;
    QTimer::singleShot(0, this, [this] {
        runImport();
        m_busy = false;
    });
}

void VintrellePaletteLibraryFiles::runExport(const QString &text)
{
    const std::optional<QString> path = chooseExportPath();
    if (!path || path->isEmpty())
        return libraryFileMessage(exportCancelled);
    libraryFileMessage(VintrelleLibraryFile::write(*path, text) ? VintrelleLibraryFile::exportedMessage : notSaved);
}

void VintrellePaletteLibraryFiles::runImport()
{
    const std::optional<QString> path = chooseImportPath();
    if (!path || path->isEmpty())
        return libraryFileMessage(importCancelled);
    VintrelleLibraryFile::ReadFailure failure;
    if (const std::optional<QString> text = VintrelleLibraryFile::read(*path, &failure))
        callPage(QStringLiteral("receiveLibraryFile"), *text);
    else // the page's own wording for a file that is not UTF-8 text
        libraryFileMessage(failure == VintrelleLibraryFile::ReadFailure::TooLarge ? VintrelleMessages::importFileTooLarge : notReadable);
}

void VintrellePaletteLibraryFiles::libraryFileMessage(const QString &message)
{
    callPage(QStringLiteral("libraryFileStatus"), message);
}

void VintrellePaletteLibraryFiles::callPage(const QString &function, const QString &text)
{
    VintrelleMigrationPage *page = m_startup->migrationPage();
    if (!page)
        return; // the page is gone, and with it anyone to tell
    // Element 0 of a one-element JSON array: any text becomes a correctly escaped script string.
    const QString argument = QString::fromUtf8(QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact));
    page->evaluate(QStringLiteral("window.%1(%2[0])").arg(function, argument), [](std::optional<QString>) {});
}
