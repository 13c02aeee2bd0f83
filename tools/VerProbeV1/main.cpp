// VerProbeV1: the update checker. The bot runs it in its program folder as "VerProbeV1.exe <revision>;<exe
// name>" and waits for it. When the update server names a higher revision of that program in
// "<exe name>_lastver.txt", the checker downloads "<exe name>", checks it (an ELF program for this machine;
// the SHA-256 of "<exe name>.sha256" when the server has that file) and leaves it executable as "New_<exe
// name>" beside the bot, for the file changer. Whatever goes wrong leaves no file behind; every request is
// bounded in time. One line on standard error says what happened; the exit status is 0 unless something
// failed.

#include "Deployment.h"
#include "HttpClient.h"
#include "ProgramInfo.h"
#include "UpdateFiles.h"
#include "modAutoUpdateV1_Launcher.h"
#include "modMain.h"
#include "modServerAddressUtil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int Failed = 1;
constexpr int Usage = 2;

// The small texts: an answer must come within seconds.
HttpClient::Options textRequest() {
    HttpClient::Options options;
    options.fresh = true;
    options.maxBytes = 4096;
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = 15000;
    return options;
}

// The build itself: some megabytes on a slow link still arrive, a dead server is given up.
HttpClient::Options buildDownload() {
    HttpClient::Options options;
    options.fresh = true;
    options.connectTimeoutMs = 5000;
    options.totalTimeoutMs = 10 * 60 * 1000;
    return options;
}

// The update server as the bot found it at start-up: the directory cache it left in the program folder, else
// the deployment default.
QString updateHost(const QString& folder) {
    modServerAddressUtil::LoadServerDirectory();
    modMain::ResolveEndpoints(modServerAddressUtil::LookupServerHost, Deployment::load(folder));
    return modMain::AddrAutoUpdate;
}

bool isRevision(const QString& text) {
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    return digits.match(text).hasMatch();
}

bool isFileName(const QString& name) {
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0));
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList parts =
        argc == 2 ? QString::fromLocal8Bit(argv[1]).split(QLatin1Char(';')) : QStringList();
    if (parts.size() != 2 || !isRevision(parts[0]) || !isFileName(parts[1])) {
        UpdateFiles::say(QStringLiteral("usage: VerProbeV1.exe <revision>;<exe name>"));
        return Usage;
    }
    const int running = parts[0].toInt();
    const QString exeName = parts[1];
    const QString folder = ProgramInfo::folder();
    const QString newFile = folder + QStringLiteral("/New_") + exeName;
    const QString partFile = folder + QStringLiteral("/.New_") + exeName + QStringLiteral(".part");

    // A file left by an earlier run must not pass for this run's answer.
    for (const QString& stale : {newFile, partFile}) {
        if (QFileInfo::exists(stale) && !QFile::remove(stale)) {
            UpdateFiles::say(QStringLiteral("cannot remove the old %1").arg(QFileInfo(stale).fileName()));
            return Failed;
        }
    }
    const auto fail = [&](const QString& reason) {
        QFile::remove(partFile);
        UpdateFiles::say(reason);
        return Failed;
    };

    const QString base = modAutoUpdateV1_Launcher::UpdateBaseUrl(updateHost(folder));
    const QString versionUrl = base + exeName + QStringLiteral("_lastver.txt");
    const HttpClient::Response version = HttpClient::get(versionUrl, textRequest());
    if (!version.answered)
        return fail(QStringLiteral("no answer for %1: %2").arg(versionUrl, version.error));
    const QString latestText = QString::fromLatin1(version.body).trimmed();
    if (version.status != 200 || !isRevision(latestText))
        return fail(
            QStringLiteral("unreadable latest revision in %1 (HTTP %2)").arg(versionUrl).arg(version.status));
    const int latest = latestText.toInt();
    if (latest <= running) {
        UpdateFiles::say(
            QStringLiteral("no newer build (the server has %1, this is %2)").arg(latest).arg(running));
        return 0;
    }

    // A published checksum is checked; 404 says there is none.
    const QString sumUrl = base + exeName + QStringLiteral(".sha256");
    const HttpClient::Response sum = HttpClient::get(sumUrl, textRequest());
    std::optional<QByteArray> expected;
    if (!sum.answered)
        return fail(QStringLiteral("no answer for %1: %2").arg(sumUrl, sum.error));
    if (sum.status == 200) {
        expected = UpdateFiles::parseSha256(sum.body);
        if (!expected)
            return fail(QStringLiteral("unreadable checksum in %1").arg(sumUrl));
    } else if (sum.status != 404) {
        return fail(QStringLiteral("HTTP %1 for %2").arg(sum.status).arg(sumUrl));
    }

    const QString buildUrl = base + exeName;
    if (!HttpClient::downloadToFile(buildUrl, partFile, buildDownload()))
        return fail(QStringLiteral("the download of %1 failed or was cut short").arg(buildUrl));
    if (const QString problem = UpdateFiles::executableProblem(partFile); !problem.isEmpty())
        return fail(QStringLiteral("the download of %1 is %2").arg(buildUrl, problem));
    if (expected && UpdateFiles::sha256Of(partFile) != expected)
        return fail(QStringLiteral("the download of %1 does not match its SHA-256").arg(buildUrl));
    if (!UpdateFiles::makeExecutable(partFile) || !UpdateFiles::replace(partFile, newFile))
        return fail(QStringLiteral("cannot put New_%1 in place").arg(exeName));
    UpdateFiles::say(QStringLiteral("revision %1 is ready as New_%2").arg(latest).arg(exeName));
    return 0;
}
