#pragma once

#include <QString>

// The accounts the jobs log in with, fixed in the program. "--check" tries the same ones.
namespace JobAccounts {

struct Account {
    QString user;
    QString password;
    QString database; // MySQL accounts only
};

// The log database of the disk-space collector; a read-only account.
inline Account LogDatabase() {
    return {QStringLiteral("qz_logs_read"), QStringLiteral("pomel3526"), QStringLiteral("qz_logs")};
}
// The web-host database of the download-file update.
inline Account WebDatabase() {
    return {QStringLiteral("WebHostUser"), QStringLiteral("SiteRun4172"), QStringLiteral("webhost")};
}
// The web host's FTP server of the "_2" removal.
inline Account WebHostFtp() {
    return {QStringLiteral("qzc1"), QStringLiteral("qrw4#KLBcvx2"), QString()};
}
// The backup FTP server of the DB backup check.
inline Account BackupFtp() {
    return {QStringLiteral("backup_checker"), QStringLiteral("Rtm_e457."), QString()};
}

} // namespace JobAccounts
