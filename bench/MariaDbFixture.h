#pragma once

#include "ProgramInfo.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstdio>

// The throw-away MariaDB server scripts/bench.sh starts for the database benchmarks; its folder comes in
// ZEPJOB_MARIADB.
namespace MariaDbFixture {

inline QString folder() {
    return qEnvironmentVariable("ZEPJOB_MARIADB");
}

inline QByteArray port() {
    QFile file(folder() + "/port");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

// Makes `programFolder` the program folder, its deployment.ini dialling the server wherever the program asks
// for 3306. False, with a line on stderr, when there is no server or no file.
inline bool useAsProgramFolder(const QTemporaryDir& programFolder, const char* bench) {
    if (port().isEmpty()) {
        std::fprintf(stderr, "%s: no MariaDB fixture (set ZEPJOB_MARIADB)\n", bench);
        return false;
    }
    ProgramInfo::setFolder(programFolder.path());
    QFile ini(programFolder.path() + "/deployment.ini");
    return ini.open(QIODevice::WriteOnly) && ini.write("[Deployment]\r\nMySqlPort=" + port() + "\r\n") > 0;
}

} // namespace MariaDbFixture
