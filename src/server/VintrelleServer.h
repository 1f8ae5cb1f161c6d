#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <mutex>
#include <optional>
#include <thread>

// The loopback HTTP server that serves the launcher page, hands it the bridge's address and token
// and serves the blank page the migration of the previous library loads. It listens on 127.0.0.1
// only, answers one GET or HEAD request per connection, one connection at a time on its own
// thread, and refuses requests that do not come from its own origin.
class VintrelleServer
{
public:
    // `resourcePath` is the folder of the page files; `configPaths` are the bridge config.json
    // files tried after the user default's one (copied now, in order).
    explicit VintrelleServer(QString resourcePath = defaultResourcePath(),
                             QStringList configPaths = defaultConfigPaths());
    ~VintrelleServer();

    VintrelleServer(const VintrelleServer &) = delete;
    VintrelleServer &operator=(const VintrelleServer &) = delete;

    // Listens on 127.0.0.1:`port` (0 lets the system choose; port() then tells which). True at once
    // when already listening. On failure `error` gets the failing call's POSIX error text.
    bool startOnPort(quint16 port, std::optional<QString> *error = nullptr);

    // Closes the listening socket at once; a connection being served is still answered, and this
    // returns when it has been (at most a few seconds: the read and send time-outs bound it).
    void stop();

    bool isListening() const;
    quint16 port() const { return m_port; }
    QString resourcePath() const { return m_resourcePath; }
    QStringList configPaths() const { return m_configPaths; }

    // {"bridgeUrl": ..., "token": ...} as compact JSON from the first valid bridge configuration
    // (the user default's file, then configPaths()), or none.
    std::optional<QByteArray> configuration() const;

    static QString defaultResourcePath();
    static QStringList defaultConfigPaths();

private:
    void run(int listener, int wake);
    void serveClient(int client) const;

    const QString m_resourcePath;
    const QStringList m_configPaths;
    quint16 m_port = 0;

    // The listening socket and the stop signal are shared with the thread; the mutex keeps stop()
    // from closing the socket while the thread is accepting on it.
    mutable std::mutex m_mutex;
    int m_listener = -1;
    int m_wake[2] = {-1, -1};
    std::thread m_thread;
};
