#include "SiblingTool.h"

#include "Process.h"

#include <QFileInfo>

namespace SiblingTool {

QString CodeUpdaterFileName() {
    return QStringLiteral("인증코드갱신툴.exe");
}

bool StartCodeUpdater(const QString& folder) {
    const QString path = folder + QLatin1Char('/') + CodeUpdaterFileName();
    if (!QFileInfo(path).isFile())
        return false;
    return Process::startDetached(path);
}

} // namespace SiblingTool
