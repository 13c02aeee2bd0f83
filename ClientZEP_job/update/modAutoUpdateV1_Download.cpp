#include "modAutoUpdateV1_Download.h"

#include "AnsiCodec.h"
#include "HttpClient.h"

namespace modAutoUpdateV1_Download {

namespace {
constexpr qsizetype ReadBytes = 20;
}

QString ReadUrlText(const QString& url) {
    HttpClient::Options options;
    options.maxBytes = ReadBytes;
    options.fresh = true;
    options.totalTimeoutMs = 30000;
    options.userAgent = "VB OpenUrl";
    const HttpClient::Response response = HttpClient::get(url, options);
    return response.answered ? AnsiCodec::toUnicode(response.body) : QString();
}

bool DownloadUrlToFile(const QString& url, const QString& path) {
    HttpClient::Options options;
    // A checker of some megabytes on a slow link still arrives; a dead server is given up.
    options.totalTimeoutMs = 10 * 60 * 1000;
    return HttpClient::downloadToFile(url, path, options);
}

} // namespace modAutoUpdateV1_Download
