#include "Scheduler.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

// Jobs that say which of them ran; the removal's outcome is chosen per case.
struct CountingJobs {
    QStringList ran;
    bool renamed = false;

    Scheduler::Jobs jobs() {
        return Scheduler::Jobs{
            [this] { return ran << "disk", QStringLiteral("disk report"); },
            [this](QString& report) { return ran << "removal", report = "removal report", renamed; },
            [this](QString& report) { return ran << "backup", report = "backup report", true; },
            [this](QString& report) { ran << "cs", report = "cs report"; },
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

} // namespace
