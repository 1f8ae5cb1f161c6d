#pragma once

#include "VintrelleReply.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;
class QUrl;

// The client of the VintrelleBridge service inside Ableton. It talks to the local machine only,
// turns every failure into one sentence for the user, and remembers whether the last connection
// check succeeded. Used on the main thread; every reply arrives there.
class VintrelleNativeConnection : public QObject
{
    Q_OBJECT

public:
    // The bridge's "data" object, or the error sentence: exactly one of the two.
    using Reply = VintrelleReply;
    using Completion = std::function<void(bool connected)>;

    static constexpr double checkTimeout = 5;
    static constexpr double searchTimeout = 15;
    static constexpr double loadTimeout = 20;

    explicit VintrelleNativeConnection(QObject *parent = nullptr);

    const QString &bridgeURL() const { return m_bridgeURL; }
    void setBridgeURL(const QString &url) { m_bridgeURL = url; }
    const QString &token() const { return m_token; }
    void setToken(const QString &token) { m_token = token; }
    bool loading() const { return m_loading; }
    void setLoading(bool loading) { m_loading = loading; }
    bool connected() const { return m_connected; }

    // Called after every connection check with its result, after `connected` was updated.
    std::function<void(bool connected)> statusChanged;

    // Takes the port and token from the first valid bridge config.json; keeps the current ones
    // when there is none.
    void refreshConfiguration();

    // GET `path` (POST with `body` as JSON when given) on the bridge, `timeout` seconds without
    // progress at most. A bridge URL that is not plain http on the local machine is refused with
    // a reply before this returns; every other reply comes later.
    void request(const QString &path, const std::optional<QJsonObject> &body, double timeout, Reply reply);

    // Whether the bridge is there and accepts the token: the health request, then an empty search
    // that only an authorised caller gets refused as an invalid request.
    void check(Completion completion);

    // The longest a request may take in all, however steadily the answer trickles in.
    void setResourceTimeout(int milliseconds) { m_resourceTimeout = milliseconds; }

private:
    std::optional<QUrl> localURL(const QString &path) const;
    QNetworkReply *send(const QUrl &url, const std::optional<QJsonObject> &body, double timeout);
    void finishCheck(bool connected, const Completion &completion);

    QNetworkAccessManager *m_network;
    QString m_bridgeURL = QStringLiteral("http://127.0.0.1:45873");
    QString m_token;
    bool m_loading = false;
    bool m_connected = false;
    int m_resourceTimeout = 20000;
};
