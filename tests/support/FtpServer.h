#pragma once

#include "AnsiCodec.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <utility>

// The FTP servers the test fixtures started: pyftpdlib (tests/integration/ftp/server.py, folder ftp-fixture
// of ZEPJOB_FIXTURES) and vsftpd (ftp/vsftpd.sh, folder vsftpd-fixture). Each serves the home folders of the
// two accounts, which the tests fill and read directly. pyftpdlib speaks CP949 and stores names as UTF-8;
// vsftpd takes names byte for byte, so a test spells them on its disk in the encoding it means the server to
// hold.
namespace FtpServer {

struct Fixture {
    const char* name;       // for the test's name
    const char* folderName; // below ZEPJOB_FIXTURES
    bool cp949OnDisk;       // the names in its folders are CP949 bytes (else UTF-8)
    bool utf8Names;         // the jobs are told the server's names are UTF-8 (FtpNameEncoding=UTF-8)
    bool logsCommands;      // vsftpd: its log shows the data connections' modes
    bool tls = false;       // vsftpd's listener that demands TLS (the jobs run with FtpTls=required)

    QString folder() const { return TestSupport::fixtureFolder(folderName); }
    quint16 port() const { return tls ? tlsPort() : TestSupport::fixturePort(folder()); }
    // vsftpd's listener that demands TLS, and the CA of its certificate.
    quint16 tlsPort() const {
        return quint16(TestSupport::readAll(folder() + QStringLiteral("/tlsport")).trimmed().toUInt());
    }
    QString caFile() const { return folder() + QStringLiteral("/ca.pem"); }
    // A second listener that lets one session in per address and answers the next with 421.
    quint16 busyPort() const {
        return quint16(TestSupport::readAll(folder() + QStringLiteral("/busyport")).trimmed().toUInt());
    }
    // Home of qzc1 (the web host) and of backup_checker (the backup server).
    QString webHome() const { return folder() + QStringLiteral("/webhost"); }
    QString backupHome() const { return folder() + QStringLiteral("/backup"); }
    // The web host's download folder, where the "_2" removal renames.
    QString download() const { return webHome() + QStringLiteral("/public_html/download"); }

    // `path` as this server's disk spells it.
    std::filesystem::path onDisk(const QString& path) const {
        const QByteArray bytes = cp949OnDisk ? AnsiCodec::fromUnicode(path) : path.toUtf8();
        return std::filesystem::path(bytes.toStdString());
    }

    // Empties both homes back to the folders the server starts with, and forgets the data connections and
    // log-ins seen.
    void reset() const {
        const QStringList webFolders = {QStringLiteral("public_html/download/versions")};
        const QStringList backupFolders = {
            QStringLiteral("csdb_backup/servers"), QStringLiteral("pvdb_backup/servers"),
            QStringLiteral("csdb_backup_new/daily"), QStringLiteral("pvdb_backup_new/daily")};
        for (const auto& [home, folders] :
             {std::pair{webHome(), webFolders}, std::pair{backupHome(), backupFolders}}) {
            std::error_code ignored;
            std::filesystem::remove_all(onDisk(home), ignored);
            for (const QString& sub : folders)
                std::filesystem::create_directories(onDisk(home + QLatin1Char('/') + sub));
        }
        QFile::remove(folder() + QStringLiteral("/datamodes"));
        QFile::remove(folder() + QStringLiteral("/logins"));
        if (logsCommands)
            QFile(folder() + QStringLiteral("/vsftpd.log")).resize(0);
    }

    // An empty file at `path` (absolute, under a home), with the folders it needs.
    void createFile(const QString& path) const {
        const std::filesystem::path file = onDisk(path);
        std::filesystem::create_directories(file.parent_path());
        std::FILE* created = std::fopen(file.c_str(), "w");
        ASSERT_NE(created, nullptr) << path.toStdString();
        std::fclose(created);
    }

    // Empty files at `paths`, relative to the download folder ("versions/a_2.1.zip").
    void layOutDownloads(const QStringList& paths) const {
        for (const QString& path : paths)
            createFile(download() + QLatin1Char('/') + path);
    }

    // Empty files at `paths`, relative to the backup server's home ("csdb_backup/servers/db1").
    void layOutBackups(const QStringList& paths) const {
        for (const QString& path : paths)
            createFile(backupHome() + QLatin1Char('/') + path);
    }

    // The names in `directory`, sorted; sub-folders end with "/".
    QStringList names(const QString& directory) const {
        QStringList result;
        std::error_code missing;
        for (const auto& entry : std::filesystem::directory_iterator(onDisk(directory), missing)) {
            const std::string name = entry.path().filename().string();
            result.append((cp949OnDisk ? AnsiCodec::toUnicode(name.data(), qsizetype(name.size()))
                                       : QString::fromStdString(name)) +
                          (entry.is_directory() ? QStringLiteral("/") : QString()));
        }
        result.sort();
        return result;
    }

    // The data connections the server has set up since the last reset: "passive" or "active", in order.
    QStringList dataModes() const {
        QStringList modes;
        if (logsCommands) {
            // vsftpd: lines `... FTP command: Client "127.0.0.1", "EPSV"`.
            const QByteArray log = TestSupport::readAll(folder() + QStringLiteral("/vsftpd.log"));
            for (const QByteArray& line : log.split('\n')) {
                const qsizetype at = line.indexOf("FTP command: ");
                if (at < 0)
                    continue;
                const QByteArray command = line.mid(line.lastIndexOf(", \"") + 3, 4);
                if (command == "PASV" || command == "EPSV")
                    modes << QStringLiteral("passive");
                else if (command == "PORT" || command == "EPRT")
                    modes << QStringLiteral("active");
            }
            return modes;
        }
        return QString::fromLatin1(TestSupport::readAll(folder() + QStringLiteral("/datamodes")))
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
};

inline const Fixture Pyftpdlib{"pyftpdlib", "ftp-fixture", false, false, false};
inline const Fixture VsftpdCp949{"vsftpd_cp949", "vsftpd-fixture", true, false, true};
inline const Fixture VsftpdUtf8{"vsftpd_utf8", "vsftpd-fixture", false, true, true};
inline const Fixture VsftpdTls{"vsftpd_tls", "vsftpd-fixture", true, false, true, true};

// The pyftpdlib server, for the tests that need its hooks.
inline QString folder() {
    return Pyftpdlib.folder();
}
inline quint16 port() {
    return Pyftpdlib.port();
}
inline QString webHome() {
    return Pyftpdlib.webHome();
}
inline QString backupHome() {
    return Pyftpdlib.backupHome();
}
inline void reset() {
    Pyftpdlib.reset();
}
inline QString download() {
    return Pyftpdlib.download();
}
inline void createFile(const QString& path) {
    Pyftpdlib.createFile(path);
}
inline void layOutDownloads(const QStringList& paths) {
    Pyftpdlib.layOutDownloads(paths);
}
inline void layOutBackups(const QStringList& paths) {
    Pyftpdlib.layOutBackups(paths);
}
inline QStringList names(const QString& directory) {
    return Pyftpdlib.names(directory);
}
inline QStringList dataModes() {
    return Pyftpdlib.dataModes();
}

// The accounts that logged in since the last reset, in order.
inline QStringList logins() {
    return QString::fromLatin1(TestSupport::readAll(folder() + QStringLiteral("/logins")))
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace FtpServer
