#include "VintrelleLibraryDocument.h"

#include "VintrelleCategoryCache.h"


bool VTText(const QJsonValue &value, qsizetype maximum)
{
    if (!value.isString())
        return false;
    const QString text = value.toString();
    return text.size() <= maximum && !text.trimmed().isEmpty();
}

bool VTFail(VintrelleError *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

std::optional<QJsonValue> VTCopyJSON(const QJsonValue &value)
{
    if (value.isUndefined())
        return std::nullopt;
    return value;
}

bool VTValidateCategories(const QJsonValue &value, VintrelleError *error)
{
    return VintrelleCategoryCache::validateWhole(value, nullptr, error);
}
