#include "VintrelleServer.h"

#include "VintrelleBridgeConfiguration.h"
#include "VintrelleHttpRequest.h"
#include "VintrelleLocations.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto readWindow = std::chrono::seconds(2);
constexpr auto lingerWindow = std::chrono::seconds(1);
constexpr qsizetype chunkSize = 2048;

const QByteArray htmlType = "text/html; charset=utf-8";
const QByteArray jsonType = "application/json; charset=utf-8";

// The page files a path may name; anything else is 404.
struct Route
{
    const char *path;
    const char *file;
};
constexpr Route routes[] = {
    {"/", "index.html"},
    {"/index.html", "index.html"},
    {"/app.js", "app.js"},
    {"/library.js", "library.js"},
    {"/styles.css", "styles.css"},
};

QByteArray contentTypeForFile(const QByteArray &file)
{
    if (file.endsWith(".js"))
        return "text/javascript; charset=utf-8";
    if (file.endsWith(".css"))
        return "text/css; charset=utf-8";
    return htmlType;
}

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    case 503: return "Service Unavailable";
    }
    return "Internal Server Error";
}

bool fail(std::optional<QString> *error, int number)
{
    if (error)
        *error = QString::fromStdString(std::error_code(number, std::generic_category()).message());
    return false;
}

void setTimeout(int socket, int option, std::chrono::microseconds timeout)
{
    const timeval value{time_t(timeout.count() / 1000000), suseconds_t(timeout.count() % 1000000)};
    setsockopt(socket, SOL_SOCKET, option, &value, sizeof value);
}

// Reads until the blank line that ends a head or the size limit. None when the client closes, fails
// or has not completed its head within the 2-second window: such a client gets no response at all.
// Each wait is cut to the time left, so a client trickling bytes cannot stretch the window.
std::optional<QByteArray> readRequest(int client)
{
    const auto deadline = Clock::now() + readWindow;
    QByteArray buffer;
    char chunk[chunkSize];
    while (buffer.size() < VintrelleHttpRequest::limit) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return std::nullopt;
        setTimeout(client, SO_RCVTIMEO, left);
        const ssize_t received = recv(client, chunk, std::min(chunkSize, VintrelleHttpRequest::limit - buffer.size()), 0);
        if (received < 0 && errno == EINTR)
            continue;
        if (received <= 0)
            return std::nullopt;
        const qsizetype searchFrom = std::max<qsizetype>(0, buffer.size() - 3);
        buffer.append(chunk, received);
        if (buffer.indexOf("\r\n\r\n", searchFrom) >= 0)
            break;
    }
    return buffer;
}

void sendAll(int client, const QByteArray &data)
{
    for (qsizetype sent = 0; sent < data.size();) {
        const ssize_t n = send(client, data.constData() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        sent += n;
    }
}

// Closing a socket that still holds unread request bytes (a head past the limit, a body) makes the
// kernel reset the connection, and the reset can destroy the response before the client reads it.
// So the response is followed by an orderly end of stream, and what the client still sends is read
// and dropped until it closes too, for at most a second.
void finish(int client)
{
    shutdown(client, SHUT_WR);
    const auto deadline = Clock::now() + lingerWindow;
    char discarded[chunkSize];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return;
        setTimeout(client, SO_RCVTIMEO, left);
        const ssize_t received = recv(client, discarded, sizeof discarded, 0);
        if (received == 0 || (received < 0 && errno != EINTR))
            return;
    }
}

void respond(int client, int status, const QByteArray &type, const QByteArray &body, bool headOnly)
{
    QByteArray response = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status)
        + "\r\nContent-Type: " + type + "\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nCache-Control: no-store\r\nX-Content-Type-Options: nosniff\r\nConnection: close\r\n\r\n";
    if (!headOnly)
        response += body;
    sendAll(client, response);
}

} // namespace

VintrelleServer::VintrelleServer(QString resourcePath, QStringList configPaths)
    : m_resourcePath(std::move(resourcePath))
    , m_configPaths(std::move(configPaths))
{
}

VintrelleServer::~VintrelleServer()
{
    stop();
}

QString VintrelleServer::defaultResourcePath()
{
    return VintrelleResourcesPath() + "/launcher";
}

QStringList VintrelleServer::defaultConfigPaths()
{
    return VintrelleBridgeConfigurationFallbackPaths();
}

bool VintrelleServer::isListening() const
{
    std::lock_guard lock(m_mutex);
    return m_listener >= 0;
}

bool VintrelleServer::startOnPort(quint16 port, std::optional<QString> *error)
{
    if (isListening())
        return true;

    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0)
        return fail(error, errno);
    const auto closeAndFail = [&](int number) {
        close(listener);
        return fail(error, number);
    };
    const int yes = 1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes) < 0
        || bind(listener, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0
        || listen(listener, 16) < 0
        || fcntl(listener, F_SETFL, fcntl(listener, F_GETFL) | O_NONBLOCK) < 0
        || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) < 0)
        return closeAndFail(errno);

    int wake[2];
    if (pipe2(wake, O_CLOEXEC) < 0)
        return closeAndFail(errno);

    m_port = ntohs(address.sin_port);
    {
        std::lock_guard lock(m_mutex);
        m_listener = listener;
        m_wake[0] = wake[0];
        m_wake[1] = wake[1];
    }
    try {
        m_thread = std::thread(&VintrelleServer::run, this, listener, wake[0]);
    } catch (const std::system_error &threadError) {
        {
            std::lock_guard lock(m_mutex);
            m_listener = -1;
        }
        close(wake[0]);
        close(wake[1]);
        return closeAndFail(threadError.code().value());
    }
    return true;
}

void VintrelleServer::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_listener < 0)
            return;
        close(m_listener);
        m_listener = -1;
    }
    const char signal = 0;
    while (write(m_wake[1], &signal, 1) < 0 && errno == EINTR) {
    }
    m_thread.join();
    close(m_wake[0]);
    close(m_wake[1]);
}

void VintrelleServer::run(int listener, int wake)
{
    for (;;) {
        // `listener` may already be closed by stop(); then the wake pipe ends the wait, and the
        // check under the lock below keeps accept() off a descriptor number reused elsewhere.
        pollfd events[2] = {{listener, POLLIN, 0}, {wake, POLLIN, 0}};
        poll(events, 2, -1);
        int client;
        {
            std::lock_guard lock(m_mutex);
            if (m_listener < 0)
                return;
            client = accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        }
        if (client < 0) {
            // Out of descriptors or memory: pause rather than spin on a queue we cannot drain.
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                poll(&events[1], 1, 100);
            continue;
        }
        serveClient(client);
        close(client);
    }
}

void VintrelleServer::serveClient(int client) const
{
    setTimeout(client, SO_SNDTIMEO, readWindow);
    fcntl(client, F_SETFL, fcntl(client, F_GETFL) & ~O_NONBLOCK);

    const std::optional<QByteArray> bytes = readRequest(client);
    if (!bytes)
        return;
    const VintrelleHttpRequest request = VintrelleParseHttpRequest(*bytes, m_port);

    int status = request.status;
    QByteArray type = "text/plain; charset=utf-8";
    QByteArray body;
    if (status == 200) {
        if (request.path == "/native-migration") {
            type = htmlType;
            body = "<!doctype html><meta charset='utf-8'><title>Library migration</title>";
        } else if (request.path == "/launcher-config") {
            type = jsonType;
            if (const auto configuration = this->configuration()) {
                body = *configuration;
            } else {
                status = 503;
                body = R"({"error":"Vintrelle Bridge configuration was not found."})";
            }
        } else {
            status = 404;
            for (const Route &route : routes) {
                if (request.path != route.path)
                    continue;
                type = contentTypeForFile(route.file);
                QFile file(m_resourcePath + '/' + route.file);
                if (file.open(QIODevice::ReadOnly)) {
                    body = file.readAll();
                    if (file.error() == QFileDevice::NoError)
                        status = 200;
                }
                break;
            }
        }
    }
    if (status != 200 && body.isEmpty())
        body = "Request failed (" + QByteArray::number(status) + ").";
    respond(client, status, type, body, request.method == "HEAD");
    finish(client);
}

std::optional<QByteArray> VintrelleServer::configuration() const
{
    QStringList candidates = m_configPaths;
    if (const auto fromUserDefault = VintrelleUserLibraryBridgeConfigurationPath())
        candidates.prepend(*fromUserDefault);
    const auto configuration = VintrelleFindBridgeConfiguration(candidates);
    if (!configuration)
        return std::nullopt;
    const QJsonObject object{{"bridgeUrl", configuration->bridgeURL}, {"token", configuration->token}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
