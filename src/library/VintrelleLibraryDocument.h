#pragma once

#include <QJsonValue>
#include <QString>

#include <optional>

// The library document's shared rules: text limits, validation of the category tree, the error
// value and deep copies. Every failure of the library carries only its user-facing message.

using VintrelleError = std::optional<QString>;

// A string that is not blank after trimming and whose untrimmed length, in UTF-16 units, is at
// most `maximum`. Any other type is refused.
bool VTText(const QJsonValue &value, qsizetype maximum);

// True when `value` is a valid categories array. Otherwise false, with the message of the first
// rule broken (in array order) written to `error` when one is given.
bool VTValidateCategories(const QJsonValue &value, VintrelleError *error);

// Fills `error` (when given) with `message` and returns false, so a failure reports in one step.
bool VTFail(VintrelleError *error, const QString &message);

// A copy that shares no mutable state with `value`. Qt's JSON containers are values with
// copy-on-write, so a copy is already independent; none for an undefined value, which cannot be
// serialised.
std::optional<QJsonValue> VTCopyJSON(const QJsonValue &value);

namespace VintrelleLimits {
constexpr qsizetype categories = 2000;
constexpr qsizetype entries = 20000;
constexpr qsizetype depth = 64;
constexpr qsizetype identifier = 200;
constexpr qsizetype name = 500;
constexpr qsizetype uri = 10000;
constexpr qsizetype path = 10000;
constexpr qint64 savedFileBytes = 8 * 1024 * 1024;
// What import reads: a library file of at most importFileBytes (checked on its size before it is
// read) holding at most importTextUnits UTF-16 units. Every export fits: the saved library is at
// most 8 MiB compact, indenting 2,000 categories and 20,000 plug-ins adds about 3 MB, and an
// export that would be larger is written compact.
constexpr qint64 importFileBytes = 16 * 1024 * 1024;
constexpr qsizetype importTextUnits = 16 * 1024 * 1024;
} // namespace VintrelleLimits

namespace VintrelleMessages {
inline const QString unsupportedFile = QStringLiteral("Choose a supported Vintrelle library file.");
inline const QString invalidCategories = QStringLiteral("This library contains invalid categories.");
inline const QString invalidPlugins = QStringLiteral("This library contains invalid or duplicate plug-ins.");
inline const QString invalidHierarchy = QStringLiteral("This library contains an invalid folder hierarchy.");
inline const QString importFileTooLarge = QStringLiteral("Library files must be smaller than 16 MB.");
} // namespace VintrelleMessages
