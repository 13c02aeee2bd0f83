#include "FileSizeLimit.h"
#include "HttpServer.h"
#include "MessageBoxRecorder.h"
#include "ProgramInfo.h"
#include "QStringPrinter.h"
#include "TestSupport.h"
#include "VbError.h"
#include "modServerAddressUtil.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString Endpoint = QStringLiteral("serverinfo/server-address-checker.php");
const QByteArray Bom = "\xEF\xBB\xBF";

using TestSupport::readAll;
using TestSupport::writeFile;

class DirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture";
        HttpServer::reset();
        ProgramInfo::setFolder(folder.path());
        writeFile(folder.path() + "/deployment.ini",
                  "[Deployment]\r\nDirectoryServer=" + HttpServer::host().toLatin1() + "\r\n");
        modServerAddressUtil::ForgetServerDirectory();
    }

    // A refresh from the directory server that the folder's deployment.ini names, as start-up makes it.
    bool refresh(const QString& user) const {
        return modServerAddressUtil::RefreshServerDirectory(
            user, modServerAddressUtil::DirectoryServer::of(Deployment::load(folder.path())));
    }
    QString cache() const { return folder.path() + "/server_address_setting.json"; }
    void writeCache(const QByteArray& bytes) const { writeFile(cache(), bytes); }
    static void answer(int status, const QByteArray& body) {
        HttpServer::serve(Endpoint, body);
        HttpServer::serve(Endpoint + ".status", QByteArray::number(status));
    }

    QTemporaryDir folder;
    MessageBoxRecorder boxes;
};

TEST_F(DirectoryTest, TheRequestCarriesTheCachedVersionAndTheUser) {
    const QString path = "/" + Endpoint;
    struct Case {
        QByteArray cache; // empty: no cache file
        QString user;
        QString request;
    };
    const Case cases[] = {
        {{}, {}, path},
        {{}, "kim", path + "?user=kim"},
        {Bom + R"({"ver": 12,"servers": []})", {}, path + "?ver=12"},
        {Bom + R"({"ver": 12,"servers": []})", "kim", path + "?ver=12&user=kim"},
        {R"({"ver": "2026a"})", "이 름", path + "?ver=2026a&user=이 름"},
        {R"({"servers": []})", "kim", path + "?user=kim"},
    };
    answer(404, "nothing here");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        QFile::remove(cache());
        if (!c.cache.isEmpty())
            writeCache(c.cache);
        EXPECT_FALSE(refresh(c.user));
        EXPECT_EQ(HttpServer::takeRequests(), QStringList{c.request});
        EXPECT_EQ(readAll(cache()), c.cache) << "a 404 leaves the cache alone";
    }

    // A cache that does not parse: no request at all, and false.
    writeCache("not json");
    EXPECT_FALSE(refresh(QString()));
    EXPECT_TRUE(HttpServer::takeRequests().isEmpty());
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(DirectoryTest, OnlyASuccessfulAnswerWithDataReplacesTheCache) {
    const QByteArray old = Bom + R"({"ver": 11,"servers": []})";
    const QByteArray data =
        R"({"ver":12,"servers":[{"name":"사내메신저소켓","host":"127.0.0.9","port":10015}]})";
    struct Case {
        const char* name;
        int status;
        QByteArray body;
        bool result;
        QByteArray cache;
    };
    const Case cases[] = {
        {"success", 200, R"({"success": true, "data": )" + data + "}", true,
         Bom + R"({"ver": 12,"servers": [{"name": "사내메신저소켓","host": "127.0.0.9","port": 10015}]})"},
        {"success false", 200, R"({"success": false, "data": )" + data + "}", true, old},
        {"success as text", 200, R"({"success": "true", "data": )" + data + "}", true, old},
        {"success without data", 200, R"({"success": true})", true, old},
        {"not found", 404, R"({"success": true, "data": )" + data + "}", false, old},
        {"not JSON", 200, "<html>maintenance</html>", false, old},
        {"an array", 200, "[1, 2]", false, old},
        // Cut off after a key: the member has no value, and writing it would leave a cache that is not JSON.
        {"cut off after the last key", 200,
         R"({"success": true, "data": {"ver": 13, "servers": [{"name": "사내메신저소켓", "host": )", true,
         old},
        {"cut off after the version's key", 200, R"({"success": true, "data": {"ver": )", true, old},
        {"a misspelt null", 200, R"({"success": true, "data": {"ver": 13, "servers": [nul]}})", true, old},
        // Cut off after a whole value: nothing is missing from the tree, so it is kept.
        {"cut off before the closing brackets", 200,
         R"({"success": true, "data": {"ver": 13, "servers": [{"name": "a", "host": "127.0.0.8"})", true,
         Bom + R"({"ver": 13,"servers": [{"name": "a","host": "127.0.0.8"}]})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeCache(old);
        answer(c.status, c.body);
        EXPECT_EQ(refresh(QString()), c.result);
        EXPECT_EQ(readAll(cache()), c.cache);
    }
    EXPECT_TRUE(boxes.texts.isEmpty());
}

TEST_F(DirectoryTest, ACacheThatDoesNotParseIsLoggedOncePerStart) {
    const QString log = folder.path() + "/ErrorLog.txt";
    const QString line = "Error 13 (Type mismatch) in procedure LoadServerDirectory of Module "
                         "modServerAddressUtil(" +
                         cache() + " does not parse; the built-in addresses are used)";
    for (const QByteArray& broken : {QByteArray("not json"), QByteArray("[1]")}) {
        SCOPED_TRACE(broken.toStdString());
        QFile::remove(log);
        modServerAddressUtil::ForgetServerDirectory(); // a new start
        writeCache(broken);
        answer(200, R"({"success": true, "data": {"ver": 1, "servers": []}})");
        // Start-up: the refresh and the load, then a second refresh in the same run.
        EXPECT_FALSE(refresh(QString()));
        modServerAddressUtil::LoadServerDirectory();
        EXPECT_FALSE(refresh(QString()));
        EXPECT_TRUE(HttpServer::takeRequests().isEmpty()) << "the broken cache is not sent to the server";
        EXPECT_EQ(readAll(cache()), broken);
        const QStringList lines = QString::fromUtf8(readAll(log)).split("\r\n", Qt::SkipEmptyParts);
        ASSERT_EQ(lines.size(), 1);
        EXPECT_EQ(lines[0].mid(13), line);
    }
    // A cache that parses says nothing.
    QFile::remove(log);
    modServerAddressUtil::ForgetServerDirectory();
    writeCache(Bom + R"({"ver": 1,"servers": []})");
    modServerAddressUtil::LoadServerDirectory();
    EXPECT_FALSE(QFile::exists(log));
}

TEST_F(DirectoryTest, AWriteThatFailsHalfWayLeavesTheOldCache) {
    // The file size limit makes the write fail part of the way through, as a crash or a full disk would.
    const QByteArray old = Bom + R"({"ver": 11,"servers": []})";
    writeCache(old);
    const QString big =
        R"({"ver": 12,"servers": [)" + QString(R"({"name": "n","host": "127.0.0.1"},)").repeated(200) + "1]}";
    {
        const FileSizeLimit limit(256);
        ASSERT_TRUE(limit.active());
        modServerAddressUtil::WriteUtf8File(cache(), big);
    }

    EXPECT_EQ(readAll(cache()), old);
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith("파일 저장 중 오류 발생: ")) << boxes.texts[0].toStdString();
    EXPECT_EQ(QDir(folder.path()).entryList(QDir::Files),
              QStringList({"deployment.ini", "server_address_setting.json"}))
        << "no temporary file is left behind";
}

TEST_F(DirectoryTest, ADeadOrSlowServerCostsSecondsOnly) {
    answer(200, R"({"success": true, "data": {"ver": 1}})");
    HttpServer::serve(Endpoint + ".delay", "20");
    QElapsedTimer timer;
    timer.start();
    EXPECT_FALSE(refresh(QString()));
    EXPECT_LT(timer.elapsed(), 17000);
    EXPECT_FALSE(QFile::exists(cache()));

    writeFile(folder.path() + "/deployment.ini", "[Deployment]\r\nDirectoryServer=127.0.0.1:1\r\n");
    timer.restart();
    EXPECT_FALSE(refresh(QString()));
    EXPECT_LT(timer.elapsed(), 2000);
}

TEST_F(DirectoryTest, LookupsFindTheFirstEntryOfAName) {
    EXPECT_EQ(modServerAddressUtil::LookupServerHost("사내메신저소켓"), QString()) << "no directory yet";
    writeCache(Bom + R"({"ver": 3,"servers": [{"name": "토박마스터서버","host": "127.0.0.5"},)"
                     R"({"name": "토박마스터서버","host": "127.0.0.6"},{"name": "자동업데이트_런처"},)"
                     R"({"name": "작업서버_DB백업_FTP","host": 21}]})");
    modServerAddressUtil::LoadServerDirectory();
    EXPECT_EQ(modServerAddressUtil::LookupServerHost("토박마스터서버"), QStringLiteral("127.0.0.5"));
    EXPECT_EQ(modServerAddressUtil::LookupServerHost("자동업데이트_런처"), QString());
    EXPECT_EQ(modServerAddressUtil::LookupServerHost("작업서버_DB백업_FTP"), QStringLiteral("21"));
    EXPECT_EQ(modServerAddressUtil::LookupServerHost("토박마스터서버 "), QString());

    // A directory of the wrong shape fails the lookup; the caller logs it and takes its default.
    for (const QByteArray& shape : {QByteArray("[1]"), QByteArray(R"({"servers": {"name": "a"}})"),
                                    QByteArray(R"({"servers": [1]})"), QByteArray(R"({"ver": 1})")}) {
        SCOPED_TRACE(shape.toStdString());
        writeCache(shape);
        modServerAddressUtil::LoadServerDirectory();
        EXPECT_THROW(modServerAddressUtil::LookupServerHost("토박마스터서버"), VbError);
    }
}

TEST_F(DirectoryTest, UnreadableAndUnwritableFilesSayWhy) {
    // A folder where the cache file should be: it cannot be written.
    ASSERT_TRUE(QDir(folder.path()).mkdir("blocked.json"));
    modServerAddressUtil::WriteUtf8File(folder.path() + "/blocked.json", "{}");
    ASSERT_EQ(boxes.texts.size(), 1);
    EXPECT_TRUE(boxes.texts[0].startsWith("파일 저장 중 오류 발생: ")) << boxes.texts[0].toStdString();
    EXPECT_EQ(modServerAddressUtil::ReadUtf8File(folder.path() + "/missing.json"), QString());
    ASSERT_EQ(boxes.texts.size(), 2);
    EXPECT_TRUE(boxes.texts[1].startsWith("파일 읽기 중 오류 발생: ")) << boxes.texts[1].toStdString();

    modServerAddressUtil::WriteUtf8File(folder.path() + "/plain.json", "한글 {}");
    EXPECT_EQ(readAll(folder.path() + "/plain.json"), Bom + "한글 {}");
    EXPECT_EQ(modServerAddressUtil::ReadUtf8File(folder.path() + "/plain.json"), QStringLiteral("한글 {}"));
}

} // namespace
