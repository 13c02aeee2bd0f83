#include "RunJob.h"

#include "Clock.h"
#include "Deployment.h"
#include "ProgramInfo.h"
#include "Startup.h"
#include "VbError.h"
#include "modMain.h"

#include <cstdio>

namespace RunJob {

QList<Job> Jobs() {
    QList<Job> jobs;
    for (const JobCatalogue::Job& job : JobCatalogue::Jobs())
        if (!job.runJobName.isEmpty())
            jobs.append({job.runJobName, job.summary});
    return jobs;
}

std::optional<QString> run(const QString& name, const JobCatalogue::Runner& runner) {
    for (const JobCatalogue::Job& job : JobCatalogue::Jobs())
        if (!job.runJobName.isEmpty() && job.runJobName == name)
            return runner(job.id).report;
    return std::nullopt;
}

QByteArray printable(const QString& report) {
    return QString(report).replace(QLatin1String("\r\n"), QLatin1String("\n")).toUtf8() + '\n';
}

int main(const QString& name) {
    QStringList names;
    for (const Job& job : Jobs())
        names << job.name;
    if (!names.contains(name)) {
        Startup::stateLine(
            QStringLiteral("no job called \"%1\"; the jobs are %2").arg(name, names.join(", ")));
        return 2;
    }

    const QString folder = ProgramInfo::folder();
    const DeploymentFile deployment = Deployment::read(folder);
    Startup::reportDeploymentIssues(deployment, Deployment::path(folder));
    modMain::ResolveAtStartup(deployment.values);

    const JobContext context = modMain::JobServers(Clock::system(), deployment.values);
    std::optional<QString> report;
    try {
        report = run(name, [&](JobCatalogue::JobId id) { return JobCatalogue::job(id).run(context); });
    } catch (const VbError& e) {
        Startup::stateLine(QStringLiteral("the job %1 stopped: Error %2 (%3)")
                               .arg(name)
                               .arg(e.number())
                               .arg(e.description()));
        return 1;
    } catch (const std::exception& e) {
        Startup::stateLine(
            QStringLiteral("the job %1 stopped: %2").arg(name, QString::fromLocal8Bit(e.what())));
        return 1;
    }
    const QByteArray text = printable(*report);
    if (std::fwrite(text.constData(), 1, size_t(text.size()), stdout) != size_t(text.size()) ||
        std::fflush(stdout) != 0) {
        Startup::stateLine(
            QStringLiteral("the report of %1 could not be written to standard output").arg(name));
        return 1;
    }
    return 0;
}

} // namespace RunJob
