#pragma once

#include "VintrelleLibraryDocument.h"

#include <QString>

#include <optional>

// The library file on disk, for export and import: reading refuses a file that is too large
// (judged from its size before a byte is read) or is not UTF-8 text, and writing replaces the
// chosen file whole or not at all. No dialogs here, so every front end shares the same rules.
class VintrelleLibraryFile
{
public:
    enum class ReadFailure { TooLarge, Unreadable };

    static inline const QString proposedName = QStringLiteral("Vintrelle Library.json");
    static inline const QString unreadableMessage = QStringLiteral("Could not read this library.");
    static inline const QString exportedMessage = QStringLiteral("Library exported.");
    static inline const QString importedMessage = QStringLiteral("Library imported.");

    // The text of the file at `path`. None when its size is unknown or above
    // VintrelleLimits::importFileBytes, when it cannot be read, or when it is not valid UTF-8;
    // `failure` then says which (a leading byte order mark is dropped).
    static std::optional<QString> read(const QString &path, ReadFailure *failure = nullptr);
    // The settings window's sentence for a read failure.
    static QString message(ReadFailure failure);

    // Writes `text` as UTF-8 to `path`, replacing an existing file atomically. On failure
    // `error` (when given) gets a sentence naming the file and the reason; the file is unchanged.
    static bool write(const QString &path, const QString &text, VintrelleError *error = nullptr);
};
