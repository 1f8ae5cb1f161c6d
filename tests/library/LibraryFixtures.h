#pragma once

// Small builders for library documents used across the library tests.

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

inline QJsonObject entryObject(const QString &id, const QString &label, const QString &uri, const QString &path = {})
{
    return {{"id", id}, {"label", label}, {"uri", uri}, {"path", path}};
}

inline QJsonObject categoryObject(const QString &id, const QString &name, const QJsonValue &parentId = QJsonValue::Null,
                                  const QJsonArray &entries = {})
{
    return {{"id", id}, {"name", name}, {"parentId", parentId}, {"entries", entries}};
}

inline QJsonObject stateWith(const QJsonArray &categories)
{
    return {{"nativeVersion", 1}, {"categories", categories}, {"bridgeUrl", "http://127.0.0.1:45873"}, {"token", ""}};
}

inline QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// `categories` categories in a chain-free flat list holding `entries` plug-ins in total, with
// realistic lengths (names of about 20 characters, uris of about 300).
inline QJsonArray generatedCategories(int categories, int entries)
{
    QJsonArray list;
    const QString uriTail(260, QLatin1Char('x'));
    for (int c = 0; c < categories; ++c) {
        QJsonArray items;
        const int count = entries / categories + (c < entries % categories ? 1 : 0);
        for (int e = 0; e < count; ++e) {
            const QString id = QStringLiteral("E%1-%2").arg(c).arg(e);
            items.append(entryObject(id, QStringLiteral("Plug-in number %1").arg(e),
                                     QStringLiteral("query:Plugins#VST3:Vendor:%1:%2:").arg(c).arg(e) + uriTail,
                                     QStringLiteral("Plugins/VST3/Vendor %1").arg(c)));
        }
        const QJsonValue parent = c % 4 == 0 || c == 0 ? QJsonValue() : QJsonValue(QStringLiteral("C%1").arg(c - c % 4));
        list.append(categoryObject(QStringLiteral("C%1").arg(c), QStringLiteral("Category number %1").arg(c), parent, items));
    }
    return list;
}
