// The administrator's commands of the built program, in a program folder of their own, against the real
// MariaDB, FTP and HTTP servers of the test fixtures: "--run-job" prints the very report the chat message
// carries, "--check" tells where each value comes from and which peer answers, and start-up names what it
// cannot use in deployment.ini.

#include "BotRun.h"
#include "FtpServer.h"
#include "HttpServer.h"
#include "MariaDbServer.h"
#include "QStringPrinter.h"
#include "TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QLockFile>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <filesystem>
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

namespace {

// The date every run here sees: Wednesday 2026-12-09, 10:00 (faked, at the real pace).
const char* const Today = "@2026-12-09 10:00:00";

using TestSupport::freePort;

struct Result {
    int exitCode = -1;
    QByteArray out, err;
    qint64 ms = 0;
};

// A program folder with a copy of the built program, its deployment.ini and setup.ini.
class ProgramFolder {
public:
    ProgramFolder(const QByteArray& deployment, const QByteArray& setup) {
        path = QFileInfo(dir.path()).canonicalFilePath();
        EXPECT_TRUE(QFile::copy(QStringLiteral(ZEPJOB_BOT_BINARY), path + "/ClientZEP_job"));
        if (!deployment.isNull())
            writeFile(path + "/deployment.ini", "[Deployment]\r\n" + deployment);
        if (!setup.isNull())
            writeFile(path + "/setup.ini", "[General]\r\n" + setup);
    }

    Result run(const QStringList& arguments, int timeoutMs = 60000) const {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(fakedTime(Today));
        env.remove("DISPLAY"); // a display changes nothing for these commands; keep it out all the same
        process.setProcessEnvironment(env);
        QElapsedTimer clock;
        clock.start();
        process.start(path + "/ClientZEP_job", arguments);
        EXPECT_TRUE(process.waitForFinished(timeoutMs)) << arguments.join(' ').toStdString();
        Result result{process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                      process.readAllStandardOutput(), process.readAllStandardError(), clock.elapsed()};
        return result;
    }

    QStringList errorLog() const { return TestSupport::errorLogLines(path); }

    // Every file of the folder with its size and time of change: what "changes nothing" is checked against.
    QStringList snapshot() const {
        QStringList entries;
        for (const QFileInfo& info :
             QDir(path).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name))
            entries << QStringLiteral("%1 %2 %3")
                           .arg(info.fileName())
                           .arg(info.size())
                           .arg(info.lastModified().toMSecsSinceEpoch());
        return entries;
    }

    QTemporaryDir dir;
    QString path;
};

class AdminCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
        ASSERT_NE(MariaDbServer::port(), 0) << "no MariaDB fixture";
        ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
        ASSERT_TRUE(admin.connected());
        FtpServer::reset();
        HttpServer::reset();
    }
    MariaDbServer::Admin admin;
};

// Each job once, beside a "running bot" (its instance lock held), with its report exactly as the chat
// message would carry it, its lines as lines.
TEST_F(AdminCommandsTest, RunJobPrintsEachJobsReport) {
    admin.setDiskSpaceOfDecember8();
    admin.setFileNames("('3', 'ZepSetup.exe')");
    admin.setProductPages("(52, 'ZepSetup_old.exe')", "(65, 'ZepSetup_old.exe')");

    const QString download = FtpServer::download();
    FtpServer::layOutDownloads({"ZepSetup_2.exe", "readme.txt", "versions/ZepSetup_2.1.zip"});
    FtpServer::layOutBackups({"csdb_backup/servers/SRV1", "csdb_backup/servers/DB",
                              "csdb_backup_new/daily/2026-12-09/(SRV1)_1209.bak", "pvdb_backup/servers/pv7",
                              "pvdb_backup_new/daily/2026-12-09/(pv7).zip",
                              "csdb_backup_new/daily/2026-12-08/(DB)_1208.bak"});

    QTemporaryDir cs;
    QDir().mkpath(cs.path() + "/csdb_backup/2026-12-09");
    writeFile(cs.path() + "/csdb_backup/2026-12-09/cs_full.zip", "zip");

    const ProgramFolder program(jobServerPorts() +
                                    "DirectoryServer=127.0.0.1:" + QByteArray::number(freePort()) + "\r\n",
                                "FTP_PASV=1\r\nCSBackupPath=" + cs.path().toLocal8Bit() + "\r\n");
    QLockFile bot(program.path + "/ClientZEP_job.lock");
    ASSERT_TRUE(bot.tryLock());

    struct Case {
        const char* job;
        QString report;
    };
    const Case cases[] = {
        {"disk-space", "< 하드잔량 보고서 >\n"
                       "일시: 2026-12-08 23:30\n"
                       "결과: 위험(1)건, 경고(1)건 발견!\n"
                       "\n"
                       " - 위험: 2일치 이하(또는 3G이하)\n"
                       " - 경고: 5일치 이하\n"
                       "-----------------------------\n"
                       "하드   잔량    감소 Days 결과\n"
                       "-----------------------------\n"
                       "127.0.0.10\n"
                       "  C:  52,000  1,000   52 OK\n"
                       "  D:   4,500  1,000    4 !\n"
                       "\n"
                       "127.0.0.11\n"
                       "  C:   2,999      0      !!\n"
                       "-----------------------------\n"},
        {"remove-2", "[FTP의 _2제거 일괄작업 처리결과]\n"
                     "\n"
                     "처리완료  ZepSetup_2.exe\n"
                     "처리완료  ZepSetup_2.1.zip\n"
                     "\n"
                     "처리완료:2, 처리실패:0\n"},
        {"db-backup", "< DB 백업결과 보고서 >\n"
                      "\n"
                      "[!!]  DB : File Not Found!\n"
                      "[OK] (SRV1)_1209.bak\n"
                      "[OK] (pv7).zip\n"
                      "\n"
                      "\n"
                      "결과: 백업실패가 발견되었습니다. (1건)\n"},
        {"cs-backup", "[알림] CS DB 파일서버에 다운로드 완료\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.job);
        const Result result = program.run({"--run-job", c.job});
        EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
        EXPECT_EQ(QString::fromUtf8(result.out), c.report);
        EXPECT_EQ(result.err, QByteArray()); // nothing went wrong, nothing to say
    }

    // The removal did its real work: the files are live and the web database points at the new name.
    EXPECT_EQ(FtpServer::names(download), QStringList({"ZepSetup.exe", "readme.txt", "versions/"}));
    EXPECT_EQ(FtpServer::names(download + "/versions"), QStringList({"ZepSetup.1.zip"}));
    EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3 WHERE idx = 52"), "ZepSetup.exe");
    EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3_info WHERE idx = 65"), "ZepSetup.exe");
    EXPECT_TRUE(program.errorLog().isEmpty()) << program.errorLog().join("\n").toStdString();
}

// Servers that do not answer: every job still ran and printed its failure report (exit 0); a job that cannot
// run at all is a one-line reason on standard error and a non-zero exit.
TEST_F(AdminCommandsTest, RunJobWithDeadPeersAndWrongNames) {
    const QByteArray dead = QByteArray::number(freePort());
    const ProgramFolder program("FtpPort=" + dead + "\r\nMySqlPort=" + dead +
                                    "\r\nDirectoryServer=127.0.0.1:" + dead + "\r\n",
                                QByteArray());
    struct Case {
        QStringList arguments;
        int exitCode;
        QString out, err;
    };
    const Case cases[] = {
        {{"--run-job", "disk-space"},
         0,
         "하드   잔량    감소 Days 결과\n-----------------------------\nDB Open에 실패했습니다.\n127.0.0.1 "
         "qz_logs_read\n\n",
         ""},
        {{"--run-job", "remove-2"},
         0,
         "[FTP의 _2제거 일괄작업 처리결과]\n\nFTP Open에 실패했습니다.\n127.0.0.1 - qzc1\n",
         ""},
        {{"--run-job", "db-backup"},
         0,
         "< DB 백업결과 보고서 >\n\nFTP Open에 실패했습니다.\n127.0.0.1 - user: backup_checker\n\n",
         ""},
        {{"--run-job", "cs-backup"},
         0,
         "CS Full 백업 경로가 설정되지 않았습니다. General > CSBackupPath (" + program.path + "/setup.ini)\n",
         ""},
        {{"--run-job", "disk"},
         2,
         "",
         "ClientZEP_job: no job called \"disk\"; the jobs are disk-space, remove-2, db-backup, cs-backup\n"},
        {{"--run-job"}, 2, "", "ClientZEP_job: --run-job takes one job name (see --help)\n"},
        {{"--run-job", "disk-space", "now"},
         2,
         "",
         "ClientZEP_job: --run-job takes one job name (see --help)\n"},
        {{"--runjob", "disk-space"}, 2, "", "ClientZEP_job: unknown option --runjob (see --help)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(' ').toStdString());
        const Result result = program.run(c.arguments);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(QString::fromUtf8(result.out), c.out);
        EXPECT_EQ(QString::fromUtf8(result.err), c.err);
    }
    // Each FTP log-in that failed says why, and the unset backup root is logged as the job always logs it;
    // nothing else is.
    const QStringList log = program.errorLog();
    ASSERT_EQ(log.size(), 3) << log.join('\n').toStdString();
    for (int i = 0; i < 2; ++i) {
        const QRegularExpression line("^FTP 127\\.0\\.0\\.1:" + dead + " \\(" +
                                      (i == 0 ? "qzc1" : "backup_checker") +
                                      "\\): no session: Failed to connect to 127\\.0\\.0\\.1 port " + dead +
                                      " after \\d+ ms: Couldn't connect to server$");
        EXPECT_TRUE(line.match(log[i]).hasMatch()) << log[i].toStdString();
    }
    EXPECT_EQ(log[2], "CS Full 백업 경로가 설정되지 않았습니다. General > CSBackupPath (" + program.path +
                          "/setup.ini)");
}

// Every peer answers: one "ok" line each, exit 0, and the folder is as it was (the directory's answer is
// shown, not kept, although it would replace the cache at start-up).
TEST_F(AdminCommandsTest, CheckWithEveryPeerAnswering) {
    QTcpServer messenger;
    ASSERT_TRUE(messenger.listen(QHostAddress::LocalHost, 0));
    const QString http = HttpServer::host();
    HttpServer::serve(
        "serverinfo/server-address-checker.php",
        (R"({"success": true, "data": {"ver": 5, "servers": [{"name": "자동업데이트_런처", "host": ")" +
         http + R"("}, {"name": "토박마스터서버", "host": "127.0.0.1"}]}})")
            .toUtf8());
    HttpServer::serve("download/자동업데이트_v1/VerProbeV1_lastver.txt", "1");
    QTemporaryDir cs;
    const QString root = QFileInfo(cs.path()).canonicalFilePath();

    const QByteArray dead = QByteArray::number(freePort());
    const ProgramFolder program("MessengerPort=" + QByteArray::number(messenger.serverPort()) +
                                    "\r\nDirectoryServer=" + http.toLatin1() +
                                    "\r\nAddrAutoUpdate=127.0.0.1:" + dead + "\r\n" + jobServerPorts(),
                                "FTP_PASV=1\r\nCSBackupPath=" + root.toLocal8Bit() + "\r\n");
    const QByteArray cache =
        "\xEF\xBB\xBF{\"ver\": 4,\"servers\": [{\"name\": \"토박소프트_웹_로그인\",\"host\": "
        "\"127.0.0.1\"}]}";
    writeFile(program.path + "/server_address_setting.json", cache);
    const QStringList before = program.snapshot();

    const Result result = program.run({"--check"});
    const QString d = program.path;
    const QString ftp = QString::number(FtpServer::port()), db = QString::number(MariaDbServer::port());
    const auto row = [](const QString& key, const QString& value, const QString& source) {
        return "  " + key.leftJustified(16) + " " + value.leftJustified(15) + " " + source + "\n";
    };
    const QString expected =
        "ClientZEP_job " + TestSupport::version() + ": check of the program folder " + d + "\n\n" +
        "deployment.ini: " + d + "/deployment.ini\n" + row("DirectoryServer", http, "line 3") +
        row("AddrMasterServer", "127.0.0.1", "default") + row("AddrWebLogin", "127.0.0.1", "default") +
        row("AddrAutoUpdate", "127.0.0.1:" + dead, "line 4") + row("AddrBackupFtp", "127.0.0.1", "default") +
        row("AddrMessenger", "127.0.0.1", "default") + row("WebHostFtpHost", "127.0.0.1", "default") +
        row("BackupFtpHost", "127.0.0.1", "default") +
        row("MessengerPort", QString::number(messenger.serverPort()), "line 2") +
        row("FtpPort", ftp, "line 5") + row("MySqlPort", db, "line 6") +
        row("FtpNameEncoding", "CP949", "default") +
        // The accounts, passwords never shown.
        row("LoginId", "jobserver", "default") + row("LoginPassword", "(not shown)", "default") +
        row("LogDatabaseUser", "qz_logs_read", "default") +
        row("LogDatabasePassword", "(not shown)", "default") +
        row("WebDatabaseUser", "WebHostUser", "default") +
        row("WebDatabasePassword", "(not shown)", "default") + row("WebHostFtpUser", "qzc1", "default") +
        row("WebHostFtpPassword", "(not shown)", "default") +
        row("BackupFtpUser", "backup_checker", "default") +
        row("BackupFtpPassword", "(not shown)", "default") + row("UpdatePublicKey", "", "default") +
        row("CommandUsers", "", "default") + row("FtpTls", "off", "default") +
        row("MySqlTls", "off", "default") + row("HttpTls", "off", "default") +
        row("TlsCaFile", "", "default") + row("LateRun", "on", "default") +
        "  who may start jobs from a chat (/_2rm, /selfupdate, /webupdate): every user (CommandUsers is not "
        "set)\n\n" +
        "setup.ini: " + d + "/setup.ini\n" + row("FTP_PASV", "1", "passive FTP") +
        row("CSBackupPath", root, "exists") + "\n" + "address directory: cache " + d +
        "/server_address_setting.json: ver 4\n" + "  asked http://" + http +
        "/serverinfo/server-address-checker.php?ver=4: a new directory (start-up keeps it as the cache)\n" +
        row("AddrMasterServer", "127.0.0.1", "directory answer (토박마스터서버)") +
        row("AddrWebLogin", "127.0.0.1", "default (no entry 토박소프트_웹_로그인)") +
        row("AddrAutoUpdate", http, "directory answer (자동업데이트_런처)") +
        row("AddrBackupFtp", "127.0.0.1", "default (no entry 작업서버_DB백업_FTP)") +
        row("AddrMessenger", "127.0.0.1", "default (no entry 사내메신저소켓)") +
        row("WebHostFtpHost", "127.0.0.1", "default (never from the directory)") +
        row("BackupFtpHost", "127.0.0.1", "default (never from the directory)") +
        row("ServerAddress", "127.0.0.1", "AddrMessenger") + "\n" +
        "peers (each tried once, for 3 s at most; an FTP log-in for 10 s, as the jobs):\n" +
        "  messenger 127.0.0.1:" + QString::number(messenger.serverPort()) + ": ok, in clear\n" +
        "  directory http://" + http + "/serverinfo/server-address-checker.php?ver=4: ok, in clear\n" +
        "  log database qz_logs_read@127.0.0.1:" + db + "/qz_logs: ok, in clear\n" +
        "  web database WebHostUser@127.0.0.1:" + db + "/webhost: ok, in clear\n" +
        "  web host FTP qzc1@127.0.0.1:" + ftp + ": ok, in clear\n" +
        "  backup FTP backup_checker@127.0.0.1:" + ftp + ": ok, in clear\n" + "  update server http://" +
        http + "/download/자동업데이트_v1/VerProbeV1_lastver.txt: ok, in clear\n" +
        "\n7 of 7 peers answer; 0 configuration problems.\n";
    EXPECT_EQ(QString::fromUtf8(result.out), expected);
    EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
    EXPECT_EQ(result.err, QByteArray());
    EXPECT_EQ(program.snapshot(), before);
    QFile kept(program.path + "/server_address_setting.json");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), cache);
}

// Nothing answers and deployment.ini has lines it cannot use: each peer says why in plain words, each line
// is listed, exit 1.
TEST_F(AdminCommandsTest, CheckWithDeadPeersAndUnusableValues) {
    const QByteArray dead = QByteArray::number(freePort());
    const ProgramFolder program("MessengerPort=" + dead + "\r\nDirectoryServer=127.0.0.1:" + dead +
                                    "\r\nAddrAutoUpdate=127.0.0.1:" + dead + "\r\nFtpPort=" + dead +
                                    "\r\nMySqlPort=" + dead +
                                    "\r\nAddrMasterServer=db server\r\nColour=blue\r\n",
                                "CSBackupPath=/nonexistent/cs\r\n");
    const Result result = program.run({"--check", "#"});
    const QString out = QString::fromUtf8(result.out);
    const QString ini = program.path + "/deployment.ini";
    const QStringList lines = {
        "  problem: " + ini +
            " line 7: AddrMasterServer: \"db server\" is not a host name or address (its port has a key of "
            "its "
            "own); the default 127.0.0.1 is used\n",
        "  problem: " + ini + " line 8: Colour: unknown key; ignored\n",
        QString("  CSBackupPath     /nonexistent/cs does not exist\n"),
        QString("  FTP_PASV                         not set: active FTP\n"),
        "  messenger 127.0.0.1:" + dead + ": refused\n",
        "  directory http://127.0.0.1:" + dead + "/serverinfo/server-address-checker.php: refused\n",
        "  log database qz_logs_read@127.0.0.1:" + dead + "/qz_logs: refused\n",
        "  web database WebHostUser@127.0.0.1:" + dead + "/webhost: refused\n",
        "  web host FTP qzc1@127.0.0.1:" + dead + ": refused\n",
        "  backup FTP backup_checker@127.0.0.1:" + dead + ": refused\n",
        "  update server http://127.0.0.1:" + dead +
            "/download/자동업데이트_v1/VerProbeV1_lastver.txt: refused\n",
        QString("\n0 of 7 peers answer; 3 configuration problems.\n")};
    for (const QString& line : lines)
        EXPECT_TRUE(out.contains(line)) << line.toStdString() << "\nin\n" << out.toStdString();
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_FALSE(QFile::exists(program.path + "/ErrorLog.txt"));
    EXPECT_FALSE(QFile::exists(program.path + "/server_address_setting.json"));
}

// A directory server slower than the bound is "timed out"; an update server without the version file is
// "not found".
TEST_F(AdminCommandsTest, CheckNamesTimeOutsAndMissingFiles) {
    HttpServer::serve("serverinfo/server-address-checker.php", R"({"success": false})");
    HttpServer::serve("serverinfo/server-address-checker.php.delay", "6");
    const QString http = HttpServer::host();
    const ProgramFolder program("DirectoryServer=" + http.toLatin1() +
                                    "\r\nAddrAutoUpdate=" + http.toLatin1() + "\r\n",
                                QByteArray());
    const Result result = program.run({"--check"});
    const QString out = QString::fromUtf8(result.out);
    for (const QString& line :
         {"  directory http://" + http + "/serverinfo/server-address-checker.php: timed out\n",
          "  update server http://" + http +
              "/download/자동업데이트_v1/VerProbeV1_lastver.txt: not found (HTTP 404)\n",
          QString("  CSBackupPath                     not set: the CS backup check cannot run\n")})
        EXPECT_TRUE(out.contains(line)) << line.toStdString() << "\nin\n" << out.toStdString();
    EXPECT_EQ(result.exitCode, 1);
}

// An FTP server that turns the bot away at once (one session per address, and one is in) is reported in the
// server's own words, not as libcurl's time-out, as is a server that demands TLS of a bot without it; a wrong
// password is "login refused" on both servers, although vsftpd answers it only after PAM's pause of some
// seconds. Over TLS FTP is passive whatever FTP_PASV says, and a folder the jobs list that the server lacks
// is a problem of its own.
TEST_F(AdminCommandsTest, CheckWordsFtpRefusalsAsTheServerSaid) {
    enum Listener { Plain, Busy, Tls };
    const struct {
        const FtpServer::Fixture& server;
        Listener listener;
        QByteArray deployment;
        QStringList lines; // for both accounts where they hold "%1", else as they are
    } cases[] = {
        {FtpServer::Pyftpdlib,
         Busy,
         "",
         {"  %1: closed by the server: 421 Too many connections from the same IP address.\n"}},
        {FtpServer::VsftpdCp949,
         Busy,
         "",
         {"  %1: closed by the server: 421 There are too many connections from your internet address.\n"}},
        {FtpServer::Pyftpdlib,
         Plain,
         "WebHostFtpPassword=wrong\r\nBackupFtpPassword=wrong\r\n",
         {"  %1: login refused\n"}},
        {FtpServer::VsftpdCp949,
         Plain,
         "WebHostFtpPassword=wrong\r\nBackupFtpPassword=wrong\r\n",
         {"  %1: login refused\n"}},
        {FtpServer::VsftpdCp949,
         Tls,
         "",
         {"  %1: refused by the server: 530 Non-anonymous sessions must use encryption.\n"}},
        {FtpServer::VsftpdCp949,
         Tls,
         "FtpTls=required\r\nTlsCaFile=" + FtpServer::VsftpdTls.caFile().toUtf8() + "\r\n",
         {"  FTP_PASV" + QString(25, ' ') +
              "not set: active FTP; passive all the same, as FTP runs over TLS (FtpTls=required)\n",
          "  %1: ok, encrypted, certificate ",
          "  problem: backup FTP backup_checker@127.0.0.1:%2: /csdb_backup/servers/ does not exist\n"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.server.name) + " " + std::to_string(c.listener) + " " +
                     c.deployment.toStdString());
        const quint16 port = c.listener == Busy  ? c.server.busyPort()
                             : c.listener == Tls ? c.server.tlsPort()
                                                 : c.server.port();
        ASSERT_NE(port, 0);
        c.server.reset();
        // The backup server's first server list is missing.
        std::filesystem::remove_all(c.server.onDisk(c.server.backupHome() + QStringLiteral("/csdb_backup")));
        QTcpSocket held;
        if (c.listener == Busy) {
            held.connectToHost(QHostAddress::LocalHost, port);
            ASSERT_TRUE(held.waitForReadyRead(5000)); // greeted: the session counts
        }
        const ProgramFolder program("FtpPort=" + QByteArray::number(port) + "\r\n" + c.deployment,
                                    QByteArray());
        const QString out = QString::fromUtf8(program.run({"--check"}).out);
        for (const char* account : {"web host FTP qzc1", "backup FTP backup_checker"}) {
            for (const QString& expected : c.lines) {
                if (!expected.contains(QLatin1String("%1")) && account[0] == 'w')
                    continue;
                const QString line = QString(expected)
                                         .replace(QLatin1String("%1"),
                                                  QStringLiteral("%1@127.0.0.1:%2").arg(account).arg(port))
                                         .replace(QLatin1String("%2"), QString::number(port));
                EXPECT_TRUE(out.contains(line)) << line.toStdString() << "\nin\n" << out.toStdString();
            }
        }
        // Only the missing folder is a problem of the folders.
        EXPECT_EQ(out.count(QLatin1String("does not exist")),
                  c.listener == Tls && !c.deployment.isEmpty() ? 1 : 0);
        c.server.reset();
    }
}

// Run as root (as the tests are) on a folder that another account owns, the commands act as that account: one
// line says so, and what they write is that account's. deployment.ini is readable through the group alone, as
// the package installs it. (On a folder of root's own, as in every other test here, nothing is said.)
TEST_F(AdminCommandsTest, AsRootTheyActAsTheFoldersOwner) {
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_TRUE(nobody && ::geteuid() == 0) << "the tests run as root, on a system with the user nobody";
    const ProgramFolder program("CommandUsers=17, x\r\n", QByteArray());
    const QByteArray folder = QFile::encodeName(program.path), ini = folder + "/deployment.ini";
    ASSERT_EQ(::chown(folder.constData(), nobody->pw_uid, nobody->pw_gid) |
                  ::chmod(folder.constData(), 0750) | ::chown(ini.constData(), 0, nobody->pw_gid) |
                  ::chmod(ini.constData(), 0640),
              0);
    const QString acting =
        "ClientZEP_job: run as root: acting as nobody, the owner of " + program.path + "\n";
    const Result check = program.run({"--check"});
    EXPECT_EQ(QString::fromUtf8(check.err), acting);
    EXPECT_TRUE(check.out.contains("(/_2rm, /selfupdate, /webupdate): only the user 17\n"))
        << check.out.toStdString();
    // --run-job logs the unusable entry as start-up does, and the job its missing CSBackupPath: as the owner.
    const Result job = program.run({"--run-job", "cs-backup"});
    EXPECT_TRUE(QString::fromUtf8(job.err).startsWith(acting)) << job.err.toStdString();
    EXPECT_EQ(program.errorLog().size(), 2) << program.errorLog().join("\n").toStdString();
    EXPECT_EQ(QFileInfo(program.path + "/ErrorLog.txt").ownerId(), nobody->pw_uid);
}

// At start-up each unusable line of deployment.ini is one error-log line and one state line naming file, line
// and key; its default is used and the bot goes on to log in.
TEST(StartupDeploymentTest, UnusableLinesAreLoggedAndTheDefaultsUsed) {
    BotRun run({}, "waitlogin\nwait 10\nquit\n", {}, {}, "FtpPort=99999\r\nColour=blue\r\nwhat is this\r\n");
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();
    const QString ini = QFileInfo(run.folder.path()).canonicalFilePath() + "/deployment.ini";
    const QStringList problems = {
        ini + " line 3: FtpPort: \"99999\" is not a port number from 1 to 65535; the default 21 is used",
        ini + " line 4: Colour: unknown key; ignored",
        ini + " line 5: \"what is this\" is not key=value; ignored",
    };
    const QStringList logged = TestSupport::errorLogLines(run.folder.path());
    EXPECT_EQ(logged, problems);
    for (const QString& problem : problems)
        EXPECT_TRUE(run.botOutput.contains("ClientZEP_job: " + problem + "\n"))
            << run.botOutput.toStdString();
    EXPECT_TRUE(run.botOutput.contains("ClientZEP_job: logged in as ")) << run.botOutput.toStdString();
}

} // namespace
