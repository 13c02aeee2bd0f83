#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Release signatures in minisign's format, checked with libsodium. A release is signed with Debian's
// `minisign` tool; beside every file F that the update chain fetches lies F.minisig, made by
//     minisign -S -s KEY -m F -t "F V"
// where V is the version text of the "_lastver.txt" that made the chain fetch F. Both of minisign's
// algorithms are accepted: "ED" (the file's BLAKE2b-512 signed, minisign's default) and the legacy "Ed" (the
// file itself signed).
namespace ReleaseSignature {

// An Ed25519 public key with minisign's key id.
struct PublicKey {
    QByteArray keyId; // 8 bytes, as minisign stores them
    QByteArray key;   // 32 bytes
};

// The key of a minisign public key line (the base64 line of a ".pub" file), or of a whole ".pub" file's text
// (its "untrusted comment:" line skipped). Nothing when the text holds no such key.
std::optional<PublicKey> parsePublicKey(const QString& text);

// The key id as minisign prints it (16 upper-case hex digits), for messages.
QString keyIdText(const PublicKey& key);

// Why `signature` (the text of a ".minisig" file) does not prove that `body` was signed by `key` with the
// trusted comment `comment` exactly; the empty text when it does.
QString verify(const QByteArray& body, const QByteArray& signature, const PublicKey& key,
               const QString& comment);

// The trusted comment of a ".minisig" text, unchecked; nothing when it has none.
std::optional<QString> trustedComment(const QByteArray& signature);

// "F V": the trusted comment a release of file `name` at version text `version` carries.
QString releaseComment(const QString& name, const QString& version);

// The version text of a "_lastver.txt" as a signature names it: the text with the white space around it
// (blanks, tabs, CR and LF) removed.
QString versionText(const QString& lastver);

// The trust root: `configured` (deployment.ini's UpdatePublicKey, whose default the build compiled in) is a
// minisign public key line, or the absolute path of a minisign ".pub" file. `problem` says why there is
// no key.
struct TrustRoot {
    std::optional<PublicKey> key;
    QString problem;
};
TrustRoot trustRoot(const QString& configured);

} // namespace ReleaseSignature
