#include "VintrelleStoreStartup.h"

#include "VintrelleCommandRouter.h"
#include "VintrelleLocations.h"
#include "VintrelleNativeStore.h"

#include <QTimer>

VintrelleStoreStartup::VintrelleStoreStartup(VintrelleCommandRouter *router, QObject *parent)
    : QObject(parent), m_router(router), m_lock(VintrelleNativeLibraryPath())
{
}

VintrelleStoreStartup::~VintrelleStoreStartup()
{
    if (m_router)
        m_router->setStore(nullptr);
}

bool VintrelleStoreStartup::isReady() const
{
    return m_store && m_store->state();
}

void VintrelleStoreStartup::prepare()
{
    if (m_starting || isReady())
        return;
    m_starting = true;
    // A fresh store for every attempt, so nothing of a failed one survives.
    m_store = std::make_unique<VintrelleNativeStore>(VintrelleNativeLibraryPath());
    m_router->setStore(m_store.get());
    QTimer::singleShot(0, this, &VintrelleStoreStartup::finish);
}

void VintrelleStoreStartup::finish()
{
    VintrelleError error;
    const bool opened = m_lock.acquire(VintrelleLibraryLock::defaultWait, &error)
        && m_store->initializeFromPreviousLibrary(QJsonValue(QJsonValue::Undefined), &error);
    m_starting = false;
    if (opened)
        emit ready();
    else
        emit failed(error.value_or(QStringLiteral("Your original library is unchanged.")));
}
