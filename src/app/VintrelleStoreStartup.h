#pragma once

#include "VintrelleLibraryDocument.h"
#include "VintrelleLibraryLock.h"
#include "VintrelleMigrationPage.h"

#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>

class VintrelleCommandRouter;
class VintrelleMigrationPage;
class VintrelleNativeStore;
class VintrelleServer;
class QWebEngineProfile;

// Brings the library store to a library state: the saved file when there is one, else the
// previous generation's library read out of the launcher page's storage in a hidden page, else
// the starter categories. Holds the library lock for as long as it lives. While the library is not
// ready the page answers the router's commands and its script messages are dispatched here; the
// browser engine is started only when there is no library file.
class VintrelleStoreStartup : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 launcherPort = 48123;
    static constexpr int watchdogInterval = 15000;
    static const QString migrationScript;

    explicit VintrelleStoreStartup(VintrelleCommandRouter *router, QObject *parent = nullptr);
    ~VintrelleStoreStartup() override;

    // Starts preparing the store; does nothing while a preparation is under way or once ready.
    // After a failure the next call starts over with a new store.
    void prepare();
    bool isStarting() const { return m_starting; }
    // None until the first prepare(); replaced by every new attempt.
    VintrelleNativeStore *store() const { return m_store.get(); }
    bool isReady() const;

    // Tests shorten the wait and point the hidden page elsewhere.
    void setWatchdogInterval(int milliseconds) { m_watchdog.setInterval(milliseconds); }
    void setMigrationUrl(const QUrl &url) { m_migrationUrl = url; }
    VintrelleMigrationPage *migrationPage() const { return m_page; }
    bool hasLauncherServer() const { return m_server != nullptr; }

signals:
    void ready();
    // The library could not open: shown as the informative text of "Library could not open".
    void failed(const QString &informativeText);
    // The launcher server could not start: shown as the informative text of "Vintrelle could
    // not open". Nothing was prepared.
    void launcherFailed(const QString &informativeText);
    // A trusted page action that another part of the application carries out.
    void pageAction(const QString &action, const QJsonObject &body);

private:
    void migrate();
    void handleScriptMessage(const QJsonObject &body, bool trusted);
    void reportScreenGeometry();
    void succeed();
    void fail(const VintrelleError &message);
    void tearDown();

    QPointer<VintrelleCommandRouter> m_router;
    VintrelleLibraryLock m_lock;
    std::unique_ptr<VintrelleNativeStore> m_store;
    std::unique_ptr<VintrelleServer> m_server;
    std::unique_ptr<QWebEngineProfile> m_profile; // made by the first migration, then kept
    QPointer<VintrelleMigrationPage> m_page;
    QTimer m_watchdog;
    QUrl m_migrationUrl;
    QString m_lastScreenGeometryScript;
    bool m_starting = false;
};
