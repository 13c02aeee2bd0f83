#include "Check.h"

#include "ChatCommands.h"
#include "Deployment.h"
#include "FtpClient.h"
#include "HttpClient.h"
#include "JobAccounts.h"
#include "PeerProbe.h"
#include "ProgramInfo.h"
#include "VbError.h"
#include "modAutoUpdateV1_Launcher.h"
#include "modIniFile.h"
#include "modJobFTP.h"
#include "modMain.h"
#include "modServerAddressUtil.h"

#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <optional>

namespace Check {
namespace {

void print(const QString& line = QString()) {
    std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stdout);
    std::fflush(stdout);
}

QString padded(const QString& text, int width) {
    return text.leftJustified(width);
}

// The line of deployment.ini that sets `key`, or 0.
int lineOf(const DeploymentFile& deployment, const QString& key) {
    for (const DeploymentFile::Setting& s : deployment.settings)
        if (s.key == key && s.line != 0)
            return s.line;
    return 0;
}

// Where the default of a deployment.ini key comes from.
QString defaultSource(const DeploymentFile& deployment, const QString& key) {
    const int line = lineOf(deployment, key);
    return line != 0 ? QStringLiteral("default from deployment.ini line %1").arg(line)
                     : QStringLiteral("default");
}

// The directory as the cache file holds it, or why there is none.
struct Cache {
    std::optional<JsonValue> directory;
    QString state;
};

Cache readCache(const QString& path) {
    if (!modServerAddressUtil::FileExists(path))
        return {std::nullopt, QStringLiteral("none")};
    std::optional<JsonValue> parsed = json::JsonParse(modServerAddressUtil::ReadUtf8File(path));
    if (!parsed || !parsed->isObject())
        return {std::nullopt, QStringLiteral("does not parse (start-up then asks nothing and uses the "
                                             "defaults; remove the file)")};
    QString ver;
    try {
        ver = (*parsed)[QStringLiteral("ver")].asText();
    } catch (const VbError&) {
    }
    const QString how = modServerAddressUtil::CameOverVerifiedTls(*parsed)
                            ? QStringLiteral(", came over verified TLS")
                            : QString();
    return {std::move(parsed),
            (ver.isEmpty() ? QStringLiteral("no \"ver\"") : QStringLiteral("ver ") + ver) + how};
}

// The deployment.ini key that makes TLS required for an endpoint's peer.
QString tlsKey(const modMain::Endpoint& row) {
    if (row.tls == &Deployment::mySqlTls)
        return QStringLiteral("MySqlTls");
    if (row.tls == &Deployment::ftpTls)
        return QStringLiteral("FtpTls");
    return QStringLiteral("HttpTls");
}

// The host of `entryName` in `directory`: nothing when the entry is missing or empty, or the directory is of
// the wrong shape (start-up then uses the default as well).
std::optional<QString> lookup(const std::optional<JsonValue>& directory, const QString& entryName) {
    if (!directory)
        return std::nullopt;
    try {
        const QString host = modServerAddressUtil::LookupServerHost(*directory, entryName);
        return host.isEmpty() ? std::nullopt : std::optional<QString>(host);
    } catch (const VbError&) {
        return std::nullopt;
    }
}

} // namespace

int main(const QString& hostText) {
    const QString folder = ProgramInfo::folder();
    int problems = 0;
    print(QStringLiteral("ClientZEP_job %1: check of the program folder %2")
              .arg(ProgramInfo::versionText(), folder));

    // deployment.ini
    const QString deploymentPath = Deployment::path(folder);
    const DeploymentFile deployment = Deployment::read(folder);
    print();
    print(QStringLiteral("deployment.ini: %1%2")
              .arg(deploymentPath,
                   deployment.present ? QString() : QStringLiteral(" (none: every value is its default)")));
    for (const DeploymentFile::Setting& s : deployment.settings)
        print(QStringLiteral("  %1 %2 %3")
                  .arg(padded(s.key, 16), padded(s.secret ? QStringLiteral("(not shown)") : s.value, 15),
                       s.line != 0 ? QStringLiteral("line %1").arg(s.line) : QStringLiteral("default")));
    for (const DeploymentIssue& issue : deployment.issues)
        print(QStringLiteral("  problem: ") + issue.text(deploymentPath));
    problems += int(deployment.issues.size());
    print(QStringLiteral("  who may start jobs from a chat (%1): ").arg(ChatCommands::RestrictedWords()) +
          deployment.values.CommandUsers.description());
    // A build without compiled passwords logs in with none of the accounts deployment.ini leaves out.
    const Deployment& values = deployment.values;
    for (const JobAccounts::Account& account :
         {JobAccounts::Messenger(values), JobAccounts::LogDatabase(values), JobAccounts::WebDatabase(values),
          JobAccounts::WebHostFtp(values), JobAccounts::BackupFtp(values)}) {
        if (const QString missing = account.missing(); !missing.isEmpty()) {
            print(QStringLiteral("  problem: the account %1 has %2").arg(account.user, missing));
            ++problems;
        }
    }

    // setup.ini
    const QString setupPath = modIniFile::SetupIniPath();
    const auto setupValue = [&](const char* key) {
        return modIniFile::ReadIniValue(QStringLiteral("General"), QLatin1String(key), QString(), setupPath);
    };
    const QString pasv = setupValue("FTP_PASV");
    const QString root = setupValue("CSBackupPath");
    print();
    print(QStringLiteral("setup.ini: %1%2")
              .arg(setupPath, QFileInfo::exists(setupPath) ? QString() : QStringLiteral(" (none)")));
    const bool passive = pasv == QLatin1String("1");
    QString pasvState = passive          ? QStringLiteral("passive FTP")
                        : pasv.isEmpty() ? QStringLiteral("not set: active FTP")
                                         : QStringLiteral("active FTP (passive only with 1)");
    if (!FtpClient::passiveWith(passive, false) && FtpClient::passiveWith(passive, deployment.values.FtpTls))
        pasvState += QStringLiteral("; passive all the same, as FTP runs over TLS (FtpTls=required)");
    print(QStringLiteral("  %1 %2 %3")
              .arg(padded(QStringLiteral("FTP_PASV"), 16), padded(pasv, 15), pasvState));
    QString rootState;
    if (root.isEmpty())
        rootState = QStringLiteral("not set: the CS backup check cannot run");
    else if (QFileInfo(root).isDir())
        rootState = QStringLiteral("exists");
    else
        rootState = QStringLiteral("does not exist");
    if (rootState != QLatin1String("exists"))
        ++problems;
    print(QStringLiteral("  %1 %2 %3")
              .arg(padded(QStringLiteral("CSBackupPath"), 16), padded(root, 15), rootState));

    // The address directory: asked as start-up asks it, its answer shown but not kept.
    const QString cachePath = folder + QLatin1Char('/') + modServerAddressUtil::CacheFileName();
    const Cache cache = readCache(cachePath);
    HttpClient::Options bounds;
    bounds.connectTimeoutMs = PeerTimeoutMs;
    bounds.totalTimeoutMs = PeerTimeoutMs;
    bounds.certificate = true;
    modServerAddressUtil::DirectoryAnswer answer;
    try {
        answer = modServerAddressUtil::AskServerDirectory(
            QString(), modServerAddressUtil::DirectoryServer::of(deployment.values), bounds);
    } catch (const VbError&) {
        answer = {}; // a cache of the wrong shape: nothing is asked
    }
    print();
    print(QStringLiteral("address directory: cache %1: %2").arg(cachePath, cache.state));
    if (answer.asked) {
        QString said;
        if (answer.directory)
            said = QStringLiteral("a new directory (start-up keeps it as the cache)");
        else if (answer.understood)
            said = QStringLiteral("no new directory (start-up keeps the cache)");
        else
            said = QStringLiteral("no usable answer (start-up keeps the cache)");
        print(QStringLiteral("  asked %1: %2").arg(answer.request, said));
    }
    const std::optional<JsonValue>& used = answer.directory ? answer.directory : cache.directory;
    const bool verified = answer.directory
                              ? answer.verified
                              : cache.directory && modServerAddressUtil::CameOverVerifiedTls(*used);
    const QString usedName =
        (answer.directory ? QStringLiteral("directory answer") : QStringLiteral("cache")) +
        (verified ? QStringLiteral(" over verified TLS") : QString());
    for (const modMain::Endpoint& row : modMain::Endpoints()) {
        const QString name = QLatin1String(row.variableName);
        const QString entry = QString::fromUtf16(row.entryName);
        const std::optional<QString> found = lookup(used, entry);
        const bool taken = found && modServerAddressUtil::MayNameHost(verified, row.tlsOf(deployment.values));
        *row.variable = taken ? *found : deployment.values.*row.fallback;
        QString source;
        if (taken)
            source = usedName + QStringLiteral(" (") + entry + QLatin1Char(')');
        else if (found)
            source = defaultSource(deployment, name) +
                     QStringLiteral(" (%1 is required and the %2 came in clear: its %3 %4 is not used)")
                         .arg(tlsKey(row), usedName, entry, *found);
        else
            source =
                defaultSource(deployment, name) + QStringLiteral(" (no entry ") + entry + QLatin1Char(')');
        print(QStringLiteral("  %1 %2 %3").arg(padded(name, 16), padded(*row.variable, 15), source));
    }
    // The FTP jobs' hosts are deployment values alone.
    for (const auto& [key, value] :
         {std::pair{QStringLiteral("WebHostFtpHost"), deployment.values.WebHostFtpHost},
          std::pair{QStringLiteral("BackupFtpHost"), deployment.values.BackupFtpHost}}) {
        const int line = lineOf(deployment, key);
        print(QStringLiteral("  %1 %2 %3 (never from the directory)")
                  .arg(padded(key, 16), padded(value, 15),
                       line != 0 ? QStringLiteral("deployment.ini line %1").arg(line)
                                 : QStringLiteral("default")));
    }
    modMain::ServerAddress = modMain::ChooseServerAddress(hostText);
    print(QStringLiteral("  %1 %2 %3")
              .arg(padded(QStringLiteral("ServerAddress"), 16), padded(modMain::ServerAddress, 15),
                   hostText.isEmpty() || hostText.startsWith(QLatin1Char('#'))
                       ? QStringLiteral("AddrMessenger")
                       : QStringLiteral("command line")));

    // Every peer once.
    print();
    print(QStringLiteral("peers (each tried once, for %1 s at most; an FTP log-in for %2 s, as the jobs):")
              .arg(PeerTimeoutMs / 1000)
              .arg(std::chrono::duration_cast<std::chrono::seconds>(FtpClient::Timeouts{}.connect).count()));
    int peers = 0, answering = 0;
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const auto peer = [&](const QString& what, const PeerProbe::Outcome& outcome) {
        ++peers;
        if (outcome.ok)
            ++answering;
        print(QStringLiteral("  %1: %2")
                  .arg(what, outcome.ok
                                 ? outcome.words + QStringLiteral(", ") + PeerProbe::linkWords(outcome, now)
                                 : outcome.words));
        for (const QString& folder : outcome.folderProblems) {
            ++problems;
            print(QStringLiteral("  problem: %1: %2").arg(what, folder));
        }
        // The jobs stop on the day it expires: the administrator hears of it two weeks before.
        if (outcome.certificate &&
            Tls::daysLeft(*outcome.certificate, now) < PeerProbe::CertificateWarningDays) {
            ++problems;
            print(QStringLiteral("  problem: the certificate of %1 expires in %2 days")
                      .arg(what)
                      .arg(Tls::daysLeft(*outcome.certificate, now)));
        }
    };
    const Deployment& d = deployment.values;
    const QString host = modMain::ServerAddress;
    peer(QStringLiteral("messenger %1:%2").arg(host).arg(d.MessengerPort),
         PeerProbe::tcp(host, d.MessengerPort, PeerTimeoutMs));
    if (answer.asked) {
        PeerProbe::Outcome said;
        said.ok = answer.understood;
        said.words = answer.understood ? QStringLiteral("ok")
                     : answer.response.answered && answer.response.status == 200
                         ? QStringLiteral("not a directory answer")
                         : PeerProbe::httpWords(answer.response);
        said.encrypted = answer.response.encrypted;
        said.certificate = answer.response.peerCertificate;
        peer(QStringLiteral("directory %1").arg(answer.request), said);
    } else {
        PeerProbe::Outcome notAsked;
        notAsked.words =
            QStringLiteral("not asked: the cache does not parse, so start-up does not ask either");
        peer(QStringLiteral("directory"), notAsked);
    }
    const QString mysqlPort = QString::number(d.MySqlPort);
    const auto database = [&](const QString& what, const QString& dbHost, const JobAccounts::Account& a) {
        peer(QStringLiteral("%1 %2@%3:%4/%5").arg(what, a.user, dbHost, mysqlPort, a.database),
             PeerProbe::mysql(dbHost, a.user, a.password, a.database, d.MySqlPort, PeerTimeoutMs / 1000,
                              d.mySqlTls()));
    };
    database(QStringLiteral("log database"), modMain::AddrMasterServer, JobAccounts::LogDatabase(d));
    database(QStringLiteral("web database"), modMain::AddrWebLogin, JobAccounts::WebDatabase(d));
    const auto ftp = [&](const QString& what, const QString& ftpHost, const JobAccounts::Account& a,
                         const QStringList& folders) {
        peer(QStringLiteral("%1 %2@%3:%4").arg(what, a.user, ftpHost).arg(d.FtpPort),
             PeerProbe::ftp(ftpHost, a.user, a.password, d.FtpPort, passive, PeerTimeoutMs, d.ftpTls(),
                            folders));
    };
    ftp(QStringLiteral("web host FTP"), d.WebHostFtpHost, JobAccounts::WebHostFtp(d),
        modJobFTP::RemovalFolders());
    ftp(QStringLiteral("backup FTP"), d.BackupFtpHost, JobAccounts::BackupFtp(d), modJobFTP::BackupFolders());
    QString version = modAutoUpdateV1_Launcher::UpdateBaseUrl(modMain::AddrAutoUpdate) +
                      QStringLiteral("VerProbeV1_lastver.txt");
    // As the update client asks it: over https with HttpTls.
    if (d.HttpTls && version.startsWith(QLatin1String("http://")))
        version.replace(0, 4, QStringLiteral("https"));
    peer(QStringLiteral("update server %1").arg(version),
         PeerProbe::http(version, PeerTimeoutMs, d.httpTls()));

    print();
    print(QStringLiteral("%1 of %2 peers answer; %3 configuration %4.")
              .arg(answering)
              .arg(peers)
              .arg(problems)
              .arg(problems == 1 ? QStringLiteral("problem") : QStringLiteral("problems")));
    return answering == peers && problems == 0 ? 0 : 1;
}

} // namespace Check
