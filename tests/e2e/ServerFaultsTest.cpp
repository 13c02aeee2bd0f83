// The built bot against job servers that fail under it: MariaDB killed while a query of the bot waits on a
// lock, an FTP server killed half-way through a removal batch or stopped in the middle of a listing, an HTTP
// server that drops a download half-way. Every server here is the test's own, so killing it touches no other
// test. The bot runs on a clock ten times as fast as the wall clock, its time-outs with it.

#include "BotRun.h"
#include "OwnServers.h"
#include "ReleaseKey.h"
#include "TestSupport.h"
#include "Version.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

namespace {

const QString VersionReply = QStringLiteral("ZEP-JobServer Ver ") + TestSupport::version();
const QString RemovalStart = QStringLiteral("_2 Remove Start...");
const QString UpdateStart =
    QStringLiteral("Auto Update Start...(Cur Ver: ") + TestSupport::version() + QStringLiteral(")");
const QString NoUpdate = QStringLiteral("이미 최신버전이거나, 업데이트를 실패했습니다.");
// What the headless bot shows when the database cannot be reached again: the library's text, then these.
const QString ServerNotFound = QStringLiteral(
    "\r\n\r\n데이터베이스 서버를 찾을 수 없습니다.\r\n인터넷이 연결되어 있는지 확인을 해 주세요.");

// A Tuesday afternoon: no schedule entry for hours.
QProcessEnvironment quietAfternoon() {
    return fakedTime(QStringLiteral("@2026-12-08 15:00:00 x10"));
}

BotLine chat(const QString& user, const QString& text) {
    return {QStringLiteral("01"), QStringLiteral("123;") + user, escaped(text)};
}

BotLine removalReport(const QString& text) {
    return {QStringLiteral("02"), QStringLiteral("123;-1"), escaped(text)};
}

// The removal report: each name with its outcome, the folder it could not list, then the counts.
QString removal(const QList<std::pair<bool, QString>>& renames, const QString& unread = QString()) {
    QString text = QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n");
    int ok = 0, failed = 0;
    for (const auto& [done, name] : renames) {
        text += (done ? QStringLiteral("처리완료  ") : QStringLiteral("처리실패! ")) + name +
                QStringLiteral("\r\n");
        (done ? ok : failed) += 1;
    }
    if (!unread.isEmpty()) {
        text += QStringLiteral("처리실패! ") + unread + QStringLiteral(" (폴더를 읽을 수 없음)\r\n");
        ++failed;
    }
    return text + QStringLiteral("\r\n처리완료:%1, 처리실패:%2").arg(ok).arg(failed);
}

const QString FtpOpenFailed =
    QStringLiteral("[FTP의 _2제거 일괄작업 처리결과]\r\n\r\nFTP Open에 실패했습니다.\r\n127.0.0.1 - qzc1");

QStringList filesIn(const QString& directory) {
    return QDir(directory).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// Each box is the one a failed reconnect shows: "Error <number> <library text>" and the two lines after it.
// The number is the library's: 2002 once the server is gone, 2013 when the connection is taken while the
// dying server's listening socket is still being torn down.
void expectReconnectBoxes(const QStringList& boxes, qsizetype count) {
    EXPECT_EQ(boxes.size(), count) << boxes.join(QStringLiteral("\n---\n")).toStdString();
    for (const QString& box : boxes) {
        EXPECT_TRUE((box.startsWith(QStringLiteral("Error 2002 ")) ||
                     box.startsWith(QStringLiteral("Error 2013 "))) &&
                    box.endsWith(ServerNotFound))
            << box.toStdString();
    }
}

// ---- MariaDB
// -------------------------------------------------------------------------------------------------

class MariaDbKilledTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.start());
        admin = std::make_unique<MariaDbServer::Admin>(db.socket());
        ASSERT_TRUE(admin->connected());
    }

    QByteArray deployment() const { return "MySqlPort=" + QByteArray::number(db.port()) + "\r\n"; }

    OwnServers::MariaDb db;
    std::unique_ptr<MariaDbServer::Admin> admin;
};

// 09:05: the disk-space query waits on a table another session has locked, and the server dies under it. The
// report ends with the error the job traps, the bot goes on answering, and the next morning's report, against
// the server started again, is whole.
TEST_F(MariaDbKilledTest, InTheMiddleOfTheDiskSpaceReport) {
    admin->setDiskSpace("(1, '127.0.0.10', '2026-12-08'), (2, '127.0.0.10', '2026-12-09')",
                        "(1, 'C:', '52000', '1000'), (2, 'C:', '51000', '1000')");
    MariaDbServer::Admin locker(db.socket());
    locker.exec("LOCK TABLES qz_logs.hddfree_m WRITE");

    DrivenBot run(deployment());
    run.startBot(fakedTime(QStringLiteral("@2026-12-09 09:04:30 x10")));
    ASSERT_TRUE(waitingOnLock(*admin, QStringLiteral("qz_logs_read"), QStringLiteral("select m.svrip")))
        << run.botOutput().toStdString();
    db.kill();

    const QString cut =
        QStringLiteral("하드   잔량    감소 Days 결과\r\n"
                       "-----------------------------\r\n"
                       "Error 91 (Object variable or With block variable not set) in procedure "
                       "ServersHDDFreeCheck of Module modJobMain");
    EXPECT_EQ(run.waitPacket("02", "123;92"), (BotLine{"02", "123;92", escaped(cut)}))
        << run.simOutput().toStdString();
    // The lost query tried once to connect again; that failure is what the administrator saw.
    expectReconnectBoxes(run.messageBoxes(), 1);
    EXPECT_EQ(run.ask("17", "/ver"), chat("17", VersionReply));

    ASSERT_TRUE(db.restart());
    run.startBot(fakedTime(QStringLiteral("@2026-12-10 09:04:30 x10")));
    const QString whole = QStringLiteral("< 하드잔량 보고서 >\r\n"
                                         "일시: 2026-12-09 23:30\r\n"
                                         "결과: 1건 모두 정상입니다.\r\n"
                                         "-----------------------------\r\n"
                                         "하드   잔량    감소 Days 결과\r\n"
                                         "-----------------------------\r\n"
                                         "127.0.0.10\r\n"
                                         "  C:  51,000  1,000   51 OK\r\n"
                                         "-----------------------------");
    EXPECT_EQ(run.waitPacket("02", "123;92"), (BotLine{"02", "123;92", escaped(whole)}))
        << run.simOutput().toStdString();
    expectReconnectBoxes(run.messageBoxes(), 1);
    EXPECT_TRUE(run.errorLog().isEmpty()) << run.errorLog().join("\n").toStdString();
}

// "/_2rm": the renames are done and the web database update waits on a locked table when the server dies. The
// report shows the renames, each statement that could not reach the server shows its box, the command lock is
// free at once, and once the server is back the next removal brings the database up to date.
TEST_F(MariaDbKilledTest, InTheMiddleOfTheWebDatabaseUpdate) {
    OwnServers::Ftp ftp;
    ASSERT_TRUE(ftp.start());
    ftp.layOutDownloads({"pkgA_2.exe", "versions/pkgA_2.1.zip"});
    admin->setFileNames("('1', 'pkgA.exe'), ('3', 'pkgC.exe')");
    admin->setProductPages("(48, 'old.exe'), (52, 'old.exe')", "(62, 'old.exe'), (65, 'old.exe')");
    MariaDbServer::Admin locker(db.socket());
    locker.exec("LOCK TABLES webhost.cate3 WRITE");

    DrivenBot run(deployment() + "FtpPort=" + QByteArray::number(ftp.port()) + "\r\n");
    run.startBot(quietAfternoon());
    EXPECT_EQ(run.ask("17", "/_2rm"), chat("17", RemovalStart));
    ASSERT_TRUE(waitingOnLock(*admin, QStringLiteral("WebHostUser"), QStringLiteral("update cate3 as a set")))
        << run.botOutput().toStdString();
    db.kill();

    // The report says the product pages were not brought up to date, naming the first failure.
    const QString unreachable = QStringLiteral("(Can't connect to server on '127.0.0.1' (115))");
    EXPECT_EQ(run.waitPacket("02", "123;-1"),
              removalReport(removal({{true, "pkgA_2.exe"}, {true, "pkgA_2.1.zip"}}) +
                            QStringLiteral("\r\n웹DB 갱신실패! Error 2002 ") + unreachable));
    // Two products, two statements each: every one of them failed to reach the server and said so.
    expectReconnectBoxes(run.messageBoxes(), 4);
    EXPECT_EQ(run.ask("17", "/ver"), chat("17", VersionReply));

    // The lock is free: the next removal is accepted while the server is still down, and reports.
    EXPECT_EQ(run.ask("17", "/_2rm"), chat("17", RemovalStart));
    EXPECT_EQ(
        run.waitPacket("02", "123;-1"),
        removalReport(removal({}) +
                      QStringLiteral("\r\n웹DB 갱신실패! DB Open에 실패했습니다. 127.0.0.1 WebHostUser ") +
                      unreachable));
    expectReconnectBoxes(run.messageBoxes(), 5);

    ASSERT_TRUE(db.restart());
    EXPECT_EQ(run.ask("17", "/_2rm"), chat("17", RemovalStart));
    EXPECT_EQ(run.waitPacket("02", "123;-1"), removalReport(removal({})));
    expectReconnectBoxes(run.messageBoxes(), 5);

    MariaDbServer::Admin after(db.socket());
    ASSERT_TRUE(after.connected());
    EXPECT_EQ(after.exec("SELECT GROUP_CONCAT(idx, '=', DemoDownFile ORDER BY idx) FROM webhost.cate3"),
              QStringLiteral("48=pkgA.exe,52=pkgC.exe"));
    EXPECT_EQ(after.exec("SELECT GROUP_CONCAT(idx, '=', DemoDownFile ORDER BY idx) FROM webhost.cate3_info"),
              QStringLiteral("62=pkgA.exe,65=pkgC.exe"));
    EXPECT_EQ(filesIn(ftp.download()), QStringList{"pkgA.exe"});
    EXPECT_EQ(filesIn(ftp.download() + "/versions"), QStringList{"pkgA.1.zip"});
}

// ---- FTP
// -----------------------------------------------------------------------------------------------------

class FtpFaultTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(db.start());
        ASSERT_TRUE(ftp.start());
        MariaDbServer::Admin admin(db.socket());
        admin.setFileNames("('1', 'pkg01.exe')");
        admin.setProductPages("(48, 'old.exe')", "(62, 'old.exe')");
        run = std::make_unique<DrivenBot>("MySqlPort=" + QByteArray::number(db.port()) +
                                          "\r\nFtpPort=" + QByteArray::number(ftp.port()) + "\r\n");
        writeFile(run->folder.path() + "/setup.ini", "[General]\r\nFTP_PASV=1\r\n");
        run->startBot(quietAfternoon());
    }

    // The web database follows each removal that reached the FTP server.
    void expectDatabaseUpdated() {
        MariaDbServer::Admin admin(db.socket());
        EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3 WHERE idx = 48"),
                  QStringLiteral("pkg01.exe"));
        EXPECT_EQ(admin.exec("SELECT DemoDownFile FROM webhost.cate3_info WHERE idx = 62"),
                  QStringLiteral("pkg01.exe"));
    }

    OwnServers::MariaDb db;
    OwnServers::Ftp ftp;
    std::unique_ptr<DrivenBot> run;
};

// The server dies at the sixth of ten renames (RNFR of the "crash" file kills it). The report lists the five
// done and the five that could not be, the next removal while the server is down reports that it could not
// connect, and once the server is back the next removal renames exactly the rest.
TEST_F(FtpFaultTest, KilledHalfWayThroughTheRemovalBatch) {
    QStringList batch;
    for (int i = 1; i <= 10; ++i)
        batch << (i == 6 ? QStringLiteral("pkg06crash_2.exe")
                         : QStringLiteral("pkg%1_2.exe").arg(i, 2, 10, QLatin1Char('0')));
    ftp.layOutDownloads(batch + QStringList{"versions/pkg_2.1.zip"});

    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    QList<std::pair<bool, QString>> first;
    for (int i = 0; i < batch.size(); ++i)
        first.append({i < 5, batch[i]});
    // The versions folder cannot be listed with the server gone.
    EXPECT_EQ(run->waitPacket("02", "123;-1"),
              removalReport(removal(first, "/public_html/download/versions/")));
    EXPECT_TRUE(QFile::exists(ftp.folder() + "/crashed"));
    EXPECT_FALSE(ftp.running());
    expectDatabaseUpdated();

    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    EXPECT_EQ(run->waitPacket("02", "123;-1"), removalReport(FtpOpenFailed));
    EXPECT_EQ(run->ask("17", "/ver"), chat("17", VersionReply));

    ASSERT_TRUE(ftp.start());
    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    QList<std::pair<bool, QString>> rest;
    for (int i = 5; i < batch.size(); ++i)
        rest.append({true, batch[i]});
    rest.append({true, "pkg_2.1.zip"});
    EXPECT_EQ(run->waitPacket("02", "123;-1"), removalReport(removal(rest)));

    QStringList renamed;
    for (const QString& name : batch)
        renamed << QString(name).remove("_2");
    renamed.sort();
    EXPECT_EQ(filesIn(ftp.download()), renamed);
    EXPECT_EQ(filesIn(ftp.download() + "/versions"), QStringList{"pkg.1.zip"});
    EXPECT_TRUE(run->messageBoxes().isEmpty()) << run->messageBoxes().join("\n").toStdString();
}

// The server stops (SIGSTOP) after it has sent part of the versions listing. The removal gives up that
// listing within its bounds, reports the renames it did, the next removal cannot open a connection to the
// frozen server and says so within its bound, and after the server goes on the next removal renames what is
// left, and nothing twice.
TEST_F(FtpFaultTest, StopsAnsweringInTheMiddleOfAListing) {
    ftp.layOutDownloads(
        {"f01_2.exe", "f02_2.exe", "versions/v01_2.zip", "versions/v02freeze_2.zip", "versions/v03_2.zip"});

    // The bot's bounds, on its clock ten times as fast: a listing that stalls for 30 s, one reply 30 s, a
    // login 10 s. A run that keeps the lock longer than their sum has hung on the server.
    constexpr int BoundMs = (30 + 30 + 10) * 1000 / 10;
    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    QElapsedTimer held;
    held.start();
    EXPECT_EQ(run->waitPacket("02", "123;-1"),
              removalReport(
                  removal({{true, "f01_2.exe"}, {true, "f02_2.exe"}}, "/public_html/download/versions/")));
    EXPECT_LT(held.elapsed(), BoundMs);
    EXPECT_EQ(ftp.state(), QByteArray("T")) << "the server did not stop in the listing";
    expectDatabaseUpdated();

    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    held.restart();
    EXPECT_EQ(run->waitPacket("02", "123;-1"), removalReport(FtpOpenFailed));
    EXPECT_LT(held.elapsed(), BoundMs);
    EXPECT_EQ(run->ask("17", "/ver"), chat("17", VersionReply));

    ftp.resume();
    // A new upload in the first folder: the versions folder is only looked at after a rename there.
    ftp.layOutDownloads({"f03_2.exe"});
    EXPECT_EQ(run->ask("17", "/_2rm"), chat("17", RemovalStart));
    EXPECT_EQ(
        run->waitPacket("02", "123;-1"),
        removalReport(removal(
            {{true, "f03_2.exe"}, {true, "v01_2.zip"}, {true, "v02freeze_2.zip"}, {true, "v03_2.zip"}})));
    EXPECT_EQ(filesIn(ftp.download()), (QStringList{"f01.exe", "f02.exe", "f03.exe"}));
    EXPECT_EQ(filesIn(ftp.download() + "/versions"), (QStringList{"v01.zip", "v02freeze.zip", "v03.zip"}));
    EXPECT_TRUE(run->messageBoxes().isEmpty()) << run->messageBoxes().join("\n").toStdString();
}

// ---- HTTP
// ----------------------------------------------------------------------------------------------------

// A sibling program as the update server offers it: a script that notes its arguments, padded to `size`
// bytes so that the drop falls in the middle of a real transfer.
QByteArray siblingScript(const QByteArray& log, qsizetype size) {
    QByteArray script = "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/" + log + "\"\nexit 0\n";
    script += '#' + QByteArray(size - script.size() - 2, 'x') + '\n';
    return script;
}

void writeExecutable(const QString& path, const QByteArray& bytes) {
    writeFile(path, bytes);
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::ExeOwner);
}

// "/selfupdate" brings the checker and the file changer up to date first, each with its signature. A download
// dropped half-way leaves nothing behind: the program folder lists the same files as before (the error log
// aside, which says why), the old program is still there byte for byte, no temporary file is left, and the
// checker is not run. Once the server sends whole files, the next update takes them.
TEST(HttpDropTest, UpdateProgramsDroppedHalfWayLeaveNoPartialFile) {
    OwnServers::Http http;
    ASSERT_TRUE(http.start());
    const QString base = QStringLiteral("download/자동업데이트_v1/");
    const QByteArray newChecker = siblingScript("new-checker.log", 1 << 20);
    const QByteArray newChanger = siblingScript("new-changer.log", 1 << 20);
    const ReleaseKey key;
    http.serve(base + "VerProbeV1_lastver.txt", "9\r\n");
    http.serve(base + "VerProbeV1.exe", newChecker);
    http.serve(base + "VerProbeV1.exe.minisig", key.sign(newChecker, "VerProbeV1.exe 9"));
    http.serve(base + "swapfiles.exe", newChanger);
    http.serve(base + "swapfiles.exe.minisig", key.sign(newChanger, "swapfiles.exe 9"));

    DrivenBot run("AddrAutoUpdate=" + http.host().toLatin1() +
                  "\r\nUpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n");
    const QByteArray oldChecker = siblingScript("old-checker.log", 4096);
    const QByteArray oldChanger = siblingScript("old-changer.log", 4096);
    writeExecutable(run.folder.path() + "/VerProbeV1.exe", oldChecker);
    writeExecutable(run.folder.path() + "/swapfiles.exe", oldChanger);
    run.startBot(quietAfternoon());
    const auto listed = [&] {
        QStringList names = run.programFolder();
        names.removeAll("ErrorLog.txt");
        names.sort();
        return names;
    };
    const QStringList before = listed();
    const auto contentOf = [&](const char* name) {
        return OwnServers::readAll(run.folder.path() + "/" + name);
    };

    struct Case {
        const char* what;
        const char* cut; // the file the server drops half-way
        QByteArray checker, changer;
        QStringList requested;
    };
    const QString url = QStringLiteral("/") + base;
    const QList<Case> cases = {
        {"the checker dropped",
         "VerProbeV1.exe",
         oldChecker,
         oldChanger,
         {url + "VerProbeV1_lastver.txt", url + "VerProbeV1.exe.minisig", url + "VerProbeV1.exe"}},
        // The checker that arrived whole stays; the changer keeps its old self.
        {"the file changer dropped",
         "swapfiles.exe",
         newChecker,
         oldChanger,
         {url + "VerProbeV1_lastver.txt", url + "VerProbeV1.exe.minisig", url + "VerProbeV1.exe",
          url + "swapfiles.exe.minisig", url + "swapfiles.exe"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        http.serve(base + c.cut + ".cut", "");
        http.takeRequests();
        EXPECT_EQ(run.ask("17", "/selfupdate"), chat("17", UpdateStart));
        EXPECT_EQ(run.waitPacket("01", "123;17"), chat("17", NoUpdate));
        EXPECT_EQ(http.takeRequests(), c.requested);
        QStringList expected = before;
        if (c.checker == newChecker)
            expected << "VerProbeV1.exe.minisig";
        expected.sort();
        EXPECT_EQ(listed(), expected);
        EXPECT_TRUE(contentOf("VerProbeV1.exe") == c.checker) << "the checker changed";
        EXPECT_TRUE(contentOf("swapfiles.exe") == c.changer) << "the file changer changed";
        http.remove(base + c.cut + ".cut");
    }
    EXPECT_EQ(run.ask("17", "/ver"), chat("17", VersionReply));

    // The server whole again: both programs arrive, and the new checker is the one that runs.
    EXPECT_EQ(run.ask("17", "/selfupdate"), chat("17", UpdateStart));
    EXPECT_EQ(run.waitPacket("01", "123;17"), chat("17", NoUpdate));
    EXPECT_TRUE(contentOf("VerProbeV1.exe") == newChecker);
    EXPECT_TRUE(contentOf("swapfiles.exe") == newChanger);
    EXPECT_EQ(contentOf("new-checker.log"), QByteArray::number(Version::Revision) + ";ClientZEP_job\n");
    QStringList after = before;
    after << "new-checker.log"
          << "VerProbeV1.exe.minisig"
          << "swapfiles.exe.minisig";
    after.sort();
    EXPECT_EQ(listed(), after);
    EXPECT_TRUE(run.messageBoxes().isEmpty()) << run.messageBoxes().join("\n").toStdString();
}

} // namespace
