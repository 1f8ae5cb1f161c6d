#include "VintrelleNativeStore.h"
#include "VintrelleDurableWrite.h"
#include "VintrelleJsonWriter.h"
#include "VintrelleLocations.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cerrno>
#include <sys/stat.h>

namespace {

// Qt's document parser refuses a top-level string, number, true, false or null; inside an array
// it takes them, so one value in brackets tells valid JSON from broken text.
bool isJsonScalar(const QByteArray &data)
{
    QJsonParseError parseError;
    const QJsonDocument wrapped = QJsonDocument::fromJson('[' + data + ']', &parseError);
    return parseError.error == QJsonParseError::NoError && wrapped.array().size() == 1;
}

} // namespace

VintrelleNativeStore::VintrelleNativeStore(const QString &url) : m_url(url) {}

bool VintrelleNativeStore::read(VintrelleError *error)
{
    QFile file(m_url);
    if (!file.open(QIODevice::ReadOnly))
        return VTFail(error, QStringLiteral("Could not read %1: %2.")
                                 .arg(QDir::toNativeSeparators(m_url), file.errorString()));
    // Read one byte past the limit, so a huge file is refused without loading it whole.
    const QByteArray data = file.read(VintrelleLimits::savedFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return VTFail(error, QStringLiteral("Could not read %1: %2.")
                                 .arg(QDir::toNativeSeparators(m_url), file.errorString()));
    if (data.size() > VintrelleLimits::savedFileBytes)
        return VTFail(error, QStringLiteral("The saved library is too large."));

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError && isJsonScalar(data))
        return false; // valid JSON, just not a library state
    if (parseError.error != QJsonParseError::NoError)
        return VTFail(error, QStringLiteral("The saved library is not valid JSON: %1 at byte %2.")
                                 .arg(parseError.errorString())
                                 .arg(parseError.offset));
    if (!document.isObject())
        return false;
    const QJsonObject state = document.object();
    const QJsonValue version = state.value(QLatin1String("nativeVersion"));
    if (!version.isDouble() || version.toDouble() != 1)
        return false;
    std::optional<VintrelleCategoryCache::Checked> checked = m_cache.check(state.value(QLatin1String("categories")), error);
    if (!checked)
        return false;
    m_cache.adopt(std::move(*checked));
    m_state = state;
    return true;
}

bool VintrelleNativeStore::commit(const QJsonObject &state, VintrelleError *error)
{
    std::optional<VintrelleCategoryCache::Checked> checked = m_cache.check(state.value(QLatin1String("categories")), error);
    if (!checked)
        return false;
    const QList<QByteArray> pieces = m_cache.text(state, *checked);
    qsizetype size = 0;
    for (const QByteArray &piece : pieces)
        size += piece.size();
    // A file the next start would refuse to read must never replace a good one.
    if (size > VintrelleLimits::savedFileBytes)
        return VTFail(error, QStringLiteral("The saved library is too large."));
    if (!VintrelleMakeOwnerOnlyPath(QFileInfo(m_url).path(), error))
        return false;
    QString reason;
    if (!VintrelleWriteDurably(m_url, pieces, &reason))
        return VTFail(error, QStringLiteral("Could not save %1: %2.").arg(QDir::toNativeSeparators(m_url), reason));

    m_cache.adopt(std::move(*checked));
    m_state = state;
    if (changed)
        changed();
    return true;
}

bool VintrelleNativeStore::keepBackup(const QJsonArray &categories, VintrelleError *error)
{
    const QString folder = VintrelleLibraryBackupsPath(m_url);
    const QString unchanged = QStringLiteral(" The library is unchanged.");
    VintrelleError folderError;
    if (!VintrelleMakeOwnerOnlyPath(folder, &folderError))
        return VTFail(error, folderError.value_or(QString()) + unchanged);

    // UTC names sort by age; a second backup within the same millisecond gets a number.
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyy-MM-dd HH.mm.ss.zzz"));
    QString name = QStringLiteral("Vintrelle Library %1 UTC.json").arg(stamp);
    for (int number = 2; QFileInfo::exists(folder + '/' + name); ++number)
        name = QStringLiteral("Vintrelle Library %1 UTC %2.json").arg(stamp).arg(number);

    // A library file, so that importing it restores the library; the bridge token stays out.
    const QByteArray data = VintrelleCompactJson(
        QJsonObject{{"format", "Vintrelle Library"}, {"version", 1}, {"categories", categories}});
    QString reason;
    if (!VintrelleWriteDurably(folder + '/' + name, {data}, &reason))
        return VTFail(error, QStringLiteral("Could not keep a backup of the library in %1: %2.")
                                 .arg(QDir::toNativeSeparators(folder), reason) + unchanged);

    static const QRegularExpression backupName(
        QStringLiteral("^Vintrelle Library \\d{4}-\\d\\d-\\d\\d \\d\\d\\.\\d\\d\\.\\d\\d\\.\\d{3} UTC( \\d+)?\\.json$"));
    const QStringList backups = QDir(folder).entryList({QStringLiteral("Vintrelle Library *.json")}, QDir::Files, QDir::Name)
                                    .filter(backupName);
    for (qsizetype index = 0; index + backupsKept < backups.size(); ++index)
        QFile::remove(folder + '/' + backups.at(index)); // a copy left over harms nothing
    return true;
}

void VintrelleNativeStore::recordHistory(const QString &op, const QJsonArray &snapshot)
{
    if (op == QLatin1String("undo")) {
        m_redo.append(snapshot);
        m_undo.removeLast();
    } else if (op == QLatin1String("redo")) {
        m_undo.append(snapshot);
        m_redo.removeLast();
    } else {
        m_undo.append(snapshot);
        m_redo.clear();
    }
    if (m_undo.size() > historyDepth)
        m_undo.removeFirst();
    if (m_redo.size() > historyDepth)
        m_redo.removeFirst();
}
