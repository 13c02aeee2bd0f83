#pragma once

#include "CommandInterpreter.h"
#include "JobCatalogue.h"

#include <QString>
#include <optional>

// The long chat commands run a moment after their acknowledgement, from the work timer's tick: this takes the
// queued job, runs it to its end, frees the command lock and says what to send. The bot sends it.
namespace CommandJobRunner {

// What a finished job asks to send.
struct Message {
    QString recipient;
    QString text;
    int code;
};

// Runs the job `job` holds, if any, through `run`, and clears it, also when the job raises (the error goes on
// to the caller).
std::optional<Message> tmrWork_Timer(CommandJob& job, const JobCatalogue::Runner& run);

} // namespace CommandJobRunner
