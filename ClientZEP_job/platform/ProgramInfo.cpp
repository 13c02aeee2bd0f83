#include "ProgramInfo.h"

#include "Version.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <unistd.h>

namespace ProgramInfo {
namespace {
QString& folderOverride() {
    static QString path;
    return path;
}
} // namespace

QString folder() {
    if (!folderOverride().isEmpty())
        return folderOverride();
    // A service names its program folder: its program may run from elsewhere (the package's folder, or a
    // memory file after the signature check).
    if (const QString named = qEnvironmentVariable("ZEPJOB_PROGRAM_FOLDER"); !named.isEmpty())
        return named;
    return QCoreApplication::applicationDirPath();
}

QString exeName() {
    if (const QString named = qEnvironmentVariable("ZEPJOB_PROGRAM_NAME"); !named.isEmpty())
        return named;
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString runningImage() {
    char target[4096];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target);
    return n > 0 ? QFile::decodeName(QByteArray(target, qsizetype(n))) : QString();
}

QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(Version::Major).arg(Version::Minor).arg(Version::Revision);
}

void setFolder(const QString& path) {
    folderOverride() = path;
}

} // namespace ProgramInfo
