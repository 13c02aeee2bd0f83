#include "SiblingTool.h"

#include "ErrorLog.h"
#include "ExecGate.h"

#include <QFileInfo>

namespace SiblingTool {

QString CodeUpdaterFileName() {
    return QStringLiteral("인증코드갱신툴.exe");
}

QString StartCodeUpdater(const QString& folder) {
    const QFileInfo tool(folder + QLatin1Char('/') + CodeUpdaterFileName());
    if (!tool.exists() && !tool.isSymLink())
        return QString();
    const QString why = ExecGate::StartSigned(folder, CodeUpdaterFileName());
    if (why.isEmpty())
        return QString();
    const QString refusal = QStringLiteral("%1 does not run: %2").arg(CodeUpdaterFileName(), why);
    ErrorLog::WriteToFile(refusal);
    return refusal;
}

} // namespace SiblingTool
