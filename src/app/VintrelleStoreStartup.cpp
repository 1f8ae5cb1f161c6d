#include "VintrelleStoreStartup.h"

#include "VintrelleCommandRouter.h"
#include "VintrelleLocations.h"
#include "VintrelleMigrationPage.h"
#include "VintrelleNativeStore.h"
#include "VintrelleServer.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QSet>
#include <QWebEngineProfile>

namespace {

const QString unchangedMessage = QStringLiteral("Your original library is unchanged.");
const QString timedOutMessage = QStringLiteral(
    "The previous library could not be opened. Quit other copies of Vintrelle and try again. Original data is unchanged.");
const QString launcherBusyMessage = QStringLiteral(
    "Quit any other copy of Vintrelle and try again. If an older copy was forced to quit, restart your computer to "
    "close its background helper.");
const QString launcherMissingMessage =
    QStringLiteral("The app's interface files are missing. Please install a fresh copy of Vintrelle.");

// Trusted page actions that other parts of the application carry out.
const QSet<QString> forwardedActions = {
    QStringLiteral("openNativeSearch"), QStringLiteral("quickMenuStatus"), QStringLiteral("showRecovery"),
    QStringLiteral("exportLibrary"),    QStringLiteral("importLibrary"),   QStringLiteral("getPreferences"),
    QStringLiteral("savePreferences"),  QStringLiteral("installBridge"),
};

// Actions for the palette panel, which never exists, and acknowledgements: accepted, no effect.
const QSet<QString> silentActions = {
    QStringLiteral("nativeLoadFeedback"), QStringLiteral("interactiveRegions"), QStringLiteral("settingsVisibility"),
    QStringLiteral("move"), QStringLiteral("hide"),
};

} // namespace

const QString VintrelleStoreStartup::migrationScript = QStringLiteral(
    "(()=>{try{const v2=localStorage.getItem('vintrelle-launcher-v2'),v1=localStorage.getItem('vintrelle-launcher-v1');"
    "const state=v2?JSON.parse(v2):(v1?JSON.parse(v1):null);window.webkit.messageHandlers.vintrelle.postMessage({action:"
    "'migrateNativeLibrary',state:state});}catch(e){window.webkit.messageHandlers.vintrelle.postMessage({action:"
    "'migrateNativeLibrary',error:'Your previous library could not be read. Original data is unchanged.'});}})()");

VintrelleStoreStartup::VintrelleStoreStartup(VintrelleCommandRouter *router, QObject *parent)
    : QObject(parent)
    , m_router(router)
    , m_lock(VintrelleNativeLibraryPath())
    , m_migrationUrl(VintrelleMigrationPage::trustedOrigin() + QStringLiteral("/native-migration"))
{
    m_watchdog.setSingleShot(true);
    m_watchdog.setInterval(watchdogInterval);
    connect(&m_watchdog, &QTimer::timeout, this, [this] {
        if (m_starting && !isReady())
            fail(timedOutMessage);
    });
}

VintrelleStoreStartup::~VintrelleStoreStartup()
{
    tearDown();
    // Pages torn down earlier may still wait for deletion; all go before their profile.
    qDeleteAll(findChildren<VintrelleMigrationPage *>(Qt::FindDirectChildrenOnly));
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

    VintrelleError error;
    if (!m_lock.acquire(VintrelleLibraryLock::defaultWait, &error))
        return fail(error);

    // A new store for every attempt: a failed one keeps nothing.
    auto store = std::make_unique<VintrelleNativeStore>(VintrelleNativeLibraryPath());
    if (m_router)
        m_router->setStore(store.get());
    m_store = std::move(store);

    if (QFileInfo::exists(m_store->url())) {
        if (m_store->read(&error))
            return succeed();
        return fail(error);
    }
    migrate();
}

void VintrelleStoreStartup::migrate()
{
    const QString resources = VintrelleServer::defaultResourcePath();
    auto server = std::make_unique<VintrelleServer>(resources, VintrelleServer::defaultConfigPaths());
    const bool haveResources = QFileInfo(resources).isDir();
    if (!haveResources || !server->startOnPort(launcherPort)) {
        m_starting = false;
        emit launcherFailed(haveResources ? launcherBusyMessage : launcherMissingMessage);
        return;
    }
    m_server = std::move(server);

    if (!m_profile)
        m_profile = VintrelleMigrationPage::createProfile();
    m_page = new VintrelleMigrationPage(m_profile.get(), this);
    connect(m_page, &VintrelleMigrationPage::scriptMessage, this, &VintrelleStoreStartup::handleScriptMessage);
    m_page->addDocumentEndScript(migrationScript);
    if (m_router)
        m_router->setPage(m_page);
    m_page->load(m_migrationUrl);
    // Restarted per attempt, so a failed attempt's wait can never end a later one early.
    m_watchdog.start();
}

void VintrelleStoreStartup::handleScriptMessage(const QJsonObject &body, bool trusted)
{
    const QString action = body.value(QLatin1String("action")).toString();
    if (action == u"migrateNativeLibrary") {
        if (!m_starting || !trusted || !m_store)
            return;
        const QJsonValue reported = body.value(QLatin1String("error"));
        if (!reported.isUndefined() && !reported.isNull())
            return fail(reported.isString() ? VintrelleError(reported.toString()) : std::nullopt);
        QJsonValue state = body.value(QLatin1String("state"));
        if (state.isNull())
            state = QJsonValue(QJsonValue::Undefined); // none was stored
        VintrelleError error;
        if (m_store->initializeFromPreviousLibrary(state, &error))
            return succeed();
        return fail(error);
    }
    if (isReady())
        return;

    if (action == u"nativeCommandResult") {
        if (trusted && body.value(QLatin1String("requestID")).isString() && m_router)
            m_router->nativeCommandResult(body);
        return;
    }
    if (action == u"quickMenuLibrary") {
        if (trusted && body.value(QLatin1String("categories")).isArray())
            emit pageAction(action, body);
        return;
    }
    if (forwardedActions.contains(action)) {
        if (trusted)
            emit pageAction(action, body);
        return;
    }
    if (silentActions.contains(action))
        return;
    if (action == u"getScreenGeometry")
        m_lastScreenGeometryScript.clear(); // asked for: sent even when unchanged
    // Any other action carries sizes for the palette panel, whose screen may have changed.
    reportScreenGeometry();
}

void VintrelleStoreStartup::reportScreenGeometry()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!m_page || !screen)
        return;
    const QRect frame = screen->availableGeometry();
    const QString script =
        QString::asprintf("window.vintrelleScreenGeometry={windowLeft:%.3f,screenLeft:%.3f,screenRight:%.3f}", 0.0,
                          frame.left() + 8.0, frame.left() + frame.width() - 8.0);
    if (script == m_lastScreenGeometryScript)
        return;
    m_lastScreenGeometryScript = script;
    m_page->evaluate(script, [](std::optional<QString>) {});
}

void VintrelleStoreStartup::succeed()
{
    m_starting = false;
    tearDown();
    emit ready();
}

void VintrelleStoreStartup::fail(const VintrelleError &message)
{
    m_starting = false;
    tearDown();
    emit failed(message.value_or(unchangedMessage));
}

void VintrelleStoreStartup::tearDown()
{
    m_watchdog.stop();
    if (m_page) {
        if (m_router)
            m_router->setPage(nullptr);
        m_page->disconnect(this);
        // Later: this may run inside the page's own message delivery.
        m_page->deleteLater();
        m_page = nullptr;
    }
    if (m_server) {
        m_server->stop();
        m_server.reset();
    }
    m_lastScreenGeometryScript.clear();
}
