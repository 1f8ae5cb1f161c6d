#pragma once

#include "VintrelleLibraryDocument.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QStringList>

#include <optional>

// Validates a categories array exactly as VTValidateCategories does, and writes a state's compact
// JSON, remembering per category what it learnt. Comparing a category with the remembered one is
// several times cheaper than reading its text again, so a save after a small change only
// re-examines and re-writes the categories that changed.
class VintrelleCategoryCache
{
public:
    // Same verdict and same first message as VTValidateCategories.
    bool validate(const QJsonValue &categories, VintrelleError *error);

    // Validates the state's categories, then gives its compact JSON text.
    std::optional<QByteArray> saveText(const QJsonObject &state, VintrelleError *error);

private:
    struct Known
    {
        QJsonObject category;  // as it was when it passed the checks of its own content
        QStringList entryIds;  // for the checks that span categories
        QByteArray json;       // its compact JSON, once written
    };

    bool validate(const QJsonValue &categories, QStringList *order, VintrelleError *error);

    QHash<QString, Known> m_known; // by category identifier
};
