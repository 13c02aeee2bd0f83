#include "HttpClient.h"

#include "LibCurl.h"
#include "OwnFile.h"

#include <QUrl>
#include <memory>

namespace HttpClient {
namespace {

struct CurlDeleter {
    void operator()(CURL* curl) const { LibCurl::easy_cleanup(curl); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { LibCurl::slist_free_all(list); }
};
using Easy = std::unique_ptr<CURL, CurlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;

// Where a transfer's body goes: into memory up to a limit, or into a file; either way no further than the
// bound.
struct Sink {
    QByteArray* memory = nullptr;
    qsizetype limit = -1;
    OwnFile::Replacement* file = nullptr;
    bool full = false;
    qsizetype bound = -1;
    qsizetype received = 0;
    bool over = false;
};

size_t receive(char* data, size_t size, size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const qsizetype bytes = qsizetype(size * count);
    sink->received += bytes;
    if (sink->bound >= 0 && sink->received > sink->bound && (sink->limit < 0 || sink->limit > sink->bound)) {
        sink->over = true;
        return 0;
    }
    if (sink->file)
        return sink->file->write(data, bytes) ? size_t(bytes) : 0;
    qsizetype take = bytes;
    if (sink->limit >= 0)
        take = qMin(take, sink->limit - sink->memory->size());
    sink->memory->append(data, take);
    if (take < bytes) {
        // Enough read: ending the transfer here is not a failure.
        sink->full = true;
        return 0;
    }
    return size_t(bytes);
}

// Runs one GET into `sink`; the response carries the status and the transport outcome.
Response perform(const QString& url, const Options& options, Sink& sink) {
    Response response;
    const LibCurl::Session library;
    if (!library.ok()) {
        response.error = QString::fromLocal8Bit(LibCurl::Session::error());
        return response;
    }
    Easy easy(LibCurl::easy_init());
    if (!easy) {
        response.error = QStringLiteral("the HTTP client could not start");
        return response;
    }
    QUrl address(url, QUrl::TolerantMode);
    if (options.tls.required && address.scheme().compare(QLatin1String("http"), Qt::CaseInsensitive) == 0)
        address.setScheme(QStringLiteral("https"));
    const QByteArray encoded = address.toEncoded();
    const QByteArray caFile = options.tls.caFile.toLocal8Bit();
    HeaderList headers;
    if (options.fresh) {
        curl_slist* list = LibCurl::slist_append(nullptr, "Cache-Control: no-cache");
        list = LibCurl::slist_append(list, "Pragma: no-cache");
        headers.reset(list);
    }
    CURL* c = easy.get();
    LibCurl::easy_setopt(c, CURLOPT_URL, encoded.constData());
    const char* protocols = options.tls.required ? "https" : "http,https";
    LibCurl::easy_setopt(c, CURLOPT_PROTOCOLS_STR, protocols);
    LibCurl::easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, protocols);
    LibCurl::verifyPeer(c, caFile);
    if (options.certificate)
        LibCurl::easy_setopt(c, CURLOPT_CERTINFO, 1L);
    LibCurl::easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    LibCurl::easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, long(options.connectTimeoutMs));
    LibCurl::easy_setopt(c, CURLOPT_TIMEOUT_MS, long(options.totalTimeoutMs));
    LibCurl::easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    LibCurl::easy_setopt(c, CURLOPT_MAXREDIRS, 5L);
    if (!options.userAgent.isEmpty())
        LibCurl::easy_setopt(c, CURLOPT_USERAGENT, options.userAgent.constData());
    if (headers)
        LibCurl::easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    char errorBuffer[CURL_ERROR_SIZE] = {};
    LibCurl::easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
    LibCurl::easy_setopt(c, CURLOPT_WRITEFUNCTION, receive);
    LibCurl::easy_setopt(c, CURLOPT_WRITEDATA, &sink);

    const CURLcode code = LibCurl::easy_perform(c);
    LibCurl::easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    response.answered =
        (code == CURLE_OK || (code == CURLE_WRITE_ERROR && sink.full)) && response.status != 0;
    if (sink.over) {
        response.answered = false;
        response.bound = QStringLiteral("the answer is larger than its bound of %1 bytes").arg(sink.bound);
    }
    if (!response.answered) {
        response.error =
            QString::fromUtf8(errorBuffer[0] != '\0' ? errorBuffer : LibCurl::easy_strerror(code));
        if (const QString words = Tls::why(response.error); !words.isEmpty())
            response.error = words;
        response.curlCode = int(code);
        LibCurl::easy_getinfo(c, CURLINFO_OS_ERRNO, &response.osErrno);
        curl_off_t connected = 0;
        LibCurl::easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
        // Timed out after the connection stood: the exchange as a whole took too long.
        if (code == CURLE_OPERATION_TIMEDOUT && connected > 0)
            response.bound = QStringLiteral("the exchange took longer than its bound of %1 s")
                                 .arg(options.totalTimeoutMs / 1000.0);
        if (!response.bound.isEmpty())
            response.error = response.bound;
    }
    const char* scheme = nullptr;
    response.encrypted = LibCurl::easy_getinfo(c, CURLINFO_SCHEME, &scheme) == CURLE_OK &&
                         scheme != nullptr && QByteArray(scheme).compare("https", Qt::CaseInsensitive) == 0 &&
                         response.answered;
    if (options.certificate && response.encrypted)
        response.peerCertificate = LibCurl::serverCertificate(c);
    const char* type = nullptr;
    if (LibCurl::easy_getinfo(c, CURLINFO_CONTENT_TYPE, &type) == CURLE_OK && type != nullptr) {
        const QByteArray contentType(type);
        const qsizetype at = contentType.toLower().indexOf("charset=");
        if (at >= 0)
            response.charset = contentType.mid(at + 8).split(';').first().trimmed().replace('"', "");
    }
    return response;
}

} // namespace

Response get(const QString& url, const Options& options) {
    QByteArray body;
    Sink sink{&body, options.maxBytes, nullptr, false, options.boundBytes};
    Response response = perform(url, options, sink);
    response.body = std::move(body);
    return response;
}

bool downloadToFile(const QString& url, const QString& path, const Options& options, Response* outcome) {
    OwnFile::Replacement file(path);
    if (!file.open())
        return false;
    Sink sink{nullptr, -1, &file, false, options.boundBytes};
    const Response response = perform(url, options, sink);
    if (outcome != nullptr)
        *outcome = response;
    if (!response.answered || response.status < 200 || response.status >= 300) {
        file.cancel();
        return false;
    }
    return file.commit();
}

} // namespace HttpClient
