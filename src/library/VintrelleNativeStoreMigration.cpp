// First start: the saved file, else the previous generation's library, else the starter tree.

#include "VintrelleNativeStore.h"
#include "VintrelleStarterLibrary.h"

#include <QFileInfo>
#include <QJsonDocument>

namespace {
const QString defaultBridgeUrl = QStringLiteral("http://127.0.0.1:45873");
}

bool VintrelleNativeStore::initializeFromPreviousLibrary(const QJsonValue &previous, VintrelleError *error)
{
    if (m_state)
        return true;
    // A file wins, also one that appeared while the previous library was being fetched.
    if (QFileInfo::exists(m_url))
        return read(error);
    if (!previous.isUndefined())
        return migrate(previous, error);
    const QJsonObject starter = QJsonDocument::fromJson(VintrelleStarterLibraryContents().toUtf8()).object();
    return migrate(QJsonObject{{"categories", starter.value(QLatin1String("categories"))}}, error);
}

bool VintrelleNativeStore::migrate(const QJsonValue &previous, VintrelleError *error)
{
    if (!previous.isObject())
        return VTFail(error, QStringLiteral("The previous library could not be read. Its original data is unchanged."));
    const QJsonObject library = previous.toObject();
    const QJsonValue categoriesValue = library.value(QLatin1String("categories"));
    if (!categoriesValue.isArray())
        return VTFail(error, QStringLiteral("The previous library contains invalid categories. Original data is unchanged."));

    QJsonArray categories = categoriesValue.toArray();
    for (qsizetype index = 0; index < categories.size(); ++index) {
        if (!categories.at(index).isObject())
            return VTFail(error, QStringLiteral("The previous library contains invalid categories."));
        QJsonObject category = categories.at(index).toObject();
        if (!category.contains(QLatin1String("entries")))
            category.insert(QLatin1String("entries"), QJsonArray());
        if (!category.value(QLatin1String("entries")).isArray())
            return VTFail(error, QStringLiteral("The previous library contains invalid categories."));
        if (!category.contains(QLatin1String("parentId")))
            category.insert(QLatin1String("parentId"), QJsonValue::Null);
        QJsonArray entries = category.value(QLatin1String("entries")).toArray();
        for (qsizetype position = 0; position < entries.size(); ++position) {
            if (!entries.at(position).isObject())
                return VTFail(error, QStringLiteral("The previous library contains invalid plug-ins."));
            QJsonObject entry = entries.at(position).toObject();
            if (!entry.contains(QLatin1String("path"))) {
                entry.insert(QLatin1String("path"), QString());
                entries.replace(position, entry);
            }
        }
        category.insert(QLatin1String("entries"), entries);
        categories.replace(index, category);
    }

    const QJsonValue bridgeUrl = library.value(QLatin1String("bridgeUrl"));
    const QJsonValue token = library.value(QLatin1String("token"));
    const QJsonObject state{
        {"nativeVersion", 1},
        {"categories", categories},
        {"bridgeUrl", VTText(bridgeUrl, 2000) ? bridgeUrl : QJsonValue(defaultBridgeUrl)},
        {"token", token.isString() ? token : QJsonValue(QString())},
    };
    return commit(state, error);
}
