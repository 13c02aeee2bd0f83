#pragma once

#include "Clock.h"
#include "FtpClient.h"

#include <QString>

// What a job needs from the program around it: the clock for its dates, and the hosts of the servers
// it talks to. frmMain fills it from the endpoint variables and deployment.ini; the ports come from
// deployment.ini where the jobs ask for the usual ones (21 for FTP, 3306 for MySQL).
struct JobContext {
    const Clock& clock;
    QString masterServer;   // AddrMasterServer: the log database of the disk-space report
    QString webLogin;       // AddrWebLogin: the web-host database of the download-file update
    QString webHostFtp;     // WebHostFtpHost: the FTP server of the "_2" removal
    QString backupFtp;      // BackupFtpHost: the FTP server of the DB backup check
    QString autoUpdate;     // AddrAutoUpdate: the update web server of the self-update
    QString updateKey = {}; // UpdatePublicKey: the release key the self-update trusts
    // FtpNameEncoding: how both FTP servers spell their file names.
    FtpClient::NameEncoding ftpNames = FtpClient::NameEncoding::Cp949;

    // deployment.ini's FtpNameEncoding ("CP949" or "UTF-8") as the FTP layer takes it.
    static FtpClient::NameEncoding ftpNamesOf(const QString& setting) {
        return setting == QLatin1String("UTF-8") ? FtpClient::NameEncoding::Utf8
                                                 : FtpClient::NameEncoding::Cp949;
    }
};
