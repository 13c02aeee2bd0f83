// The sample day of sample/ (the demo's data) loaded into the real servers: every job's report of that
// Wednesday, exactly, so the demo keeps showing what it claims.

#include "FtpServer.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "modJobFTP.h"
#include "modJobMain.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Host = QStringLiteral("127.0.0.1");
const QString Sample = QStringLiteral(ZEPJOB_SAMPLE_DIR);

using TestSupport::writeFile;

// Runs a program to its end; its exit status, with its output in the failure message.
int runTool(const QString& program, const QStringList& arguments, const QString& input = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!input.isEmpty())
        process.setStandardInputFile(input);
    process.start(program, arguments);
    if (!process.waitForFinished(30000)) {
        ADD_FAILURE() << program.toStdString() << " did not end";
        return -1;
    }
    EXPECT_EQ(process.exitCode(), 0) << program.toStdString() << ": " << process.readAll().toStdString();
    return process.exitCode();
}

QString lines(const QStringList& all) {
    return all.join(QStringLiteral("\r\n"));
}

class SampleDayTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
        ASSERT_NE(MariaDbServer::port(), 0) << "no MariaDB fixture";
        ASSERT_TRUE(admin.connected());
        ProgramInfo::setFolder(folder.path());
        writeFile(folder.path() + "/deployment.ini",
                  QStringLiteral("[Deployment]\r\nFtpPort=%1\r\nMySqlPort=%2\r\n")
                      .arg(FtpServer::port())
                      .arg(MariaDbServer::port())
                      .toLatin1());
        context.settings = Deployment::load(folder.path());
        writeFile(folder.path() + "/setup.ini",
                  "[General]\r\nFTP_PASV=1\r\nCSBackupPath=" + csBackup.path().toLocal8Bit() + "\r\n");
        // The same loader and layout script as the demo.
        const QStringList mariadb = {"--no-defaults", "--socket=" + MariaDbServer::folder() + "/mysqld.sock",
                                     "-uroot"};
        ASSERT_EQ(runTool("mariadb", mariadb, Sample + "/qz_logs.sql"), 0);
        ASSERT_EQ(runTool("mariadb", mariadb, Sample + "/webhost.sql"), 0);
        ASSERT_EQ(runTool(Sample + "/layout.sh", {"ftp", FtpServer::folder()}), 0);
        ASSERT_EQ(runTool(Sample + "/layout.sh", {"csbackup", csBackup.path()}), 0);
    }
    void TearDown() override {
        modJobFTP::FTP_Close();
        FtpServer::reset();
        admin.emptyJobTables();
    }

    QStringList productPages() {
        QStringList rows;
        for (const char* table : {"cate3", "cate3_info"})
            for (const int idx : {48, 49, 50, 52, 62, 63, 64, 65, 86, 88}) {
                const QString name = admin.exec(
                    QStringLiteral("SELECT DemoDownFile FROM webhost.%1 WHERE idx=%2").arg(table).arg(idx));
                if (!name.isEmpty())
                    rows << QStringLiteral("%1 %2 %3").arg(table).arg(idx).arg(name);
            }
        return rows;
    }

    QTemporaryDir folder, csBackup;
    MariaDbServer::Admin admin;
    TestSupport::FixedClock clock{QDateTime(QDate(2026, 12, 9), QTime(9, 5))};
    JobContext context{clock, Host, Host, Host, Host, Host};
    MessageBoxRecorder boxes;
};

TEST_F(SampleDayTest, EveryReportOfTheDay) {
    EXPECT_EQ(modJobMain::ServersHDDFreeCheck(context), lines({
                                                            "< 하드잔량 보고서 >",
                                                            "일시: 2026-12-08 23:30",
                                                            "결과: 위험(1)건, 경고(1)건 발견!",
                                                            "",
                                                            " - 위험: 2일치 이하(또는 3G이하)",
                                                            " - 경고: 5일치 이하",
                                                            "-----------------------------",
                                                            "하드   잔량    감소 Days 결과",
                                                            "-----------------------------",
                                                            "127.0.10.11",
                                                            "  C:  48,200    310      OK",
                                                            "  D: 312,450  1,020      OK",
                                                            "",
                                                            "127.0.10.12",
                                                            "  C:  35,000    800   43 OK",
                                                            "  E:   2,480    120   20 !!",
                                                            "",
                                                            "127.0.10.13",
                                                            "  D:   9,800  2,100    4 !",
                                                            "",
                                                            "127.0.10.14",
                                                            "  C: 120,500      0      OK",
                                                            "  D: 904,220   -350      OK",
                                                            "",
                                                            "127.0.10.15",
                                                            "  C:  61,000      5      OK",
                                                            "-----------------------------",
                                                        }));

    QString report;
    EXPECT_TRUE(modJobFTP::FTP_2RemoveBatch(report, context));
    EXPECT_EQ(report, lines({"[FTP의 _2제거 일괄작업 처리결과]", "", "처리완료  ZEPManual_v7_2.pdf",
                             "처리완료  ZEPSetup_302_2.exe", "처리완료  ZEPViewer_v28_2.exe",
                             "처리완료  ZEPSetup_302_2.zip", "처리완료  ZEPViewer_v28_2.zip", "",
                             "처리완료:5, 처리실패:0"}));
    const QString download = FtpServer::download();
    EXPECT_EQ(FtpServer::names(download),
              QStringList({"ZEPManual_v6.pdf", "ZEPManual_v7.pdf", "ZEPSetup_301.exe", "ZEPSetup_302.exe",
                           "ZEPTools_v3.zip", "ZEPViewer_v27.exe", "ZEPViewer_v28.exe", "versions/"}));
    EXPECT_EQ(FtpServer::names(download + "/versions"),
              QStringList({"ZEPSetup_301.zip", "ZEPSetup_302.zip", "ZEPViewer_v28.zip"}));
    // Codes 1, 2 and 4 move to this week's files; code 3 has none, row 50/64 belongs to no product.
    EXPECT_EQ(productPages(),
              QStringList({"cate3 48 ZEPSetup_302.exe", "cate3 49 ZEPViewer_v28.exe",
                           "cate3 50 ZEPTools_v3.zip", "cate3 52 ZEPInstaller_v11.msi",
                           "cate3 86 ZEPManual_v7.pdf", "cate3_info 62 ZEPSetup_302.exe",
                           "cate3_info 63 ZEPViewer_v28.exe", "cate3_info 64 ZEPTools_v3.zip",
                           "cate3_info 65 ZEPInstaller_v11.msi", "cate3_info 88 ZEPManual_v7.pdf"}));

    EXPECT_TRUE(modJobFTP::DB_BackupCheck(report, context));
    EXPECT_EQ(report,
              lines({"< DB 백업결과 보고서 >", "", "[!!] CS-BUSAN : File Not Found!",
                     "[OK] (CS-DAEGU)csdb_20261209_0300.bak", "[OK] (CS-GWANGJU)csdb_20261209_0300.bak",
                     "[OK] (CS-SEOUL)csdb_20261209_0300.bak", "[OK] (PV-MAIN)pvdb_20261209_0330.bak",
                     "[!!] PV-SUB : File Not Found!", "[OK] (PV-WEB)pvdb_20261209_0330.bak", "", "",
                     "결과: 백업실패가 발견되었습니다. (2건)"}));

    modJobMain::CSDB_DownloadCheck(report, context);
    EXPECT_EQ(report, QStringLiteral("[알림] CS DB 파일서버에 다운로드 완료"));
    EXPECT_EQ(boxes.texts, QStringList());
}

} // namespace
