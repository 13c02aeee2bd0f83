// VerProbeV1: the update checker. The bot runs it in its program folder as "VerProbeV1.exe <revision>;<exe
// name>" and waits for it. When the update server names a higher revision of that program in
// "<exe name>_lastver.txt", the checker fetches "<exe name>" with its signature "<exe name>.minisig", checks
// that the release key signed it as "<exe name> <version text>" and that it is an ELF program for this
// machine, and only then leaves it executable as "New_<exe name>" (with "New_<exe name>.minisig") beside the
// bot, for the file changer. Whatever goes wrong leaves no file behind and one line in the error log; every
// request is bounded in time and size. One line on standard error says what happened; the exit status is 0
// unless something failed.

#include "Deployment.h"
#include "ErrorLog.h"
#include "HttpClient.h"
#include "ProgramInfo.h"
#include "ReleaseSignature.h"
#include "UpdateFiles.h"
#include "modAutoUpdateV1_Download.h"
#include "modAutoUpdateV1_Launcher.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace {

constexpr int Failed = 1;
constexpr int Usage = 2;

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
    const QString signatureFile = newFile + QStringLiteral(".minisig");

    // A file left by an earlier run must not pass for this run's answer.
    for (const QString& stale : {newFile, signatureFile}) {
        if (QFileInfo::exists(stale) && !QFile::remove(stale)) {
            UpdateFiles::say(QStringLiteral("cannot remove the old %1").arg(QFileInfo(stale).fileName()));
            return Failed;
        }
    }
    const auto fail = [&](const QString& reason) {
        UpdateFiles::say(reason);
        return Failed;
    };
    // A refused build: the error log beside the bot names it and says why.
    const auto refuse = [&](const QString& version, const QString& reason) {
        ErrorLog::WriteToFile(QStringLiteral("self-update: %1 %2 refused: %3").arg(exeName, version, reason));
        return fail(QStringLiteral("%1 %2 refused: %3").arg(exeName, version, reason));
    };

    const Deployment deployment = Deployment::load(folder);
    const ReleaseSignature::TrustRoot trust = ReleaseSignature::trustRoot(deployment.UpdatePublicKey);
    if (!trust.key) {
        ErrorLog::WriteToFile(QStringLiteral("self-update: nothing downloaded: ") + trust.problem);
        return fail(QStringLiteral("nothing downloaded: ") + trust.problem);
    }
    const QString base =
        modAutoUpdateV1_Launcher::UpdateBaseUrl(modAutoUpdateV1_Launcher::UpdateServerHost(deployment));
    const QString versionUrl = base + exeName + QStringLiteral("_lastver.txt");
    const HttpClient::Response version =
        HttpClient::get(versionUrl, modAutoUpdateV1_Download::TextRequest(deployment.httpTls()));
    if (!version.answered)
        return fail(QStringLiteral("no answer for %1: %2").arg(versionUrl, version.error));
    const QString latestText = ReleaseSignature::versionText(QString::fromLatin1(version.body));
    if (version.status != 200 || !isRevision(latestText))
        return fail(
            QStringLiteral("unreadable latest revision in %1 (HTTP %2)").arg(versionUrl).arg(version.status));
    const int latest = latestText.toInt();
    if (latest <= running) {
        UpdateFiles::say(
            QStringLiteral("no newer build (the server has %1, this is %2)").arg(latest).arg(running));
        return 0;
    }

    const auto release =
        modAutoUpdateV1_Download::FetchRelease(base, exeName, latestText, *trust.key, deployment.httpTls());
    if (!release.body)
        return refuse(latestText, release.problem);
    // Signed, and still checked: a release for another machine would not run here.
    if (const QString problem = UpdateFiles::executableProblem(*release.body); !problem.isEmpty())
        return refuse(latestText, problem);
    if (!modAutoUpdateV1_Download::InstallRelease(newFile, release))
        return fail(QStringLiteral("cannot put New_%1 in place").arg(exeName));
    UpdateFiles::say(QStringLiteral("revision %1 is ready as New_%2").arg(latest).arg(exeName));
    return 0;
}
