#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>

// Text helpers shared by the server and the script runner: the one-line escape used on standard output, its
// inverse for script lines, and the line printer itself.
namespace SimText {

// Backslash, CR, LF and TAB become \\, \r, \n, \t; any other character below 0x20 becomes \xHH. With
// escapeSpaces a space becomes \x20 as well, so the result can stand as one space-separated field.
QString escape(QStringView text, bool escapeSpaces = false);

// Reverses escape(): \\, \r, \n, \t and \xHH (two hex digits). An unknown or incomplete escape is kept
// literally. \xHH yields the character U+00HH.
QString unescape(QStringView text);

// Like unescape(), but produces wire bytes: plain text is encoded as CP949 and \xHH yields the single byte
// 0xHH, so a script can put bytes on the wire that no text would encode to.
QByteArray unescapeToWire(QStringView text);

// Two-digit decimal form of a packet code ("01", "50").
QString codeText(int code);

// A packet as people read it, for --readable: "<who> <code> <sender> -> <recipient> | <first body line>",
// then each further body line under the first one, after a "|" in the same column. The body breaks at CR LF,
// a lone CR or a lone LF; other control characters stay escaped as in escape(). A header without ";" (the
// server's own "0") stands as it is. The result holds no final line break.
QString readablePacket(QStringView who, int code, QStringView header, QStringView body);

// Writes one line to standard output as UTF-8 and flushes it at once.
void printLine(const QString& line);

} // namespace SimText
