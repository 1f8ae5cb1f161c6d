#include "VintrelleNativeConnection.h"

#include "VintrelleBridgeConfiguration.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cstring>

namespace {

const QString localOnlyMessage =
    QStringLiteral("The Ableton connection must use a local address. Reinstall the connection in Settings.");
const QString timedOutMessage = QStringLiteral(
    "Ableton timed out. Check the selected track before retrying; a requested plug-in may already have loaded.");
const QString unavailableMessage =
    QStringLiteral("Ableton is unavailable. Open Ableton and check Connection in Settings.");
const QString keyMismatchMessage = QStringLiteral(
    "The connection key does not match. Reinstall the connection in Settings, then restart Ableton.");
const QString incompleteMessage = QStringLiteral("Ableton could not complete the request.");

bool isLocal(const QUrl &url)
{
    return url.isValid() && url.scheme() == u"http" &&
           (url.host() == u"127.0.0.1" || url.host() == u"localhost" || url.host() == u"::1");
}

// Qt reports an HTTP error status as a reply error too; then the bridge did answer and its body
// says why. Network-level errors (refused, reset, timed out, aborted, proxy) mean no usable
// answer arrived, even when a status line came before the failure.
bool transferFailed(const QNetworkReply *reply)
{
    const int code = reply->error();
    return code != QNetworkReply::NoError &&
           (code < QNetworkReply::ContentAccessDenied ||
            !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid());
}

// A request body that can be read once only. Qt sends a request again when the connection closes
// before any answer, which for a load would put a second device on the track; it can only do so by
// rewinding the body, and this body cannot be rewound.
class OneShotBody : public QIODevice
{
public:
    OneShotBody(QByteArray bytes, QObject *parent) : QIODevice(parent), m_bytes(std::move(bytes))
    {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }
    bool reset() override { return false; }
    qint64 bytesAvailable() const override { return m_bytes.size() - m_read + QIODevice::bytesAvailable(); }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        if (m_read == m_bytes.size()) return -1;
        const qint64 count = std::min(maxSize, qint64(m_bytes.size() - m_read));
        std::memcpy(data, m_bytes.constData() + m_read, size_t(count));
        m_read += count;
        return count;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    const QByteArray m_bytes;
    qint64 m_read = 0;
};

int httpStatus(const QNetworkReply *reply)
{
    return reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
}

std::optional<QJsonObject> bodyObject(QNetworkReply *reply)
{
    const QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
    if (!document.isObject()) return std::nullopt;
    return document.object();
}

} // namespace

VintrelleNativeConnection::VintrelleNativeConnection(QObject *parent)
    : QObject(parent), m_network(new QNetworkAccessManager(this))
{
    // The token must never reach a proxy from the environment, nor follow a redirect elsewhere.
    m_network->setProxy(QNetworkProxy::NoProxy);
    m_network->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

void VintrelleNativeConnection::refreshConfiguration()
{
    if (const auto configuration = VintrelleFindBridgeConfiguration()) {
        m_bridgeURL = configuration->bridgeURL;
        m_token = configuration->token;
    }
}

std::optional<QUrl> VintrelleNativeConnection::localURL(const QString &path) const
{
    // The joined text is checked as well: whatever the path holds must not move the request to
    // another host.
    const QUrl url(m_bridgeURL + path, QUrl::StrictMode);
    if (!isLocal(QUrl(m_bridgeURL, QUrl::StrictMode)) || !isLocal(url)) return std::nullopt;
    return url;
}

QNetworkReply *VintrelleNativeConnection::send(const QUrl &url, const std::optional<QJsonObject> &body,
                                               double timeout)
{
    QNetworkRequest request(url);
    request.setTransferTimeout(std::max(1, int(timeout * 1000)));
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setRawHeader("Authorization", "Bearer " + m_token.toUtf8());
    QNetworkReply *reply;
    if (body) {
        const QByteArray json = QJsonDocument(*body).toJson(QJsonDocument::Compact);
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
        request.setHeader(QNetworkRequest::ContentLengthHeader, json.size());
        request.setAttribute(QNetworkRequest::DoNotBufferUploadDataAttribute, true);
        auto *once = new OneShotBody(json, nullptr);
        reply = m_network->post(request, once);
        once->setParent(reply);
    } else {
        reply = m_network->get(request);
    }
    // Aborting a finished reply does nothing, so the timer may outlive the answer.
    QTimer::singleShot(m_resourceTimeout, reply, [reply] { reply->abort(); });
    return reply;
}

void VintrelleNativeConnection::request(const QString &path, const std::optional<QJsonObject> &body,
                                        double timeout, Reply reply)
{
    const std::optional<QUrl> url = localURL(path);
    if (!url) {
        reply(std::nullopt, localOnlyMessage);
        return;
    }
    QNetworkReply *networkReply = send(*url, body, timeout);
    connect(networkReply, &QNetworkReply::finished, this, [networkReply, reply = std::move(reply)] {
        networkReply->deleteLater();
        if (transferFailed(networkReply)) {
            const bool timedOut = networkReply->error() == QNetworkReply::OperationCanceledError ||
                                  networkReply->error() == QNetworkReply::TimeoutError;
            reply(std::nullopt, timedOut ? timedOutMessage : unavailableMessage);
            return;
        }
        const QJsonObject answer = bodyObject(networkReply).value_or(QJsonObject());
        if (answer.value("ok") != QJsonValue(true) || httpStatus(networkReply) >= 400) {
            const QJsonValue error = answer.value("error");
            if (error.isObject() && error["code"] == QJsonValue("unauthorised"))
                reply(std::nullopt, keyMismatchMessage);
            else if (error.isObject() && error["message"].isString())
                reply(std::nullopt, error["message"].toString());
            else
                reply(std::nullopt, incompleteMessage);
            return;
        }
        reply(answer.value("data").toObject(), std::nullopt);
    });
}

void VintrelleNativeConnection::check(Completion completion)
{
    refreshConfiguration();
    request("/v1/health", std::nullopt, checkTimeout,
            [this, completion](std::optional<QJsonObject> data, std::optional<QString> error) {
        const std::optional<QUrl> url = localURL("/v1/browser/search?query=");
        if (error || data->value("configured") != QJsonValue(true) || m_token.isEmpty() || !url)
            return finishCheck(false, completion);
        // Only a caller whose token is accepted gets as far as the bridge refusing the empty query.
        QNetworkReply *reply = send(*url, std::nullopt, checkTimeout);
        connect(reply, &QNetworkReply::finished, this, [this, reply, completion] {
            reply->deleteLater();
            const QJsonObject answer = bodyObject(reply).value_or(QJsonObject());
            finishCheck(!transferFailed(reply) && httpStatus(reply) == 400 &&
                            answer.value("error")["code"] == QJsonValue("invalid_request"),
                        completion);
        });
    });
}

void VintrelleNativeConnection::finishCheck(bool connected, const Completion &completion)
{
    m_connected = connected;
    if (statusChanged) statusChanged(connected);
    if (completion) completion(connected);
}
