#include "CommandJobRunner.h"

#include "Scheduler.h"
#include "modAutoUpdateV1_Launcher.h"
#include "modJobFTP.h"

namespace CommandJobRunner {

Jobs Jobs::real(const JobContext& context) {
    return Jobs{
        [&context] {
            return modAutoUpdateV1_Launcher::RunAutoUpdate(false, context.autoUpdate, context.updateKey);
        },
        [&context](QString& report) { return modJobFTP::FTP_2RemoveBatch(report, context); },
    };
}

QString NoUpdateNotice() {
    return QStringLiteral("이미 최신버전이거나, 업데이트를 실패했습니다.");
}

std::optional<Message> tmrWork_Timer(CommandJob& job, const Jobs& jobs) {
    // The lock is freed on every way out, a job that raises included: the caller's guard logs the error,
    // and the next long command must not be answered "busy" until a restart.
    struct FreeLock {
        CommandJob& job;
        ~FreeLock() { job.WorkJob = CommandJob::None; }
    } freeLock{job};

    std::optional<Message> message;
    if (job.WorkJob == CommandJob::SelfUpdate) {
        if (!jobs.RunAutoUpdate())
            message = Message{job.WorkJobRequester, NoUpdateNotice(), 1};
    } else if (job.WorkJob == CommandJob::Remove2) {
        // The report goes out whatever the removal achieved; the requester has had the acknowledgement.
        QString report;
        jobs.FTP_2RemoveBatch(report);
        message = Message{Scheduler::RemovalRecipient, report, Scheduler::ReportPacketCode};
    }
    return message;
}

} // namespace CommandJobRunner
