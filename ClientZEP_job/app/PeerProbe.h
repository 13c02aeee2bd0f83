#pragma once

#include "Tls.h"

#include <QAbstractSocket>
#include <QString>
#include <QStringList>
#include <optional>

namespace HttpClient {
struct Response;
}

// One short attempt at each kind of peer the bot talks to, and what came of it in plain words. Nothing is
// changed on the peer: a connect, a log-in or one GET, then goodbye.
namespace PeerProbe {

struct Outcome {
    bool ok = false;
    QString words; // "ok", or the failure: "refused", "timed out", "login refused", "not found", ...
    // An answer came over TLS, and what its certificate says where the client can tell.
    bool encrypted = false;
    std::optional<Tls::Certificate> certificate;
    // Folders of the peer that the jobs cannot use, one line each: "<folder> does not exist", ...
    QStringList folderProblems;
};

// A certificate expiring within this many days is a problem: the jobs would stop when it does.
inline constexpr qint64 CertificateWarningDays = 14;

// How an answering peer's link runs: "in clear", or "encrypted, certificate <subject>, expires in <n> days".
QString linkWords(const Outcome& outcome, const QDateTime& now);

// A TCP connection to host:port, closed at once.
Outcome tcp(const QString& host, quint16 port, int timeoutMs);
// A GET of `url`: ok on status 200.
Outcome http(const QString& url, int timeoutMs, const Tls::Policy& tls = {});
// A MySQL log-in to `db` at `port`.
Outcome mysql(const QString& host, const QString& user, const QString& password, const QString& db, int port,
              int timeoutSeconds, const Tls::Policy& tls = {});
// An FTP log-in, given as long as the jobs give it; `timeoutMs` bounds a transfer that stalls. Then each of
// `folders` listed, as the jobs list them; nothing is changed.
Outcome ftp(const QString& host, const QString& user, const QString& password, int port, bool passive,
            int timeoutMs, const Tls::Policy& tls = {}, const QStringList& folders = {});

// The words for each client's failures.
QString socketWords(QAbstractSocket::SocketError error, const QString& text);
QString curlWords(int code, long osErrno, const QString& text);
QString httpWords(const HttpClient::Response& response);
// `wholeBound`: the attempt lasted as long as it was allowed to. The client library loses the system's error
// of a connect it waited for (it reports "in progress"), so the time it took tells a refusal from a time-out.
QString mysqlWords(int number, const QString& text, bool wholeBound);

} // namespace PeerProbe
