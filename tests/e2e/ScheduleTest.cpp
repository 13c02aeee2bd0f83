// The built bot under a faked clock, logged in to messenger-sim, running its morning schedule against the
// real MariaDB and FTP servers of the test fixtures.

#include "BotRun.h"
#include "MariaDbServer.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

QString ftpFolder() {
    return qEnvironmentVariable("ZEPJOB_FIXTURES") + "/ftp-fixture";
}

QByteArray ftpPort() {
    QFile file(ftpFolder() + "/port");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray();
}

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
}

// Wednesday 2026-12-09, a few seconds before the disk-space report: it comes at 09:05, the "_2" removal at
// 09:10.
TEST(ScheduleTest, WednesdayMorningReportsReachTheirRecipients) {
    ASSERT_FALSE(ftpPort().isEmpty()) << "no FTP fixture in " << ftpFolder().toStdString();
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    admin.exec("DELETE FROM qz_logs.hddfree_m");
    admin.exec("DELETE FROM qz_logs.hddfree_t");
    admin.exec("INSERT INTO qz_logs.hddfree_m VALUES (1, '127.0.0.10', '2026-12-08'), (2, '127.0.0.11', "
               "'2026-12-08'), (3, '127.0.0.10', '2026-12-07')");
    admin.exec("INSERT INTO qz_logs.hddfree_t VALUES (1, 'D:', '4500', '1000'), (1, 'C:', '52000', '1000'), "
               "(2, 'C:', '2999', '0'), (3, 'C:', '1', '1')");
    admin.exec("DELETE FROM webhost.file_rname");
    admin.exec("DELETE FROM webhost.cate3");
    admin.exec("INSERT INTO webhost.file_rname VALUES ('1', 'ZepSetup.exe')");
    admin.exec("INSERT INTO webhost.cate3 VALUES (48, 'ZepSetup_old.exe')");

    const QString download = ftpFolder() + "/webhost/public_html/download";
    for (const QString& dir : {download, download + "/versions"}) {
        for (const QString& name : QDir(dir).entryList(QDir::Files))
            QFile::remove(dir + "/" + name);
    }
    touch(download + "/ZepSetup_2.exe");
    touch(download + "/versions/ZepSetup_2.1.zip");

    BotRun run({"--wait-timeout-ms", "120000"},
               "waitlogin\n"
               "wait 10\n"
               "wait 2 하드잔량\n"
               "wait 2 _2제거\n"
               "quit\n",
               fakedTime("@2026-12-09 09:04:50 x10"), {},
               "FtpPort=" + ftpPort() + "\r\nMySqlPort=" + QByteArray::number(MariaDbServer::port()) +
                   "\r\n");
    QFile setup(run.folder.path() + "/setup.ini");
    ASSERT_TRUE(setup.open(QIODevice::WriteOnly));
    setup.write("[General]\r\nFTP_PASV=1\r\n");
    setup.close();
    ASSERT_EQ(run.finishScript(180000), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();

    const QString disk = "< 하드잔량 보고서 >\r\n"
                         "일시: 2026-12-08 23:30\r\n"
                         "결과: 위험(1)건, 경고(1)건 발견!\r\n"
                         "\r\n"
                         " - 위험: 2일치 이하(또는 3G이하)\r\n"
                         " - 경고: 5일치 이하\r\n"
                         "-----------------------------\r\n"
                         "하드   잔량    감소 Days 결과\r\n"
                         "-----------------------------\r\n"
                         "127.0.0.10\r\n"
                         "  C:  52,000  1,000   52 OK\r\n"
                         "  D:   4,500  1,000    4 !\r\n"
                         "\r\n"
                         "127.0.0.11\r\n"
                         "  C:   2,999      0      !!\r\n"
                         "-----------------------------";
    const QString removal = "[FTP의 _2제거 일괄작업 처리결과]\r\n"
                            "\r\n"
                            "처리완료  ZepSetup_2.exe\r\n"
                            "처리완료  ZepSetup_2.1.zip\r\n"
                            "\r\n"
                            "처리완료:2, 처리실패:0";
    QList<BotLine> reports;
    for (const BotLine& line : run.botPackets()) {
        if (line.code == "02")
            reports << line;
    }
    const QList<BotLine> expected = {{"02", "123;92", escaped(disk)}, {"02", "123;-1", escaped(removal)}};
    EXPECT_EQ(reports, expected) << run.simOutput.toStdString();

    // The renames happened, and the web database points at the new name.
    EXPECT_TRUE(QFile::exists(download + "/ZepSetup.exe"));
    EXPECT_TRUE(QFile::exists(download + "/versions/ZepSetup.1.zip"));
    EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3 WHERE idx = 48"),
              QStringLiteral("ZepSetup.exe"));
    EXPECT_TRUE(run.errorLog().isEmpty()) << run.errorLog().join("\n").toStdString();
}

} // namespace
