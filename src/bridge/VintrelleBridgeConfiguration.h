#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Where the VintrelleBridge Remote Script listens and which bearer token it expects, as read from
// one of its config.json files. The bridge client and the launcher server both find it through
// VintrelleFindBridgeConfiguration(), so they always agree on which file counts.
struct VintrelleBridgeConfiguration
{
    static constexpr quint16 defaultPort = 45873;
    // The installer writes a few dozen bytes; anything this large is not a bridge configuration,
    // and reading it whole before every request would stall the program.
    static constexpr qint64 maxFileSize = 64 * 1024;

    quint16 port = defaultPort;
    QString token;
    QString path;      // the config.json it came from
    QString bridgeURL; // "http://127.0.0.1:<port>"
};

// The file under the user default "VintrelleUserLibrary" (the Ableton User Library recorded by the
// installer), when that default is a non-empty string.
std::optional<QString> VintrelleUserLibraryBridgeConfigurationPath();

// The candidates after the user default: $VINTRELLE_BRIDGE_CONFIG when set and non-empty, then the
// standard User Library location under the home folder.
QStringList VintrelleBridgeConfigurationFallbackPaths();

// Every candidate in the order they are tried, read from the user default and the environment now.
QStringList VintrelleBridgeConfigurationCandidates();

// One candidate: a readable file of at most maxFileSize bytes holding a JSON object whose "token" is a non-empty string and
// whose "port" is absent (45873) or a JSON number with an integral value from 1 to 65535.
// A fractional port such as 45873.5 is refused rather than rounded: the installer only writes
// integers, so such a file is damaged and guessing a port could reach the wrong service.
std::optional<VintrelleBridgeConfiguration> VintrelleReadBridgeConfiguration(const QString &path);

// The first valid candidate, or none.
std::optional<VintrelleBridgeConfiguration> VintrelleFindBridgeConfiguration(const QStringList &candidates);
std::optional<VintrelleBridgeConfiguration> VintrelleFindBridgeConfiguration();
