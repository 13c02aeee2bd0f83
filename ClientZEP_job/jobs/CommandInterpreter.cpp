#include "CommandInterpreter.h"

#include "ChatCommands.h"

namespace CommandInterpreter {
namespace {

QString busyReply(const CommandJob& job) {
    return QStringLiteral("현재 [") + job.WorkJobName +
           QStringLiteral("] 작업이 진행중입니다. 잠시후 시도 바랍니다.");
}

// Queues a long command unless one is pending; returns the reply.
QString queue(CommandJob& job, const ChatCommands::Command& command, const QString& sender,
              ChatCommandOutcome& outcome) {
    if (job.WorkJob > 0)
        return busyReply(job);
    job.WorkJob = command.workJob;
    job.WorkJobName = command.jobName;
    job.WorkJobRequester = sender;
    outcome.startWorkTimer = true;
    return command.acknowledgement();
}

} // namespace

QString HelpText() {
    return ChatCommands::HelpText();
}

QString RefusalReply() {
    return QStringLiteral("이 명령을 실행할 권한이 없습니다. 관리자에게 문의 바랍니다.");
}

QString GetSenderId(const QString& header) {
    const qsizetype semicolon = header.indexOf(QLatin1Char(';'));
    return semicolon < 0 ? header : header.left(semicolon);
}

ChatCommandOutcome Interpret(const QString& text, const QString& header, CommandJob& job,
                             const CommandRights& users) {
    ChatCommandOutcome outcome;
    outcome.sender = GetSenderId(header);
    // Nobody to answer: a line without any sender is dropped.
    if (outcome.sender.isEmpty()) {
        outcome.send = false;
        return outcome;
    }
    if (!text.startsWith(QLatin1Char('/'))) {
        // A line that is no command comes back, up to a length that any chat line stays within.
        outcome.reply = text.left(MaxEchoLength);
        return outcome;
    }

    // A "/" word the bot does not know gets an empty answer.
    const ChatCommands::Command* command = ChatCommands::find(text.mid(1));
    if (command == nullptr)
        return outcome;
    if (command->needsRight && !users.allows(outcome.sender)) {
        outcome.reply = RefusalReply();
        outcome.refused = text;
        return outcome;
    }
    switch (command->effect) {
    case ChatCommands::Effect::Help:
        outcome.reply = HelpText();
        break;
    case ChatCommands::Effect::Reply:
        outcome.reply = command->acknowledgement();
        break;
    case ChatCommands::Effect::QueueJob:
        outcome.reply = queue(job, *command, outcome.sender, outcome);
        break;
    case ChatCommands::Effect::WebUpdate:
        outcome.startWebUpdate = true;
        break;
    }
    return outcome;
}

} // namespace CommandInterpreter
