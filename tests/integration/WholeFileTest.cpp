#include "FileSizeLimit.h"
#include "HttpClient.h"
#include "HttpServer.h"
#include "TestSupport.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

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
    QFile old(path);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("the previous build");
    old.close();
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

} // namespace
