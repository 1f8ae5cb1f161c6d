#include "VintrelleMigrationPage.h"

#include "VintrelleLocations.h"

#include <QFileInfo>
#include <QJsonDocument>
#include <QMetaMethod>
#include <QWebChannel>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>

#include <unistd.h>

// The one object published on the page's channel: a single method, nothing else to call.
class VintrelleScriptMessageReceiver : public QObject
{
    Q_OBJECT

public:
    explicit VintrelleScriptMessageReceiver(VintrelleMigrationPage *page) : m_page(page) {}
    Q_INVOKABLE void postMessage(const QString &origin, bool top, const QString &text)
    {
        m_page->receive(origin, top, text);
    }

private:
    VintrelleMigrationPage *m_page;
};

namespace {

const QString receiverName = QStringLiteral("vintrelle");
const QString messageEvent = QStringLiteral("vintrelle-message");

// Main world, trusted origin only: the handler the page's scripts call. Frozen, so page code can
// neither replace it nor see what it closes over; it only turns the message into text on a DOM
// event.
QString handlerScript()
{
    return QStringLiteral(
               "// ==UserScript==\n// @match %1/*\n// ==/UserScript==\n"
               "(()=>{const dispatch=EventTarget.prototype.dispatchEvent,Custom=CustomEvent,stringify=JSON.stringify,"
               "target=document;const handler=Object.freeze({postMessage(message){dispatch.call(target,"
               "new Custom('%2',{detail:stringify(message)}));}});Object.defineProperty(window,'webkit',"
               "{value:Object.freeze({messageHandlers:Object.freeze({vintrelle:handler})}),writable:false,"
               "configurable:false});})()")
        .arg(VintrelleMigrationPage::trustedOrigin(), messageEvent);
}

// Private world, every origin: hands the event's text to C++ with the frame's real origin and
// whether it is the main frame. Page scripts cannot reach this world or its transport, and no
// sub-frame has a transport at all.
QString relayScript(int methodIndex)
{
    return QStringLiteral(
               "(()=>{let id=0;document.addEventListener('%1',event=>{const transport=window.qt&&qt.webChannelTransport;"
               "if(!transport||typeof event.detail!=='string')return;transport.send(JSON.stringify({type:6,id:++id,"
               "object:'%2',method:%3,args:[location.origin,window===window.top,event.detail]}));},true);})()")
        .arg(messageEvent, receiverName)
        .arg(methodIndex);
}

QWebEngineScript userScript(const QString &name, const QString &source, QWebEngineScript::InjectionPoint point,
                            quint32 world)
{
    QWebEngineScript script;
    script.setName(name);
    // The source first: setting it parses the @match header, which must not override the point.
    script.setSourceCode(source);
    script.setInjectionPoint(point);
    script.setWorldId(world);
    script.setRunsOnSubFrames(false);
    return script;
}

} // namespace

QString VintrelleMigrationPage::trustedOrigin()
{
    return QStringLiteral("http://127.0.0.1:48123");
}

QString VintrelleMigrationPage::defaultStoragePath()
{
    return QFileInfo(VintrelleNativeLibraryPath()).path() + QStringLiteral("/page-storage");
}

std::unique_ptr<QWebEngineProfile> VintrelleMigrationPage::createProfile(const QString &storagePath)
{
    // The engine refuses to run its sandbox as root; everyone else keeps it.
    if (::geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");

    auto profile = std::make_unique<QWebEngineProfile>(QStringLiteral("Vintrelle"));
    profile->setPersistentStoragePath(storagePath);
    profile->setCachePath(storagePath + QStringLiteral("/Cache"));
    profile->setHttpCacheType(QWebEngineProfile::NoCache); // the page is always fetched afresh
    return profile;
}

VintrelleMigrationPage::VintrelleMigrationPage(QWebEngineProfile *profile, QObject *parent) : QObject(parent)
{
    auto *receiver = new VintrelleScriptMessageReceiver(this);
    m_receiver.reset(receiver);
    m_channel = std::make_unique<QWebChannel>();
    m_channel->registerObject(receiverName, receiver);
    const int methodIndex = receiver->metaObject()->indexOfMethod("postMessage(QString,bool,QString)");

    m_page = std::make_unique<QWebEnginePage>(profile);
    m_page->setWebChannel(m_channel.get(), QWebEngineScript::ApplicationWorld);
    QWebEngineScriptCollection &scripts = m_page->scripts();
    scripts.insert(userScript(QStringLiteral("vintrelle-handler"), handlerScript(), QWebEngineScript::DocumentCreation,
                              QWebEngineScript::MainWorld));
    scripts.insert(userScript(QStringLiteral("vintrelle-relay"), relayScript(methodIndex),
                              QWebEngineScript::DocumentCreation, QWebEngineScript::ApplicationWorld));

    connect(m_page.get(), &QWebEnginePage::loadingChanged, this, [this](const QWebEngineLoadingInfo &loading) {
        // The blank document loaded first is not ours; once it is done, ours may go.
        if (loading.url().scheme() == u"about") {
            if (loading.status() != QWebEngineLoadingInfo::LoadStartedStatus && !m_blankFinished) {
                m_blankFinished = true;
                if (m_afterBlank)
                    m_page->load(*std::exchange(m_afterBlank, std::nullopt));
            }
            return;
        }
        switch (loading.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            m_loaded = false;
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            m_loaded = true;
            for (const PendingScript &script : std::exchange(m_pending, {}))
                run(script.script, script.completion);
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
        case QWebEngineLoadingInfo::LoadFailedStatus:
            failPending(QStringLiteral("The page did not load."));
            break;
        }
    });
}

VintrelleMigrationPage::~VintrelleMigrationPage()
{
    m_page->disconnect(this);
    failPending(QStringLiteral("The page was closed."));
    m_page.reset(); // answers scripts still running with nothing
    m_channel.reset();
}

void VintrelleMigrationPage::addDocumentEndScript(const QString &source)
{
    m_page->scripts().insert(userScript(QStringLiteral("vintrelle-document-end-%1").arg(m_page->scripts().count()),
                                        source, QWebEngineScript::DocumentReady, QWebEngineScript::MainWorld));
}

void VintrelleMigrationPage::load(const QUrl &url)
{
    m_loaded = false;
    if (m_blankFinished)
        return m_page->load(url);
    m_afterBlank = url;
    if (!std::exchange(m_blankStarted, true))
        m_page->load(QUrl(QStringLiteral("about:blank")));
}

void VintrelleMigrationPage::evaluate(const QString &script, Completion completion)
{
    if (!m_loaded)
        return m_pending.append({script, std::move(completion)});
    run(script, std::move(completion));
}

void VintrelleMigrationPage::run(const QString &script, Completion completion)
{
    // runJavaScript answers nothing alike for undefined, a throw and a page that went away; this
    // wrapper always answers text when the script ran.
    const QString wrapped = QStringLiteral("(()=>{try{(%1\n);return JSON.stringify({ok:true});}catch(e){"
                                           "return JSON.stringify({ok:false,error:String(e&&e.message||e)});}})()")
                                .arg(script);
    m_page->runJavaScript(wrapped, QWebEngineScript::MainWorld, [completion](const QVariant &value) {
        const QJsonObject answer = QJsonDocument::fromJson(value.toString().toUtf8()).object();
        if (answer.value(QLatin1String("ok")).toBool())
            completion(std::nullopt);
        else
            completion(answer.value(QLatin1String("error")).toString(QStringLiteral("The script did not run.")));
    });
}

void VintrelleMigrationPage::failPending(const QString &reason)
{
    for (const PendingScript &script : std::exchange(m_pending, {}))
        script.completion(reason);
}

void VintrelleMigrationPage::receive(const QString &origin, bool top, const QString &text)
{
    emit scriptMessage(QJsonDocument::fromJson(text.toUtf8()).object(), top && origin == trustedOrigin());
}

#include "VintrelleMigrationPage.moc"
