#include "modAutoUpdateV1_Launcher.h"

#include "MessageBox.h"
#include "NumericText.h"
#include "Process.h"
#include "ProgramInfo.h"
#include "ServiceManager.h"
#include "VbError.h"
#include "Version.h"
#include "modAutoUpdateV1_Download.h"
#include "modFile.h"
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

// A downloaded sibling program must be executable to be run.
void makeExecutable(const QString& path) {
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner | QFileDevice::ExeGroup |
                                    QFileDevice::ExeOther);
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

bool AutoUpdaterSelfUpdate(const QString& autoUpdateHost) {
    const QString path = inFolder(Checker);
    const QString localBuild =
        fileExists(path) ? buildOf(modFile::GetFileVer(path, true, true)) : QStringLiteral("0");
    const QString versionFile =
        Checker.left(Checker.lastIndexOf(QLatin1Char('.'))) + QStringLiteral("_lastver.txt");
    const QString base = UpdateBaseUrl(autoUpdateHost);

    const QString remote = modAutoUpdateV1_Download::ReadUrlText(base + versionFile);
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

    if (!modAutoUpdateV1_Download::DownloadUrlToFile(base + Checker, path))
        return false;
    makeExecutable(path);
    const QString changer = inFolder(Changer);
    if (!modAutoUpdateV1_Download::DownloadUrlToFile(base + Changer, changer))
        return false;
    makeExecutable(changer);
    return true;
}

bool RunAutoUpdate(bool skipUpdaterCheck, const QString& autoUpdateHost,
                   const std::function<void()>& endProcess) {
    if (!skipUpdaterCheck && !AutoUpdaterSelfUpdate(autoUpdateHost))
        return false;

    const QString checker = inFolder(Checker);
    const QString exeName = ProgramInfo::exeName();
    if (!QDir(ProgramInfo::folder()).entryList(QDir::Files).contains(exeName))
        return false;

    modWaitProc::RunAndWait(checker, 0, QString::number(Version::Revision) + QLatin1Char(';') + exeName,
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
        if (Process::run(changer, changerArguments, ProgramInfo::folder(), ChangerWaitMs) != 0)
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
