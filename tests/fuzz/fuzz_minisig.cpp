// The release signature reader: any bytes as a ".minisig" beside a fixed body, checked against a fixed key.
//
// Input: the signature file's bytes. The seeds are real signatures of the body by the key below (minisign's
// prehashed and legacy algorithms), so mutations start from the accepted shape.
#include "FuzzSupport.h"
#include "ReleaseSignature.h"

namespace {

// The public key and the body the seeds were made for ("minisign -S -m body -t 'F 1'").
const char* const KeyLine = "RWSfqoZdu+exMeGiaGuPO+t9cfA1oLvVu5VoC65z97Qs8bYr7Amey+4D";
const QByteArray Body = "a release\n";
const QString Comment = QStringLiteral("F 1");

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const auto key = ReleaseSignature::parsePublicKey(QString::fromLatin1(KeyLine));
    if (!key)
        FuzzSupport::violated("the fixed key parses");
    const QByteArray signature = FuzzSupport::bytesOf(data, size);
    const QString problem = ReleaseSignature::verify(Body, signature, *key, Comment);
    // Accepted only with the comment that was signed: nobody but the key's holder can make another.
    if (problem.isEmpty() && ReleaseSignature::trustedComment(signature) != Comment)
        FuzzSupport::violated("an accepted signature carries the signed comment");
    // The same bytes never pass for another version or another body.
    if (ReleaseSignature::verify(Body, signature, *key, QStringLiteral("F 2")).isEmpty() ||
        ReleaseSignature::verify(Body + "x", signature, *key, Comment).isEmpty())
        FuzzSupport::violated("a signature holds for one body and one comment");
    return 0;
}
