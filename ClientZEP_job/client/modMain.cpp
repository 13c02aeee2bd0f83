#include "modMain.h"

namespace modMain {

QString AddrMasterServer;
QString AddrWebLogin;
QString AddrAutoUpdate;
QString AddrBackupFtp;
QString AddrMessenger;
QString ServerAddress;
qint32 MyUserId = 0;
QString MyName;

} // namespace modMain

#include "ErrorLog.h"
#include "VbError.h"

namespace modMain {

void ResolveEndpoints(const std::function<QString(const QString& entryName)>& lookup,
                      const Deployment& defaults) {
    struct Row {
        const char16_t* entryName;
        QString* variable;
        const QString* fallback;
    };
    const Row rows[] = {
        {u"토박마스터서버", &AddrMasterServer, &defaults.AddrMasterServer},
        {u"토박소프트_웹_로그인", &AddrWebLogin, &defaults.AddrWebLogin},
        {u"자동업데이트_런처", &AddrAutoUpdate, &defaults.AddrAutoUpdate},
        {u"작업서버_DB백업_FTP", &AddrBackupFtp, &defaults.AddrBackupFtp},
        {u"사내메신저소켓", &AddrMessenger, &defaults.AddrMessenger},
    };
    for (const Row& row : rows) {
        try {
            *row.variable = lookup(QString::fromUtf16(row.entryName));
        } catch (const VbError& e) {
            *row.variable = QString();
            ErrorLog::WriteToFile(VbErrors::trappedText(e, QStringLiteral("Main"), QStringLiteral("Module"),
                                                        QStringLiteral("modMain")));
        }
    }
    for (const Row& row : rows)
        if (row.variable->isEmpty())
            *row.variable = *row.fallback;
}

QString ChooseServerAddress(const QString& commandLine) {
    if (commandLine.isEmpty() || commandLine.startsWith(QLatin1Char('#')))
        return AddrMessenger;
    return commandLine;
}

} // namespace modMain
