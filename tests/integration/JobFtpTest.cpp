#include "FtpServer.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "ReleaseKey.h"
#include "TestSupport.h"
#include "modJobFTP.h"

#include <QElapsedTimer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString RemovalTitle = QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n");
const QString BackupTitle = QStringLiteral("< DB 백업결과 보고서 >\r\n\r\n");

using TestSupport::writeFile;

class JobFtpTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new QTemporaryDir;
        ProgramInfo::setFolder(folder_->path());
        // The code updater, signed: a script that leaves a marker in its folder.
        key_ = new ReleaseKey;
        const QString tool = folder_->path() + QStringLiteral("/인증코드갱신툴.exe");
        const QByteArray body = "#!/bin/sh\ntouch updater-started\n";
        writeFile(tool, body);
        writeFile(tool + ".minisig", key_->sign(body, QStringLiteral("인증코드갱신툴.exe 1")));
        QFile::setPermissions(tool, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
        delete key_;
        key_ = nullptr;
    }

    void SetUp() override {
        ASSERT_NE(server->port(), 0) << "no FTP fixture in " << server->folder().toStdString();
        QFile::remove(folder_->path() + QStringLiteral("/ErrorLog.txt"));
        ASSERT_NE(MariaDbServer::port(), 0) << "no MariaDB fixture";
        ASSERT_TRUE(admin.connected());
        pointDeploymentAt(server->port());
        setPassive("1");
        server->reset();
        context.settings.FtpNameEncoding = server->utf8Names ? "UTF-8" : "CP949";
        QFile::remove(marker());
        admin.setOldProductPages();
    }
    void TearDown() override {
        modJobFTP::FTP_Close();
        server->reset();
    }

    // `lines`: more settings; a server that demands TLS gets it by default.
    void pointDeploymentAt(quint16 ftpPort, quint16 mySqlPort = MariaDbServer::port(), QString lines = {}) {
        if (lines.isNull() && server->tls)
            lines =
                QStringLiteral("FtpTls=required\r\nTlsCaFile=") + server->caFile() + QStringLiteral("\r\n");
        writeFile(folder_->path() + QStringLiteral("/deployment.ini"),
                  (QStringLiteral("[Deployment]\r\nFtpPort=%1\r\nMySqlPort=%2\r\nUpdatePublicKey=%3\r\n")
                       .arg(ftpPort)
                       .arg(mySqlPort)
                       .arg(key_->publicKeyLine()) +
                   lines)
                      .toUtf8());
        context.settings = Deployment::load(folder_->path());
    }
    static QString errorLog() {
        return TestSupport::readCp949(folder_->path() + QStringLiteral("/ErrorLog.txt"));
    }
    // A null value leaves the key out.
    static void setPassive(const char* value) {
        writeFile(folder_->path() + QStringLiteral("/setup.ini"),
                  value ? QByteArray("[General]\r\nFTP_PASV=") + value + "\r\n"
                        : QByteArray("[General]\r\n"));
    }
    // A loopback port nobody listens on.
    static quint16 closedPort() {
        QTcpServer probe;
        return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
    }
    static QString marker() { return folder_->path() + QStringLiteral("/updater-started"); }
    // The updater starts detached: it leaves its marker a moment after the job has returned.
    static bool updaterStarted(bool expected) {
        return TestSupport::waitUntil([] { return QFile::exists(marker()); }, expected ? 2000 : 300, 20);
    }
    QString cate3(int idx) {
        return admin.exec(QStringLiteral("SELECT DemoDownFile FROM webhost.cate3 WHERE idx=%1").arg(idx));
    }
    QString cate3Info(int idx) {
        return admin.exec(
            QStringLiteral("SELECT DemoDownFile FROM webhost.cate3_info WHERE idx=%1").arg(idx));
    }

    QString download() const { return server->download() + QLatin1Char('/'); }
    QString backup() const { return server->backupHome() + QLatin1Char('/'); }

    static inline QTemporaryDir* folder_ = nullptr;
    static inline ReleaseKey* key_ = nullptr;
    const FtpServer::Fixture* server = &FtpServer::Pyftpdlib;
    MariaDbServer::Admin admin;
    const TestSupport::FixedClock clock{QDateTime(QDate(2026, 12, 9), QTime(11, 0))};
    JobContext context{clock, Host, Host, Host, Host, Host};
    MessageBoxRecorder boxes;
};

// The same jobs against each server: pyftpdlib, vsftpd holding CP949 names and UTF-8 names, and vsftpd over
// TLS.
class JobFtpServersTest : public JobFtpTest, public ::testing::WithParamInterface<const FtpServer::Fixture*> {
protected:
    void SetUp() override {
        server = GetParam();
        JobFtpTest::SetUp();
    }
};
INSTANTIATE_TEST_SUITE_P(Servers, JobFtpServersTest,
                         ::testing::Values(&FtpServer::Pyftpdlib, &FtpServer::VsftpdCp949,
                                           &FtpServer::VsftpdUtf8, &FtpServer::VsftpdTls),
                         [](const auto& info) { return std::string(info.param->name); });

TEST_P(JobFtpServersTest, RemovesTwoFromNamesAndReports) {
    const struct {
        const char* title;
        QStringList files; // under public_html/download/; "-" removes the download folder
        QString report;    // after the title
        bool result;
        QStringList after;
        bool updater;
    } cases[] = {
        {"nothing to rename; versions untouched",
         {"setup.exe", "x_2exe", "versions/v_2.msi"},
         "\r\n처리완료:0, 처리실패:0",
         false,
         {"setup.exe", "versions/", "x_2exe", "versions/v_2.msi"},
         false},
        {"both directories, two _2 in one name, a Korean name",
         {"a_2.exe", "b_2_2.tar.gz", "c.exe", "설치_2.exe", "versions/v_2.msi", "versions/w.msi"},
         "처리완료  a_2.exe\r\n처리완료  b_2_2.tar.gz\r\n처리완료  설치_2.exe\r\n처리완료  v_2.msi\r\n"
         "\r\n처리완료:4, 처리실패:0",
         true,
         {"a.exe", "b.tar.gz", "c.exe", "versions/", "설치.exe", "versions/v.msi", "versions/w.msi"},
         true},
        {"a refused rename is listed and the batch goes on",
         {"a_2.exe", "refuse_2.exe", "z_2.exe", "versions/v_2.msi"},
         "처리완료  a_2.exe\r\n처리실패! refuse_2.exe\r\n처리완료  z_2.exe\r\n처리완료  v_2.msi\r\n"
         "\r\n처리완료:3, 처리실패:1",
         true,
         {"a.exe", "refuse_2.exe", "versions/", "z.exe", "versions/v.msi"},
         true},
        {"all refused: versions skipped",
         {"refuse_2.exe", "versions/v_2.msi"},
         "처리실패! refuse_2.exe\r\n\r\n처리완료:0, 처리실패:1",
         false,
         {"refuse_2.exe", "versions/", "versions/v_2.msi"},
         false},
        {"the download folder is missing",
         {"-"},
         "처리실패! /public_html/download/ (폴더를 읽을 수 없음)\r\n\r\n처리완료:0, 처리실패:1",
         false,
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        server->reset();
        QFile::remove(marker());
        admin.setFileNames(QStringLiteral("('1', '%1')").arg(c.title));
        for (const QString& file : c.files) {
            if (file == QLatin1String("-"))
                std::filesystem::remove_all(server->onDisk(download()));
            else
                server->createFile(download() + file);
        }

        QString report = QStringLiteral("earlier text");
        EXPECT_EQ(modJobFTP::FTP_2RemoveBatch(report, context), c.result);
        EXPECT_EQ(report, RemovalTitle + c.report);
        QStringList after = server->names(download());
        for (const QString& name : server->names(download() + QStringLiteral("versions")))
            after.append(QStringLiteral("versions/") + name);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(updaterStarted(c.updater), c.updater);
        // The web database is brought up to date whatever the counts.
        EXPECT_EQ(cate3(48), QString::fromUtf8(c.title));
        EXPECT_EQ(boxes.texts, QStringList());
    }
}

// Over TLS always passive: an active data connection never gets through its handshake.
TEST_P(JobFtpServersTest, PassiveOnlyWhenTheSettingReadsOneOrOverTls) {
    const struct {
        const char* value;
        const char* mode;
    } cases[] = {
        {"1", "passive"}, {" 1 ", "passive"}, {"0", "active"}, {"yes", "active"}, {nullptr, "active"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(missing)");
        server->reset();
        setPassive(c.value);
        server->createFile(download() + QStringLiteral("a_2.exe"));
        QString report;
        EXPECT_TRUE(modJobFTP::FTP_2RemoveBatch(report, context));
        EXPECT_EQ(report, RemovalTitle + QStringLiteral("처리완료  a_2.exe\r\n\r\n처리완료:1, 처리실패:0"));
        // The download and versions listings.
        const char* mode = server->tls ? "passive" : c.mode;
        EXPECT_EQ(server->dataModes(), QStringList({mode, mode}));
    }
}

TEST_F(JobFtpTest, LoginFailureStopsBothJobs) {
    pointDeploymentAt(closedPort());
    admin.exec("INSERT INTO webhost.file_rname VALUES ('1', 'new.exe')");
    server->createFile(download() + QStringLiteral("a_2.exe"));

    QString report;
    EXPECT_FALSE(modJobFTP::FTP_2RemoveBatch(report, context));
    EXPECT_EQ(report, RemovalTitle + QStringLiteral("FTP Open에 실패했습니다.\r\n127.0.0.1 - qzc1"));
    EXPECT_EQ(cate3(48), QStringLiteral("old"));
    EXPECT_FALSE(updaterStarted(false));

    EXPECT_FALSE(modJobFTP::DB_BackupCheck(report, context));
    EXPECT_EQ(report, BackupTitle +
                          QStringLiteral("FTP Open에 실패했습니다.\r\n127.0.0.1 - user: backup_checker\r\n"));
    EXPECT_EQ(boxes.texts, QStringList());
}

// An account without a password (a build without compiled passwords, deployment.ini silent) logs in nowhere;
// each job's failure line names the missing key.
TEST_F(JobFtpTest, AMissingPasswordIsNamedInTheFailureLine) {
    context.settings.WebHostFtpPassword = context.settings.BackupFtpPassword = QString();
    QString report;
    EXPECT_FALSE(modJobFTP::FTP_2RemoveBatch(report, context));
    EXPECT_TRUE(report.endsWith("qzc1 (no password: set WebHostFtpPassword in deployment.ini)"))
        << report.toStdString();
    EXPECT_FALSE(modJobFTP::DB_BackupCheck(report, context));
    EXPECT_TRUE(report.endsWith("backup_checker (no password: set BackupFtpPassword in deployment.ini)\r\n"))
        << report.toStdString();
}

// Every log-in that fails leaves one line in the error log, with the server's own words where it said any.
TEST_F(JobFtpTest, FailedLogInsLeaveTheServersReasonInTheErrorLog) {
    server = &FtpServer::VsftpdCp949;
    const struct {
        const char* title;
        quint16 port;
        QString lines; // deployment.ini
        QString reason;
    } cases[] = {
        {"a wrong password", server->port(), "BackupFtpPassword=wrong\r\n", "login refused"},
        {"TLS demanded, FtpTls off", server->tlsPort(), "",
         "refused by the server: 530 Non-anonymous sessions must use encryption."},
        {"no home folder", server->port(), "",
         "refused by the server: 500 OOPS: cannot change directory:" + server->backupHome()},
        {"one session per address, and one is in", server->busyPort(), "",
         "closed by the server: 421 There are too many connections from your internet address."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        server->reset();
        QFile::remove(folder_->path() + QStringLiteral("/ErrorLog.txt"));
        QTcpSocket held;
        if (c.port == server->busyPort()) {
            held.connectToHost(QHostAddress::LocalHost, c.port);
            ASSERT_TRUE(held.waitForReadyRead(5000)); // greeted: the session counts
        }
        if (c.reason.contains(QLatin1String("OOPS")))
            std::filesystem::remove_all(server->onDisk(server->backupHome()));
        pointDeploymentAt(c.port, MariaDbServer::port(), c.lines);
        QString report;
        EXPECT_FALSE(modJobFTP::DB_BackupCheck(report, context));
        EXPECT_EQ(report,
                  BackupTitle +
                      QStringLiteral("FTP Open에 실패했습니다.\r\n127.0.0.1 - user: backup_checker\r\n"));
        const QStringList lines = errorLog().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 1) << errorLog().toStdString();
        EXPECT_TRUE(lines.first().endsWith(
            QStringLiteral("FTP 127.0.0.1:%1 (backup_checker): no session: ").arg(c.port) + c.reason))
            << lines.first().toStdString();
    }
}

// The "_2" removal's report says so when the web database could not be brought up to date after the renames.
TEST_P(JobFtpServersTest, WebDatabaseFailureEndsTheRemovalReport) {
    const struct {
        const char* title;
        bool closed;       // the web database cannot be reached
        bool tableMissing; // an UPDATE fails
        QString line;
    } cases[] = {
        {"no connection", true, false,
         "웹DB 갱신실패! DB Open에 실패했습니다. 127.0.0.1 WebHostUser (Can't connect to server on "
         "'127.0.0.1' (115))"},
        {"a statement fails", false, true, "웹DB 갱신실패! Error 1146 (Table 'webhost.cate3' doesn't exist)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        server->reset();
        admin.setFileNames(QStringLiteral("('1', 'a.exe')"));
        server->createFile(download() + QStringLiteral("a_2.exe"));
        pointDeploymentAt(server->port(), c.closed ? closedPort() : MariaDbServer::port());
        if (c.tableMissing)
            admin.exec("RENAME TABLE webhost.cate3 TO webhost.cate3_away");
        QString report;
        EXPECT_TRUE(modJobFTP::FTP_2RemoveBatch(report, context));
        if (c.tableMissing)
            admin.exec("RENAME TABLE webhost.cate3_away TO webhost.cate3");
        EXPECT_EQ(report, RemovalTitle +
                              QStringLiteral("처리완료  a_2.exe\r\n\r\n처리완료:1, 처리실패:0\r\n") + c.line);
        EXPECT_EQ(server->names(download()), QStringList({"a.exe", "versions/"}));
    }
}

TEST_F(JobFtpTest, ServerThatNeverAnswersEndsTheOpen) {
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QElapsedTimer clock;
    clock.start();
    EXPECT_FALSE(modJobFTP::FTP_Open(Host, QStringLiteral("qzc1"), QStringLiteral("qrw4#KLBcvx2"),
                                     silent.serverPort(), 1));
    EXPECT_LT(clock.elapsed(), 15000);
}

TEST_F(JobFtpTest, WebUpdateCopiesTheFourProductNames) {
    admin.exec(
        "INSERT INTO webhost.file_rname VALUES ('1', 'one_setup.exe'), ('2', ''), ('3', '새설치파일.exe'), "
        "('4', 'it''s here.exe'), ('5', 'five.exe')");
    modJobFTP::ChangeRnameFile(context);
    EXPECT_EQ(boxes.texts, QStringList());
    const struct {
        int cate3, cate3Info;
        const char* name;
    } expected[] = {{48, 62, "one_setup.exe"},
                    {49, 63, "old"},
                    {52, 65, "새설치파일.exe"},
                    {86, 88, "it's here.exe"},
                    {87, 89, "old"}};
    for (const auto& e : expected) {
        EXPECT_EQ(cate3(e.cate3), QString::fromUtf8(e.name)) << e.cate3;
        EXPECT_EQ(cate3Info(e.cate3Info), QString::fromUtf8(e.name)) << e.cate3Info;
    }

    // A SELECT that fails has shown query's message; the job ends there without another.
    admin.exec("RENAME TABLE webhost.file_rname TO webhost.file_rname_away");
    modJobFTP::ChangeRnameFile(context);
    admin.exec("RENAME TABLE webhost.file_rname_away TO webhost.file_rname");
    EXPECT_EQ(boxes.texts,
              QStringList({QStringLiteral("Error 1146 (Table 'webhost.file_rname' doesn't exist)")}));
}

TEST_P(JobFtpServersTest, BackupCheckReportsEveryListedServer) {
    const struct {
        const char* title;
        QStringList files; // under the backup home; "-" + folder removes that folder
        QString report;    // after the title
        bool result;
        int logins = 1; // pyftpdlib: a failed listing is followed by a fresh session
    } cases[] = {
        {"both lists empty", {}, "\r\n\r\n결과: 0건 모두 정상입니다.", true},
        {"found names, short names padded, another day's backup, second kind after a miss",
         {"csdb_backup/servers/A", "csdb_backup/servers/db1", "csdb_backup/servers/db10",
          "csdb_backup/servers/longname", "csdb_backup_new/daily/2026-12-09/(db1)_1209_0300.bak",
          "csdb_backup_new/daily/2026-12-09/(longname).zip", "pvdb_backup/servers/pv",
          "pvdb_backup/servers/pv2", "pvdb_backup_new/daily/2026-12-08/(pv)_1208.bak",
          "pvdb_backup_new/daily/2026-12-09/(pv2)_1209.bak"},
         "[!!]   A : File Not Found!\r\n[OK] (db1)_1209_0300.bak\r\n[!!] db10 : File Not Found!\r\n"
         "[OK] (longname).zip\r\n[!!]  pv : File Not Found!\r\n[OK] (pv2)_1209.bak\r\n"
         "\r\n\r\n결과: 백업실패가 발견되었습니다. (3건)",
         true},
        {"all present",
         {"csdb_backup/servers/s1", "csdb_backup_new/daily/2026-12-09/(s1)a.bak", "pvdb_backup/servers/p1",
          "pvdb_backup_new/daily/2026-12-09/(p1)b.bak"},
         "[OK] (s1)a.bak\r\n[OK] (p1)b.bak\r\n\r\n\r\n결과: 2건 모두 정상입니다.",
         true},
        {"a server list folder is missing",
         {"-csdb_backup", "pvdb_backup/servers/p1", "pvdb_backup_new/daily/2026-12-09/(p1)b.bak"},
         "[!!] /csdb_backup/servers/ : Folder Not Readable!\r\n[OK] (p1)b.bak\r\n\r\n\r\n"
         "결과: 백업실패가 발견되었습니다. (1건)",
         true,
         2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        server->reset();
        for (const QString& file : c.files) {
            if (file.startsWith(QLatin1Char('-')))
                std::filesystem::remove_all(server->onDisk(backup() + file.mid(1)));
            else
                server->createFile(backup() + file);
        }
        QString report = QStringLiteral("earlier text");
        EXPECT_EQ(modJobFTP::DB_BackupCheck(report, context), c.result);
        EXPECT_EQ(report, BackupTitle + c.report);
        if (server == &FtpServer::Pyftpdlib) {
            EXPECT_EQ(FtpServer::logins().size(), c.logins);
        }
    }
}

TEST_P(JobFtpServersTest, BackupCheckStopsAtTheHundredAndFirstServer) {
    for (int i = 0; i < 100; ++i)
        server->createFile(backup() +
                           QStringLiteral("csdb_backup/servers/s%1").arg(i, 3, 10, QLatin1Char('0')));
    QString report;
    EXPECT_TRUE(modJobFTP::DB_BackupCheck(report, context));
    EXPECT_TRUE(report.endsWith(QStringLiteral("[!!] s099 : File Not Found!\r\n\r\n\r\n"
                                               "결과: 백업실패가 발견되었습니다. (100건)")))
        << report.right(120).toStdString();

    server->reset();
    server->createFile(backup() + QStringLiteral("csdb_backup/servers/db1"));
    server->createFile(backup() + QStringLiteral("csdb_backup_new/daily/2026-12-09/(db1).bak"));
    for (int i = 0; i < 101; ++i)
        server->createFile(backup() + QStringLiteral("pvdb_backup/servers/p%1").arg(i));
    EXPECT_FALSE(modJobFTP::DB_BackupCheck(report, context));
    EXPECT_EQ(report, BackupTitle + QStringLiteral("[OK] (db1).bak\r\nError 9 (Subscript out of range) in "
                                                   "procedure DB_BackupCheck of Module modFTPJob"));
    // The connection was closed behind the error.
    EXPECT_EQ(modJobFTP::FtpSearch().FTP_FindFirst(QStringLiteral("/csdb_backup/servers/")), QString());
}

} // namespace
