#include "VintrellePaletteLibraryFiles.h"

#include "VintrelleLibraryDocument.h"
#include "VintrelleMigrationPage.h"
#include "VintrelleStoreStartup.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>
#include <QStringDecoder>
#include <QTimer>

namespace {

const QString exported = QStringLiteral("Library exported.");
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
        dialog.selectFile(QStringLiteral("Vintrelle Library.json"));
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

// The file's text when it is a regular file within the import limit and strict UTF-8; else none,
// with the page's message in `failure`.
std::optional<QString> readLibraryText(const QString &path, QString *failure)
{
    // The size comes from the file system before a byte is read; pipes and devices have none.
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > VintrelleLimits::importFileBytes) {
        *failure = VintrelleMessages::importFileTooLarge;
        return std::nullopt;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *failure = notReadable;
        return std::nullopt;
    }
    // Never more than the limit, even when the file grew after the check.
    const QByteArray bytes = file.read(VintrelleLimits::importFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *failure = notReadable;
        return std::nullopt;
    }
    if (bytes.size() > VintrelleLimits::importFileBytes) {
        *failure = VintrelleMessages::importFileTooLarge;
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringConverter::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        *failure = notReadable;
        return std::nullopt;
    }
    return text;
}

// Replaces `path` whole or not at all.
bool writeLibraryText(const QString &path, const QString &text)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = text.toUtf8();
    return file.write(bytes) == bytes.size() && file.commit();
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
    libraryFileMessage(writeLibraryText(*path, text) ? exported : notSaved);
}

void VintrellePaletteLibraryFiles::runImport()
{
    const std::optional<QString> path = chooseImportPath();
    if (!path || path->isEmpty())
        return libraryFileMessage(importCancelled);
    QString failure;
    if (const std::optional<QString> text = readLibraryText(*path, &failure))
        callPage(QStringLiteral("receiveLibraryFile"), *text);
    else
        libraryFileMessage(failure);
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
