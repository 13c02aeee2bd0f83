#include "modAutoUpdateV1_Launcher.h"

#include "Deployment.h"
#include "ErrorLog.h"
#include "ExecGate.h"
#include "MessageBox.h"
#include "NumericText.h"
#include "Process.h"
#include "ProgramInfo.h"
#include "ServiceManager.h"
#include "VbError.h"
#include "Version.h"
#include "modAutoUpdateV1_Download.h"
#include "modFile.h"
#include "modServerAddressUtil.h"
#include "modWaitProc.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <cstdlib>

namespace modAutoUpdateV1_Launcher {
namespace {

const QString Checker = QStringLiteral("VerProbeV1.exe");
const QString Changer = QStringLiteral("swapfiles.exe");
const QString Module = QStringLiteral("modAutoUpdateV1_Launcher");

QString inFolder(const QString& name) {
    return ProgramInfo::folder() + QLatin1Char('/') + name;
}

// A plain file at `path`; hidden files are not found, as a directory listing would not show them.
bool fileExists(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && !info.isHidden();
}

void showTrapped(const VbError& e, const char* procedure) {
    MessageBox::show(VbErrors::trappedText(e, QLatin1String(procedure), QStringLiteral("Module"), Module));
}

// The part of a version text after its last ".", the whole text when it has none.
QString buildOf(const QString& version) {
    return version.mid(version.lastIndexOf(QLatin1Char('.')) + 1);
}

// Fetches the sibling program `name` of version `version` and puts it in place when its signature holds; an
// unverified one is never written, and the one in the folder stays.
bool updateSibling(const QString& base, const QString& name, const QString& version,
                   const ReleaseSignature::PublicKey& key, const Tls::Policy& tls) {
    const auto release = modAutoUpdateV1_Download::FetchRelease(base, name, version, key, tls);
    if (!release.body) {
        ErrorLog::WriteToFile(
            QStringLiteral("self-update: %1 %2 refused: %3").arg(name, version, release.problem));
        return false;
    }
    if (!modAutoUpdateV1_Download::InstallRelease(inFolder(name), release)) {
        ErrorLog::WriteToFile(QStringLiteral("self-update: %1 %2 cannot be put in place").arg(name, version));
        return false;
    }
    return true;
}

// The file changer swaps a build and checks it in seconds; under a service manager the bot waits for it.
constexpr int ChangerWaitMs = 60000;

[[noreturn]] void endNow(int status) {
    std::_Exit(status);
}

} // namespace

QString UpdateBaseUrl(const QString& autoUpdateHost) {
    return QStringLiteral("http://") + autoUpdateHost + QStringLiteral("/download/자동업데이트_v1/");
}

QString UpdateServerHost(const Deployment& deployment) {
    modServerAddressUtil::LoadServerDirectory();
    // Start-up's rule: a directory that came in clear names no host of a peer whose TLS is required.
    if (!modServerAddressUtil::MayNameHost(modServerAddressUtil::LoadedDirectoryVerified(),
                                           deployment.httpTls()))
        return deployment.AddrAutoUpdate;
    QString host;
    try {
        host = modServerAddressUtil::LookupServerHost(QStringLiteral("자동업데이트_런처"));
    } catch (const VbError&) {
        // A directory of the wrong shape: start-up used the default as well.
    }
    return host.isEmpty() ? deployment.AddrAutoUpdate : host;
}

bool AutoUpdaterSelfUpdate(const QString& autoUpdateHost, const ReleaseSignature::PublicKey& key,
                           const Tls::Policy& tls) {
    const QString path = inFolder(Checker);
    const QString localBuild =
        fileExists(path) ? buildOf(modFile::GetFileVer(path, true, true)) : QStringLiteral("0");
    const QString versionFile =
        Checker.left(Checker.lastIndexOf(QLatin1Char('.'))) + QStringLiteral("_lastver.txt");
    const QString base = UpdateBaseUrl(autoUpdateHost);

    const QString remote = modAutoUpdateV1_Download::ReadUrlText(base + versionFile, tls);
    if (remote.trimmed().isEmpty()) {
        MessageBox::show(Checker + QStringLiteral("의 최신버전 정보를 읽어올 수 없습니다!"));
        return false;
    }
    qint32 remoteBuild = 0;
    try {
        const auto build = NumericText::narrow<qint32>(NumericText::leadingNumber(remote));
        if (!build)
            throw VbError(VbErrors::Overflow, Module, VbErrors::describe(VbErrors::Overflow));
        remoteBuild = *build;
    } catch (const VbError& e) {
        showTrapped(e, "AutoUpdaterSelfUpdate");
    }
    if (NumericText::leadingNumber(localBuild) >= remoteBuild)
        return true;

    // Both programs are signed with the checker's version text: one release of the pair.
    const QString version = ReleaseSignature::versionText(remote);
    return updateSibling(base, Checker, version, key, tls) && updateSibling(base, Changer, version, key, tls);
}

bool RunAutoUpdate(bool skipUpdaterCheck, const QString& autoUpdateHost, const QString& publicKey,
                   const Tls::Policy& tls, const std::function<void()>& endProcess) {
    // Without the release key nothing fetched could be trusted, so nothing is fetched.
    const ReleaseSignature::TrustRoot trust = ReleaseSignature::trustRoot(publicKey);
    if (!trust.key) {
        ErrorLog::WriteToFile(QStringLiteral("self-update: nothing downloaded: ") + trust.problem);
        return false;
    }
    if (!skipUpdaterCheck && !AutoUpdaterSelfUpdate(autoUpdateHost, *trust.key, tls))
        return false;

    const QString exeName = ProgramInfo::exeName();
    if (!QDir(ProgramInfo::folder()).entryList(QDir::Files).contains(exeName))
        return false;

    // Under a service the folder's copy runs only with its signature, else the packaged one.
    modWaitProc::RunAndWait(ExecGate::Runnable(ProgramInfo::folder(), Checker), 0,
                            QString::number(Version::Revision) + QLatin1Char(';') + exeName,
                            ProgramInfo::folder(), false, false);

    if (!fileExists(inFolder(QStringLiteral("New_") + exeName)))
        return false;

    const QString changer = inFolder(Changer);
    const QStringList changerArguments = {exeName + QStringLiteral(";New_") + exeName};
    // The changer starts the bot again with the arguments it has now.
    const QStringList arguments =
        QCoreApplication::instance() ? QCoreApplication::arguments().mid(1) : QStringList();
    qputenv(ServiceManager::ArgumentsVariable, ServiceManager::encodeArguments(arguments));
    int status = 0;
    if (!fileExists(changer)) {
        MessageBox::show(QStringLiteral("파일교체 프로그램을 찾을 수 없습니다.\r\n\r\n") + changer);
        Process::openFolder(ProgramInfo::folder());
    } else if (ServiceManager::active()) {
        // The manager ends everything the bot started once the bot has ended, and starts the program again
        // itself: the changer swaps the build while the bot waits, and the bot then ends with a status that
        // asks for the restart. A changer that could not swap leaves the running build in place.
        if (Process::run(ExecGate::Runnable(ProgramInfo::folder(), Changer), changerArguments,
                         ProgramInfo::folder(), ChangerWaitMs) != 0)
            return false;
        status = ServiceManager::HandedOverExitStatus;
    } else if (!Process::startDetached(changer, changerArguments)) {
        showTrapped(
            VbError(VbErrors::PermissionDenied, Module, VbErrors::describe(VbErrors::PermissionDenied)),
            "RunAutoUpdate");
    }
    if (endProcess)
        endProcess();
    else
        endNow(status);
    return false;
}

} // namespace modAutoUpdateV1_Launcher
