#include "CommandJobRunner.h"

#include "TestSupport.h"
#include "VbError.h"

#include <gtest/gtest.h>

namespace {

TEST(CommandJobRunnerTest, RunsTheQueuedJobAndFreesTheLock) {
    struct Case {
        qint16 workJob;
        bool updateApplied;
        QStringList ran;
        std::optional<CommandJobRunner::Message> sent;
    };
    const QString notice = QStringLiteral("이미 최신버전이거나, 업데이트를 실패했습니다.");
    const Case cases[] = {
        {0, false, {}, std::nullopt},
        {1, false, {"update"}, CommandJobRunner::Message{"17", notice, 1}},
        // An applied update ends the program inside the call; were it to return true, nothing is said.
        {1, true, {"update"}, std::nullopt},
        {2, false, {"removal"}, CommandJobRunner::Message{"-1", "removal report", 2}},
        {7, false, {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.workJob);
        QStringList ran;
        const JobCatalogue::Runner jobs = [&](JobCatalogue::JobId id) -> JobCatalogue::JobResult {
            if (id == JobCatalogue::JobId::SelfUpdate) {
                ran << "update";
                return {QString(), c.updateApplied};
            }
            ran << "removal";
            return {"removal report", false};
        };
        CommandJob job;
        job.WorkJob = c.workJob;
        job.WorkJobRequester = "17";
        const auto sent = CommandJobRunner::tmrWork_Timer(job, jobs);
        EXPECT_EQ(ran, c.ran);
        EXPECT_EQ(job.WorkJob, 0);
        ASSERT_EQ(sent.has_value(), c.sent.has_value());
        if (sent) {
            EXPECT_EQ(sent->recipient, c.sent->recipient);
            EXPECT_EQ(sent->text, c.sent->text);
            EXPECT_EQ(sent->code, c.sent->code);
        }
    }
}

TEST(CommandJobRunnerTest, AJobThatRaisesStillFreesTheLock) {
    // Both jobs raise, as the removal does past 32,767 renames of one outcome.
    const auto overflow = [] {
        throw VbError(VbErrors::Overflow, QStringLiteral("modJobFTP"),
                      VbErrors::describe(VbErrors::Overflow));
    };
    const JobCatalogue::Runner jobs = [&](JobCatalogue::JobId) -> JobCatalogue::JobResult {
        overflow();
        return {};
    };
    for (const qint16 workJob : {qint16(1), qint16(2)}) {
        SCOPED_TRACE(workJob);
        CommandJob job;
        job.WorkJob = workJob;
        job.WorkJobRequester = "17";
        try {
            CommandJobRunner::tmrWork_Timer(job, jobs);
            ADD_FAILURE() << "the error must reach the caller, which logs it";
        } catch (const VbError& e) {
            EXPECT_EQ(e.number(), VbErrors::Overflow);
        }
        EXPECT_EQ(job.WorkJob, 0);
    }
}

} // namespace
