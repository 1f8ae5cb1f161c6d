#include "VintrelleLibraryFile.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringDecoder>

std::optional<QString> VintrelleLibraryFile::read(const QString &path, ReadFailure *failure)
{
    const auto refuse = [failure](ReadFailure reason) -> std::optional<QString> {
        if (failure)
            *failure = reason;
        return std::nullopt;
    };
    const qint64 limit = VintrelleLimits::importFileBytes;
    const QFileInfo info(path);
    if (!info.exists())
        return refuse(ReadFailure::Unreadable);
    // Folders, devices and pipes have no size to judge them by: they count as too large.
    if (!info.isFile() || info.size() > limit)
        return refuse(ReadFailure::TooLarge);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(ReadFailure::Unreadable);
    // A file that grew after its size was taken is still held to the limit.
    const QByteArray bytes = file.read(limit + 1);
    if (file.error() != QFileDevice::NoError)
        return refuse(ReadFailure::Unreadable);
    if (bytes.size() > limit)
        return refuse(ReadFailure::TooLarge);
    // Stateless, so a sequence cut off at the end of the file is an error too.
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return refuse(ReadFailure::Unreadable);
    return text;
}

QString VintrelleLibraryFile::message(ReadFailure failure)
{
    return failure == ReadFailure::TooLarge ? VintrelleMessages::importFileTooLarge : unreadableMessage;
}

bool VintrelleLibraryFile::write(const QString &path, const QString &text, VintrelleError *error)
{
    QSaveFile file(path);
    const QByteArray bytes = text.toUtf8();
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    return VTFail(error, QStringLiteral("Could not write \u201C%1\u201D: %2. No file was changed.")
                             .arg(QFileInfo(path).fileName(), file.errorString()));
}
