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
#include "modServerAddressUtil.h"

namespace modMain {

const QList<Endpoint>& Endpoints() {
    static const QList<Endpoint> rows = {
        {u"토박마스터서버", "AddrMasterServer", &AddrMasterServer, &Deployment::AddrMasterServer,
         &Deployment::mySqlTls},
        {u"토박소프트_웹_로그인", "AddrWebLogin", &AddrWebLogin, &Deployment::AddrWebLogin,
         &Deployment::mySqlTls},
        {u"자동업데이트_런처", "AddrAutoUpdate", &AddrAutoUpdate, &Deployment::AddrAutoUpdate,
         &Deployment::httpTls},
        {u"작업서버_DB백업_FTP", "AddrBackupFtp", &AddrBackupFtp, &Deployment::AddrBackupFtp,
         &Deployment::ftpTls},
        {u"사내메신저소켓", "AddrMessenger", &AddrMessenger, &Deployment::AddrMessenger, nullptr},
    };
    return rows;
}

void ResolveEndpoints(const std::function<QString(const QString& entryName)>& lookup,
                      const Deployment& defaults, bool directoryVerified) {
    for (const Endpoint& row : Endpoints()) {
        *row.variable = QString();
        if (!modServerAddressUtil::MayNameHost(directoryVerified, row.tlsOf(defaults)))
            continue;
        try {
            *row.variable = lookup(QString::fromUtf16(row.entryName));
        } catch (const VbError& e) {
            *row.variable = QString();
            ErrorLog::WriteToFile(VbErrors::trappedText(e, QStringLiteral("Main"), QStringLiteral("Module"),
                                                        QStringLiteral("modMain")));
        }
    }
    for (const Endpoint& row : Endpoints())
        if (row.variable->isEmpty())
            *row.variable = defaults.*row.fallback;
}

void ResolveAtStartup(const Deployment& deployment) {
    const auto logTrapped = [](int number, const QString& description) {
        ErrorLog::WriteToFile(VbErrors::trappedText(number, description, QStringLiteral("Main"),
                                                    QStringLiteral("Module"), QStringLiteral("modMain")));
    };
    // Each step on its own: a failed refresh still loads the cache of an earlier run, and whatever happens
    // the endpoints end up resolved, defaults included.
    const auto trapped = [&](const std::function<void()>& step) {
        try {
            step();
        } catch (const VbError& e) {
            logTrapped(e.number(), e.description());
        } catch (const std::exception& e) {
            logTrapped(51, QString::fromUtf8(e.what()));
        }
    };
    trapped([&] {
        modServerAddressUtil::RefreshServerDirectory(QString(),
                                                     modServerAddressUtil::DirectoryServer::of(deployment));
    });
    trapped([] { modServerAddressUtil::LoadServerDirectory(); });
    ResolveEndpoints(
        [](const QString& name) {
            try {
                return modServerAddressUtil::LookupServerHost(name);
            } catch (const VbError&) {
                throw;
            } catch (const std::exception& e) {
                throw VbError(51, QStringLiteral("modMain"), QString::fromUtf8(e.what()));
            }
        },
        deployment, modServerAddressUtil::LoadedDirectoryVerified());
}

JobContext JobServers(const Clock& clock, const Deployment& deployment) {
    return JobContext{
        clock,          AddrMasterServer, AddrWebLogin, deployment.WebHostFtpHost, deployment.BackupFtpHost,
        AddrAutoUpdate, deployment};
}

QString ChooseServerAddress(const QString& commandLine) {
    if (commandLine.isEmpty() || commandLine.startsWith(QLatin1Char('#')))
        return AddrMessenger;
    return commandLine;
}

} // namespace modMain
