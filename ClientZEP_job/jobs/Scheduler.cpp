#include "Scheduler.h"

#include "modJobFTP.h"
#include "modJobMain.h"

namespace Scheduler {
namespace {

QDateTime minuteOf(const QDateTime& at) {
    return at.addMSecs(-(at.time().second() * 1000 + at.time().msec()));
}

} // namespace

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

void TickMinutes::start(const QDateTime& at) {
    started_ = minuteOf(at);
    last_.reset();
}

QList<QDateTime> TickMinutes::due(const QDateTime& now) {
    const QDateTime minute = minuteOf(now);
    QDateTime after; // the minutes after this one are due, up to `minute`
    if (!last_) {
        if (!started_.isValid() || minute <= started_)
            after = minute.addSecs(-60);
        else
            after = started_;
    } else if (minute < *last_) {
        after = minute.addSecs(-60);
    } else {
        after = *last_;
    }
    last_ = minute;

    QList<QDateTime> minutes;
    const qint64 gap = after.secsTo(minute) / 60;
    for (qint64 back = std::min<qint64>(gap, MaxCatchUpMinutes) - 1; back >= 0; --back)
        minutes.append(minute.addSecs(-60 * back));
    return minutes;
}

} // namespace Scheduler
