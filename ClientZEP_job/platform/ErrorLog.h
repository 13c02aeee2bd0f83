#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// ErrorLog.txt beside the program: one line per trapped error, "yymmddHHMMSS message" + CR LF, in CP949.
// A message never spans lines: its control characters are written escaped ("\r", "\n", "\x1b"), so no text
// a peer sent can pass for an entry of its own. The file is capped: an entry that would take it past
// MaxBytes first renames it to ErrorLog.txt.1 (replacing an older one), and a new file begins.
namespace ErrorLog {

inline constexpr qint64 MaxBytes = 1024 * 1024;

// Appends one entry stamped with the current local time. Never reports a failure.
void WriteToFile(const QString& message);

// Hands every entry of the program's own log (the overload above) to `observer` as well; nullptr for none.
// The headless bot tells the journal this way.
void setObserver(std::function<void(const QString&)> observer);
bool observed();

// Appends one entry to the log in `folder`, stamped `at`. Never reports a failure.
void WriteToFile(const QString& folder, const QDateTime& at, const QString& message);

// The exact bytes of one entry.
QByteArray entry(const QDateTime& at, const QString& message);

} // namespace ErrorLog
