// The server address directory: a cache file as found beside the program, then an answer of the directory
// server taken into the cache, each followed by the five lookups of start-up.
//
// Input: the cache file's bytes, a NUL byte, the answer's body (UTF-8). Without a NUL the whole input is
// both.
#include "FuzzSupport.h"
#include "VbError.h"
#include "json.h"
#include "modServerAddressUtil.h"

#include <QFile>

namespace {

const QString EntryNames[] = {QStringLiteral("토박마스터서버"), QStringLiteral("토박소프트_웹_로그인"),
                              QStringLiteral("자동업데이트_런처"), QStringLiteral("작업서버_DB백업_FTP"),
                              QStringLiteral("사내메신저소켓")};

// Start-up's lookups: a directory of the wrong shape fails with a type mismatch and nothing else.
void lookUpAll() {
    for (const QString& name : EntryNames) {
        try {
            modServerAddressUtil::LookupServerHost(name);
        } catch (const VbError& e) {
            if (e.number() != VbErrors::TypeMismatch)
                FuzzSupport::violated("a lookup fails with a type mismatch only", e.description());
        }
    }
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    FuzzSupport::environment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input = FuzzSupport::bytesOf(data, size);
    const qsizetype nul = input.indexOf('\0');
    const QByteArray cache = nul < 0 ? input : input.left(nul);
    const QString answer = QString::fromUtf8(nul < 0 ? input : input.mid(nul + 1));
    const QString path =
        FuzzSupport::programFolder() + QLatin1Char('/') + modServerAddressUtil::CacheFileName();

    FuzzSupport::writeFile(path, cache);
    modServerAddressUtil::ForgetServerDirectory();
    modServerAddressUtil::LoadServerDirectory();
    lookUpAll();

    const std::optional<JsonValue> parsed = json::JsonParse(answer);
    const bool isObject = parsed && parsed->isObject();
    if (modServerAddressUtil::TakeDirectoryAnswer(answer) != isObject)
        FuzzSupport::violated("an answer counts when it is a JSON object");

    const QByteArray after = readAll(path);
    if (after != cache) {
        // Rewritten: the answer said so, and the cache now reads back as the answer's directory.
        const JsonValue& success = (*parsed)[QStringLiteral("success")];
        const JsonValue& directory = (*parsed)[QStringLiteral("data")];
        if (success.kind() != JsonValue::Kind::Boolean || !success.boolean() || !directory.isObject())
            FuzzSupport::violated("only a successful answer with a directory is kept");
        if (!after.startsWith("\xEF\xBB\xBF"))
            FuzzSupport::violated("the cache starts with a byte-order mark");
        // An answer in clear keeps every member of its directory but the one saying it came over verified
        // TLS.
        const std::optional<JsonValue> kept = json::JsonParse(modServerAddressUtil::ReadUtf8File(path));
        const QString verified = modServerAddressUtil::VerifiedMember();
        bool same = kept && kept->isObject() && !kept->object().contains(verified) &&
                    kept->object().count() + (directory.object().contains(verified) ? 1 : 0) ==
                        directory.object().count();
        for (const JsonMember& member : directory.object())
            same = same && (member.key == verified || (*kept)[member.key] == member.value);
        if (!same)
            FuzzSupport::violated("the cache reads back as the directory of the answer",
                                  QString::fromUtf8(after));
    }
    modServerAddressUtil::ForgetServerDirectory();
    modServerAddressUtil::LoadServerDirectory();
    lookUpAll();
    return 0;
}
