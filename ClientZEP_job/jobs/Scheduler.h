#pragma once

#include "JobCatalogue.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <optional>

// The fixed daily schedule of the maintenance jobs (JobCatalogue::Schedule), run from the once-a-minute tick
// while the bot is logged in. It decides which job runs and who gets its report; the bot sends the report.
namespace Scheduler {

using JobCatalogue::AdminRecipient;
using JobCatalogue::RemovalRecipient;
using JobCatalogue::ReportPacketCode;

struct Report {
    QString recipient;
    QString text;
};

// Weekdays as the schedule counts them: 1 Sunday ... 7 Saturday.
int weekdayOf(QDate day);

// The row of the schedule for the weekday and the minute of `now`, if any.
std::optional<JobCatalogue::ScheduleRow> rowAt(const QDateTime& now);

// One tick at `now`: runs, through `run`, the row of the schedule that matches the weekday and the minute, if
// any, and gives the report to send. A row that needs users online is skipped when few are.
std::optional<Report> tmrSchedule_Timer(const QDateTime& now, bool fewUsersOnline,
                                        const JobCatalogue::Runner& run);

// The "test2" button: the DB backup report for the administrator, at any time.
Report cmdTest_Click(const JobCatalogue::Runner& run);

// A tick that comes late (the thread blocked by a long job, a slow server, a message box) must not cost the
// entries of the minutes it skipped, and no minute may run twice.
inline constexpr int MaxCatchUpMinutes = 24 * 60;

// Which minutes each tick of the schedule timer covers: every minute since the one the previous tick
// covered, in order, each once. Minutes before the timer's start (while logged out) are never covered.
class TickMinutes {
public:
    // The timer has just been started at `at`.
    void start(const QDateTime& at);
    // The minutes (seconds cleared) that the tick at `now` must run through tmrSchedule_Timer, oldest first.
    // The first tick after the start covers its own minute when it falls into the start's minute, and
    // otherwise the minutes after the start's up to its own. A later tick covers the minutes after the
    // previous tick's up to its own: none for a second tick in the same minute, at most MaxCatchUpMinutes
    // (the latest) after a long gap. A clock set back covers its own minute alone, as a first tick would.
    QList<QDateTime> due(const QDateTime& now);

private:
    QDateTime started_;
    std::optional<QDateTime> last_;
};

} // namespace Scheduler
