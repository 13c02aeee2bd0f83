#pragma once

#include <QString>
#include <QStringList>

// What the command line asks for. The whole command line is the messenger host, unchanged; only a first word
// starting with "--", which no host does, is an option of the program.
struct CommandLine {
    enum Mode { Bot, Help, Version, RunJob, Check, Wrong };

    Mode mode = Bot;
    // Bot and Check: the messenger host text (words joined by single blanks); RunJob: the job's name;
    // Wrong: what is wrong, in one line.
    QString text;

    static CommandLine parse(const QStringList& words);
};
