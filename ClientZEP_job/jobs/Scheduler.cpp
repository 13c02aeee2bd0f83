#include "Scheduler.h"

#include "modJobFTP.h"
#include "modJobMain.h"

namespace Scheduler {

Jobs Jobs::real(const JobContext& context) {
    return Jobs{
        [&context] { return modJobMain::ServersHDDFreeCheck(context); },
        [&context](QString& report) { return modJobFTP::FTP_2RemoveBatch(report, context); },
        [&context](QString& report) { return modJobFTP::DB_BackupCheck(report, context); },
        [&context](QString& report) { modJobMain::CSDB_DownloadCheck(report, context); },
    };
}

std::optional<Report> tmrSchedule_Timer(const QDateTime& now, bool fewUsersOnline, const Jobs& jobs) {
    // Weekdays as the schedule counts them: 1 Sunday ... 7 Saturday.
    const int weekday = now.date().dayOfWeek() % 7 + 1;
    const QString time = now.time().toString(QStringLiteral("HH:mm"));
    constexpr int Wednesday = 4, Thursday = 5;

    if (time == QLatin1String("09:05"))
        return Report{AdminRecipient, jobs.ServersHDDFreeCheck()};
    if (time == QLatin1String("09:10")) {
        if ((weekday != Wednesday && weekday != Thursday) || fewUsersOnline)
            return std::nullopt;
        QString report;
        const bool renamed = jobs.FTP_2RemoveBatch(report);
        if (weekday == Thursday && !renamed)
            return std::nullopt;
        return Report{RemovalRecipient, report};
    }
    if (time == QLatin1String("11:00"))
        return cmdTest_Click(jobs);
    if (time == QLatin1String("14:00")) {
        QString report;
        jobs.CSDB_DownloadCheck(report);
        return Report{AdminRecipient, report};
    }
    return std::nullopt;
}

Report cmdTest_Click(const Jobs& jobs) {
    QString report;
    jobs.DB_BackupCheck(report);
    return Report{AdminRecipient, report};
}

} // namespace Scheduler
