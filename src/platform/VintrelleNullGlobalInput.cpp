#include "VintrelleNullGlobalInput.h"

VintrelleNullGlobalInput::VintrelleNullGlobalInput(QString reason, QObject *parent)
    : VintrelleGlobalInput(parent), m_reason(std::move(reason))
{
}

bool VintrelleNullGlobalInput::setHotKey(int, quint32, VintrelleError *error)
{
    if (error)
        *error = QStringLiteral("Could not register a shortcut. Your previous shortcut is unchanged.");
    return false;
}

bool VintrelleNullGlobalInput::startObserving(VintrelleError *error)
{
    if (error)
        *error = m_reason;
    return false;
}
