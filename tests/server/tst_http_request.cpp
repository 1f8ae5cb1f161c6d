#include "VintrelleHttpRequest.h"

#include <QTest>

class HttpRequestTest : public QObject
{
    Q_OBJECT

private slots:
    void checks_data();
    void checks();
};

namespace {

constexpr quint16 port = 48123;

QByteArray request(const QByteArray &requestLine, const QByteArray &headers = "Host: 127.0.0.1:48123\r\n")
{
    return requestLine + "\r\n" + headers + "\r\n";
}

} // namespace

void HttpRequestTest::checks_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("path");

    QTest::newRow("GET /") << request("GET / HTTP/1.1") << 200 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("HEAD") << request("HEAD /app.js HTTP/1.1") << 200 << QByteArray("HEAD") << QByteArray("/app.js");
    QTest::newRow("query cut") << request("GET /index.html?a=1?b HTTP/1.1") << 200 << QByteArray("GET") << QByteArray("/index.html");
    QTest::newRow("header case and blanks") << request("GET / HTTP/1.1", "hOsT: \t127.0.0.1:48123  \r\n") << 200 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("lines without colon ignored") << request("GET / HTTP/1.1", "junk\r\nHost: 127.0.0.1:48123\r\n") << 200 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("same origin") << request("GET / HTTP/1.1", "Host: 127.0.0.1:48123\r\nOrigin: http://127.0.0.1:48123\r\n") << 200 << QByteArray("GET") << QByteArray("/");
    for (const char *site : {"same-origin", "same-site", "none", "Cross-Site"})
        QTest::addRow("sec-fetch-site %s", site) << request("GET / HTTP/1.1", "Host: 127.0.0.1:48123\r\nSec-Fetch-Site: " + QByteArray(site) + "\r\n") << 200 << QByteArray("GET") << QByteArray("/");
    // A body never supplies a header: here it would otherwise satisfy the host check.
    QTest::newRow("host only in body") << request("GET / HTTP/1.1", "X: y\r\n") + "Host: 127.0.0.1:48123\r\n\r\n" << 403 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("repeated header in body") << request("GET / HTTP/1.1") + "Host: 127.0.0.1:48123\r\n" << 200 << QByteArray("GET") << QByteArray("/");

    // 400: the shape of the request.
    QTest::newRow("two parts") << request("GET /") << 400 << QByteArray() << QByteArray();
    QTest::newRow("four parts") << request("GET / HTTP/1.1 x") << 400 << QByteArray() << QByteArray();
    QTest::newRow("double space") << request("GET  / HTTP/1.1") << 400 << QByteArray() << QByteArray();
    QTest::newRow("no blank line") << QByteArray("GET / HTTP/1.1\r\nHost: 127.0.0.1:48123\r\n") << 400 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.1\nHost: 127.0.0.1:48123\n\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("empty") << QByteArray() << 400 << QByteArray() << QByteArray();
    QTest::newRow("only blank line") << QByteArray("\r\n\r\n") << 400 << QByteArray() << QByteArray();
    QTest::newRow("not UTF-8") << request("GET /\xff HTTP/1.1") << 400 << QByteArray() << QByteArray();
    QTest::newRow("two host headers") << request("GET / HTTP/1.1", "Host: 127.0.0.1:48123\r\nHost: 127.0.0.1:48123\r\n") << 400 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("host in two cases") << request("GET / HTTP/1.1", "Host: 127.0.0.1:48123\r\nHOST: 127.0.0.1:48123\r\n") << 400 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("repeated other header") << request("GET / HTTP/1.1", "Host: 127.0.0.1:48123\r\nAccept: a\r\nAccept: b\r\n") << 400 << QByteArray("GET") << QByteArray("/");
    // The repeat ends header parsing, so the host check sees the first value only.
    QTest::newRow("foreign host then repeat") << request("GET / HTTP/1.1", "Host: localhost:48123\r\nHost: 127.0.0.1:48123\r\n") << 403 << QByteArray("GET") << QByteArray("/");

    // 403: not our own origin.
    const auto refused = [](const char *tag, const QByteArray &headers) {
        QTest::newRow(tag) << request("GET /launcher-config HTTP/1.1", headers) << 403 << QByteArray("GET") << QByteArray("/launcher-config");
    };
    refused("no host", "Accept: */*\r\n");
    refused("empty host", "Host: \r\n");
    refused("localhost", "Host: localhost:48123\r\n");
    refused("rebinding host", "Host: evil.example:48123\r\n");
    refused("host without port", "Host: 127.0.0.1\r\n");
    refused("other port", "Host: 127.0.0.1:48124\r\n");
    refused("host with path", "Host: 127.0.0.1:48123/x\r\n");
    refused("origin localhost", "Host: 127.0.0.1:48123\r\nOrigin: http://localhost:48123\r\n");
    refused("origin other port", "Host: 127.0.0.1:48123\r\nOrigin: http://127.0.0.1:48124\r\n");
    refused("origin https", "Host: 127.0.0.1:48123\r\nOrigin: https://127.0.0.1:48123\r\n");
    refused("origin null", "Host: 127.0.0.1:48123\r\nOrigin: null\r\n");
    refused("origin empty", "Host: 127.0.0.1:48123\r\nOrigin:\r\n");
    refused("cross-site", "Host: 127.0.0.1:48123\r\nSec-Fetch-Site: cross-site\r\n");
    // 403 is decided before the method and before a repeated header.
    QTest::newRow("foreign POST") << request("POST / HTTP/1.1", "Host: localhost:48123\r\n") << 403 << QByteArray("POST") << QByteArray("/");

    // 405: any method but GET and HEAD, compared exactly.
    for (const char *method : {"POST", "PUT", "DELETE", "OPTIONS", "get", "GETX", ""})
        QTest::addRow("method '%s'", method) << request(QByteArray(method) + " / HTTP/1.1") << 405 << QByteArray(method) << QByteArray("/");
    // 431 at the limit, whatever else is wrong.
    const QByteArray start = "GET / HTTP/1.1\r\nHost: 127.0.0.1:48123\r\nX-Pad: ";
    const auto padded = [&](qsizetype size) { return start + QByteArray(size - start.size() - 4, 'a') + "\r\n\r\n"; };
    QTest::newRow("one below the limit") << padded(VintrelleHttpRequest::limit - 1) << 200 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("at the limit") << padded(VintrelleHttpRequest::limit) << 431 << QByteArray("GET") << QByteArray("/");
    QTest::newRow("at the limit, not UTF-8") << QByteArray(VintrelleHttpRequest::limit, '\xff') << 431 << QByteArray() << QByteArray();
    QTest::newRow("POST with repeated header") << request("POST / HTTP/1.1", "Host: 127.0.0.1:48123\r\nA: 1\r\nA: 2\r\n") << 405 << QByteArray("POST") << QByteArray("/");
}

void HttpRequestTest::checks()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, status);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, path);

    const VintrelleHttpRequest parsed = VintrelleParseHttpRequest(bytes, port);
    QCOMPARE(parsed.status, status);
    QCOMPARE(parsed.method, method);
    QCOMPARE(parsed.path, path);
}

QTEST_GUILESS_MAIN(HttpRequestTest)
#include "tst_http_request.moc"
