#include "CommandJobRunner.h"

#include "ChatCommands.h"

namespace CommandJobRunner {

std::optional<Message> tmrWork_Timer(CommandJob& job, const JobCatalogue::Runner& run) {
    // The lock is freed on every way out, a job that raises included: the caller's guard logs the error,
    // and the next long command must not be answered "busy" until a restart.
    struct FreeLock {
        CommandJob& job;
        ~FreeLock() { job.WorkJob = 0; }
    } freeLock{job};

    const ChatCommands::Command* command = ChatCommands::queuedAs(job.WorkJob);
    if (command == nullptr || !command->job)
        return std::nullopt;
    const JobCatalogue::Job& entry = JobCatalogue::job(*command->job);
    // A report goes out whatever the job achieved; the requester has had the acknowledgement.
    const JobCatalogue::JobResult result = run(entry.id);
    const QString text = entry.failureNotice.isEmpty() ? result.report
                         : result.succeeded            ? QString()
                                                       : entry.failureNotice;
    if (text.isEmpty())
        return std::nullopt;
    const QString recipient =
        entry.commandRecipient.isEmpty() ? job.WorkJobRequester : entry.commandRecipient;
    return Message{recipient, text, entry.commandCode};
}

} // namespace CommandJobRunner
