#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>

// The HTTP server the test fixture started, in the folder http-fixture of ZEPJOB_FIXTURES: it serves www/ and
// logs every request's path and query in requests.log.
namespace HttpServer {

inline QString folder() {
    return TestSupport::fixtureFolder("http-fixture");
}

// The port as text, empty when the server has not started.
inline QString port() {
    const quint16 port = TestSupport::fixturePort(folder());
    return port != 0 ? QString::number(port) : QString();
}

inline QString host() {
    return QStringLiteral("127.0.0.1:") + port();
}

// Puts `bytes` at `path` below www/ (folders made as needed).
inline void serve(const QString& path, const QByteArray& bytes) {
    const QString local = folder() + QStringLiteral("/www/") + path;
    QDir().mkpath(local.left(local.lastIndexOf('/')));
    TestSupport::writeFile(local, bytes);
}

// Takes the paths requested so far and starts a new log.
inline QStringList takeRequests() {
    const QString log = folder() + QStringLiteral("/requests.log");
    const QStringList lines = QString::fromUtf8(TestSupport::readAll(log)).split('\n', Qt::SkipEmptyParts);
    QFile::remove(log);
    return lines;
}

// Empties www/ and the log.
inline void reset() {
    QDir(folder() + QStringLiteral("/www")).removeRecursively();
    QDir().mkpath(folder() + QStringLiteral("/www"));
    takeRequests();
}

} // namespace HttpServer
