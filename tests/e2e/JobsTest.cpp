// The built bot under a faked clock, logged in to messenger-sim, running its morning schedule against the
// real MariaDB and FTP servers of the test fixtures.

#include "BotRun.h"
#include "CommandInterpreter.h"
#include "FtpServer.h"
#include "HttpServer.h"
#include "MariaDbServer.h"
#include "ReleaseKey.h"
#include "TestSupport.h"
#include "Version.h"

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// Wednesday 2026-12-09, half a minute before the disk-space report: the first tick comes a minute after the
// login and must fall within 09:05, which leaves a slow (sanitizer) start-up 30 faked seconds. The report
// comes at 09:05, the "_2" removal at 09:10.
TEST(ScheduleTest, WednesdayMorningReportsReachTheirRecipients) {
    ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    admin.setDiskSpaceOfDecember8();
    admin.setFileNames("('1', 'ZepSetup.exe')");
    admin.setProductPages("(48, 'ZepSetup_old.exe')");

    const QString download = FtpServer::download();
    FtpServer::reset();
    FtpServer::layOutDownloads({"ZepSetup_2.exe", "versions/ZepSetup_2.1.zip"});

    BotRun run({"--wait-timeout-ms", "120000"},
               "waitlogin\n"
               "wait 10\n"
               "wait 2 하드잔량\n"
               "wait 2 _2제거\n"
               "quit\n",
               fakedTime("@2026-12-09 09:04:30 x10"), {}, jobServerPorts());
    writeFile(run.folder.path() + "/setup.ini", "[General]\r\nFTP_PASV=1\r\n");
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

using TestSupport::writeScript;

// "/_2rm": the acknowledgement at once, the report to -1 a second later, and the lock free again after it.
TEST(CommandJobsTest, RemovalRunsAfterItsAcknowledgementAndFreesTheLock) {
    ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    const QString download = FtpServer::download();
    FtpServer::reset();
    FtpServer::layOutDownloads({"manual_2.pdf"});

    BotRun run({},
               "waitlogin\nwait 10\n17 /_2rm\nwait 1 Start\nwait 2 _2제거\n17 /_2rm\nwait 1 Start\nwait 2 "
               "_2제거\nquit\n",
               {}, {}, jobServerPorts());
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();

    const QString first =
        "[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n처리완료  manual_2.pdf\r\n\r\n처리완료:1, 처리실패:0";
    const QString second = "[FTP의 _2제거 일괄작업 처리결과]\r\n\r\n\r\n처리완료:0, 처리실패:0";
    QList<BotLine> sent = run.botPackets();
    sent.erase(sent.begin(), sent.begin() + 2); // login and version
    const QList<BotLine> expected = {{"01", "123;17", "_2 Remove Start..."},
                                     {"02", "123;-1", escaped(first)},
                                     {"01", "123;17", "_2 Remove Start..."},
                                     {"02", "123;-1", escaped(second)}};
    EXPECT_EQ(sent, expected) << run.simOutput.toStdString();
    EXPECT_TRUE(QFile::exists(download + "/manual.pdf"));
}

// "/selfupdate": the checker runs with the program's revision and file name; without a newer version the
// requester hears so, with one the file changer takes over and the bot ends.
TEST(CommandJobsTest, SelfUpdateAnswersOrHandsOverToTheFileChanger) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture in " << HttpServer::folder().toStdString();
    // The checker beside the bot counts as current.
    HttpServer::serve("download/자동업데이트_v1/VerProbeV1_lastver.txt", "0");

    // Nothing is fetched here, but without a release key nothing would run at all.
    const ReleaseKey key;
    for (const bool newer : {false, true}) {
        SCOPED_TRACE(newer ? "a newer version" : "no newer version");
        QTemporaryDir tools;
        writeScript(tools.path() + "/VerProbeV1.exe",
                    "echo \"$@\" > checker.log\n" + QByteArray(newer ? ": > \"New_ClientZEP_job\"\n" : ""));
        writeScript(tools.path() + "/swapfiles.exe", "echo \"$@\" > \"$(dirname \"$0\")/changer.log\"\n");
        BotRun run({},
                   "waitlogin\nwait 10\n17 /selfupdate\nwait 1 Auto Update Start\n" +
                       QByteArray(newer ? "sleep 3000\n" : "wait 1 최신버전\n") + "quit\n",
                   {}, {tools.path() + "/VerProbeV1.exe", tools.path() + "/swapfiles.exe"},
                   "AddrAutoUpdate=127.0.0.1:" + HttpServer::port().toLatin1() +
                       "\r\nUpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n");
        if (newer) {
            // The bot ends by itself once the file changer is started.
            EXPECT_TRUE(run.bot.waitForFinished(15000)) << "the bot did not end";
            EXPECT_EQ(run.bot.exitCode(), 0);
        }
        ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();

        QFile checker(run.folder.path() + "/checker.log");
        ASSERT_TRUE(checker.open(QIODevice::ReadOnly));
        EXPECT_EQ(checker.readAll(), QByteArray::number(Version::Revision) + ";ClientZEP_job\n");
        QList<BotLine> sent = run.botPackets();
        sent.erase(sent.begin(), sent.begin() + 2);
        QList<BotLine> expected = {
            {"01", "123;17", "Auto Update Start...(Cur Ver: " + TestSupport::version() + ")"}};
        if (newer) {
            QFile changer(run.folder.path() + "/changer.log");
            TestSupport::waitUntil([&] { return changer.exists(); }, 2000, 20);
            ASSERT_TRUE(changer.open(QIODevice::ReadOnly));
            EXPECT_EQ(changer.readAll(), QByteArray("ClientZEP_job;New_ClientZEP_job\n"));
        } else {
            expected.append({"01", "123;17", "이미 최신버전이거나, 업데이트를 실패했습니다."});
        }
        EXPECT_EQ(sent, expected) << run.simOutput.toStdString();
    }
}

// CommandUsers: a user it does not name is told so for each job's command and nothing runs (the FTP server
// sees no log-in, the updater tool does not start), with a warning in the error log and on standard error;
// help, ver and the echo answer everyone; a named user's command runs.
TEST(CommandJobsTest, OnlyTheNamedUsersStartJobs) {
    ASSERT_NE(FtpServer::port(), 0) << "no FTP fixture in " << FtpServer::folder().toStdString();
    FtpServer::reset();
    const ReleaseKey key;
    DrivenBot bot("CommandUsers=17, 42\r\n" + jobServerPorts() +
                  "UpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n");
    const QString updated = bot.folder.path() + "/updater-ran";
    const QString tool = bot.folder.path() + "/인증코드갱신툴.exe";
    writeScript(tool, ": > updater-ran\n");
    TestSupport::writeFile(tool + ".minisig", key.sign(TestSupport::readAll(tool), "인증코드갱신툴.exe 1"));
    bot.startBot({});

    const QString no = "이 명령을 실행할 권한이 없습니다. 관리자에게 문의 바랍니다.";
    const std::pair<QString, QString> cases[] = {
        {"/_2rm", no},      {"/selfupdate", no},
        {"/WebUpdate", no}, {"/ver", "ZEP-JobServer Ver " + TestSupport::version()},
        {"hello", "hello"}, {"/help", escaped(CommandInterpreter::HelpText())}};
    QStringList warnings;
    for (const auto& [text, reply] : cases) {
        EXPECT_EQ(bot.ask("21", text).body, reply) << text.toStdString();
        if (reply == no)
            warnings << "command refused: " + text + " from user 21, who is not in CommandUsers";
    }
    const QStringList logged = TestSupport::errorLogLines(bot.folder.path());
    EXPECT_EQ(logged, warnings);
    for (const QString& warning : warnings)
        EXPECT_TRUE(bot.botOutput().contains("ClientZEP_job: " + warning + "\n")) << warning.toStdString();
    EXPECT_TRUE(bot.waitPacket("02", "123;-1", 1500).body.isEmpty()) << "a refused removal ran";
    EXPECT_EQ(FtpServer::logins(), QStringList());
    EXPECT_FALSE(QFile::exists(updated));

    EXPECT_EQ(bot.ask("17", "/_2rm").body, "_2 Remove Start...");
    EXPECT_FALSE(bot.waitPacket("02", "123;-1").body.isEmpty());
    EXPECT_EQ(FtpServer::logins(), QStringList{"qzc1"});
    EXPECT_EQ(bot.ask("42", "/webupdate").body, "");
    TestSupport::waitUntil([&] { return QFile::exists(updated); }, 2000, 20);
    EXPECT_TRUE(QFile::exists(updated));
}

// Frame markers in a database row and in a chat line: the report and the echo each go out as the one packet
// the bot means, to its recipient, with the markers gone and the rest kept; nothing reaches user 21, and no
// "/_2rm" runs for user 17.
TEST(CommandJobsTest, FrameMarkersInContentNeverMakeAPacket) {
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    admin.setDiskSpace("(1, CONCAT('127.0.0.10/', CHAR(3), '/', CHAR(1), '01123;21/', CHAR(2), 'forged'), "
                       "'2026-12-08')",
                       "(1, 'C:', '52000', '1000')");
    FtpServer::reset();
    DrivenBot bot("CommandUsers=17\r\n" + jobServerPorts());
    bot.startBot(fakedTime("@2026-12-09 09:04:30 x10"));
    EXPECT_EQ(bot.ask("33", "hi/\\x03/\\x01"
                            "0117;123/\\x02/_2rm")
                  .body,
              "hi//0117;123//_2rm");
    const BotLine report = bot.waitPacket("02", "123;92", 60000);
    EXPECT_TRUE(report.body.contains("127.0.0.10//01123;21/forged\\r\\n  C:  52,000  1,000   52 OK"))
        << report.body.toStdString();
    EXPECT_TRUE(bot.waitPacket("02", "123;-1", 1500).body.isEmpty()) << "a forged removal ran";
    QStringList packets;
    for (const BotLine& line : BotFolder::packetsIn(bot.simOutput()))
        packets << line.code + " " + line.header;
    EXPECT_EQ(packets, QStringList({"50 0;0", "10 123;0", "01 123;33", "02 123;92"}))
        << bot.simOutput().toStdString();
    EXPECT_FALSE(bot.simOutput().contains("SIM malformed")) << bot.simOutput().toStdString();
    EXPECT_FALSE(bot.simOutput().contains("SIM junk")) << bot.simOutput().toStdString();
    EXPECT_EQ(FtpServer::logins(), QStringList());
}

// Start-up takes the messenger host from the directory server's answer and keeps the answer as its cache;
// with no cache and no directory server every endpoint keeps its default.
TEST(CommandJobsTest, StartUpAsksTheDirectoryServer) {
    ASSERT_FALSE(HttpServer::port().isEmpty()) << "no HTTP fixture in " << HttpServer::folder().toStdString();
    HttpServer::serve(
        "serverinfo/server-address-checker.php",
        R"({"success": true, "data": {"ver": 5, "servers": [{"name": "사내메신저소켓", "host": "localhost"}]}})");

    for (const bool reachable : {true, false}) {
        SCOPED_TRACE(reachable ? "directory answers" : "no directory server");
        BotRun run({}, "waitlogin\nquit\n", {}, {},
                   "DirectoryServer=127.0.0.1:" +
                       (reachable ? HttpServer::port().toLatin1() : QByteArray("1")) + "\r\n");
        ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();
        const QString cache = run.folder.path() + "/server_address_setting.json";
        if (reachable) {
            EXPECT_TRUE(run.botOutput.contains("connecting to localhost:")) << run.botOutput.toStdString();
            QFile file(cache);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            EXPECT_EQ(file.readAll(),
                      QByteArray("\xEF\xBB\xBF") +
                          R"({"ver": 5,"servers": [{"name": "사내메신저소켓","host": "localhost"}]})");
        } else {
            EXPECT_TRUE(run.botOutput.contains("connecting to 127.0.0.1:")) << run.botOutput.toStdString();
            EXPECT_FALSE(QFile::exists(cache));
        }
        EXPECT_TRUE(run.errorLog().isEmpty()) << run.errorLog().join("\n").toStdString();
    }
}

// The bot's answer to "/ver" from `user`.
BotLine chat(const QString& user) {
    return {QStringLiteral("01"), QStringLiteral("123;") + user,
            escaped(QStringLiteral("ZEP-JobServer Ver ") + TestSupport::version())};
}

// The bot, installed the day before, was not running at 09:05 and 09:10 on a Wednesday. Started at 09:30 it
// sends the disk-space report late and tells -1 that the removal did not run; started again at 10:00 it sends
// neither again. With LateRun=off nothing of it happens.
TEST(ScheduleTest, AMissedMinuteRunsLateOnceAfterTheNextLogin) {
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    admin.setDiskSpaceOfDecember8();
    const QString notice =
        "[FTP의 _2제거 일괄작업] 오늘 09:10 예정 작업이 실행되지 않았습니다: 그 시각에 잡서버가 "
        "실행되고 있지 않았습니다. 웹 사이트를 바꾸는 작업이라 늦게 실행하지 않습니다. 필요하면 "
        "/_2rm 으로 실행하세요.";
    struct Case {
        QByteArray deployment;
        qsizetype late; // reports to 92 and notices to -1
    };
    for (const Case& c : {Case{"", 1}, Case{"LateRun=off\r\n", 0}}) {
        SCOPED_TRACE(c.deployment.toStdString());
        DrivenBot run(jobServerPorts() + c.deployment);
        run.startBot(fakedTime(QStringLiteral("@2026-12-08 15:00:00")));
        for (const char* start : {"@2026-12-09 09:30:00", "@2026-12-09 10:00:00"}) {
            run.startBot(fakedTime(QString::fromLatin1(start)));
            // The late run comes before any answer to a chat line after the login.
            EXPECT_EQ(run.ask("17", "/ver").code, QStringLiteral("01"));
        }
        const QString sim = run.simOutput();
        EXPECT_EQ(sim.count("BOT 02 123;92 " + escaped("< 하드잔량 보고서 >\r\n일시: 2026-12-08 23:30")),
                  c.late)
            << sim.toStdString();
        EXPECT_EQ(sim.count("BOT 02 123;-1 " + notice + "\n"), c.late) << sim.toStdString();
        EXPECT_EQ(sim.count("BOT 02 "), 2 * c.late);
        EXPECT_EQ(
            run.botOutput().count("running the disk-space report late: the bot was not running at 09:05"),
            c.late);
    }
}

// ---- a full disk and a crash
// ------------------------------------------------------------------------------------

// The program folder on a small file system of its own (a tmpfs), its files copied over and the rest of the
// space filled, so that nothing the bot writes there fits any more. It mounts, so it needs root (CI runs as
// root).
class FullDisk {
public:
    explicit FullDisk(const QString& folder) : folder_(QFile::encodeName(folder)) {
        QTemporaryDir aside;
        const QStringList names = QDir(folder).entryList(QDir::Files);
        qint64 bytes = 1 << 20; // room for the files (a sanitizer build's bot is large), and a little more
        for (const QString& name : names) {
            EXPECT_TRUE(QFile::copy(folder + "/" + name, aside.path() + "/" + name));
            bytes += QFileInfo(folder + "/" + name).size();
        }
        const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0755";
        mounted_ = ::mount("tmpfs", folder_.constData(), "tmpfs", 0, options.constData()) == 0;
        if (!mounted_)
            return;
        for (const QString& name : names)
            EXPECT_TRUE(QFile::copy(aside.path() + "/" + name, folder + "/" + name));
        const int fd = ::open((folder_ + "/filler").constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        const QByteArray block(65536, 'f');
        for (qsizetype size = block.size(); fd >= 0 && size > 0; size /= 2)
            while (::write(fd, block.constData(), size_t(size)) == size) {
            }
        if (fd >= 0)
            ::close(fd);
    }
    ~FullDisk() {
        if (mounted_)
            ::umount2(folder_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    QByteArray folder_;
    bool mounted_ = false;
};

// Started on a full disk the bot logs in and answers. The connection drops while the 09:05 report waits on a
// locked table; the report, which the full disk keeps out of ReportQueue.txt, is held in memory and reaches
// 92 once, after the next login.
TEST(FullDiskTest, TheBotRunsAndTheReportMadeOfflineArrivesOnce) {
    ASSERT_EQ(geteuid(), 0u) << "this test mounts a file system of its own: run it as root";
    MariaDbServer::Admin admin;
    ASSERT_TRUE(admin.connected());
    admin.setDiskSpaceOfDecember8();
    MariaDbServer::Admin locker;
    locker.exec("LOCK TABLES qz_logs.hddfree_m WRITE");

    DrivenBot run(jobServerPorts());
    const FullDisk disk(run.folder.path());
    ASSERT_TRUE(disk.mounted()) << std::strerror(errno);
    run.startBot(fakedTime(QStringLiteral("@2026-12-09 09:04:30 x10")));
    EXPECT_EQ(run.ask("17", "/ver"), chat("17"));
    ASSERT_TRUE(waitingOnLock(admin, QStringLiteral("qz_logs_read"), QStringLiteral("select m.svrip")))
        << run.botOutput().toStdString();
    run.command("drop");
    ASSERT_FALSE(run.waitLine("SIM disconnected").isEmpty());
    locker.exec("UNLOCK TABLES");

    ASSERT_FALSE(run.waitLine("SIM login accepted", 60000).isEmpty()) << run.botOutput().toStdString();
    const BotLine report = run.waitPacket("02", "123;92");
    EXPECT_TRUE(report.body.startsWith(escaped("< 하드잔량 보고서 >\r\n일시: 2026-12-08 23:30")))
        << run.simOutput().toStdString();
    EXPECT_EQ(run.ask("17", "/ver"), chat("17"));
    EXPECT_EQ(run.simOutput().count("BOT 02 123;92 "), 1);
    EXPECT_TRUE(run.botOutput().contains("report held in memory for the next login (ReportQueue.txt cannot "
                                         "be written: "))
        << run.botOutput().toStdString();
}

// Killed while its kept reports go out, wherever the kill falls: after the restart every report has reached
// 92, none more than twice, and the file is gone.
TEST(KeptReportsTest, AKilledBotSendsThemAfterItsRestart) {
    const QStringList texts = {"first", "second", "third"};
    for (const QString killedAt : {"", "BOT 02 123;92 first"}) {
        SCOPED_TRACE(killedAt.toStdString());
        DrivenBot run({});
        writeFile(run.inFolder("ReportQueue.txt"),
                  "ZEPJOB REPORT QUEUE 1\n92\t5\nfirst\n92\t6\nsecond\n92\t5\nthird\n");
        run.startBot({}); // killed right after its login, or after the first report
        if (!killedAt.isEmpty()) {
            ASSERT_FALSE(run.waitLine(killedAt).isEmpty());
        }
        run.startBot({});
        const auto arrived = [&](const QString& text) {
            return run.simOutput().split('\n').count("BOT 02 123;92 " + text);
        };
        EXPECT_TRUE(TestSupport::waitUntil([&] { return arrived("third") > 0; }, 10000));
        EXPECT_EQ(run.ask("17", "/ver"), chat("17"));
        for (const QString& text : texts) {
            EXPECT_GE(arrived(text), 1) << text.toStdString();
            EXPECT_LE(arrived(text), 2) << text.toStdString();
        }
        EXPECT_FALSE(QFile::exists(run.inFolder("ReportQueue.txt")));
    }
}

} // namespace
