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
    const QByteArray expected =
        "\xEF\xBB\xBF" +
        json::JsonToText((*json::JsonParse(QString::fromUtf8(answer)))[QStringLiteral("data")]).toUtf8();
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

// A server that asks for the password in clear, as an attacker answering for the log database would: the bot
// refuses, and the password never reaches the socket.
TEST_F(TlsTest, NoServerGetsTheMySqlPasswordInClear) {
    QTemporaryDir dir;
    QProcess server;
    server.start(QStringLiteral("/usr/bin/python3"),
                 {QStringLiteral(ZEPJOB_CLEAR_PASSWORD_SERVER), dir.path()});
    ASSERT_TRUE(server.waitForStarted());
    quint16 port = 0;
    TestSupport::waitUntil([&] { return (port = TestSupport::fixturePort(dir.path())) != 0; }, 5000, 25);
    ASSERT_NE(port, 0);
    const struct {
        const char* mode;
        bool loggedIn; // the client sent its log-in packet before the server asked for the password
    } cases[] = {{"greeting", false}, {"switch", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
        writeFile(dir.path() + QStringLiteral("/mode"), c.mode);
        QFile::remove(dir.path() + QStringLiteral("/received"));
        cMySQL db;
        db.setTls({});
        EXPECT_FALSE(db.real_connect(Here, QStringLiteral("qz_logs_read"), QStringLiteral("pomel3526"),
                                     QStringLiteral("qz_logs"), port, QString(), 0, true));
        // Refused for the plug-in it asked for (the library's text garbles the plug-in's name after a
        // switch).
        EXPECT_EQ(db.err_no(), CR_PLUGIN_NOT_ALLOWED) << db.err_description().toStdString();
        const QByteArray received = TestSupport::readAll(dir.path() + QStringLiteral("/received"));
        EXPECT_EQ(received.contains("qz_logs_read"), c.loggedIn);
        EXPECT_FALSE(received.contains("pomel3526"));
    }
    server.kill();
    server.waitForFinished();
}

} // namespace
