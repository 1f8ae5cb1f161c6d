#include "VintrelleNativeStore.h"
#include "VintrelleLocations.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QSaveFile>

#include <cerrno>
#include <sys/stat.h>

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
    if (!m_cache.validate(state.value(QLatin1String("categories")), error))
        return false;
    m_state = state;
    return true;
}

bool VintrelleNativeStore::commit(const QJsonObject &state, VintrelleError *error)
{
    const std::optional<QByteArray> text = m_cache.saveText(state, error);
    if (!text)
        return false;
    // A file the next start would refuse to read must never replace a good one.
    if (text->size() > VintrelleLimits::savedFileBytes)
        return VTFail(error, QStringLiteral("The saved library is too large."));
    const QByteArray &data = *text;
    if (!VintrelleMakeOwnerOnlyPath(QFileInfo(m_url).path(), error))
        return false;

    QSaveFile file(m_url);
    file.setDirectWriteFallback(false);
    const auto saveFailed = [&] {
        return VTFail(error, QStringLiteral("Could not save %1: %2.")
                                 .arg(QDir::toNativeSeparators(m_url), file.errorString()));
    };
    if (!file.open(QIODevice::WriteOnly))
        return saveFailed();
    // Restrict the temporary file before it holds the token, so the file is never readable by others.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(data) != data.size()) {
        file.cancelWriting();
        return saveFailed();
    }
    if (!file.commit())
        return saveFailed();
    QFile::setPermissions(m_url, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    m_state = state;
    if (changed)
        changed();
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
