#pragma once

#include "JobContext.h"

#include <QDateTime>
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

} // namespace Scheduler
