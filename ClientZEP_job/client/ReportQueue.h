#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

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
// (logged, and the reason in `error`) when the file cannot be written.
bool Keep(const QString& folder, const Report& report, QString* error = nullptr);

// The reports waiting for a connection. They leave the file one by one, each only once it has gone out, so
// that a crash at any moment costs none: at worst the one report in flight goes out again after the
// restart. When the file cannot be written (a full disk), a report is held in memory instead, within the
// same bound, and goes out after the next login all the same; a report that went out but could not yet be
// taken out of the file is remembered as gone, so it is never sent twice while the program runs.
class Store {
public:
    explicit Store(const QString& folder) : folder_(folder) {}

    // Keeps one more report; false when it is held in memory only, with the reason in `why`.
    bool keep(const Report& report, QString* why);
    // The oldest waiting report: the file's before those held in memory.
    std::optional<Report> next() const;
    // The report next() gave has gone out.
    void sent();
    qsizetype heldInMemory() const { return held_.size(); }

private:
    // The file's reports that are still to go out.
    QList<Report> inFile() const;

    QString folder_;
    qsizetype goneOut_ = 0; // the file's first reports that went out but are still written there
    QList<Report> held_;
};

} // namespace ReportQueue
