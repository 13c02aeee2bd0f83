#include "Deployment.h"

#include "IniFile.h"
#include "NumericText.h"

#include <QFile>

#ifndef ZEPJOB_DEFAULT_HOST
#define ZEPJOB_DEFAULT_HOST "127.0.0.1"
#endif
#ifndef ZEPJOB_DEFAULT_MESSENGER_PORT
#define ZEPJOB_DEFAULT_MESSENGER_PORT 10015
#endif
#ifndef ZEPJOB_DEFAULT_FTP_PORT
#define ZEPJOB_DEFAULT_FTP_PORT 21
#endif
#ifndef ZEPJOB_DEFAULT_MYSQL_PORT
#define ZEPJOB_DEFAULT_MYSQL_PORT 3306
#endif

Deployment Deployment::defaults() {
    const QString host = QStringLiteral(ZEPJOB_DEFAULT_HOST);
    Deployment d;
    d.DirectoryServer = d.AddrMasterServer = d.AddrWebLogin = d.AddrAutoUpdate = d.AddrBackupFtp =
        d.AddrMessenger = d.WebHostFtpHost = d.BackupFtpHost = host;
    d.MessengerPort = ZEPJOB_DEFAULT_MESSENGER_PORT;
    d.FtpPort = ZEPJOB_DEFAULT_FTP_PORT;
    d.MySqlPort = ZEPJOB_DEFAULT_MYSQL_PORT;
    return d;
}

Deployment Deployment::load(const QString& folder) {
    Deployment d = defaults();
    QFile file(folder + QStringLiteral("/deployment.ini"));
    if (!file.open(QIODevice::ReadOnly))
        return d;
    const QString text = QString::fromUtf8(file.readAll());
    const auto text_ = [&](const char* key, QString& value) {
        const QString v =
            IniFile::findValue(text, QStringLiteral("Deployment"), QLatin1String(key), QString());
        if (!v.isEmpty())
            value = v;
    };
    const auto port = [&](const char* key, quint16& value) {
        const QString v =
            IniFile::findValue(text, QStringLiteral("Deployment"), QLatin1String(key), QString());
        const auto n = NumericText::narrow<quint16>(NumericText::wholeNumber(v));
        if (n && *n > 0)
            value = *n;
    };
    text_("DirectoryServer", d.DirectoryServer);
    text_("AddrMasterServer", d.AddrMasterServer);
    text_("AddrWebLogin", d.AddrWebLogin);
    text_("AddrAutoUpdate", d.AddrAutoUpdate);
    text_("AddrBackupFtp", d.AddrBackupFtp);
    text_("AddrMessenger", d.AddrMessenger);
    text_("WebHostFtpHost", d.WebHostFtpHost);
    text_("BackupFtpHost", d.BackupFtpHost);
    port("MessengerPort", d.MessengerPort);
    port("FtpPort", d.FtpPort);
    port("MySqlPort", d.MySqlPort);
    return d;
}
