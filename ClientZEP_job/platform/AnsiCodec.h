#pragma once

#include <QByteArray>
#include <QString>

// Text crosses to the outside world (messenger wire, error log, settings, MySQL, FTP names) in the ANSI code
// page, CP949. One converter per direction is opened on first use and kept for the life of the process.
namespace AnsiCodec {

// CP949 bytes to text. Invalid or truncated sequences decode to U+FFFD; never fails.
QString toUnicode(const char* data, qsizetype size);
// The same into `out`, reusing its room: a caller decoding many texts one after another allocates once.
void toUnicode(const char* data, qsizetype size, QString& out);
inline QString toUnicode(const QByteArray& bytes) {
    return toUnicode(bytes.constData(), bytes.size());
}

// Text to CP949 bytes. A character CP949 cannot represent becomes "?", as the system's own conversion does.
QByteArray fromUnicode(QStringView text);

} // namespace AnsiCodec
