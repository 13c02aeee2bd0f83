#pragma once

// What the tests share: a clock standing at a chosen moment, the one wait for a condition, file writers and
// readers, the fixtures' folders and ports, the error log of the program folder, and one framer for messenger
// packets.

#include "AnsiCodec.h"
#include "Clock.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <ostream>

namespace TestSupport {

// A clock that stands at `at` until the test moves it.
class FixedClock : public Clock {
public:
    explicit FixedClock(QDateTime start) : at(std::move(start)) {}
    QDateTime now() const override { return at; }
    QDateTime at;
};

// The program's own version text ("3.4.301" in a build of revision 301), for the texts that carry it.
inline QString version() {
    return ProgramInfo::versionText();
}

// ---- waiting ----

// Checks `done` until it holds or `ms` pass; returns whether it held. Between two checks the thread's pending
// events run (the test's own sockets, timers and processes move on), then it pauses `pauseMs`: 0 where the
// events are what the test waits for, a few milliseconds where another process writes a file.
inline bool waitUntil(const std::function<bool()>& done, int ms = 5000, int pauseMs = 0) {
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        if (QCoreApplication::instance() != nullptr)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (pauseMs > 0)
            QThread::msleep(pauseMs);
    }
    return true;
}

// Runs the thread's events for `ms`.
inline void pump(int ms) {
    waitUntil([] { return false; }, ms);
}

// ---- files ----

// The whole file, or nothing when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A CP949 file (the error log, setup.ini) as text, or nothing.
inline QString readCp949(const QString& path) {
    return AnsiCodec::toUnicode(readAll(path));
}

// Replaces the file with `bytes`; the test fails when it cannot.
inline void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
}

// An empty file at `path`, with the folders it needs.
inline void touch(const QString& path) {
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    writeFile(path, QByteArray());
}

// A shell script of `body`, made executable.
inline void writeScript(const QString& path, const QByteArray& body) {
    writeFile(path, "#!/bin/sh\n" + body);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

// The error log of the program folder `folder` as it stands, or nothing.
inline QString errorLogText(const QString& folder) {
    return readCp949(folder + QStringLiteral("/ErrorLog.txt"));
}

// The error log of the program folder `folder`, line by line without the time stamps.
inline QStringList errorLogLines(const QString& folder) {
    QStringList lines = errorLogText(folder).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    // Drop the 12-digit time stamp and its blank.
    for (QString& line : lines)
        line = line.mid(13);
    return lines;
}

// The error log of the current program folder, as errorLogLines() reads it, and emptied for the next test.
inline QStringList takeErrorLog() {
    const QStringList lines = errorLogLines(ProgramInfo::folder());
    QFile::remove(ProgramInfo::folder() + QStringLiteral("/ErrorLog.txt"));
    return lines;
}

// ---- processes ----

// The state letter of a process as the kernel reports it ("T" when stopped, "Z" when ended but not reaped),
// empty when there is none.
inline QByteArray processState(qint64 pid) {
    const QByteArray stat = readAll(QStringLiteral("/proc/%1/stat").arg(pid));
    const qsizetype end = stat.lastIndexOf(')');
    return end < 0 ? QByteArray() : stat.mid(end + 2, 1);
}

// ---- fixtures ----

// The folder where the CTest fixture `name` ("mariadb-fixture", "ftp-fixture", "http-fixture") keeps its
// server, below ZEPJOB_FIXTURES.
inline QString fixtureFolder(const char* name) {
    return qEnvironmentVariable("ZEPJOB_FIXTURES") + QLatin1Char('/') + QLatin1String(name);
}

// The port the server in `folder` listens on, or 0 when it has not started.
inline quint16 fixturePort(const QString& folder) {
    return quint16(readAll(folder + QStringLiteral("/port")).trimmed().toUInt());
}

// A loopback port that nothing listens on right now: taken from the system, then let go.
inline quint16 freePort() {
    QTcpServer probe;
    EXPECT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
    return probe.serverPort();
}

// ---- packets ----

// One messenger packet as it travels: "/" 0x01, the code, the header, "/" 0x02, the body, "/" 0x03, header
// and body in CP949. The code goes as given ("01", or a malformed "7x"), or as two digits.
inline QByteArray frame(const QByteArray& code, const QString& header, const QString& body) {
    return "/\x01" + code + AnsiCodec::fromUnicode(header) + "/\x02" + AnsiCodec::fromUnicode(body) + "/\x03";
}
inline QByteArray frame(int code, const QString& header, const QString& body) {
    return frame(QByteArray::number(code).rightJustified(2, '0'), header, body);
}

} // namespace TestSupport
