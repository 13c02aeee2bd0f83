#include "AnsiCodec.h"
#include "FileSystem.h"
#include "MariaDbServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "VbError.h"
#include "modJobMain.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

// Today is 2026-03-10; the report covers 2026-03-09.
const TestSupport::FixedClock Today(QDateTime(QDate(2026, 3, 10), QTime(9, 5)));

const QString Header = QStringLiteral("하드   잔량    감소 Days 결과");
const QString Rule = QStringLiteral("-----------------------------");
const QString Dated = QStringLiteral("일시: 2026-03-09 23:30");
const QStringList Legend = {QString(), QStringLiteral(" - 위험: 2일치 이하(또는 3G이하)"),
                            QStringLiteral(" - 경고: 5일치 이하")};

QString lines(const QStringList& all) {
    return all.join(QStringLiteral("\r\n"));
}

using TestSupport::errorLogText;

// One entry of the error log: its time stamp, the message, CR LF.
void expectOneLogEntry(const QString& log, const QString& message) {
    const QRegularExpression entry(QStringLiteral("^\\d{12} (.*)\r\n$"),
                                   QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = entry.match(log);
    ASSERT_TRUE(match.hasMatch()) << log.toStdString();
    EXPECT_EQ(match.captured(1), message);
}

class JobMainTest : public MariaDbTest {
protected:
    void SetUp() override {
        MariaDbTest::SetUp();
        clean();
    }

    void clean() {
        admin.setDiskSpace();
        QFile::remove(folder() + QStringLiteral("/ErrorLog.txt"));
        QFile::remove(folder() + QStringLiteral("/setup.ini"));
    }

    // Rows as SQL value lists: (mseq, svrip, log_date) and (mseq, drvname, freesize, diffsize).
    void fill(const char* servers, const char* drives) {
        admin.setDiskSpace(QLatin1String(servers), QLatin1String(drives));
    }

    MessageBoxRecorder boxes;
};

TEST_F(JobMainTest, ServersHDDFreeCheckReportsYesterdaysDrives) {
    struct Case {
        const char* name;
        QString host;
        const char* servers;
        const char* drives;
        QStringList expected;
    };
    const QString here = QStringLiteral("127.0.0.1");
    const QList<Case> cases = {
        {"no rows for yesterday",
         here,
         "(1,'127.0.0.1','2026-03-10')",
         "(1,'C:','100','0')",
         {"< 하드잔량 보고서 >", Dated, "결과: 0건 모두 정상입니다.", Rule, Header, Rule, Rule}},
        {"3,000 free, a decrease of exactly 5 and 200 days left are all normal",
         here,
         "(1,'127.0.0.1','2026-03-09')",
         "(1,'C:','3000','0'),(1,'D:','50000','5'),(1,'E:','100000','500')",
         {"< 하드잔량 보고서 >", Dated, "결과: 3건 모두 정상입니다.", Rule, Header, Rule, "127.0.0.1",
          "  C:   3,000      0      OK", "  D:  50,000      5      OK", "  E: 100,000    500      OK", Rule}},
        {"2,999 free, or 2 days left of 12,000, is danger", here, "(1,'127.0.0.1','2026-03-09')",
         "(1,'C:','2999','0'),(1,'D:','12000','6000')",
         QStringList{"< 하드잔량 보고서 >", Dated, "결과: 위험(2)건, 경고(0)건 발견!"} + Legend +
             QStringList{Rule, Header, Rule, "127.0.0.1", "  C:   2,999      0      !!",
                         "  D:  12,000  6,000    2 !!", Rule}},
        {"4 days left is a warning", here, "(1,'127.0.1.10','2026-03-09')", "(1,'D:','4500','1000')",
         QStringList{"< 하드잔량 보고서 >", Dated, "결과: 위험(0)건, 경고(1)건 발견!"} + Legend +
             QStringList{Rule, Header, Rule, "127.0.1.10", "  D:   4,500  1,000    4 !", Rule}},
        // 6000.5 shows as 6,001 but divides as 6,000; a figure wider than its column is shown whole.
        {"servers in address order, drives under their server, other days left out", here,
         "(1,'127.0.0.2','2026-03-09'),(2,'127.0.0.1','2026-03-09'),"
         "(3,'127.0.0.1','2026-03-10'),(4,'127.0.0.3','2026-03-08')",
         "(1,'D:','1500000','-20'),(1,'C:','4500','1000'),(2,'C:','12000','6000.5'),"
         "(3,'C:','1','0'),(4,'C:','1','0')",
         QStringList{"< 하드잔량 보고서 >", Dated, "결과: 위험(1)건, 경고(1)건 발견!"} + Legend +
             QStringList{Rule, Header, Rule, "127.0.0.1", "  C:  12,000  6,001    2 !!", "", "127.0.0.2",
                         "  C:   4,500  1,000    4 !", "  D:1,500,000    -20      OK", Rule}},
        {"a figure that is no number ends the report where it stands",
         here,
         "(1,'127.0.0.1','2026-03-09')",
         "(1,'C:','50000','100'),(1,'D:','12x00','100')",
         {Header, Rule, "127.0.0.1", "  C:  50,000    100      OK",
          "  D:Error 13 (Type mismatch) in procedure ServersHDDFreeCheck of Module modJobMain"}},
        // Nothing listens on 127.0.0.2: the server is bound to 127.0.0.1.
        {"connection failure",
         QStringLiteral("127.0.0.2"),
         "(1,'127.0.0.1','2026-03-09')",
         "(1,'C:','100','0')",
         {Header, Rule, "DB Open에 실패했습니다.", "127.0.0.2 qz_logs_read", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clean();
        fill(c.servers, c.drives);
        const QString report = modJobMain::ServersHDDFreeCheck({Today, c.host, {}, {}, {}, {}, deployed()});
        EXPECT_EQ(report, lines(c.expected));
        EXPECT_TRUE(boxes.texts.isEmpty());
    }
}

TEST_F(JobMainTest, AQueryThatGivesNothingEndsTheReportWithError91) {
    admin.exec(QStringLiteral("RENAME TABLE qz_logs.hddfree_t TO qz_logs.hddfree_t_away"));
    const QString report =
        modJobMain::ServersHDDFreeCheck({Today, QStringLiteral("127.0.0.1"), {}, {}, {}, {}, deployed()});
    admin.exec(QStringLiteral("RENAME TABLE qz_logs.hddfree_t_away TO qz_logs.hddfree_t"));

    EXPECT_EQ(report, lines({Header, Rule,
                             "Error 91 (Object variable or With block variable not set) in procedure "
                             "ServersHDDFreeCheck of Module modJobMain"}));
    EXPECT_EQ(boxes.texts, QStringList{"Error 1146 (Table 'qz_logs.hddfree_t' doesn't exist)"});
}

TEST_F(JobMainTest, GetMyFreeDiskMeasuresTheVolumeOrLogsWhyNot) {
    QTemporaryDir volume;
    double total = -1;
    const double free = modJobMain::GetMyFreeDisk(volume.path(), total);
    EXPECT_GT(free, 0);
    EXPECT_GE(total, free);
    EXPECT_EQ(errorLogText(folder()), QString());

    total = 123;
    EXPECT_EQ(modJobMain::GetMyFreeDisk(volume.path() + QStringLiteral("/missing"), total), 0);
    EXPECT_EQ(total, 123);
    expectOneLogEntry(errorLogText(folder()),
                      "Error 76 (No such file or directory) in procedure GetMyFreeDisk of Module frmMain");
}

TEST_F(JobMainTest, CSDB_DownloadCheckLooksForTodaysZip) {
    QTemporaryDir backups;
    const QString root = backups.path() + QStringLiteral("/cs");
    const QString missing =
        QStringLiteral("[문제발생] CS DB가 파일서버에 다운로드 되지 않았습니다!\r\n") + root;
    const QString unset =
        QStringLiteral("CS Full 백업 경로가 설정되지 않았습니다. General > CSBackupPath (") + folder() +
        QStringLiteral("/setup.ini)");
    struct Case {
        const char* name;
        QString setting;
        QString file;
        QString expected;
    };
    const Case cases[] = {
        {"no setting", QString(), QString(), unset},
        {"another extension only", root, "csdb_backup/2026-03-10/cs_full.7z", missing},
        {"yesterday's zip only", root, "csdb_backup/2026-03-09/cs_full.zip", missing},
        {"today's zip", root, "csdb_backup/2026-03-10/CS_FULL.ZIP", "[알림] CS DB 파일서버에 다운로드 완료"},
        {"trailing separator", root + "/", "csdb_backup/2026-03-10/cs.zip",
         "[알림] CS DB 파일서버에 다운로드 완료"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        clean();
        QDir(root).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(root));
        TestSupport::writeFile(
            folder() + QStringLiteral("/setup.ini"),
            AnsiCodec::fromUnicode(QStringLiteral("[General]\r\nCSBackupPath=%1\r\n").arg(c.setting)));
        if (!c.file.isEmpty()) {
            ASSERT_TRUE(QDir(root).mkpath(QFileInfo(c.file).path()));
            TestSupport::touch(root + QLatin1Char('/') + c.file);
        }

        QString report = QStringLiteral("earlier text");
        modJobMain::CSDB_DownloadCheck(report, {Today, {}, {}, {}, {}, {}, deployed()});
        EXPECT_EQ(report, c.expected);
        if (c.setting.isEmpty())
            expectOneLogEntry(errorLogText(folder()), unset);
        else
            EXPECT_EQ(errorLogText(folder()), QString());
    }
}

} // namespace
