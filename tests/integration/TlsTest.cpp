#include "FtpServer.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "PeerProbe.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "cMySQL.h"
#include "json.h"
#include "modJobFTP.h"
#include "modJobMain.h"
#include "modMain.h"
#include "modServerAddressUtil.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The jobs against the TLS peers of the fixture (tests/integration/tls): each peer reached with a good
// certificate, with a certificate for another name (the same server dialled as 127.0.0.2), through a CA the
// bot was not given, and as a server that speaks no TLS at all.
namespace {

using TestSupport::writeFile;

const TestSupport::FixedClock Today(QDateTime(QDate(2026, 3, 10), QTime(9, 5)));
const QString Here = QStringLiteral("127.0.0.1");
const QString OtherName = QStringLiteral("127.0.0.2");

QString tlsFolder() {
    return TestSupport::fixtureFolder("tls-fixture");
}
QString peersFolder() {
    return tlsFolder() + QStringLiteral("/peers");
}
QString certificate(const char* name) {
    return tlsFolder() + QStringLiteral("/certs/") + QLatin1String(name) + QStringLiteral(".pem");
}
// The port of one of the fixture's servers: "ftps", "ftp", "https", "http".
quint16 peerPort(const char* name) {
    for (const QByteArray& line : TestSupport::readAll(peersFolder() + QStringLiteral("/ports")).split('\n'))
        if (line.startsWith(QByteArray(name) + ' '))
            return quint16(line.mid(qstrlen(name) + 1).toUInt());
    return 0;
}
quint16 tlsMySqlPort() {
    return TestSupport::fixturePort(tlsFolder() + QStringLiteral("/mariadb"));
}

// One way of reaching a peer, and what the error log must say when it is refused (empty: it is not).
struct Way {
    const char* name;
    QString host;
    quint16 port;
    QString caFile;
    QString why;
};

QList<Way> waysTo(quint16 tlsPort, quint16 plainPort) {
    return {
        {"a good certificate", Here, tlsPort, certificate("ca"), {}},
        {"a certificate for another name", OtherName, tlsPort, certificate("ca"),
         QStringLiteral("the server's certificate is for another name")},
        {"an unknown CA", Here, tlsPort, certificate("stranger"),
         QStringLiteral("the server's certificate is signed by a CA this bot does not trust")},
        {"a plain server", Here, plainPort, certificate("ca"),
         QStringLiteral("the server does not offer TLS")},
    };
}

class TlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new QTemporaryDir;
        ProgramInfo::setFolder(folder_->path());
        writeFile(folder_->path() + QStringLiteral("/setup.ini"), "[General]\r\nFTP_PASV=1\r\n");
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override {
        ASSERT_NE(peerPort("ftps"), 0) << "no TLS fixture in " << tlsFolder().toStdString();
        ASSERT_NE(tlsMySqlPort(), 0) << "no TLS MariaDB in " << tlsFolder().toStdString();
        QFile::remove(folder() + QStringLiteral("/ErrorLog.txt"));
    }

    static QString folder() { return folder_->path(); }
    static void deploy(const QString& lines) {
        writeFile(folder() + QStringLiteral("/deployment.ini"),
                  (QStringLiteral("[Deployment]\r\n") + lines).toUtf8());
    }
    // The error log, whole.
    static QString errorLog() { return TestSupport::readCp949(folder() + QStringLiteral("/ErrorLog.txt")); }
    // The FTP commands the server at host:port received since the last call.
    static QStringList takeCommands(const QString& host, quint16 port) {
        const QString path = peersFolder() + QStringLiteral("/commands.log");
        QStringList commands;
        const QString prefix = QStringLiteral("%1:%2 ").arg(host).arg(port);
        for (const QString& line : QString::fromLatin1(TestSupport::readAll(path)).split(QLatin1Char('\n')))
            if (line.startsWith(prefix))
                commands.append(line.mid(prefix.size()));
        QFile::remove(path);
        return commands;
    }

    MessageBoxRecorder boxes;

private:
    static inline QTemporaryDir* folder_ = nullptr;
};

TEST_F(TlsTest, FtpJobsSendThePasswordOnlyToAVerifiedServer) {
    const QString backup = peersFolder() + QStringLiteral("/backup");
    FtpServer::createFile(backup + QStringLiteral("/csdb_backup/servers/db1"));
    FtpServer::createFile(backup + QStringLiteral("/csdb_backup_new/daily/2026-03-10/(db1)full.zip"));
    const QString title = QStringLiteral("< DB 백업결과 보고서 >\r\n\r\n");
    for (const Way& way : waysTo(peerPort("ftps"), peerPort("ftp"))) {
        SCOPED_TRACE(way.name);
        deploy(QStringLiteral("FtpPort=%1\r\nFtpTls=required\r\nTlsCaFile=%2\r\n")
                   .arg(way.port)
                   .arg(way.caFile));
        takeCommands(way.host, way.port);
        QFile::remove(folder() + QStringLiteral("/ErrorLog.txt"));
        const JobContext context{Today, {}, {}, {}, way.host, {}, Deployment::load(folder())};
        QString report;
        const bool ran = modJobFTP::DB_BackupCheck(report, context);
        const QStringList commands = takeCommands(way.host, way.port);
        if (way.why.isEmpty()) {
            EXPECT_TRUE(ran);
            EXPECT_EQ(report,
                      title + QStringLiteral("[OK] (db1)full.zip\r\n\r\n\r\n결과: 1건 모두 정상입니다."));
            // TLS before the log-in, and the listings protected too.
            ASSERT_FALSE(commands.isEmpty());
            EXPECT_EQ(commands.first(), QStringLiteral("AUTH"));
            EXPECT_LT(commands.indexOf(QStringLiteral("PROT")), commands.indexOf(QStringLiteral("NLST")));
            EXPECT_TRUE(commands.contains(QStringLiteral("PASS")));
            EXPECT_EQ(errorLog(), QString());
        } else {
            EXPECT_FALSE(ran);
            EXPECT_EQ(report, title + QStringLiteral("FTP Open에 실패했습니다.\r\n") + way.host +
                                  QStringLiteral(" - user: backup_checker\r\n"));
            EXPECT_FALSE(commands.contains(QStringLiteral("USER"))) << commands.join(' ').toStdString();
            EXPECT_FALSE(commands.contains(QStringLiteral("PASS"))) << commands.join(' ').toStdString();
            EXPECT_TRUE(errorLog().contains(way.why)) << errorLog().toStdString();
        }
    }
    modJobFTP::FTP_Close();
}

TEST_F(TlsTest, MySqlJobsLogInOnlyOverVerifiedTls) {
    MariaDbServer::Admin tlsAdmin(tlsFolder() + QStringLiteral("/mariadb/mysqld.sock"));
    MariaDbServer::Admin plainAdmin;
    ASSERT_TRUE(tlsAdmin.connected());
    ASSERT_TRUE(plainAdmin.connected());
    const QString header =
        QStringLiteral("하드   잔량    감소 Days 결과\r\n-----------------------------\r\n");
    for (const Way& way : waysTo(tlsMySqlPort(), MariaDbServer::port())) {
        SCOPED_TRACE(way.name);
        MariaDbServer::Admin& admin = way.port == tlsMySqlPort() ? tlsAdmin : plainAdmin;
        admin.setDiskSpace();
        admin.exec(QStringLiteral("SET GLOBAL log_output = 'TABLE'"));
        admin.exec(QStringLiteral("SET GLOBAL general_log = ON"));
        admin.exec(QStringLiteral("TRUNCATE TABLE mysql.general_log"));
        deploy(QStringLiteral("MySqlPort=%1\r\nMySqlTls=required\r\nTlsCaFile=%2\r\n")
                   .arg(way.port)
                   .arg(way.caFile));
        QFile::remove(folder() + QStringLiteral("/ErrorLog.txt"));

        const QString report = modJobMain::ServersHDDFreeCheck(
            JobContext{Today, way.host, {}, {}, {}, {}, Deployment::load(folder())});
        const QString logins = admin.exec(QStringLiteral(
            "SELECT COUNT(*) FROM mysql.general_log WHERE command_type = 'Connect' AND argument LIKE "
            "'qz_logs_read@%'"));
        admin.exec(QStringLiteral("SET GLOBAL general_log = OFF"));
        if (way.why.isEmpty()) {
            EXPECT_EQ(report,
                      QStringLiteral("< 하드잔량 보고서 >\r\n일시: 2026-03-09 23:30\r\n결과: 0건 모두 "
                                     "정상입니다.\r\n-----------------------------\r\n") +
                          header + QStringLiteral("-----------------------------"));
            EXPECT_EQ(logins, QStringLiteral("1"));
            EXPECT_EQ(errorLog(), QString());
        } else {
            EXPECT_EQ(report, header + QStringLiteral("DB Open에 실패했습니다.\r\n") + way.host +
                                  QStringLiteral(" qz_logs_read\r\n"));
            EXPECT_EQ(logins, QStringLiteral("0"));
            EXPECT_TRUE(errorLog().contains(way.why)) << errorLog().toStdString();
        }
    }
}

TEST_F(TlsTest, TheDirectoryIsTakenOnlyFromAVerifiedServer) {
    const QByteArray answer =
        R"({"success":true,"data":{"ver":3,"servers":[{"name":"사내메신저소켓","host":"127.0.0.9"}]}})";
    QDir().mkpath(peersFolder() + QStringLiteral("/www/serverinfo"));
    writeFile(peersFolder() + QStringLiteral("/www/serverinfo/server-address-checker.php"), answer);
    const QString cache = folder() + QLatin1Char('/') + modServerAddressUtil::CacheFileName();
    // Kept with the bot's note that it came over verified TLS.
    const QByteArray expected =
        "\xEF\xBB\xBF" +
        json::JsonToText((*json::JsonParse(QString::fromUtf8(answer)))[QStringLiteral("data")])
            .chopped(1)
            .toUtf8() +
        ",\"fetchedOverVerifiedTls\": true}";
    for (const Way& way : waysTo(peerPort("https"), peerPort("http"))) {
        SCOPED_TRACE(way.name);
        QFile::remove(cache);
        QFile::remove(folder() + QStringLiteral("/ErrorLog.txt"));
        deploy(QStringLiteral("DirectoryServer=%1:%2\r\nHttpTls=required\r\nTlsCaFile=%3\r\n")
                   .arg(way.host)
                   .arg(way.port)
                   .arg(way.caFile));
        const bool understood = modServerAddressUtil::RefreshServerDirectory(
            QString(), modServerAddressUtil::DirectoryServer::of(Deployment::load(folder())));
        if (way.why.isEmpty()) {
            EXPECT_TRUE(understood);
            EXPECT_EQ(TestSupport::readAll(cache), expected);
            EXPECT_EQ(errorLog(), QString());
        } else {
            EXPECT_FALSE(understood);
            EXPECT_FALSE(QFile::exists(cache));
            EXPECT_TRUE(errorLog().contains(way.why)) << errorLog().toStdString();
        }
    }
}

TEST_F(TlsTest, CheckTellsWhetherEachLinkIsEncryptedAndWhenItsCertificateExpires) {
    const Tls::Policy tls{true, certificate("ca")};
    const QDateTime now = QDateTime::currentDateTimeUtc();
    deploy(QStringLiteral("MySqlPort=%1\r\n").arg(tlsMySqlPort()));
    struct Case {
        const char* name;
        PeerProbe::Outcome outcome;
        bool encrypted;
        qint64 days; // left on the certificate
    };
    const QList<Case> cases = {
        {"FTP over TLS",
         PeerProbe::ftp(Here, QStringLiteral("backup_checker"), QStringLiteral("Rtm_e457."), peerPort("ftps"),
                        true, 5000, tls),
         true, 399},
        {"FTP in clear",
         PeerProbe::ftp(Here, QStringLiteral("backup_checker"), QStringLiteral("Rtm_e457."), peerPort("ftp"),
                        true, 5000),
         false, 0},
        {"HTTPS, a certificate of ten days",
         PeerProbe::http(QStringLiteral("https://127.0.0.1:%1/none").arg(peerPort("https")), 5000, tls), true,
         9},
        {"MySQL over TLS",
         PeerProbe::mysql(Here, QStringLiteral("qz_logs_read"), QStringLiteral("pomel3526"),
                          QStringLiteral("qz_logs"), tlsMySqlPort(), 5, tls),
         true, 399},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The HTTPS server answers 404 for a file it lacks: the link stands all the same.
        EXPECT_TRUE(c.outcome.ok || c.outcome.words.contains(QLatin1String("404")))
            << c.outcome.words.toStdString();
        EXPECT_EQ(c.outcome.encrypted, c.encrypted);
        if (!c.encrypted) {
            EXPECT_EQ(PeerProbe::linkWords(c.outcome, now), QStringLiteral("in clear"));
            continue;
        }
        ASSERT_TRUE(c.outcome.certificate.has_value());
        EXPECT_TRUE(c.outcome.certificate->subject.contains(QLatin1String("127.0.0.1")))
            << c.outcome.certificate->subject.toStdString();
        EXPECT_EQ(Tls::daysLeft(*c.outcome.certificate, now), c.days);
        EXPECT_TRUE(PeerProbe::linkWords(c.outcome, now)
                        .endsWith(QStringLiteral(", expires in %1 days").arg(c.days)));
    }
}

// A server that requires TLS refuses a log-in in clear as it would a wrong password; the check says that TLS
// may be the reason where the server offers it.
TEST_F(TlsTest, CheckHintsAtTlsWhenAServerOfferingItRefusesALogInInClear) {
    const struct {
        const char* name;
        quint16 port;
        const char* password;
        const char* words;
    } cases[] = {
        {"the server requires TLS", tlsMySqlPort(), "pomel3526",
         "login refused (the server offers TLS and may require it: MySqlTls=required)"},
        {"a wrong password to a server without TLS", MariaDbServer::port(), "wrong", "login refused"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const PeerProbe::Outcome outcome =
            PeerProbe::mysql(Here, QStringLiteral("qz_logs_read"), QLatin1String(c.password),
                             QStringLiteral("qz_logs"), c.port, 5);
        EXPECT_EQ(outcome.words, QLatin1String(c.words));
    }
}

// The administrator's check, run as the binary: each TLS link with its certificate, and a certificate that
// expires within 14 days as a problem.
TEST_F(TlsTest, CheckNamesACertificateAboutToExpire) {
    QTemporaryDir program;
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(ZEPJOB_BOT_BINARY), program.path() + QStringLiteral("/ClientZEP_job")));
    const QString https = QStringLiteral("127.0.0.1:%1").arg(peerPort("https"));
    writeFile(program.path() + QStringLiteral("/deployment.ini"),
              QStringLiteral("[Deployment]\r\nDirectoryServer=%1\r\nAddrAutoUpdate=%1\r\nFtpPort=%2\r\n"
                             "FtpTls=required\r\nHttpTls=required\r\nTlsCaFile=%3\r\n")
                  .arg(https)
                  .arg(peerPort("ftps"))
                  .arg(certificate("ca"))
                  .toUtf8());
    QProcess check;
    check.start(program.path() + QStringLiteral("/ClientZEP_job"), {QStringLiteral("--check")});
    ASSERT_TRUE(check.waitForFinished(60000));
    const QString out = QString::fromUtf8(check.readAllStandardOutput());
    const QString ftp =
        QStringLiteral("  backup FTP backup_checker@127.0.0.1:%1: ok, encrypted, certificate ")
            .arg(peerPort("ftps"));
    const QString update = QStringLiteral("update server https://") + https +
                           QStringLiteral("/download/자동업데이트_v1/VerProbeV1_lastver.txt");
    EXPECT_TRUE(out.contains(ftp)) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral(", expires in 399 days\n"))) << out.toStdString();
    EXPECT_TRUE(out.contains(QStringLiteral("  problem: the certificate of ") + update +
                             QStringLiteral(" expires in 9 days\n")))
        << out.toStdString();
    EXPECT_EQ(check.exitCode(), 1);
}

// A MySQL server of the attacker's (mariadb/clear-password-server.py) at 127.0.0.3, and on `port`: it asks
// for `plugin` in its greeting or after a switch, with a certificate from the company's CA for 127.0.0.3 when
// `tls`.
class PasswordTaker {
public:
    explicit PasswordTaker(quint16 port = 0) {
        server_.start("/usr/bin/python3",
                      {ZEPJOB_CLEAR_PASSWORD_SERVER, dir_.path(), Elsewhere, QString::number(port)});
        TestSupport::waitUntil([&] { return (port_ = TestSupport::fixturePort(dir_.path())) != 0; }, 5000,
                               25);
    }
    ~PasswordTaker() { server_.kill(), server_.waitForFinished(); }
    void expect(const char* plugin, const char* mode, bool tls) {
        writeFile(dir_.path() + "/plugin", plugin), writeFile(dir_.path() + "/mode", mode);
        QFile::remove(dir_.path() + "/received"), QFile::remove(dir_.path() + "/cert.pem");
        if (tls)
            QFile::copy(certificate("elsewhere"), dir_.path() + "/cert.pem"),
                QFile::copy(tlsFolder() + "/certs/elsewhere.key", dir_.path() + "/key.pem");
    }
    QByteArray received() const { return TestSupport::readAll(dir_.path() + "/received"); }

    static inline const QString Elsewhere = "127.0.0.3";
    quint16 port_ = 0;

private:
    QTemporaryDir dir_;
    QProcess server_;
};

// A server that asks for a plug-in handing it the password (or, in clear, for one that sends it encrypted to
// a key the server chooses): the bot refuses, the error log names the plug-in, and the password never reaches
// the server, not even over verified TLS.
TEST_F(TlsTest, NoServerIsHandedTheMySqlPassword) {
    PasswordTaker taker;
    ASSERT_NE(taker.port_, 0);
    const QString handsOver = ", which would hand it the password";
    const struct {
        const char *plugin, *mode;
        bool tls, loggedIn; // the client sent its log-in packet before the server asked for the plug-in
        QString why;
    } cases[] = {
        {"mysql_clear_password", "greeting", false, false, "mysql_clear_password" + handsOver},
        {"mysql_clear_password", "switch", true, true, "mysql_clear_password" + handsOver},
        {"dialog", "switch", false, true, "dialog" + handsOver},
        {"dialog", "greeting", true, false, "dialog" + handsOver},
        {"sha256_password", "greeting", false, false,
         "sha256_password, which this bot allows only over TLS (MySqlTls=required)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.plugin) + " " + c.mode + (c.tls ? " over TLS" : " in clear"));
        taker.expect(c.plugin, c.mode, c.tls);
        QFile::remove(folder() + "/ErrorLog.txt");
        cMySQL db;
        db.setTls({c.tls, certificate("ca")});
        EXPECT_FALSE(db.real_connect(PasswordTaker::Elsewhere, "qz_logs_read", "pomel3526", "qz_logs",
                                     taker.port_, QString(), 0, true));
        db.logLoginRefusal("log database");
        EXPECT_TRUE(
            errorLog().contains("MySQL log database 127.0.0.3/qz_logs: no log-in: the server asked for the "
                                "authentication plug-in " +
                                c.why))
            << errorLog().toStdString();
        EXPECT_EQ(taker.received().contains("qz_logs_read"), c.loggedIn);
        EXPECT_FALSE(taker.received().contains("pomel3526"));
    }
}

// The directory in clear names, for the log database, a server with a certificate from the company's CA for
// that very name, which asks for the password in clear: with MySqlTls required the bot never goes there and
// takes deployment.ini's host, at start-up and from the cache the answer left, and --check says why; only a
// directory that came over verified TLS names that host, and then the plug-in rule keeps the password.
TEST_F(TlsTest, AClearDirectoryNamesNoHostOfATlsPeer) {
    MariaDbServer::Admin tlsAdmin(tlsFolder() + "/mariadb/mysqld.sock");
    ASSERT_TRUE(tlsAdmin.connected());
    tlsAdmin.setDiskSpace();
    PasswordTaker taker(tlsMySqlPort());
    ASSERT_EQ(taker.port_, tlsMySqlPort());
    taker.expect("mysql_clear_password", "switch", true);
    QDir().mkpath(peersFolder() + "/www/serverinfo");
    writeFile(
        peersFolder() + "/www/serverinfo/server-address-checker.php",
        R"({"success":true,"data":{"ver":4,"fetchedOverVerifiedTls":true,"servers":[)"
        R"({"name":"토박마스터서버","host":"127.0.0.3"},{"name":"사내메신저소켓","host":"127.0.0.9"}]}})");
    const QString cache = folder() + "/" + modServerAddressUtil::CacheFileName();
    QFile::remove(cache);
    const QString passedOver =
        "default from deployment.ini line 4 (MySqlTls is required and the %1 came in clear: "
        "its 토박마스터서버 127.0.0.3 is not used)";
    const struct {
        const char* name;
        QString directory; // DirectoryServer, HttpTls
        QString host;      // of the log database
        QString source;    // as --check tells it
    } cases[] = {
        {"a directory in clear", QString("127.0.0.1:%1\r\nHttpTls=off").arg(peerPort("http")), Here,
         passedOver.arg("directory answer")},
        {"its cache, the directory gone", "127.0.0.1:1\r\nHttpTls=off", Here, passedOver.arg("cache")},
        {"a directory over verified TLS", QString("127.0.0.1:%1\r\nHttpTls=required").arg(peerPort("https")),
         PasswordTaker::Elsewhere, "directory answer over verified TLS (토박마스터서버)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        deploy(QString("MySqlPort=%1\r\nMySqlTls=required\r\nAddrMasterServer=127.0.0.1\r\nTlsCaFile=%2\r\n"
                       "DirectoryServer=%3\r\n")
                   .arg(tlsMySqlPort())
                   .arg(certificate("ca"), c.directory));
        QFile::remove(folder() + "/ErrorLog.txt");
        QProcess check;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("ZEPJOB_PROGRAM_FOLDER", folder());
        check.setProcessEnvironment(environment);
        check.start(ZEPJOB_BOT_BINARY, {"--check"});
        ASSERT_TRUE(check.waitForFinished(60000));
        const QString out = QString::fromUtf8(check.readAllStandardOutput());
        EXPECT_TRUE(out.contains("  AddrMasterServer " + c.host.leftJustified(15) + " " + c.source + "\n"))
            << out.toStdString();

        const Deployment deployment = Deployment::load(folder());
        modServerAddressUtil::ForgetServerDirectory();
        modMain::ResolveAtStartup(deployment);
        EXPECT_EQ(modMain::AddrMasterServer, c.host);
        EXPECT_EQ(modMain::AddrMessenger, "127.0.0.9"); // a peer in clear takes any directory
        const QString report = modJobMain::ServersHDDFreeCheck(modMain::JobServers(Today, deployment));
        EXPECT_EQ(
            report.startsWith("< 하드잔량 보고서 >\r\n일시: 2026-03-09 23:30\r\n결과: 0건 모두 정상입니다."),
            c.host == Here)
            << report.toStdString();
        EXPECT_EQ(errorLog().contains("mysql_clear_password, which would hand it the password"),
                  c.host != Here);
        EXPECT_EQ(taker.received().contains("qz_logs_read"), c.host != Here);
        EXPECT_FALSE(taker.received().contains("pomel3526"));
        // The answer's own claim is never kept; only the bot's knowledge of how it came.
        EXPECT_EQ(TestSupport::readAll(cache).contains("\"fetchedOverVerifiedTls\": true"), c.host != Here);
    }
}

} // namespace
