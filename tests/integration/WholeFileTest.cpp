#include "ErrorLog.h"
#include "FileSizeLimit.h"
#include "HttpClient.h"
#include "HttpServer.h"
#include "ReportQueue.h"
#include "TestSupport.h"
#include "modServerAddressUtil.h"

#include <QDateTime>
#include <QDir>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

using TestSupport::readAll;

// A download that the disk cannot take whole leaves the file it would have replaced.
TEST(WholeFileTest, ADownloadThatCannotBeWrittenWholeLeavesTheOldFile) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
    HttpServer::reset();
    const QByteArray build(8 * 1024, 'x'); // less than the file buffer: the failure comes at the final flush
    HttpServer::serve("download/build.bin", build);
    const QString url = "http://" + HttpServer::host() + "/download/build.bin";

    QTemporaryDir folder;
    const QString path = folder.path() + "/build.bin";
    TestSupport::writeFile(path, "the previous build");
    {
        const FileSizeLimit limit(1000);
        ASSERT_TRUE(limit.active());
        EXPECT_FALSE(HttpClient::downloadToFile(url, path));
    }
    EXPECT_EQ(readAll(path), QByteArray("the previous build"));
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"build.bin"});

    // With room, the same download replaces it.
    EXPECT_TRUE(HttpClient::downloadToFile(url, path));
    EXPECT_EQ(readAll(path), build);
}

// Whoever can write the program folder may put a link where the program writes a file: the file it points at
// stays as it was, whichever writer and whichever kind of link.
TEST(WholeFileTest, ALinkPlantedInAFilesPlaceLeavesItsTargetUntouched) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
    HttpServer::reset();
    HttpServer::serve("download/VerProbeV1.exe", "a checker");
    const auto log = [](const QString& f) { ErrorLog::WriteToFile(f, QDateTime::currentDateTime(), "x"); };
    const auto keep = [](const QString& f) { EXPECT_TRUE(ReportQueue::Keep(f, {"92", "report"})); };
    const struct {
        const char* name;
        bool hardLink;
        std::function<void(const QString&)> write;
    } cases[] = {{"ErrorLog.txt", false, log},
                 {"ErrorLog.txt", true, log},
                 {"ReportQueue.txt", false, keep},
                 {"ReportQueue.txt", true, keep},
                 {"server_address_setting.json", false,
                  [](const QString& f) {
                      modServerAddressUtil::WriteUtf8File(f + "/server_address_setting.json", "{}");
                  }},
                 {"VerProbeV1.exe", false, [](const QString& f) {
                      EXPECT_TRUE(HttpClient::downloadToFile("http://" + HttpServer::host() +
                                                                 "/download/VerProbeV1.exe",
                                                             f + "/VerProbeV1.exe"));
                  }}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.hardLink ? " (hard link)" : " (symbolic link)"));
        QTemporaryDir folder, elsewhere;
        const QByteArray target = QFile::encodeName(elsewhere.path() + "/cron-job");
        TestSupport::writeFile(target, "#!/bin/sh\n");
        const QByteArray link = QFile::encodeName(folder.path() + "/" + c.name);
        ASSERT_EQ((c.hardLink ? ::link : ::symlink)(target.constData(), link.constData()), 0);
        c.write(folder.path());
        EXPECT_EQ(readAll(target), QByteArray("#!/bin/sh\n"));
    }
}

} // namespace
