#pragma once

#include "JobContext.h"

#include <QList>
#include <QString>
#include <QTime>
#include <functional>

// Every job the bot runs, each declared once, and the daily schedule as rows. The schedule, the command
// runner, "--run-job", its help and the status line all read them from here: a new job is one entry in
// Jobs() and, when it runs daily, one row in Schedule().
namespace JobCatalogue {

enum class JobId { DiskSpace, Remove2, DbBackup, CsBackup, SelfUpdate };

// What every job gives back: the report to send (empty: nothing to send) and whether it achieved what it
// is for (a rename made, the check run to its end, an update applied).
struct JobResult {
    QString report;
    bool succeeded = false;
};

struct Job {
    JobId id;
    QString runJobName = {}; // "--run-job <name>"; empty for a job only a chat command starts
    QString summary = {};    // its line in the help of --run-job
    QString status = {};     // what the status line says while it runs: "running <status>"
    std::function<JobResult(const JobContext&)> run;
    // Started by a chat command (its row in ChatCommands names the job), what then goes out: its report, or
    // with a `failureNotice` that notice when it did not succeed (and nothing when it did), to
    // `commandRecipient`, or to the requester when that is empty, with `commandCode`.
    QString commandRecipient = {};
    int commandCode = 0;
    QString failureNotice = {};
};

// Runs one job to its end; the schedule and the command runner are given one, so that the caller decides
// what a run means (the real jobs with their status line, or a test's).
using Runner = std::function<JobResult(JobId)>;

// Every job, in the order of the day.
const QList<Job>& Jobs();
const Job& job(JobId id);

// Reports travel with this packet code, chat lines with the other.
inline constexpr int ReportPacketCode = 2;
inline constexpr int ChatPacketCode = 1;
// The administrator: disk-space, DB backup and CS download reports, and the test button's.
inline const QString AdminRecipient = QStringLiteral("92");
// The "_2" removal report.
inline const QString RemovalRecipient = QStringLiteral("-1");

// One entry of the daily schedule: at `time` on `weekday` (1 Sunday ... 7 Saturday; 0 every day) the job
// runs, unless it needs enough users online and few are; its report goes to `recipient`, always or only
// when the job succeeded. When its minute passed without a login, it runs after the next login of the day
// when `runsLate`; otherwise its recipient is told that it did not run.
struct ScheduleRow {
    QTime time;
    int weekday;
    bool needsUsersOnline;
    JobId job;
    QString recipient;
    bool onlyWhenSucceeded;
    bool runsLate = true;
};

// The rows, in the order of the day; at most one matches a minute.
const QList<ScheduleRow>& Schedule();

} // namespace JobCatalogue
