#pragma once

#include "Deployment.h"

#include <QString>

// The one command job that may be pending at a time: WorkJob is the number its row in ChatCommands queues
// it under, 0 while none is pending.
struct CommandJob {
    qint16 WorkJob = 0;
    QString WorkJobName;      // only ever overwritten
    QString WorkJobRequester; // only ever overwritten
};

// What one chat line asks for. The caller sends `reply` to `sender` with packet code 1 and carries out the
// rest.
struct ChatCommandOutcome {
    QString sender;
    QString reply;
    bool send = true; // false only for a line without a sender to answer
    bool startWorkTimer = false;
    bool startWebUpdate = false;
    // The command a sender without the right asked for ("/_2rm"); empty when nothing was refused.
    QString refused;
};

// Interprets chat lines sent to the bot: "/" commands, and an echo of anything else. Decides only; it sends
// nothing and starts nothing.
namespace CommandInterpreter {

// The most characters of a line that the echo of a chat line that is no command sends back.
inline constexpr qsizetype MaxEchoLength = 4000;

// The help text of the command table (ChatCommands::HelpText).
QString HelpText();

// The one reply to a job's command from a user who may not start it.
QString RefusalReply();

// The sender's user id: the header's text before its first ";". A header without ";" is taken whole.
QString GetSenderId(const QString& header);

// `users` are those who may run the commands whose row needs the right; the other commands and the echo
// answer everyone.
ChatCommandOutcome Interpret(const QString& text, const QString& header, CommandJob& job,
                             const CommandRights& users = CommandRights());

} // namespace CommandInterpreter
