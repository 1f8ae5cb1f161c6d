#pragma once

// A loopback HTTP server for tests: answers requests with canned responses in turn and records each as sent.

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <optional>
#include <utility>

class VintrelleScriptedServer
{
public:
    struct Response
    {
        enum Kind { Answer, Hang, Trickle, Close } kind = Answer;
        QByteArray bytes; // for Answer
    };

    struct Request
    {
        QByteArray raw, method, target, body;
        QList<QByteArray> headerLines;
        // The value of the first header `name` (case-insensitive), exactly as sent.
        std::optional<QByteArray> header(const QByteArray &name) const
        {
            for (const QByteArray &line : headerLines)
                if (line.toLower().startsWith(name.toLower() + ':')) return line.mid(name.size() + (line.mid(name.size() + 1).startsWith(' ') ? 2 : 1));
            return std::nullopt;
        }
    };

    static Response json(int status, const QByteArray &body, const QByteArray &extraHeaders = {})
    {
        return {Response::Answer, "HTTP/1.1 " + QByteArray::number(status) + " Canned\r\n" + extraHeaders + "Content-Type: application/json\r\nContent-Length: " +
                                      QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
    }
    static Response hang() { return {Response::Hang, {}}; }
    static Response trickle() { return {Response::Trickle, {}}; }
    static Response close() { return {Response::Close, {}}; }

    // Listens on 127.0.0.1, or on every address so that a request sent to any address of this machine is seen.
    explicit VintrelleScriptedServer(const QHostAddress &address = QHostAddress::LocalHost)
    {
        m_server.listen(address);
        QObject::connect(&m_server, &QTcpServer::newConnection, &m_server, [this] {
            while (QTcpSocket *socket = m_server.nextPendingConnection()) {
                ++connections;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { receive(socket); });
            }
        });
    }

    QString url() const { return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort()); }
    quint16 port() const { return m_server.serverPort(); }
    QList<Response> script; // consumed in order, then `fallback` answers
    Response fallback = json(500, "oops");
    QList<Request> requests;
    int connections = 0;

    // Answers the requests that a hang() left waiting.
    void answerHeld(const Response &response)
    {
        for (const QPointer<QTcpSocket> &socket : std::exchange(m_held, {}))
            if (socket) serve(socket, response);
    }

private:
    void receive(QTcpSocket *socket)
    {
        const QByteArray bytes = socket->property("received").toByteArray() + socket->readAll();
        const qsizetype end = bytes.indexOf("\r\n\r\n");
        Request request;
        request.headerLines = bytes.left(end).split('\n');
        for (QByteArray &line : request.headerLines) line.chop(line.endsWith('\r') ? 1 : 0);
        const QList<QByteArray> requestLine = request.headerLines.takeFirst().split(' ');
        const qsizetype length = request.header("Content-Length").value_or("0").toLongLong();
        const bool complete = end >= 0 && bytes.size() >= end + 4 + length;
        socket->setProperty("received", complete ? QByteArray() : bytes);
        if (!complete) return;
        request.method = requestLine.value(0), request.target = requestLine.value(1);
        request.body = bytes.mid(end + 4, length), request.raw = bytes.left(end + 4 + length);
        requests << request;
        serve(socket, script.isEmpty() ? fallback : script.takeFirst());
    }

    void serve(QTcpSocket *socket, const Response &response)
    {
        if (response.kind == Response::Answer) socket->write(response.bytes), socket->disconnectFromHost();
        else if (response.kind == Response::Hang) m_held << socket;
        else if (response.kind == Response::Close) socket->abort();
        else { // a valid start and then one byte now and then, never finishing
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 100000\r\n\r\n");
            auto *timer = new QTimer(socket);
            QObject::connect(timer, &QTimer::timeout, socket, [socket] { socket->write(" "); });
            timer->start(50);
        }
    }

    QTcpServer m_server;
    QList<QPointer<QTcpSocket>> m_held;
};
