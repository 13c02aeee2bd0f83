#include "modWaitProc.h"

#include "ServiceManager.h"

#include <QProcess>

namespace modWaitProc {

void RunAndWait(const QString& file, qint32, const QString& parameters, const QString& directory, bool,
                bool) {
    QProcess process;
    process.setProgram(file);
    process.setArguments(QProcess::splitCommand(parameters));
    if (!directory.isEmpty())
        process.setWorkingDirectory(directory);
    // Never a pipe nobody reads, where a talkative child would block for ever: its errors go to ours (the
    // journal when run as a service), the rest is dropped as a program without a console would drop it.
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return;
    // The wait is part of the work (the update checker may download for minutes): a service manager's
    // watchdog is told the program is alive meanwhile.
    while (!process.waitForFinished(1000) && process.state() != QProcess::NotRunning)
        ServiceManager::feedWatchdog();
}

} // namespace modWaitProc
