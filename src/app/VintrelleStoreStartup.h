#pragma once

#include "VintrelleLibraryLock.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>

class VintrelleCommandRouter;
class VintrelleNativeStore;

// Brings the library store to a library state: locks the library for as long as this object
// lives, then reads the file, or saves the starter categories on a first start.
class VintrelleStoreStartup : public QObject
{
    Q_OBJECT

public:
    explicit VintrelleStoreStartup(VintrelleCommandRouter *router, QObject *parent = nullptr);
    ~VintrelleStoreStartup() override;

    // Starts preparing the store; does nothing while a preparation is under way or once ready.
    // Answers through ready() or failed(), never before this returns.
    void prepare();
    bool isStarting() const { return m_starting; }
    VintrelleNativeStore *store() const { return m_store.get(); }
    bool isReady() const;

signals:
    void ready();
    void failed(const QString &informativeText);
    void pageAction(const QString &action, const QJsonObject &body);

private:
    void finish();

    VintrelleCommandRouter *m_router;
    VintrelleLibraryLock m_lock;
    std::unique_ptr<VintrelleNativeStore> m_store;
    bool m_starting = false;
};
