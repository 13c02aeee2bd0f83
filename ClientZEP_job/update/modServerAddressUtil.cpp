#include "modServerAddressUtil.h"

#include "AnsiCodec.h"
#include "ErrorLog.h"
#include "HttpClient.h"
#include "MessageBox.h"
#include "OwnFile.h"
#include "ProgramInfo.h"
#include "VbError.h"
#include "json.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <optional>

namespace modServerAddressUtil {
namespace {

// The directory as last loaded; it lives as long as the program.
std::optional<JsonValue> directory;
// Whether this start has logged that the cache does not parse.
bool cacheComplained = false;

QString cachePath() {
    return ProgramInfo::folder() + QLatin1Char('/') + CacheFileName();
}

// The answer's text in the charset it declares, UTF-8 when it declares none.
QString decodeBody(const HttpClient::Response& response) {
    const QByteArray charset = response.charset.toLower();
    if (charset.isEmpty() || charset == "utf-8" || charset == "utf8")
        return QString::fromUtf8(response.body);
    if (charset == "euc-kr" || charset == "cp949" || charset == "ks_c_5601-1987" || charset == "uhc")
        return AnsiCodec::toUnicode(response.body);
    QStringDecoder decoder(charset.constData());
    return decoder.isValid() ? decoder.decode(response.body) : QString::fromUtf8(response.body);
}

// A member or element without a value: what the reader leaves for an answer cut off after a key, or for a
// misspelt null. The writer writes such a value as nothing, which is not JSON.
bool holdsEmptyValue(const JsonValue& value) {
    switch (value.kind()) {
    case JsonValue::Kind::Empty:
        return true;
    case JsonValue::Kind::Array:
        for (const JsonValue& item : value.array())
            if (holdsEmptyValue(item))
                return true;
        return false;
    case JsonValue::Kind::Object:
        for (const JsonMember& member : value.object())
            if (holdsEmptyValue(member.value))
                return true;
        return false;
    default:
        return false;
    }
}

// A cache that does not parse keeps the program on its defaults for good (it is never sent to the server,
// so never repaired): say so once per start, where an administrator looks.
void complainAboutCache(const QString& path) {
    if (cacheComplained)
        return;
    cacheComplained = true;
    ErrorLog::WriteToFile(
        VbErrors::trappedText(VbErrors::TypeMismatch, VbErrors::describe(VbErrors::TypeMismatch),
                              QStringLiteral("LoadServerDirectory"), QStringLiteral("Module"),
                              QStringLiteral("modServerAddressUtil")) +
        QStringLiteral("(") + path + QStringLiteral(" does not parse; the built-in addresses are used)"));
}

[[noreturn]] void typeMismatch() {
    throw VbError(VbErrors::TypeMismatch, QStringLiteral("modServerAddressUtil"),
                  VbErrors::describe(VbErrors::TypeMismatch));
}

} // namespace

QString CacheFileName() {
    return QStringLiteral("server_address_setting.json");
}

QString VerifiedMember() {
    return QStringLiteral("fetchedOverVerifiedTls");
}

bool CameOverVerifiedTls(const JsonValue& directory) {
    if (!directory.isObject() || !directory.object().contains(VerifiedMember()))
        return false;
    const JsonValue& member = directory[VerifiedMember()];
    return member.kind() == JsonValue::Kind::Boolean && member.boolean();
}

QByteArray CacheText(const JsonValue& directory, bool verified) {
    JsonObject kept;
    for (const JsonMember& member : directory.object())
        if (member.key != VerifiedMember())
            kept.insert(member.key, member.value);
    if (verified)
        kept.insert(VerifiedMember(), JsonValue(true));
    return json::JsonToUtf8(JsonValue(std::move(kept)));
}

DirectoryAnswer AskServerDirectory(const QString& user, const DirectoryServer& server,
                                   const HttpClient::Options& options) {
    DirectoryAnswer result;
    const QString path = cachePath();
    QString ver;
    if (FileExists(path)) {
        const std::optional<JsonValue> cached = json::JsonParse(ReadUtf8File(path));
        if (!cached || !cached->isObject())
            return result; // an unreadable cache is not sent to the server
        if (!server.tls.required || CameOverVerifiedTls(*cached))
            ver = (*cached)[QStringLiteral("ver")].asText();
    }

    result.request = (server.tls.required ? QStringLiteral("https://") : QStringLiteral("http://")) +
                     server.host + QStringLiteral("/serverinfo/server-address-checker.php");
    QChar separator = QLatin1Char('?');
    if (!ver.isEmpty()) {
        result.request += separator + QStringLiteral("ver=") + ver;
        separator = QLatin1Char('&');
    }
    if (!user.isEmpty())
        result.request += separator + QStringLiteral("user=") + user;

    result.asked = true;
    HttpClient::Options bounded = options;
    bounded.tls = server.tls;
    bounded.boundBytes = qMin(options.boundBytes, DirectoryBoundBytes);
    result.response = HttpClient::get(result.request, bounded);
    if (!result.response.answered || result.response.status != 200)
        return result;

    result.directory = ReadDirectoryAnswer(decodeBody(result.response), &result.understood);
    // Over https the client verified the chain and the name, or there is no answer at all.
    result.verified = server.tls.required;
    return result;
}

std::optional<JsonValue> ReadDirectoryAnswer(const QString& answerText, bool* understood) {
    *understood = false;
    const std::optional<JsonValue> answer = json::JsonParse(answerText);
    if (!answer || !answer->isObject())
        return std::nullopt;
    *understood = true;
    const JsonValue& success = (*answer)[QStringLiteral("success")];
    const JsonValue& data = (*answer)[QStringLiteral("data")];
    // "success" without a "data" object would empty the cache, and a "data" with a member or element without
    // a value (an answer cut off after a key) would be written as text that is not JSON: both count as no
    // success.
    if (success.kind() == JsonValue::Kind::Boolean && success.boolean() && data.isObject() &&
        !holdsEmptyValue(data))
        return data;
    return std::nullopt;
}

bool TakeDirectoryAnswer(const QString& answerText) {
    try {
        bool understood = false;
        const std::optional<JsonValue> data = ReadDirectoryAnswer(answerText, &understood);
        if (data)
            WriteUtf8FileBytes(cachePath(), CacheText(*data, false));
        return understood;
    } catch (const VbError&) {
        return false;
    }
}

bool RefreshServerDirectory(const QString& user, const DirectoryServer& server) {
    try {
        // Start-up waits for this: a dead directory server may cost seconds, never more.
        HttpClient::Options options;
        options.connectTimeoutMs = 5000;
        options.totalTimeoutMs = 15000;
        const DirectoryAnswer answer = AskServerDirectory(user, server, options);
        // A bound passed or a TLS link refused: the cache stays, and the log says why.
        if (!answer.response.bound.isEmpty() || !Tls::why(answer.response.error).isEmpty())
            ErrorLog::WriteToFile(QStringLiteral("address directory %1: %2; the cache is kept")
                                      .arg(answer.request, answer.response.error));
        if (!answer.asked && FileExists(cachePath()))
            complainAboutCache(cachePath());
        if (answer.directory)
            WriteUtf8FileBytes(cachePath(), CacheText(*answer.directory, answer.verified));
        return answer.understood;
    } catch (const VbError&) {
        return false;
    }
}

void LoadServerDirectory() {
    const QString path = cachePath();
    if (FileExists(path)) {
        directory = json::JsonParse(ReadUtf8File(path));
        if (!directory || !directory->isObject())
            complainAboutCache(path);
    }
}

QString LookupServerHost(const QString& name) {
    return directory ? LookupServerHost(*directory, name) : QString();
}

bool LoadedDirectoryVerified() {
    return directory && CameOverVerifiedTls(*directory);
}

QString LookupServerHost(const JsonValue& in, const QString& name) {
    if (!in.isObject())
        typeMismatch();
    const JsonValue& servers = in[QStringLiteral("servers")];
    if (!servers.isArray())
        typeMismatch();
    for (const JsonValue& entry : servers.array()) {
        if (!entry.isObject())
            typeMismatch();
        if (entry[QStringLiteral("name")].asText() == name)
            return entry[QStringLiteral("host")].asText();
    }
    return QString();
}

bool FileExists(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

QString ReadUtf8File(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        MessageBox::show(QStringLiteral("파일 읽기 중 오류 발생: ") + file.errorString());
        return QString();
    }
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    return QString::fromUtf8(bytes);
}

void WriteUtf8File(const QString& path, const QString& content) {
    WriteUtf8FileBytes(path, content.toUtf8());
}

void WriteUtf8FileBytes(const QString& path, const QByteArray& utf8) {
    OwnFile::Replacement file(path);
    if (!file.open() || !file.write(QByteArray("\xEF\xBB\xBF")) || !file.write(utf8) || !file.commit())
        MessageBox::show(QStringLiteral("파일 저장 중 오류 발생: ") + file.errorString());
}

void ForgetServerDirectory() {
    directory.reset();
    cacheComplained = false;
}

} // namespace modServerAddressUtil
