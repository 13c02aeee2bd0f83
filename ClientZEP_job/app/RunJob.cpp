#include "RunJob.h"

#include "Clock.h"
#include "Deployment.h"
#include "ProgramInfo.h"
#include "Startup.h"
#include "VbError.h"
#include "modMain.h"

#include <cstdio>

namespace RunJob {

const QList<Job>& Jobs() {
    static const QList<Job> jobs = {
        {QStringLiteral("disk-space"), QStringLiteral("the servers' disk-space report (09:05)")},
        {QStringLiteral("remove-2"),
         QStringLiteral("the \"_2\" removal (09:10 Wed/Thu). It does the real work: renames\n"
                        "              the files on the web host's FTP server, updates the web database")},
        {QStringLiteral("db-backup"), QStringLiteral("the DB backup check on the backup FTP server (11:00)")},
        {QStringLiteral("cs-backup"),
         QStringLiteral("the CS backup download check under CSBackupPath (14:00)")},
    };
    return jobs;
}

std::optional<QString> run(const QString& name, const Scheduler::Jobs& jobs) {
    QString report;
    if (name == QLatin1String("disk-space"))
        report = jobs.ServersHDDFreeCheck();
    else if (name == QLatin1String("remove-2"))
        jobs.FTP_2RemoveBatch(report);
    else if (name == QLatin1String("db-backup"))
        jobs.DB_BackupCheck(report);
    else if (name == QLatin1String("cs-backup"))
        jobs.CSDB_DownloadCheck(report);
    else
        return std::nullopt;
    return report;
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
        report = run(name, Scheduler::Jobs::real(context));
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
