#pragma once

#include <QString>

// Display width of report texts that mix Latin letters, digits and Hangul: a character the ANSI code page
// (CP949) stores in two bytes takes two columns, any other one column. Widths are signed 16-bit; widths
// passed in as int are checked for that range so that a too large one is reported rather than cut silently.
namespace modString {

// CP949 byte length of text; error 6 (overflow) past 32,767.
qint16 DisplayWidth(const QString& text);

// The longest leading part of text at most width columns wide that splits no double-byte character. Where the
// cut would split one, that character is dropped and, unless noPad, one space keeps the result width columns
// wide. Error 5 for a negative width, 6 for one outside 16 bits.
QString LeftByWidth(const QString& text, int width, bool noPad);

// Whether part occurs in text, compared code unit by code unit. The empty part never does.
bool ContainsText(const QString& text, const QString& part);

// text right-aligned in width columns with the first character of fill, or cut on the right to width columns
// when wider. Every error (empty fill, negative width, a width outside 16 bits) is shown in a message box and
// gives the empty text.
QString LPad(const QString& text, int width, const QString& fill);

} // namespace modString
