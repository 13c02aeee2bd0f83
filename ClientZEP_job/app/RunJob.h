#pragma once

#include "JobCatalogue.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

// "--run-job <job>": one of the daily jobs, now, with its report on standard output. It resolves the
// endpoints as start-up does and runs the very job the schedule runs, without the messenger and without the
// instance lock, so it works beside a running bot.
namespace RunJob {

struct Job {
    QString name;
    QString summary; // one line for --help
};

// The jobs by their command-line names, in the order of the day.
QList<Job> Jobs();

// The report of the job called `name`, run once through `runner`; nothing when no job has that name.
// Whatever the job raises reaches the caller.
std::optional<QString> run(const QString& name, const JobCatalogue::Runner& runner);

// The report as it is printed: UTF-8, its CR LF line ends as line ends, one line end after the last line.
QByteArray printable(const QString& report);

// The whole command; returns the exit status: 0 when the job ran, whatever it found.
int main(const QString& name);

} // namespace RunJob
