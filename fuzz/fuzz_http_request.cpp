// Feeds arbitrary bytes to the launcher server's request parser. Besides the sanitizers' own
// findings, it traps when a verdict contradicts the rules that can be checked from the outside.

#include "VintrelleHttpRequest.h"

#include <cstddef>
#include <cstdint>

namespace {

constexpr quint16 port = 48123;

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const VintrelleHttpRequest request = VintrelleParseHttpRequest(bytes, port);

    const int status = request.status;
    require(status == 200 || status == 400 || status == 403 || status == 405 || status == 431);
    require((status == 431) == (bytes.size() >= VintrelleHttpRequest::limit));
    if (status != 431 && !bytes.contains("\r\n\r\n"))
        require(status == 400);

    // The path is the target up to its first "?", and the method is one of the request line's parts.
    const qsizetype query = request.target.indexOf('?');
    require(request.path == (query < 0 ? request.target : request.target.left(query)));
    if (!request.method.isEmpty())
        require(bytes.startsWith(request.method + ' ' + request.target + ' '));

    // Past the origin checks only with our own host, no foreign origin and no cross-site fetch.
    // A plain scan of the head's lines, independent of the parser's own bookkeeping.
    if (status == 200 || status == 405) {
        bool ownHost = false;
        const QByteArray head = bytes.left(bytes.indexOf("\r\n\r\n"));
        for (qsizetype start = head.indexOf("\r\n"); start >= 0;) {
            start += 2;
            const qsizetype end = head.indexOf("\r\n", start);
            const QByteArray line = head.mid(start, end < 0 ? -1 : end - start);
            start = end;
            const qsizetype colon = line.indexOf(':');
            if (colon < 0)
                continue;
            const QByteArray name = line.left(colon).toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            ownHost = ownHost || (name == "host" && value == "127.0.0.1:48123");
            if (status == 200) {
                require(name != "sec-fetch-site" || value != "cross-site");
                require(name != "origin" || value == "http://127.0.0.1:48123");
            }
        }
        require(ownHost);
    }
    if (status == 200)
        require(request.method == "GET" || request.method == "HEAD");

    // The verdict depends on the bytes alone.
    require(VintrelleParseHttpRequest(bytes, port).status == status);
    return 0;
}
