#include "ErrorLog.h"

#include "AnsiCodec.h"
#include "Clock.h"
#include "OwnFile.h"
#include "ProgramInfo.h"

#include <QFileInfo>

namespace ErrorLog {
namespace {

std::function<void(const QString&)>& observer() {
    static std::function<void(const QString&)> current;
    return current;
}

// Control characters (C0, DEL, C1 and the Unicode line and paragraph separators) as escapes. A TAB cannot
// start a line and separates the fields of the records some entries quote, so it stays.
QString escaped(const QString& message) {
    QString text;
    text.reserve(message.size());
    for (const QChar c : message) {
        const char16_t u = c.unicode();
        if (u == u'\r')
            text += QLatin1String("\\r");
        else if (u == u'\n')
            text += QLatin1String("\\n");
        else if ((u < 0x20 && u != u'\t') || (u >= 0x7F && u < 0xA0))
            text += QStringLiteral("\\x%1").arg(int(u), 2, 16, QLatin1Char('0'));
        else if (u == 0x2028 || u == 0x2029)
            text += QStringLiteral("\\u%1").arg(int(u), 4, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text;
}

// Makes room for `incoming` bytes: a full log becomes the one older generation.
void rotateIfFull(const QString& path, qint64 incoming) {
    const qint64 size = QFileInfo(path).size();
    if (size == 0 || size + incoming <= MaxBytes)
        return;
    const QString older = path + QStringLiteral(".1");
    QFile::remove(older);
    QFile::rename(path, older);
}

} // namespace

void setObserver(std::function<void(const QString&)> function) {
    observer() = std::move(function);
}

bool observed() {
    return bool(observer());
}

QByteArray entry(const QDateTime& at, const QString& message) {
    QByteArray line = at.toString(QStringLiteral("yyMMddHHmmss")).toLatin1();
    line += ' ';
    line += AnsiCodec::fromUnicode(escaped(message));
    line += "\r\n";
    return line;
}

void WriteToFile(const QString& folder, const QDateTime& at, const QString& message) {
    // Opened and closed for every entry, so a crash never loses a line and other tools may rotate the file.
    const QString path = folder + QStringLiteral("/ErrorLog.txt");
    const QByteArray line = entry(at, message);
    rotateIfFull(path, line.size());
    OwnFile::append(path, line);
}

void WriteToFile(const QString& message) {
    WriteToFile(ProgramInfo::folder(), Clock::system().now(), message);
    if (const auto& tell = observer())
        tell(message);
}

} // namespace ErrorLog
