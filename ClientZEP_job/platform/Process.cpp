#include "Process.h"

#include <QProcess>

namespace Process {

bool startDetached(const QString& program, const QStringList& arguments, const QString& directory) {
    return QProcess::startDetached(program, arguments, directory);
}

std::optional<int> run(const QString& program, const QStringList& arguments, const QString& directory,
                       int timeoutMs) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setWorkingDirectory(directory);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start();
    if (!process.waitForStarted())
        return std::nullopt;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return std::nullopt;
    return process.exitCode();
}

bool openFolder(const QString& folder) {
    return startDetached(QStringLiteral("xdg-open"), {folder});
}

} // namespace Process
