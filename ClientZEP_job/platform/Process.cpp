#include "Process.h"

#include <QProcess>

namespace Process {

bool startDetached(const QString& program, const QStringList& arguments) {
    return QProcess::startDetached(program, arguments);
}

bool openFolder(const QString& folder) {
    return startDetached(QStringLiteral("xdg-open"), {folder});
}

} // namespace Process
