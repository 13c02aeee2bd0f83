#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Reports that found no messenger connection to go out on wait in ReportQueue.txt in the program folder, so
// that neither a closed connection nor a restart loses them; they go out after the contact list of the next
// accepted login.
//
// The file is UTF-8: the line "ZEPJOB REPORT QUEUE 1", then per report, oldest first, a line with the
// recipient, a TAB and the length of the text in UTF-8 bytes, then the text itself and a LF. The length
// frames the text, so any text survives (line breaks, TABs, control characters). The file is replaced
// whole (temporary file, then rename).
namespace ReportQueue {

// At most this many reports are kept; a further one drops the oldest.
inline constexpr int MaxReports = 50;

// "ReportQueue.txt".
QString FileName();

struct Report {
    QString recipient;
    QString text;
    bool operator==(const Report&) const = default;
};

// The file's content for `reports`.
QByteArray Encode(const QList<Report>& reports);

// The reports of a file's content, as far as it parses; `complete` tells whether all of it did.
QList<Report> Decode(const QByteArray& bytes, bool* complete = nullptr);

// The reports kept in `folder`, oldest first; none without a file. A file that does not parse wholly is
// logged and read as far as it goes.
QList<Report> Load(const QString& folder);

// Keeps one more report. Beyond MaxReports the oldest are dropped, each with a line in the error log. False
// (and logged) when the file cannot be written.
bool Keep(const QString& folder, const Report& report);

// Takes every kept report out of `folder` (the file is removed) to be sent. When the file cannot be removed
// the failure is logged and nothing is taken, so no report is ever sent twice.
QList<Report> TakeAll(const QString& folder);

} // namespace ReportQueue
