#include "VintrelleHttpRequest.h"

#include <QByteArrayList>
#include <QHash>
#include <QStringDecoder>

VintrelleHttpRequest VintrelleParseHttpRequest(const QByteArray &bytes, quint16 port)
{
    VintrelleHttpRequest request;

    // Only the head counts: bytes after the blank line (a body) never supply or repeat a header.
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    const QByteArray head = headEnd < 0 ? bytes : bytes.left(headEnd);
    // Parsing works on the bytes; decoding only proves the head is UTF-8 text.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(head);
    const bool validText = !utf8.hasError();

    QByteArrayList headLines;
    for (qsizetype start = 0;;) {
        const qsizetype end = head.indexOf("\r\n", start);
        headLines << head.mid(start, end < 0 ? -1 : end - start);
        if (end < 0)
            break;
        start = end + 2;
    }

    const QByteArrayList requestLine = headLines.first().split(' ');
    const bool requestLineValid = validText && requestLine.size() == 3;
    if (requestLineValid) {
        request.method = requestLine[0];
        request.target = requestLine[1];
        const qsizetype query = request.target.indexOf('?');
        request.path = query < 0 ? request.target : request.target.left(query);
    }

    QHash<QByteArray, QByteArray> headers;
    bool repeatedHeader = false;
    for (qsizetype i = 1; i < headLines.size(); ++i) {
        const QByteArray &line = headLines[i];
        const qsizetype colon = line.indexOf(':');
        if (colon < 0)
            continue;
        const QByteArray name = line.left(colon).toLower();
        if (headers.contains(name)) {
            repeatedHeader = true;
            break;
        }
        headers.insert(name, line.mid(colon + 1).trimmed());
    }

    const QByteArray host = "127.0.0.1:" + QByteArray::number(port);
    if (bytes.size() >= VintrelleHttpRequest::limit)
        request.status = 431;
    else if (!requestLineValid || headEnd < 0)
        request.status = 400;
    else if (headers.value("host") != host || (headers.contains("origin") && headers.value("origin") != "http://" + host)
             || headers.value("sec-fetch-site") == "cross-site")
        request.status = 403;
    else if (request.method != "GET" && request.method != "HEAD")
        request.status = 405;
    else
        request.status = repeatedHeader ? 400 : 200;
    return request;
}
