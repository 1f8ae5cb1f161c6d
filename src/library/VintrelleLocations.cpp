#include "VintrelleLocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <sys/stat.h>

namespace {

QString applicationDataFolder()
{
    // GenericDataLocation is $XDG_DATA_HOME (or ~/.local/share) on Linux; the folder name is ours
    // rather than derived from the organisation and application names, so it cannot drift.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Vintrelle";
}

} // namespace

QString VintrelleNativeLibraryPath()
{
    return applicationDataFolder() + "/native-library.json";
}

QString VintrelleLibraryBackupsPath(const QString &libraryPath)
{
    return QFileInfo(libraryPath).path() + "/Library Backups";
}

QString VintrelleBridgeBackupsPath()
{
    return applicationDataFolder() + "/Bridge Backups";
}

QString VintrelleResourcesPath()
{
    const QString overridden = qEnvironmentVariable("VINTRELLE_RESOURCES");
    if (!overridden.isEmpty())
        return overridden;
    if (QCoreApplication::instance()) {
        const QString installed = QCoreApplication::applicationDirPath() + "/../share/vintrelle";
        if (QFileInfo(installed).isDir())
            return QDir::cleanPath(installed);
    }
    return QStringLiteral(VINTRELLE_SOURCE_RESOURCES);
}

bool VintrelleMakeOwnerOnlyPath(const QString &folder, VintrelleError *error)
{
    const QString clean = QDir::cleanPath(folder);
    if (QFileInfo(clean).isDir())
        return true;
    const QString parent = QFileInfo(clean).path();
    if (parent != clean && !VintrelleMakeOwnerOnlyPath(parent, error))
        return false;
    if (::mkdir(QFile::encodeName(clean).constData(), 0700) == 0)
        return true;
    const int failure = errno;
    if (failure == EEXIST && QFileInfo(clean).isDir()) // made by someone else meanwhile
        return true;
    return VTFail(error, QStringLiteral("Could not create the folder %1: %2.")
                             .arg(QDir::toNativeSeparators(clean), qt_error_string(failure)));
}
