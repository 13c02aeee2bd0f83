#pragma once

#include "Tls.h"

#include <QByteArray>
#include <QString>
#include <optional>

// HTTP GET through libcurl, blocking the calling thread. Every request is bounded in time and in size, so a
// server that stops answering or never ends its answer costs seconds and a bounded amount of memory or disk,
// never the bot.
namespace HttpClient {

struct Options {
    // Stop reading after this many bytes of the body and take what came (-1: all of it, up to the bound).
    qsizetype maxBytes = -1;
    // A body larger than this fails the request, in memory and on disk alike.
    qsizetype boundBytes = 64 * 1024 * 1024;
    // Required: an "http://" address is asked as "https://", the certificate verified; nothing in clear.
    Tls::Policy tls;
    // Collect the server's certificate (for the administrator's check).
    bool certificate = false;
    // Ask every cache on the way for a fresh copy.
    bool fresh = false;
    int connectTimeoutMs = 10000;
    int totalTimeoutMs = 60000;
    QByteArray userAgent;
};

struct Response {
    // An answer came back (whatever its status); false on a transport failure.
    bool answered = false;
    long status = 0;
    QByteArray body;
    // The charset the answer declares in its Content-Type, empty when none.
    QByteArray charset;
    // What went wrong, when nothing came back: libcurl's text, its code and the system's error number of
    // the failed connect (0 when there was none), for telling a refusal from a time-out.
    QString error;
    int curlCode = 0;
    long osErrno = 0;
    // The bound that ended the request ("the answer is larger than its bound of 65536 bytes", "the exchange
    // took longer than its bound of 15 s"); empty when none did.
    QString bound;
    // The answer came over TLS, and what its certificate says when asked for.
    bool encrypted = false;
    std::optional<Tls::Certificate> peerCertificate;
};

// `url` may hold non-ASCII characters; they are sent percent-encoded as UTF-8.
Response get(const QString& url, const Options& options = {});

// Downloads `url` into `path`. The body goes to a temporary file beside `path` that replaces it only when the
// whole body has arrived with a success status, so a failed download never leaves a truncated file behind.
// `outcome`, when given, receives what the server did (its bound and error among it).
bool downloadToFile(const QString& url, const QString& path, const Options& options = {},
                    Response* outcome = nullptr);

} // namespace HttpClient
