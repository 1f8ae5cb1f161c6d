#pragma once

#include "VintrelleCategoryCache.h"
#include "VintrelleLibraryDocument.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>
#include <optional>

// Holds the one library state of the application, saves every change atomically before it
// becomes visible, and keeps the undo and redo history of the category tree (in memory only).
// Used on the main thread only.
class VintrelleNativeStore
{
public:
    static constexpr qsizetype historyDepth = 20;
    static constexpr qsizetype backupsKept = 20;

    explicit VintrelleNativeStore(const QString &url);

    const QString &url() const { return m_url; }
    const std::optional<QJsonObject> &state() const { return m_state; }
    const QList<QJsonArray> &undo() const { return m_undo; }
    const QList<QJsonArray> &redo() const { return m_redo; }

    // Called once after every successful save, after the state was replaced.
    std::function<void()> changed;

    // Loads the file into the state. A file that is not an object or not of version 1 fails
    // without an error value. Never writes.
    bool read(VintrelleError *error);

    // Validates, writes atomically and adopts `state`. On failure nothing changed, on disk or here.
    bool commit(const QJsonObject &state, VintrelleError *error);

    // Runs one library command. Returns the result object, or none with the error message.
    std::optional<QJsonObject> perform(const QJsonObject &command, VintrelleError *error);

    // First start: the file wins when it exists, then the previous library, then the starter
    // categories. `previous` is undefined when there was none.
    bool initializeFromPreviousLibrary(const QJsonValue &previous, VintrelleError *error);

    // Repairs and saves a previous generation's library as the first state.
    bool migrate(const QJsonValue &previous, VintrelleError *error);

private:
    // Writes `categories` as a library file into the backups folder and keeps the newest ones.
    bool keepBackup(const QJsonArray &categories, VintrelleError *error);
    void recordHistory(const QString &op, const QJsonArray &snapshot);

    QString m_url;
    std::optional<QJsonObject> m_state;
    QList<QJsonArray> m_undo;
    QList<QJsonArray> m_redo;
    VintrelleCategoryCache m_cache; // knows the categories of m_state: adopts only what was read or saved
};
