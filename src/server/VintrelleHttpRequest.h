#pragma once

#include <QByteArray>

// A request head as the launcher server reads it, and the status its checks give it. Pure: bytes in,
// verdict out, so the rules can be tested and fuzzed without sockets.
struct VintrelleHttpRequest
{
    // The server reads at most this many bytes; a head that reaches it is refused with 431.
    static constexpr qsizetype limit = 16384;

    int status = 400;  // 200 when the request passed every check, else the error status to send
    QByteArray method; // empty unless the request line has exactly three parts
    QByteArray target; // the request target as sent
    QByteArray path;   // the target up to the first "?"
};

// Parses `bytes` (everything read from the connection) for a server listening on 127.0.0.1:`port`.
// Checks, in order: 431 for `limit` bytes or more; 400 for a request line that is not exactly three
// space-separated parts or a head without its blank line (or not UTF-8); 403 unless "host" is exactly
// "127.0.0.1:<port>", when an "origin" is present and is not "http://" plus that host, or when
// "sec-fetch-site" is "cross-site"; 405 for a method other than GET or HEAD; 400 when a header
// name was repeated. Header names compare case-insensitively.
VintrelleHttpRequest VintrelleParseHttpRequest(const QByteArray &bytes, quint16 port);
