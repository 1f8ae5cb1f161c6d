#include "VintrelleBridgeConfiguration.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>

#include <cmath>

namespace {

const QString bridgeConfigurationInUserLibrary = QStringLiteral("Remote Scripts/VintrelleBridge/config.json");

} // namespace

std::optional<QString> VintrelleUserLibraryBridgeConfigurationPath()
{
    const QString userLibrary = QSettings("Vintrelle", "Vintrelle").value("VintrelleUserLibrary").toString();
    if (userLibrary.isEmpty())
        return std::nullopt;
    return QDir(userLibrary).filePath(bridgeConfigurationInUserLibrary);
}

QStringList VintrelleBridgeConfigurationFallbackPaths()
{
    QStringList paths;
    const QString fromEnvironment = qEnvironmentVariable("VINTRELLE_BRIDGE_CONFIG");
    if (!fromEnvironment.isEmpty())
        paths << fromEnvironment;
    paths << QDir::homePath() + "/Music/Ableton/User Library/" + bridgeConfigurationInUserLibrary;
    return paths;
}

QStringList VintrelleBridgeConfigurationCandidates()
{
    QStringList candidates;
    if (const auto fromUserDefault = VintrelleUserLibraryBridgeConfigurationPath())
        candidates << *fromUserDefault;
    return candidates + VintrelleBridgeConfigurationFallbackPaths();
}

std::optional<VintrelleBridgeConfiguration> VintrelleReadBridgeConfiguration(const QString &path)
{
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(VintrelleBridgeConfiguration::maxFileSize + 1);
    if (text.size() > VintrelleBridgeConfiguration::maxFileSize)
        return std::nullopt;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(text, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();

    VintrelleBridgeConfiguration configuration;
    const QJsonValue port = object.value("port");
    if (!port.isUndefined()) {
        if (!port.isDouble())
            return std::nullopt;
        const double number = port.toDouble();
        if (!(number >= 1 && number <= 65535) || std::floor(number) != number)
            return std::nullopt;
        configuration.port = quint16(number);
    }
    const QJsonValue token = object.value("token");
    if (!token.isString() || token.toString().isEmpty())
        return std::nullopt;

    configuration.token = token.toString();
    configuration.path = path;
    configuration.bridgeURL = QStringLiteral("http://127.0.0.1:%1").arg(configuration.port);
    return configuration;
}

std::optional<VintrelleBridgeConfiguration> VintrelleFindBridgeConfiguration(const QStringList &candidates)
{
    for (const QString &candidate : candidates) {
        if (auto configuration = VintrelleReadBridgeConfiguration(candidate))
            return configuration;
    }
    return std::nullopt;
}

std::optional<VintrelleBridgeConfiguration> VintrelleFindBridgeConfiguration()
{
    return VintrelleFindBridgeConfiguration(VintrelleBridgeConfigurationCandidates());
}
