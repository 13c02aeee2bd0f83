#pragma once

#include "JobContext.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <functional>
#include <optional>

// The fixed daily schedule of the maintenance jobs, run from the once-a-minute tick while the bot is logged
// in. It decides which job runs and who gets its report; frmMain sends the report.
namespace Scheduler {

// Reports travel with this packet code.
inline constexpr int ReportPacketCode = 2;
// The administrator: disk-space, DB backup and CS download reports, and the test button's.
inline const QString AdminRecipient = QStringLiteral("92");
// The "_2" removal report.
inline const QString RemovalRecipient = QStringLiteral("-1");

// The jobs the schedule can run, each producing its report text.
struct Jobs {
    std::function<QString()> ServersHDDFreeCheck;
    std::function<bool(QString&)> FTP_2RemoveBatch;
    std::function<bool(QString&)> DB_BackupCheck;
    std::function<void(QString&)> CSDB_DownloadCheck;

    // The real jobs, against the servers of `context` (kept by reference).
    static Jobs real(const JobContext& context);
};

struct Report {
    QString recipient;
    QString text;
};

// One tick at `now`: runs the entry of the schedule that matches the weekday and the minute, if any, and
// gives the report to send. The "_2" removal runs on Wednesday and Thursday only when enough users are
// online; Thursday's report is sent only after at least one successful rename.
std::optional<Report> tmrSchedule_Timer(const QDateTime& now, bool fewUsersOnline, const Jobs& jobs);

// The "test2" button: the DB backup report for the administrator, at any time.
Report cmdTest_Click(const Jobs& jobs);

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
