#pragma once

#include "JobCatalogue.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

// Every chat command the bot answers, each declared once: its word, its line in "/help", whether only the
// users CommandUsers names may run it, its acknowledgement and the job it queues. The interpreter, "/help"
// and --check read them from here: a new command is one row.
namespace ChatCommands {

enum class Effect {
    Help,      // answers the help text
    Reply,     // answers its acknowledgement, nothing more
    QueueJob,  // queues its job (one long command at a time), answering its acknowledgement
    WebUpdate, // starts the code updater; the answer comes from the caller
};

struct Command {
    QString word;          // after the "/", in lower case; a line matches it whatever its case
    QString helpLine = {}; // what "/help" says of it; empty: not listed
    bool needsRight;       // only the users CommandUsers names may run it
    Effect effect;
    std::function<QString()> acknowledgement = {};
    // For a queued job: the job, the command-job number it is queued under (WorkJob) and its name while it
    // is pending ("현재 [...] 작업이 진행중입니다.").
    std::optional<JobCatalogue::JobId> job = {};
    qint16 workJob = 0;
    QString jobName = {};
};

// The rows, in the order "/help" lists them.
const QList<Command>& Commands();

// The row of `word` (without the "/", any case); null when the bot has no such command.
const Command* find(const QString& word);
// The row that queued command-job number `workJob`; null for none.
const Command* queuedAs(qint16 workJob);

// "/help": a title, a rule, one line per listed command, a rule; joined by CR LF.
QString HelpText();

// The commands only the named users may run, each with its "/": "/_2rm, /selfupdate, /webupdate".
QString RestrictedWords();

} // namespace ChatCommands
