#pragma once

#include "JobCatalogue.h"

#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QTime>

// What of today's schedule has been handled (run, skipped by its gate, or told as not run), kept in
// DailyRecord.txt beside the program so that a restart knows what not to run again, and which minutes the
// day is accounted for from. The file is UTF-8 lines: "ZEPJOB DAILY RECORD 1", "day yyyy-MM-dd",
// "since HH:mm", then one "handled HH:mm" per minute of the schedule. It is replaced whole at every change,
// never written through a link.
//
// A record of an earlier day starts the new day at midnight: the bot was installed, so every minute of the
// day counts. Without any record (a first start in the folder, or the first start of a build that kept
// none) the day counts from now only, so that nothing an earlier run may have sent goes out again.
class DailyRecord {
public:
    // Reads the folder's record, moved on to the day of `now` (and written when that changed it).
    DailyRecord(const QString& folder, const QDateTime& now);

    static QString FileName();

    // Moves on to the day of `now` when that is a later day than the record's.
    void toDay(const QDateTime& now);
    bool handled(QTime minute) const { return handled_.contains(minute); }
    // Marks a minute of today's schedule as handled; false (logged) when the file could not be written, the
    // mark then held in memory.
    bool mark(QTime minute);
    // The rows of today's schedule whose minute lies from `since` up to and including the minute of `now`
    // and that nobody handled, in the order of the day.
    QList<JobCatalogue::ScheduleRow> missed(const QDateTime& now) const;

    QDate day() const { return day_; }
    QTime since() const { return since_; }

private:
    bool save();

    QString folder_;
    QDate day_;
    QTime since_;
    QList<QTime> handled_;
};
