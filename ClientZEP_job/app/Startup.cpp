#include "Startup.h"

#include "Deployment.h"
#include "ErrorLog.h"

#include <cstdio>

namespace Startup {

void stateLine(const QString& line) {
    std::fprintf(stderr, "ClientZEP_job: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
}

void reportDeploymentIssues(const DeploymentFile& deployment, const QString& path) {
    for (const DeploymentIssue& issue : deployment.issues) {
        const QString text = issue.text(path);
        ErrorLog::WriteToFile(text);
        stateLine(text);
    }
}

} // namespace Startup
