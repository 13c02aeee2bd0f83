#pragma once

#include "CommandInterpreter.h"
#include "JobContext.h"

#include <QString>
#include <functional>
#include <optional>

// The long chat commands run a moment after their acknowledgement, from the work timer's tick: this takes the
// queued job, runs it to its end, frees the command lock and says what to send. frmMain sends it.
namespace CommandJobRunner {

// What a finished job asks to send.
struct Message {
    QString recipient;
    QString text;
    int code;
};

// The jobs behind the commands.
struct Jobs {
    // The self-update; returns only when no update was applied (an applied one ends the program).
    std::function<bool()> RunAutoUpdate;
    std::function<bool(QString&)> FTP_2RemoveBatch;

    // The real jobs, against the servers of `context` (kept by reference).
    static Jobs real(const JobContext& context);
};

// The notice for the requester of a self-update that applied nothing.
QString NoUpdateNotice();

// Runs the job `job` holds, if any, and clears it, also when the job raises (the error goes on to the
// caller).
std::optional<Message> tmrWork_Timer(CommandJob& job, const Jobs& jobs);

} // namespace CommandJobRunner
