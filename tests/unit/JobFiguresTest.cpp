// The figures of the disk-space and CS backup reports, and the file patterns of the CS backup check.
#include "FileSystem.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "VbError.h"
#include "modJobMain.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

TEST(JobMainFigures, FormatFigureRoundsHalfAwayFromZeroAndGroupsThousands) {
    struct Case {
        const char* figure;
        QString shown;
        int error;
    };
    const Case cases[] = {
        {"1234567", "1,234,567", 0},
        {"2.5", "3", 0},
        {"-1234.5", "-1,235", 0},
        {"-0.4", "0", 0},
        {"1.5e3", "1,500", 0},
        {"", {}, 13},
        {"12,000", "12,000", 0},
        {"1 2", {}, 13},
        {"1e999", {}, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.figure);
        try {
            EXPECT_EQ(modJobMain::FormatFigure(QString::fromLatin1(c.figure)), c.shown);
            EXPECT_EQ(c.error, 0);
        } catch (const VbError& e) {
            EXPECT_EQ(e.number(), c.error);
        }
    }
}

TEST(JobMainFigures, DiskGigabytesRoundsTiesToEvenAtBothSteps) {
    struct Case {
        quint64 clusterBytes;
        quint64 clusters;
        double gigabytes;
    };
    const Case cases[] = {
        {524288, 2560, 1.00},          // 2.5 thousand clusters count as 2
        {524288, 3584, 2.00},          // 3.5 count as 4
        {524288, 2561, 1.50},          //
        {131072, 1024, 0.12},          // 0.125 GB
        {131072, 3072, 0.38},          // 0.375 GB
        {4096, 1000000000, 3814.70},   // 3.7 TiB
        {65536, 1000000000, 61035.12}, // 61035.125 GB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.clusterBytes << " x " << c.clusters);
        EXPECT_DOUBLE_EQ(modJobMain::DiskGigabytes(c.clusterBytes, c.clusters), c.gigabytes);
    }
}

TEST(JobMainFigures, DownloadNeedsMoreThanATenthOfAGigabyte) {
    EXPECT_EQ(modJobMain::DownloadNotice(0.10, QStringLiteral("/srv/cs")),
              QStringLiteral("[알림] CS DB 파일서버에 다운로드 실패! 하드 용량부족 /srv/cs"));
    EXPECT_EQ(modJobMain::DownloadNotice(0.11, QStringLiteral("/srv/cs")),
              QStringLiteral("[알림] CS DB 파일서버에 다운로드 완료"));
}

TEST(FileSystemTest, FirstMatchTakesStarAndQuestionMarkOnly) {
    QTemporaryDir dir;
    for (const char* name : {"b[1].txt", "a1.zip", "notes.txt", ".hidden.zip"})
        TestSupport::touch(dir.path() + QLatin1Char('/') + QLatin1String(name));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("dir.zip")));

    struct Case {
        const char* pattern;
        std::optional<QString> match;
    };
    const Case cases[] = {
        {"*.zip", "a1.zip"},
        {"A?.ZIP", "a1.zip"},
        {"a??.zip", std::nullopt},
        {"b[1].txt", "b[1].txt"},
        {"dir*", std::nullopt},
        {".h*", std::nullopt},
        {"missing/*.zip", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pattern);
        EXPECT_EQ(FileSystem::firstMatch(dir.path() + QLatin1Char('/') + QLatin1String(c.pattern)), c.match);
    }
}

} // namespace
