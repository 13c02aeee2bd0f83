#pragma once

#include "Clock.h"
#include "Deployment.h"
#include "FtpClient.h"

#include <QString>

// What a job needs from the program around it, taken once when the run begins and passed down: the clock
// for its dates, the hosts of the servers it talks to, and deployment.ini as it read at that moment
// (accounts, ports, TLS, name encoding, release key). Nothing below the jobs reads deployment.ini itself.
struct JobContext {
    const Clock& clock;
    QString masterServer; // AddrMasterServer: the log database of the disk-space report
    QString webLogin;     // AddrWebLogin: the web-host database of the download-file update
    QString webHostFtp;   // WebHostFtpHost: the FTP server of the "_2" removal
    QString backupFtp;    // BackupFtpHost: the FTP server of the DB backup check
    QString autoUpdate;   // AddrAutoUpdate: the update web server of the self-update
    Deployment settings = Deployment::defaults();

    // FtpNameEncoding: how both FTP servers spell their file names.
    FtpClient::NameEncoding ftpNames() const {
        return settings.FtpNameEncoding == QLatin1String("UTF-8") ? FtpClient::NameEncoding::Utf8
                                                                  : FtpClient::NameEncoding::Cp949;
    }
};
