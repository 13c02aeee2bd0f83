#include "Startup.h"

#include "Deployment.h"
#include "ErrorLog.h"

#include <cstdio>

namespace Startup {

void stateLine(const QString& line, Journal::Priority priority, const Journal::Fields& fields) {
    static const bool journal = Journal::standardErrorIsJournal();
    if (journal && Journal::send("ClientZEP_job", priority, line, fields))
        return;
    // The journal's stream takes a "<n>" in front of a line as its priority.
    const QByteArray level =
        journal ? QByteArray("<") + QByteArray::number(int(priority)) + '>' : QByteArray();
    std::fprintf(stderr, "%sClientZEP_job: %s\n", level.constData(), line.toUtf8().constData());
    std::fflush(stderr);
}

void reportDeploymentIssues(const DeploymentFile& deployment, const QString& path) {
    for (const DeploymentIssue& issue : deployment.issues) {
        const QString text = issue.text(path);
        ErrorLog::WriteToFile(text);
        if (!ErrorLog::observed()) // else the observer has told already
            stateLine(text, Journal::Err);
    }
}

} // namespace Startup
