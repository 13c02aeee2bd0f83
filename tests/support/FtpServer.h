#pragma once

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>
#include <utility>

// The FTP server the test fixture started (tests/integration/ftp/server.py), in the folder ftp-fixture of
// ZEPJOB_FIXTURES: its port, and the home folders of its two accounts, which the tests fill and read
// directly.
namespace FtpServer {

inline QString folder() {
    return TestSupport::fixtureFolder("ftp-fixture");
}

inline quint16 port() {
    return TestSupport::fixturePort(folder());
}

// Home of qzc1 (the web host) and of backup_checker (the backup server).
inline QString webHome() {
    return folder() + QStringLiteral("/webhost");
}
inline QString backupHome() {
    return folder() + QStringLiteral("/backup");
}

// Empties both homes back to the folders the server starts with, and forgets the data connections and
// log-ins seen.
inline void reset() {
    const QStringList webFolders = {QStringLiteral("public_html/download/versions")};
    const QStringList backupFolders = {
        QStringLiteral("csdb_backup/servers"), QStringLiteral("pvdb_backup/servers"),
        QStringLiteral("csdb_backup_new/daily"), QStringLiteral("pvdb_backup_new/daily")};
    for (const auto& [home, folders] :
         {std::pair{webHome(), webFolders}, std::pair{backupHome(), backupFolders}}) {
        QDir(home).removeRecursively();
        for (const QString& sub : folders)
            QDir().mkpath(home + QLatin1Char('/') + sub);
    }
    QFile::remove(folder() + QStringLiteral("/datamodes"));
    QFile::remove(folder() + QStringLiteral("/logins"));
}

// An empty file at `path` (absolute, under a home), with the folders it needs.
inline void createFile(const QString& path) {
    QDir().mkpath(path.left(path.lastIndexOf(QLatin1Char('/'))));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// The names in `directory`, sorted; sub-folders end with "/".
inline QStringList names(const QString& directory) {
    QStringList result;
    const QDir dir(directory);
    for (const QFileInfo& entry :
         dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name))
        result.append(entry.fileName() + (entry.isDir() ? QStringLiteral("/") : QString()));
    return result;
}

// The data connections the server has set up since the last reset: "passive" or "active", in order.
inline QStringList dataModes() {
    QFile file(folder() + QStringLiteral("/datamodes"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The accounts that logged in since the last reset, in order.
inline QStringList logins() {
    QFile file(folder() + QStringLiteral("/logins"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace FtpServer
