#pragma once

#include <QDateTime>
#include <QString>

// TLS towards the peers: whether a kind of peer is reached only over TLS, and plain words for why a link
// could not be made. The handshake and the verification are the client libraries' own (libcurl, Connector/C).
namespace Tls {

// How one kind of peer is reached. Required: over TLS only, the certificate chain verified against `caFile`
// (PEM; empty: the system's store) and the certificate's name against the host dialled. Otherwise in clear.
struct Policy {
    bool required = false;
    QString caFile;
};

// What the peer's certificate says, for the administrator's check.
struct Certificate {
    QString subject;
    QDateTime expires; // UTC; invalid when unknown
};

// Why a link failed, in plain words, from a client library's error text; empty when the text is not about
// TLS. The libraries word OpenSSL's verdicts in their own ways; these are the words an administrator acts on.
QString why(const QString& libraryText);

// Whole days from `now` until `certificate` expires (negative once it has).
qint64 daysLeft(const Certificate& certificate, const QDateTime& now);

// "Expire date: ..." as libcurl shows it (OpenSSL's notation, "Dec 10 10:00:00 2027 GMT", or
// "2027-12-10 10:00:00 GMT"); invalid when it reads neither.
QDateTime readExpiry(const QString& text);

} // namespace Tls
