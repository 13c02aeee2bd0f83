#pragma once

#include "AnsiCodec.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"

#include <QFile>
#include <QStringList>
#include <ostream>

namespace TestSupport {

// The error log of the current program folder, line by line, and emptied for the next test.
inline QStringList takeErrorLog() {
    QFile file(ProgramInfo::folder() + QStringLiteral("/ErrorLog.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = AnsiCodec::toUnicode(file.readAll());
    file.close();
    file.remove();
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    // Drop the 12-digit time stamp and its blank.
    for (QString& line : lines)
        line = line.mid(13);
    return lines;
}

} // namespace TestSupport
