#pragma once

#include "Deployment.h"

#include <QString>

// The accounts the jobs log in with, from deployment.ini as the caller read it (the program's own where it
// sets none). "--check" tries the same ones.
namespace JobAccounts {

struct Account {
    QString user;
    QString password;
    QString database; // MySQL accounts only
};

// The log database of the disk-space collector; a read-only account.
inline Account LogDatabase(const Deployment& d) {
    return {d.LogDatabaseUser, d.LogDatabasePassword, QStringLiteral("qz_logs")};
}
// The web-host database of the download-file update.
inline Account WebDatabase(const Deployment& d) {
    return {d.WebDatabaseUser, d.WebDatabasePassword, QStringLiteral("webhost")};
}
// The web host's FTP server of the "_2" removal.
inline Account WebHostFtp(const Deployment& d) {
    return {d.WebHostFtpUser, d.WebHostFtpPassword, QString()};
}
// The backup FTP server of the DB backup check.
inline Account BackupFtp(const Deployment& d) {
    return {d.BackupFtpUser, d.BackupFtpPassword, QString()};
}

} // namespace JobAccounts
