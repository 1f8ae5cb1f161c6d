#include "VintrelleStarterLibrary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace {

struct StarterCategory
{
    const char *name;
    QStringList subcategories;
};

QJsonObject category(const QString &id, const QString &name, const QJsonValue &parentId)
{
    return {{"id", id}, {"name", name}, {"parentId", parentId}, {"entries", QJsonArray()}};
}

} // namespace

QString VintrelleStarterLibraryContents()
{
    const StarterCategory table[] = {
        {"Instruments", {"Synths", "Drums", "Samplers"}},
        {"EQ & Filters", {}},
        {"Dynamics", {"Compressors", "Limiters", "Gates"}},
        {"Saturation & Distortion", {}},
        {"Reverb", {}},
        {"Delay", {}},
        {"Modulation", {}},
        {"Utilities", {"MIDI", "Analyzers"}},
    };
    QJsonArray categories;
    for (qsizetype index = 0; index < qsizetype(std::size(table)); ++index) {
        const QString id = QStringLiteral("starter-%1").arg(index);
        categories.append(category(id, QString::fromUtf8(table[index].name), QJsonValue::Null));
        const QStringList &subcategories = table[index].subcategories;
        for (qsizetype sub = 0; sub < subcategories.size(); ++sub)
            categories.append(category(QStringLiteral("%1-%2").arg(id).arg(sub), subcategories[sub], id));
    }
    const QJsonObject file{{"format", "Vintrelle Library"}, {"version", 1}, {"categories", categories}};
    return QString::fromUtf8(QJsonDocument(file).toJson(QJsonDocument::Compact));
}
