#pragma once

#include "VintrelleLibraryDocument.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <optional>

// Validates categories exactly as VTValidateCategories does and remembers the last categories it
// was told to adopt: every identifier with its owner, each category's position and compact JSON.
// A command changes a few categories and leaves the others as the very same Qt containers, so the
// next check examines only what differs; whenever that check cannot prove the result valid it
// runs the whole validation, which alone decides the message.
class VintrelleCategoryCache
{
public:
    // Where an identifier stands in the remembered categories: a category (entry -1) or an entry
    // of that category.
    struct Position
    {
        qsizetype category = -1;
        qsizetype entry = -1;
    };

    // What is remembered of one category.
    struct Category
    {
        QString id;
        QJsonObject object;
        QStringList entryIds;
        qsizetype slot = -1; // position in the list
    };

    // The outcome of a passed check, to be adopted once the categories are saved.
    struct Checked
    {
        QJsonArray list;
        QStringList ids;        // category identifiers, by position
        QList<QByteArray> json; // compact JSON by position; empty until written
        bool whole = false;     // `changed` holds every category and `owner` every identifier
        QList<Category> changed;                    // new or changed categories
        QList<std::pair<QString, qsizetype>> moved; // unchanged categories at a new position
        QStringList removedCategories;
        QStringList removedIds; // every identifier of the removed and the changed categories
        QHash<QString, QString> owner;
        qsizetype entryCount = 0;
    };

    // Same verdict and same first message as VTValidateCategories. Remembers nothing.
    std::optional<Checked> check(const QJsonValue &categories, VintrelleError *error) const;

    // Remembers the checked categories.
    void adopt(Checked &&checked);

    // The compact JSON text of `state`, whose categories were just checked, in pieces to be
    // written one after another.
    QList<QByteArray> text(const QJsonObject &state, Checked &checked) const;

    // Where `id` stands in the remembered categories; none when it names nothing.
    std::optional<Position> find(const QJsonValue &id) const;

    // The whole validation, without remembering anything when `checked` is null.
    static bool validateWhole(const QJsonValue &categories, Checked *checked, VintrelleError *error);

private:
    std::optional<Checked> checkChanges(const QJsonArray &list) const;

    bool m_remembers = false;
    QJsonArray m_list;
    QStringList m_ids;
    QList<QByteArray> m_json;
    QHash<QString, Category> m_known;   // by category identifier
    QHash<QString, QString> m_owner; // every identifier, category or entry -> its category's identifier
    qsizetype m_entryCount = 0;
};
