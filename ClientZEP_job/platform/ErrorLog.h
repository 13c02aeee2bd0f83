#pragma once

#include <QDateTime>
#include <QString>

// ErrorLog.txt beside the program: one line per trapped error, "yymmddHHMMSS message" + CR LF, in CP949.
namespace ErrorLog {

// Appends one entry stamped with the current local time. Never reports a failure.
void WriteToFile(const QString& message);

// Appends one entry to the log in `folder`, stamped `at`. Never reports a failure.
void WriteToFile(const QString& folder, const QDateTime& at, const QString& message);

// The exact bytes of one entry.
QByteArray entry(const QDateTime& at, const QString& message);

} // namespace ErrorLog
