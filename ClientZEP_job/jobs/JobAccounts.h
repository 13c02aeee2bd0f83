#pragma once

#include "Deployment.h"

#include <QString>

// The accounts the jobs log in with, from deployment.ini as the caller read it (the program's own where it
// sets none). "--check" tries the same ones.
namespace JobAccounts {

struct Account {
    QString user;
    QString password;
    QString database;        // MySQL accounts only
    const char* passwordKey; // its password's key in deployment.ini

    // Why the account cannot log in at all, or the empty text: a build without compiled passwords has none
    // until deployment.ini gives it one.
    QString missing() const {
        return password.isEmpty()
                   ? QStringLiteral("no password: set %1 in deployment.ini").arg(QLatin1String(passwordKey))
                   : QString();
    }
    // The same as " (...)" after a failed log-in's line; empty when a password is there.
    QString missingNote() const {
        const QString why = missing();
        return why.isEmpty() ? QString() : QStringLiteral(" (") + why + QLatin1Char(')');
    }
};

// The bot's messenger log-in.
inline Account Messenger(const Deployment& d) {
    return {d.LoginId, d.LoginPassword, QString(), "LoginPassword"};
}

// The log database of the disk-space collector; a read-only account.
inline Account LogDatabase(const Deployment& d) {
    return {d.LogDatabaseUser, d.LogDatabasePassword, QStringLiteral("qz_logs"), "LogDatabasePassword"};
}
// The web-host database of the download-file update.
inline Account WebDatabase(const Deployment& d) {
    return {d.WebDatabaseUser, d.WebDatabasePassword, QStringLiteral("webhost"), "WebDatabasePassword"};
}
// The web host's FTP server of the "_2" removal.
inline Account WebHostFtp(const Deployment& d) {
    return {d.WebHostFtpUser, d.WebHostFtpPassword, QString(), "WebHostFtpPassword"};
}
// The backup FTP server of the DB backup check.
inline Account BackupFtp(const Deployment& d) {
    return {d.BackupFtpUser, d.BackupFtpPassword, QString(), "BackupFtpPassword"};
}

} // namespace JobAccounts
