#include "ProgramInfo.h"

#include "Version.h"

#include <QCoreApplication>
#include <QFileInfo>

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
    return QCoreApplication::applicationDirPath();
}

QString exeName() {
    return QFileInfo(QCoreApplication::applicationFilePath()).fileName();
}

QString versionText() {
    return QStringLiteral("%1.%2.%3").arg(Version::Major).arg(Version::Minor).arg(Version::Revision);
}

void setFolder(const QString& path) {
    folderOverride() = path;
}

} // namespace ProgramInfo
