#include "Scheduler.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Jobs that say which of them ran; the removal's outcome is chosen per case.
struct CountingJobs {
    QStringList ran;
    bool renamed = false;

    JobCatalogue::Runner jobs() {
        return [this](JobCatalogue::JobId id) -> JobCatalogue::JobResult {
            using enum JobCatalogue::JobId;
            const char* name = id == DiskSpace  ? "disk"
                               : id == Remove2  ? "removal"
                               : id == DbBackup ? "backup"
                                                : "cs";
            ran << name;
            return {QStringLiteral("%1 report").arg(QLatin1String(name)), id != Remove2 || renamed};
        };
    }
};

// 2026-12-06 is a Sunday.
QDateTime at(int dayOfDecember, const char* time) {
    return QDateTime(QDate(2026, 12, dayOfDecember), QTime::fromString(QLatin1String(time), "HH:mm:ss"));
}

TEST(SchedulerTest, EveryEntryOfTheDay) {
    enum Day { Sun = 6, Mon, Tue, Wed, Thu, Fri, Sat };
    struct Case {
        int day;
        const char* time;
        bool few;
        bool renamed;
        QStringList ran;
        QString recipient; // empty: nothing sent
        QString text;
    };
    const Case cases[] = {
        {Mon, "09:04:59", false, false, {}, {}, {}},
        {Mon, "09:05:00", false, false, {"disk"}, "92", "disk report"},
        {Sat, "09:05:59", true, false, {"disk"}, "92", "disk report"},
        {Mon, "09:06:00", false, false, {}, {}, {}},
        {Wed, "09:10:00", false, false, {"removal"}, "-1", "removal report"},
        {Wed, "09:10:30", false, true, {"removal"}, "-1", "removal report"},
        {Wed, "09:10:00", true, true, {}, {}, {}},
        {Thu, "09:10:00", false, true, {"removal"}, "-1", "removal report"},
        {Thu, "09:10:00", false, false, {"removal"}, {}, {}},
        {Thu, "09:10:00", true, true, {}, {}, {}},
        {Sun, "09:10:00", false, true, {}, {}, {}},
        {Mon, "09:10:00", false, true, {}, {}, {}},
        {Tue, "09:10:00", false, true, {}, {}, {}},
        {Fri, "09:10:00", false, true, {}, {}, {}},
        {Sat, "09:10:00", false, true, {}, {}, {}},
        {Sun, "11:00:00", true, false, {"backup"}, "92", "backup report"},
        {Tue, "14:00:59", false, false, {"cs"}, "92", "cs report"},
        {Tue, "23:59:00", false, false, {}, {}, {}},
        {Tue, "00:00:00", false, false, {}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "December " << c.day << " " << c.time << (c.few ? " few" : ""));
        CountingJobs counting;
        counting.renamed = c.renamed;
        const auto report = Scheduler::tmrSchedule_Timer(at(c.day, c.time), c.few, counting.jobs());
        EXPECT_EQ(counting.ran, c.ran);
        ASSERT_EQ(report.has_value(), !c.recipient.isEmpty());
        if (report) {
            EXPECT_EQ(report->recipient, c.recipient);
            EXPECT_EQ(report->text, c.text);
        }
    }
}

TEST(SchedulerTest, TestButtonSendsTheBackupReportAtAnyTime) {
    CountingJobs counting;
    const Scheduler::Report report = Scheduler::cmdTest_Click(counting.jobs());
    EXPECT_EQ(counting.ran, QStringList{"backup"});
    EXPECT_EQ(report.recipient, QStringLiteral("92"));
    EXPECT_EQ(report.text, QStringLiteral("backup report"));
}

// What a run of ticks hands to the schedule, minute by minute, and what the jobs did.
struct TickRun {
    QStringList minutes; // "dd HH:mm" of every minute the ticks covered
    QStringList ran;
    QStringList sent; // recipient ":" text
};

TickRun runTicks(const char* startAt, const QList<const char*>& ticks, int day = 9, bool renamed = true) {
    // 2026-12-09 is a Wednesday.
    CountingJobs counting;
    counting.renamed = renamed;
    const JobCatalogue::Runner jobs = counting.jobs();
    Scheduler::TickMinutes minutes;
    minutes.start(at(day, startAt));
    TickRun run;
    for (const char* tick : ticks) {
        // A tick written "+1 00:00:10" falls on the next day.
        const bool nextDay = tick[0] == '+';
        for (const QDateTime& minute : minutes.due(at(day + (nextDay ? 1 : 0), nextDay ? tick + 3 : tick))) {
            EXPECT_EQ(minute.time().second(), 0);
            run.minutes << minute.toString("dd HH:mm");
            if (const auto report = Scheduler::tmrSchedule_Timer(minute, false, jobs))
                run.sent << report->recipient + ":" + report->text;
        }
    }
    run.ran = counting.ran;
    return run;
}

TEST(SchedulerTest, ASlippedTickRunsTheMinutesItSkippedEachOnce) {
    struct Case {
        const char* name;
        const char* start;
        QList<const char*> ticks;
        QStringList minutes;
        QStringList sent;
    };
    const Case cases[] = {
        {"ticks a minute apart cover one minute each",
         "09:04:20",
         {"09:05:20", "09:06:20"},
         {"09 09:05", "09 09:06"},
         {"92:disk report"}},
        {"a tick slipped past 09:05 still runs it",
         "09:03:30",
         {"09:04:30", "09:06:10"},
         {"09 09:04", "09 09:05", "09 09:06"},
         {"92:disk report"}},
        {"one long job skipping 09:05 and 09:10: both run, in order",
         "09:04:00",
         {"09:04:59", "09:11:30"},
         {"09 09:04", "09 09:05", "09 09:06", "09 09:07", "09 09:08", "09 09:09", "09 09:10", "09 09:11"},
         {"92:disk report", "-1:removal report"}},
        {"two ticks in one minute run it once",
         "09:04:00",
         {"09:05:00", "09:05:59"},
         {"09 09:05"},
         {"92:disk report"}},
        {"the start's minute is not run by a later first tick", "09:05:10", {"09:06:10"}, {"09 09:06"}, {}},
        {"a slipped first tick runs the minutes after the start",
         "09:04:50",
         {"09:07:01"},
         {"09 09:05", "09 09:06", "09 09:07"},
         {"92:disk report"}},
        {"a first tick within the start's minute runs that minute",
         "11:00:10",
         {"11:00:40", "11:00:50"},
         {"09 11:00"},
         {"92:backup report"}},
        {"a clock set back runs its own minute alone",
         "14:10:00",
         {"14:11:00", "14:00:30", "14:01:30"},
         {"09 14:11", "09 14:00", "09 14:01"},
         {"92:cs report"}},
        {"a slip over midnight runs the minutes of both days",
         "23:58:00",
         {"23:59:00", "+1 00:01:30"},
         {"09 23:59", "10 00:00", "10 00:01"},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TickRun run = runTicks(c.start, c.ticks);
        EXPECT_EQ(run.minutes, c.minutes);
        EXPECT_EQ(run.sent, c.sent);
    }

    // A gap of two days covers the latest day only, so each entry runs once.
    Scheduler::TickMinutes minutes;
    minutes.start(at(7, "08:00:00"));
    const QList<QDateTime> due = minutes.due(at(9, "08:00:00"));
    ASSERT_EQ(due.size(), Scheduler::MaxCatchUpMinutes);
    EXPECT_EQ(due.first(), at(8, "08:01:00"));
    EXPECT_EQ(due.last(), at(9, "08:00:00"));
}

TEST(SchedulerTest, CaughtUpMinutesKeepTheirGates) {
    // Thursday 2026-12-10: the removal of a slipped 09:10 is sent only after a successful rename; the
    // weekday is the skipped minute's, not the late tick's.
    EXPECT_EQ(runTicks("09:08:00", {"09:09:00", "09:12:00"}, 10, false).sent, QStringList{});
    EXPECT_EQ(runTicks("09:08:00", {"09:09:00", "09:12:00"}, 10, true).sent,
              QStringList{"-1:removal report"});
    const TickRun overMidnight = runTicks("09:09:00", {"09:09:30", "+1 09:10:30"}, 8); // Tuesday to Wednesday
    EXPECT_EQ(overMidnight.ran, QStringList({"backup", "cs", "disk", "removal"}));
}

} // namespace
