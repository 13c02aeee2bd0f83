#pragma once

#include <QByteArray>
#include <QString>

// Plain HTTP GET through libcurl, blocking the calling thread. Every request is bounded in time, so a server
// that stops answering costs seconds, never the bot.
namespace HttpClient {

struct Options {
    // Stop reading after this many bytes of the body (-1: all of it).
    qsizetype maxBytes = -1;
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
};

// `url` may hold non-ASCII characters; they are sent percent-encoded as UTF-8.
Response get(const QString& url, const Options& options = {});

// Downloads `url` into `path`. The body goes to a temporary file beside `path` that replaces it only when the
// whole body has arrived with a success status, so a failed download never leaves a truncated file behind.
bool downloadToFile(const QString& url, const QString& path, const Options& options = {});

} // namespace HttpClient
