#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// The system journal, when standard error goes to it (a systemd service): a line there carries its priority
// and fields of its own, so that "journalctl -p err" shows the errors alone.
namespace Journal {

// syslog's levels, as the journal keeps them.
enum Priority { Err = 3, Warning = 4, Info = 6 };

// Extra fields of one entry: a name of upper-case letters, digits and "_", and its value.
using Fields = QList<QPair<QByteArray, QByteArray>>;

// True when standard error is the journal's stream for this process (JOURNAL_STREAM names its device and
// inode).
bool standardErrorIsJournal();

// One entry in the journal's native protocol: MESSAGE, PRIORITY, SYSLOG_IDENTIFIER and `fields`. False when
// the journal cannot be reached.
bool send(const QByteArray& identifier, Priority priority, const QString& message, const Fields& fields = {});

// The datagram that send() writes (every field in the binary form, which allows any byte in a value).
QByteArray entry(const QByteArray& identifier, Priority priority, const QString& message,
                 const Fields& fields);

} // namespace Journal
