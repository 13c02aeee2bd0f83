#include "modAutoUpdateV1_Download.h"

#include "AnsiCodec.h"
#include "Deployment.h"
#include "ErrorLog.h"
#include "HttpClient.h"
#include "ProgramInfo.h"

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
    options.tls = Deployment::load(ProgramInfo::folder()).httpTls();
    const HttpClient::Response response = HttpClient::get(url, options);
    return response.answered ? AnsiCodec::toUnicode(response.body) : QString();
}

bool DownloadUrlToFile(const QString& url, const QString& path) {
    HttpClient::Options options;
    // A checker of some megabytes on a slow link still arrives; a dead server is given up.
    options.totalTimeoutMs = 10 * 60 * 1000;
    options.tls = Deployment::load(ProgramInfo::folder()).httpTls();
    HttpClient::Response outcome;
    const bool done = HttpClient::downloadToFile(url, path, options, &outcome);
    if (!done && !outcome.bound.isEmpty())
        ErrorLog::WriteToFile(QStringLiteral("download %1: %2; nothing is kept").arg(url, outcome.bound));
    return done;
}

} // namespace modAutoUpdateV1_Download
