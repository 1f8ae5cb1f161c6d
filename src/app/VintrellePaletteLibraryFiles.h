#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class VintrelleStoreStartup;

// Library export and import for the launcher page while it is open: the page hands over the text
// to save or asks for a file's text, and hears back through its status function. The library
// itself is never touched here; the page does the library work.
class VintrellePaletteLibraryFiles : public QObject
{
    Q_OBJECT

public:
    // Page text longer than this is refused rather than written.
    static constexpr qsizetype exportTextUnits = 5 * 1024 * 1024;

    static const QString exportTitle;
    static const QString importTitle;

    // Listens to the start-up's trusted page actions and answers through its page.
    explicit VintrellePaletteLibraryFiles(VintrelleStoreStartup *startup, QObject *parent = nullptr);

    // Where to save and what to open: none when the user cancels. Default to file dialogs above
    // the program's floating windows; tests put a path here.
    std::function<std::optional<QString>()> chooseExportPath;
    std::function<std::optional<QString>()> chooseImportPath;

    // Each flow starts on the next turn of the event loop and ends with a status line (or the
    // file's text) sent to the page. A request while a dialog is open is ignored.
    void exportLibrary(const QJsonValue &contents);
    void importLibrary();
    // Calls the page's status function with `message`, whatever characters it holds.
    void libraryFileMessage(const QString &message);

private:
    void handlePageAction(const QString &action, const QJsonObject &body);
    void runExport(const QString &text);
    void runImport();
    // Calls `function` in the page with `text` as its one string argument; the answer is ignored.
    void callPage(const QString &function, const QString &text);

    VintrelleStoreStartup *m_startup;
    bool m_busy = false;
};
