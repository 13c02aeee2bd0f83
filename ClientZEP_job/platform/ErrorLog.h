#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// ErrorLog.txt beside the program: one line per trapped error, "yymmddHHMMSS message" + CR LF, in CP949.
namespace ErrorLog {

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
