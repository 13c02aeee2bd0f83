#include "ErrorLog.h"

#include "AnsiCodec.h"
#include "Clock.h"
#include "OwnFile.h"
#include "ProgramInfo.h"

namespace ErrorLog {
namespace {

std::function<void(const QString&)>& observer() {
    static std::function<void(const QString&)> current;
    return current;
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
    line += AnsiCodec::fromUnicode(message);
    line += "\r\n";
    return line;
}

void WriteToFile(const QString& folder, const QDateTime& at, const QString& message) {
    // Opened and closed for every entry, so a crash never loses a line and other tools may rotate the file.
    OwnFile::append(folder + QStringLiteral("/ErrorLog.txt"), entry(at, message));
}

void WriteToFile(const QString& message) {
    WriteToFile(ProgramInfo::folder(), Clock::system().now(), message);
    if (const auto& tell = observer())
        tell(message);
}

} // namespace ErrorLog
