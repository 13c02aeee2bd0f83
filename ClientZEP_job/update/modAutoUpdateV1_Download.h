#pragma once

#include "HttpClient.h"
#include "ReleaseSignature.h"

#include <QByteArray>
#include <QString>
#include <optional>

// The update server's client, shared by the bot's launcher and the update checker: the same bounds for
// every request, and every program fetched only together with its signature and handed on only when that
// signature is the release key's for this file and this version.
namespace modAutoUpdateV1_Download {

// The longest program the chain fetches; a longer (or endless) body is refused.
inline constexpr qsizetype MaxProgramBytes = 64 * 1024 * 1024;
// A ".minisig" is four short lines.
inline constexpr qsizetype MaxSignatureBytes = 4096;

// Every request below goes over https when `tls` requires it (HttpTls), verified against its CA.

// The bounds of the small texts (version files, signatures): an answer within seconds.
HttpClient::Options TextRequest(const Tls::Policy& tls);

// The first bytes (at most 20) of the resource at `url`, fetched fresh past every cache and taken as CP949
// text; the empty text when nothing could be read. An HTTP error page counts as read: its first bytes come
// back.
QString ReadUrlText(const QString& url, const Tls::Policy& tls);

// A program fetched from the update server with its signature.
struct Release {
    std::optional<QByteArray> body; // only when the signature holds
    QByteArray signature;           // the ".minisig" text, kept beside the program
    QString problem;                // why there is no body
};

// Fetches `base` + `name` and `base` + `name` + ".minisig" and checks that `key` signed the body with the
// trusted comment "name version".
Release FetchRelease(const QString& base, const QString& name, const QString& version,
                     const ReleaseSignature::PublicKey& key, const Tls::Policy& tls);

// Puts a verified program at `path` (rwxr-xr-x) and its signature at `path` + ".minisig", each written
// beside its place and renamed over it, never through a link planted there. False when it could not; then
// nothing of it is left behind.
bool InstallRelease(const QString& path, const Release& release);

} // namespace modAutoUpdateV1_Download
