#pragma once

#include <QString>

// The site's deployment values from deployment.ini beside the program (section "Deployment"). Every key that
// is missing, empty or unreadable keeps the default compiled into the program.
struct Deployment {
    QString DirectoryServer;
    QString AddrMasterServer;
    QString AddrWebLogin;
    QString AddrAutoUpdate;
    QString AddrBackupFtp;
    QString AddrMessenger;
    QString WebHostFtpHost;
    QString BackupFtpHost;
    quint16 MessengerPort = 0;
    quint16 FtpPort = 0;
    quint16 MySqlPort = 0;

    // The compiled defaults alone.
    static Deployment defaults();

    // The defaults overridden by `folder`/deployment.ini.
    static Deployment load(const QString& folder);
};
