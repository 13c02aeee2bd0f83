#include "modAutoUpdateV1_Download.h"

#include "AnsiCodec.h"
#include "HttpClient.h"
#include "OwnFile.h"

#include <QFile>

namespace modAutoUpdateV1_Download {

namespace {

constexpr qsizetype ReadBytes = 20;

// A request to the update server: always fresh, over TLS where the site asks for it, and bounded. One
// byte past `bound` tells a body that is too long from one that just fits.
HttpClient::Options updateRequest(qsizetype bound, int totalTimeoutMs, const Tls::Policy& tls) {
    HttpClient::Options options;
    options.fresh = true;
    options.tls = tls;
    options.maxBytes = bound + 1;
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = totalTimeoutMs;
    return options;
}

// Some megabytes on a slow link still arrive; a dead or endless server is given up.
HttpClient::Options programRequest(const Tls::Policy& tls) {
    return updateRequest(MaxProgramBytes, 10 * 60 * 1000, tls);
}

// Why a fetched file is not there, or nothing.
QString fetchProblem(const HttpClient::Response& response, qsizetype bound) {
    if (!response.bound.isEmpty())
        return response.bound;
    if (!response.answered)
        return QStringLiteral("no answer (%1)").arg(response.error);
    if (response.status != 200)
        return QStringLiteral("HTTP %1").arg(response.status);
    if (response.body.size() > bound)
        return QStringLiteral("longer than %1 bytes").arg(bound);
    return QString();
}

// A verified program or signature in its place: written beside it and renamed over, so nothing is ever
// written through a link planted under either name.
bool writeReplacing(const QString& path, const QByteArray& bytes, int mode) {
    OwnFile::Replacement file(path);
    return file.open(mode) && file.write(bytes) && file.commit();
}

} // namespace

HttpClient::Options TextRequest(const Tls::Policy& tls) {
    return updateRequest(MaxSignatureBytes, 15000, tls);
}

QString ReadUrlText(const QString& url, const Tls::Policy& tls) {
    HttpClient::Options options = TextRequest(tls);
    options.maxBytes = ReadBytes;
    options.userAgent = "VB OpenUrl";
    const HttpClient::Response response = HttpClient::get(url, options);
    return response.answered ? AnsiCodec::toUnicode(response.body) : QString();
}

Release FetchRelease(const QString& base, const QString& name, const QString& version,
                     const ReleaseSignature::PublicKey& key, const Tls::Policy& tls) {
    Release release;
    const HttpClient::Response signature =
        HttpClient::get(base + name + QStringLiteral(".minisig"), TextRequest(tls));
    if (const QString problem = fetchProblem(signature, MaxSignatureBytes); !problem.isEmpty()) {
        release.problem = QStringLiteral("its signature %1.minisig: %2").arg(name, problem);
        return release;
    }
    release.signature = signature.body;
    const HttpClient::Response program = HttpClient::get(base + name, programRequest(tls));
    if (const QString problem = fetchProblem(program, MaxProgramBytes); !problem.isEmpty()) {
        release.problem = problem;
        return release;
    }
    release.problem = ReleaseSignature::verify(program.body, signature.body, key,
                                               ReleaseSignature::releaseComment(name, version));
    if (release.problem.isEmpty())
        release.body = program.body;
    return release;
}

bool InstallRelease(const QString& path, const Release& release) {
    if (!release.body)
        return false;
    const QString signaturePath = path + QStringLiteral(".minisig");
    if (writeReplacing(signaturePath, release.signature, 0644) && writeReplacing(path, *release.body, 0755))
        return true;
    QFile::remove(signaturePath);
    return false;
}

} // namespace modAutoUpdateV1_Download
