#include "DailyRecord.h"

#include "ErrorLog.h"
#include "OwnFile.h"
#include "Scheduler.h"
#include "VbError.h"

#include <QFile>

namespace {

const QByteArray Magic = QByteArrayLiteral("ZEPJOB DAILY RECORD 1");
const QString DayFormat = QStringLiteral("yyyy-MM-dd");
const QString MinuteFormat = QStringLiteral("HH:mm");

QTime minuteOf(const QDateTime& at) {
    return QTime(at.time().hour(), at.time().minute());
}

} // namespace

QString DailyRecord::FileName() {
    return QStringLiteral("DailyRecord.txt");
}

DailyRecord::DailyRecord(const QString& folder, const QDateTime& now) : folder_(folder) {
    QFile file(folder + QLatin1Char('/') + FileName());
    bool read = false;
    if (file.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = file.read(64 * 1024).split('\n');
        read = lines.value(0) == Magic && lines.value(1).startsWith("day ") &&
               lines.value(2).startsWith("since ");
        day_ = QDate::fromString(QString::fromUtf8(lines.value(1).mid(4)), DayFormat);
        since_ = QTime::fromString(QString::fromUtf8(lines.value(2).mid(6)), MinuteFormat);
        for (qsizetype i = 3; read && i < lines.size(); ++i) {
            if (lines[i].isEmpty())
                continue;
            const QTime minute = QTime::fromString(QString::fromUtf8(lines[i].mid(8)), MinuteFormat);
            if (!lines[i].startsWith("handled ") || !minute.isValid())
                read = false;
            else
                handled_.append(minute);
        }
        read = read && day_.isValid() && since_.isValid();
        if (!read)
            ErrorLog::WriteToFile(
                VbErrors::trappedText(VbErrors::TypeMismatch, VbErrors::describe(VbErrors::TypeMismatch),
                                      QStringLiteral("DailyRecord"), QStringLiteral("Module"),
                                      QStringLiteral("DailyRecord")) +
                QStringLiteral("(%1 does not parse; the day counts from now)").arg(FileName()));
    }
    if (!read || day_ > now.date()) {
        day_ = now.date();
        since_ = minuteOf(now);
        handled_.clear();
        save();
        return;
    }
    toDay(now);
}

void DailyRecord::toDay(const QDateTime& now) {
    if (now.date() <= day_)
        return;
    day_ = now.date();
    since_ = QTime(0, 0);
    handled_.clear();
    save();
}

bool DailyRecord::mark(QTime minute) {
    if (!handled_.contains(minute))
        handled_.append(minute);
    return save();
}

QList<JobCatalogue::ScheduleRow> DailyRecord::missed(const QDateTime& now) const {
    QList<JobCatalogue::ScheduleRow> rows;
    if (now.date() != day_)
        return rows;
    const QTime upTo = minuteOf(now);
    const int weekday = Scheduler::weekdayOf(day_);
    for (const JobCatalogue::ScheduleRow& row : JobCatalogue::Schedule())
        if ((row.weekday == 0 || row.weekday == weekday) && row.time >= since_ && row.time <= upTo &&
            !handled_.contains(row.time))
            rows.append(row);
    return rows;
}

bool DailyRecord::save() {
    QByteArray bytes = Magic + "\nday " + day_.toString(DayFormat).toUtf8() + "\nsince " +
                       since_.toString(MinuteFormat).toUtf8() + '\n';
    for (const QTime& minute : handled_)
        bytes += "handled " + minute.toString(MinuteFormat).toUtf8() + '\n';
    OwnFile::Replacement file(folder_ + QLatin1Char('/') + FileName());
    if (file.open() && file.write(bytes) && file.commit())
        return true;
    ErrorLog::WriteToFile(VbErrors::trappedText(75, QStringLiteral("Path/File access error"),
                                                QStringLiteral("DailyRecord"), QStringLiteral("Module"),
                                                QStringLiteral("DailyRecord")) +
                          QLatin1Char('(') + file.errorString() + QLatin1Char(')'));
    return false;
}
