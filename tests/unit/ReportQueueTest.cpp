#include "ReportQueue.h"

#include "FileSizeLimit.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

using ReportQueue::Report;

class ReportQueueTest : public ::testing::Test {
protected:
    void SetUp() override {
        ProgramInfo::setFolder(folder.path());
        TestSupport::takeErrorLog();
    }
    void TearDown() override { ProgramInfo::setFolder(previousFolder); }
    QString file() const { return folder.path() + "/ReportQueue.txt"; }
    QByteArray content() const { return TestSupport::readAll(file()); }
    void write(const QByteArray& bytes) const { TestSupport::writeFile(file(), bytes); }

    const QString previousFolder = ProgramInfo::folder();
    QTemporaryDir folder;
};

TEST_F(ReportQueueTest, AnyTextSurvivesTheFile) {
    const QList<Report> reports = {
        {"92", "< DB 백업결과 보고서 >\r\n\r\nFTP Open에 실패했습니다.\r\n"},
        {"-1", ""},
        {"92", "92\t5\nabcde\n"}, // looks like a record of its own
        {"92", QString("\x01\x02\x03\n\n\t") + QChar(0) + "끝"},
        {"92", QString(100000, QChar(u'가'))},
    };
    for (const Report& r : reports)
        ASSERT_TRUE(ReportQueue::Keep(folder.path(), r));
    EXPECT_EQ(ReportQueue::Load(folder.path()), reports);
    EXPECT_TRUE(content().startsWith("ZEPJOB REPORT QUEUE 1\n92\t"));
    EXPECT_TRUE(TestSupport::takeErrorLog().isEmpty());

    ReportQueue::Store store(folder.path());
    QList<Report> sent;
    while (const auto next = store.next()) {
        sent << *next;
        store.sent();
    }
    EXPECT_EQ(sent, reports);
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList())
        << "no temporary file is left";
}

TEST_F(ReportQueueTest, AFileCutShortIsReadAsFarAsItGoes) {
    const QByteArray two = ReportQueue::Encode({{"92", "first"}, {"-1", "second\r\nline"}});
    struct Case {
        const char* name;
        QByteArray bytes;
        qsizetype read;
        bool complete;
    };
    const Case cases[] = {
        {"whole", two, 2, true},
        {"only the first line", "ZEPJOB REPORT QUEUE 1\n", 0, true},
        {"cut inside the second text", two.left(two.size() - 3), 1, false},
        {"cut before the second text's LF", two.left(two.size() - 1), 1, false},
        {"cut inside a record line", two.left(two.indexOf("-1\t") + 3), 1, false},
        {"a length that is not a number", "ZEPJOB REPORT QUEUE 1\n92\tx\nabc\n", 0, false},
        {"a negative length", "ZEPJOB REPORT QUEUE 1\n92\t-1\n\n", 0, false},
        {"a length past the end", "ZEPJOB REPORT QUEUE 1\n92\t99\nabc\n", 0, false},
        {"the wrong first line", "ZEPJOB REPORT QUEUE 2\n92\t1\na\n", 0, false},
        {"empty", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool complete = !c.complete;
        EXPECT_EQ(ReportQueue::Decode(c.bytes, &complete).size(), c.read);
        EXPECT_EQ(complete, c.complete);
    }

    // Loading a broken file says so; keeping one more rewrites it whole.
    write(two.left(two.size() - 3));
    ASSERT_TRUE(ReportQueue::Keep(folder.path(), {"92", "third"}));
    EXPECT_EQ(TestSupport::takeErrorLog(),
              QStringList({"Error 13 (Type mismatch) in procedure Load of Module ReportQueue(ReportQueue.txt "
                           "does not parse after 1 reports)"}));
    EXPECT_EQ(ReportQueue::Load(folder.path()), QList<Report>({{"92", "first"}, {"92", "third"}}));
    EXPECT_TRUE(TestSupport::takeErrorLog().isEmpty());
}

TEST_F(ReportQueueTest, FiftyAreKeptAndTheOldestDroppedWithALogLine) {
    for (int i = 1; i <= 52; ++i)
        ASSERT_TRUE(ReportQueue::Keep(folder.path(), {"92", QString("report %1\r\nbody").arg(i)}));
    const QList<Report> kept = ReportQueue::Load(folder.path());
    ASSERT_EQ(kept.size(), ReportQueue::MaxReports);
    EXPECT_EQ(kept.first().text, QStringLiteral("report 3\r\nbody"));
    EXPECT_EQ(kept.last().text, QStringLiteral("report 52\r\nbody"));
    EXPECT_EQ(
        TestSupport::takeErrorLog(),
        QStringList({"Error 7 (Out of memory) in procedure Keep of Module ReportQueue(Dropped the oldest "
                     "kept report to 92: report 1)",
                     "Error 7 (Out of memory) in procedure Keep of Module ReportQueue(Dropped the oldest "
                     "kept report to 92: report 2)"}));
}

TEST_F(ReportQueueTest, AWriteThatFailsHalfWayKeepsTheQueueAsItWas) {
    ASSERT_TRUE(ReportQueue::Keep(folder.path(), {"92", "first"}));
    const QByteArray before = content();
    {
        const FileSizeLimit limit(2000); // room for the error log line, not for the report
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(ReportQueue::Keep(folder.path(), {"92", QString(4000, QChar(u'가'))}));
    }
    EXPECT_EQ(content(), before);
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
              QStringList({"ErrorLog.txt", "ReportQueue.txt"}));
    const QStringList log = TestSupport::takeErrorLog();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(
        log[0].startsWith("Error 75 (Path/File access error) in procedure Keep of Module ReportQueue("))
        << log[0].toStdString();
}

// A report leaves the file only once it has gone out, so a crash (a store made anew on the folder) costs
// none. On a full disk a new report is held in memory, and one that went out but could not be taken out of
// the file is not given again while the program runs; after a crash it would go out a second time, never not
// at all.
TEST_F(ReportQueueTest, EachLeavesOnlyOnceItHasGoneOut) {
    struct Case {
        const char* name;
        rlim_t fileSizeLimit; // 0: none
        bool thirdInFile;
        QString afterCrash; // what a store made anew gives once the first has gone out
    };
    for (const Case& c :
         {Case{"a disk with room", 0, true, "second"}, Case{"a full disk", 1, false, "first"}}) {
        SCOPED_TRACE(c.name);
        ReportQueue::Store store(folder.path());
        QString why;
        ASSERT_TRUE(store.keep({"92", "first"}, &why) && store.keep({"92", "second"}, &why));
        std::optional<FileSizeLimit> limit;
        if (c.fileSizeLimit != 0)
            limit.emplace(c.fileSizeLimit);
        EXPECT_EQ(store.keep({"92", "third"}, &why), c.thirdInFile);
        EXPECT_EQ(store.heldInMemory(), c.thirdInFile ? 0 : 1);
        EXPECT_EQ(why.isEmpty(), c.thirdInFile) << why.toStdString();

        QStringList sent;
        while (const auto next = store.next()) {
            sent << next->text;
            store.sent();
            if (sent.size() == 1) {
                EXPECT_EQ(ReportQueue::Store(folder.path()).next()->text, c.afterCrash);
            }
        }
        EXPECT_EQ(sent, QStringList({"first", "second", "third"}));
        EXPECT_FALSE(QFile::exists(file()));
        TestSupport::takeErrorLog();
    }
}

} // namespace
