#include "VintrelleLocations.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

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
