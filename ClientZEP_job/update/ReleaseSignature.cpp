#include "ReleaseSignature.h"

#include "OwnFile.h"

#include <QList>
#include <algorithm>
#include <sodium.h>

namespace ReleaseSignature {
namespace {

constexpr qsizetype AlgorithmBytes = 2;
constexpr qsizetype KeyIdBytes = 8;
constexpr qsizetype KeyLineBytes = AlgorithmBytes + KeyIdBytes + crypto_sign_PUBLICKEYBYTES;
constexpr qsizetype SignatureLineBytes = AlgorithmBytes + KeyIdBytes + crypto_sign_BYTES;
const QByteArray TrustedPrefix = "trusted comment: ";
const QByteArray UntrustedPrefix = "untrusted comment:";
// A ".pub" file is two short lines; anything much longer is not one.
constexpr qint64 PublicKeyFileBytes = 4096;

std::optional<QByteArray> base64(const QByteArray& text, qsizetype expectedBytes) {
    const auto decoded =
        QByteArray::fromBase64Encoding(text.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != expectedBytes)
        return std::nullopt;
    return decoded.decoded;
}

// The lines of a minisign file, without their line ends.
QList<QByteArray> linesOf(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

bool signedBy(const QByteArray& signature, const QByteArray& message, const PublicKey& key) {
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.constData()),
                                       reinterpret_cast<const unsigned char*>(message.constData()),
                                       quint64(message.size()),
                                       reinterpret_cast<const unsigned char*>(key.key.constData())) == 0;
}

QByteArray blake2b512(const QByteArray& body) {
    QByteArray digest(crypto_generichash_BYTES_MAX, Qt::Uninitialized);
    crypto_generichash(reinterpret_cast<unsigned char*>(digest.data()), size_t(digest.size()),
                       reinterpret_cast<const unsigned char*>(body.constData()), quint64(body.size()),
                       nullptr, 0);
    return digest;
}

} // namespace

std::optional<PublicKey> parsePublicKey(const QString& text) {
    for (const QByteArray& line : linesOf(text.toUtf8())) {
        if (line.trimmed().isEmpty() || line.startsWith(UntrustedPrefix))
            continue;
        const auto bytes = base64(line, KeyLineBytes);
        if (!bytes || !bytes->startsWith("Ed"))
            return std::nullopt;
        return PublicKey{bytes->mid(AlgorithmBytes, KeyIdBytes), bytes->mid(AlgorithmBytes + KeyIdBytes)};
    }
    return std::nullopt;
}

QString keyIdText(const PublicKey& key) {
    // minisign prints the id as a little-endian 64-bit number.
    QByteArray reversed = key.keyId;
    std::reverse(reversed.begin(), reversed.end());
    return QString::fromLatin1(reversed.toHex().toUpper());
}

std::optional<QString> trustedComment(const QByteArray& signature) {
    const QList<QByteArray> lines = linesOf(signature);
    if (lines.size() < 3 || !lines[2].startsWith(TrustedPrefix))
        return std::nullopt;
    return QString::fromUtf8(lines[2].mid(TrustedPrefix.size()));
}

QString verify(const QByteArray& body, const QByteArray& signature, const PublicKey& key,
               const QString& comment) {
    if (!sodiumReady())
        return QStringLiteral("the signature library could not start");
    const QList<QByteArray> lines = linesOf(signature);
    if (lines.size() < 4 || !lines[0].startsWith(UntrustedPrefix) || !lines[2].startsWith(TrustedPrefix))
        return QStringLiteral("the signature is not in minisign's format");
    const auto line = base64(lines[1], SignatureLineBytes);
    const auto global = base64(lines[3], crypto_sign_BYTES);
    if (!line || !global)
        return QStringLiteral("the signature is not in minisign's format");
    const QByteArray algorithm = line->left(AlgorithmBytes);
    if (algorithm != "Ed" && algorithm != "ED")
        return QStringLiteral("the signature's algorithm is unknown");
    const PublicKey signer{line->mid(AlgorithmBytes, KeyIdBytes), {}};
    if (signer.keyId != key.keyId)
        return QStringLiteral("signed by another key (%1, not the release key %2)")
            .arg(keyIdText(signer), keyIdText(key));
    const QByteArray bodySignature = line->mid(AlgorithmBytes + KeyIdBytes);
    if (!signedBy(bodySignature, algorithm == "ED" ? blake2b512(body) : body, key))
        return QStringLiteral("the signature does not match the file");
    const QByteArray signedComment = lines[2].mid(TrustedPrefix.size());
    if (!signedBy(*global, bodySignature + signedComment, key))
        return QStringLiteral("the trusted comment is not the signed one");
    if (QString::fromUtf8(signedComment) != comment)
        return QStringLiteral("signed as \"%1\", not \"%2\"").arg(QString::fromUtf8(signedComment), comment);
    return QString();
}

QString releaseComment(const QString& name, const QString& version) {
    return name + QLatin1Char(' ') + version;
}

QString versionText(const QString& lastver) {
    return lastver.trimmed();
}

TrustRoot trustRoot(const QString& configured) {
    const QString text = configured.trimmed();
    if (text.isEmpty())
        return {std::nullopt,
                QStringLiteral("no release key (deployment.ini UpdatePublicKey, or one built in)")};
    if (!text.startsWith(QLatin1Char('/'))) {
        if (auto key = parsePublicKey(text))
            return {key, QString()};
        return {std::nullopt,
                QStringLiteral("UpdatePublicKey is neither a minisign public key nor the path of "
                               "a .pub file")};
    }
    const auto file = OwnFile::readPlain(text, PublicKeyFileBytes);
    if (!file)
        return {std::nullopt,
                QStringLiteral("the release key %1 cannot be read (a plain file, no link)").arg(text)};
    if (auto key = parsePublicKey(QString::fromUtf8(*file)))
        return {key, QString()};
    return {std::nullopt, QStringLiteral("%1 holds no minisign public key").arg(text)};
}

} // namespace ReleaseSignature
