#include "Scheduler.h"

namespace Scheduler {
namespace {

QDateTime minuteOf(const QDateTime& at) {
    return at.addMSecs(-(at.time().second() * 1000 + at.time().msec()));
}

} // namespace

int weekdayOf(QDate day) {
    return day.dayOfWeek() % 7 + 1;
}

std::optional<JobCatalogue::ScheduleRow> rowAt(const QDateTime& now) {
    const int weekday = weekdayOf(now.date());
    const QTime minute(now.time().hour(), now.time().minute());
    for (const JobCatalogue::ScheduleRow& row : JobCatalogue::Schedule())
        if (row.time == minute && (row.weekday == 0 || row.weekday == weekday))
            return row;
    return std::nullopt;
}

std::optional<Report> tmrSchedule_Timer(const QDateTime& now, bool fewUsersOnline,
                                        const JobCatalogue::Runner& run) {
    const auto row = rowAt(now);
    if (!row || (row->needsUsersOnline && fewUsersOnline))
        return std::nullopt;
    const JobCatalogue::JobResult result = run(row->job);
    if (row->onlyWhenSucceeded && !result.succeeded)
        return std::nullopt;
    return Report{row->recipient, result.report};
}

Report cmdTest_Click(const JobCatalogue::Runner& run) {
    return Report{AdminRecipient, run(JobCatalogue::JobId::DbBackup).report};
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
