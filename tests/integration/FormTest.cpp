#include "FormFixture.h"
#include "MachineId.h"
#include "ReleaseKey.h"
#include "ReportQueue.h"
#include "TcpKeepAlive.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace {

using namespace FormSetup;

const QString UserList = userList({userRecord(17, 1, "김민준", 1), userRecord(Bot, 3, "잡서버", 1),
                                   userRecord(21, 2, "이서연", 0), userRecord(33, 0, "박지훈", 2)});

// The error log without its time stamps, each of which must be one.
QStringList errorLogLines(const QString& folder) {
    QStringList lines = TestSupport::errorLogText(folder).split("\r\n", Qt::SkipEmptyParts);
    for (const QString& line : lines)
        EXPECT_TRUE(QRegularExpression("^\\d{12} ").match(line).hasMatch()) << line.toStdString();
    return TestSupport::errorLogLines(folder);
}

class FormTest : public FormFixture {
protected:
    void logIn(frmMain& form) { FormSetup::logIn(form, peer, UserList); }
    // After the connection dropped: the next login, accepted, and the user list.
    void logInAgain() {
        ASSERT_TRUE(peer.take(50, 2000));
        acceptLogin(peer, UserList);
    }
};

TEST_F(FormTest, LoadLogsInReceivesListAndReportsVersion) {
    frmMain form(peer.port(), fast());
    form.Form_Load();
    EXPECT_EQ(form.caption(), QStringLiteral("메신저(스케줄서버 전용) v") + TestSupport::version());
    EXPECT_TRUE(QDir(folder.path() + "/RECVFILE").exists());
    EXPECT_EQ(form.tree().count(), 6);

    const auto login = peer.take(50);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->header, QStringLiteral("0;0"));
    EXPECT_EQ(login->body, QStringLiteral("jobserver/kx-630195/") + MachineId::macAddress() + "-" +
                               MachineId::driveSerial(QString()));
    EXPECT_FALSE(form.autoLoginTimer().isActive()); // the first attempt runs without it

    peer.send(50, Accepted);
    ASSERT_TRUE(waitUntil([&] { return modMain::MyUserId == Bot; }));
    EXPECT_EQ(form.myInfo(), QStringLiteral("[기술개발팀] 잡서버"));
    EXPECT_EQ(modMain::MyName, QStringLiteral("잡서버"));
    EXPECT_FALSE(form.scheduleTimer().isActive());

    peer.send(51, UserList);
    const auto version = peer.take(10);
    ASSERT_TRUE(version);
    EXPECT_EQ(version->bytes, TestSupport::frame(10, "123;0", "123;" + TestSupport::version()));
    EXPECT_TRUE(form.scheduleTimer().isActive());
    EXPECT_EQ(form.scheduleTimer().interval(), 60000);
    EXPECT_EQ(form.onlineCountText(), QStringLiteral("2명"));
    EXPECT_EQ(form.tree().count(), 9);
    EXPECT_TRUE(errorLogLines(folder.path()).isEmpty());
}

TEST_F(FormTest, LoadKeepsAnExistingFolderAndSurvivesOneItCannotMake) {
    // RECVFILE already there: untouched, and the current directory stays where it was.
    ASSERT_TRUE(QDir(folder.path()).mkdir("RECVFILE"));
    const QString current = QDir::currentPath();
    {
        frmMain form(peer.port(), fast());
        form.Form_Load();
        EXPECT_EQ(QDir::currentPath(), current);
        EXPECT_TRUE(peer.take(50));
    }
    EXPECT_TRUE(errorLogLines(folder.path()).isEmpty());

    // A file in the folder's place: the failure is logged and the load goes on to connect.
    QTemporaryDir other;
    ProgramInfo::setFolder(other.path());
    TestSupport::touch(other.path() + "/RECVFILE");
    frmMain form(peer.port(), fast());
    form.Form_Load();
    EXPECT_EQ(form.tree().count(), 6);
    EXPECT_TRUE(peer.take(50));
    EXPECT_EQ(errorLogLines(other.path()),
              QStringList({"Error 75 (Path/File access error) in procedure Form_Load of Form frmMain"}));
    QDir::setCurrent(current);
}

TEST_F(FormTest, ChatCommandsAreAnsweredOnTheWire) {
    frmMain form(peer.port(), fast());
    logIn(form);

    peer.send(1, QStringLiteral("/ver"), QStringLiteral("17;123[%]x"));
    auto reply = peer.take(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, TestSupport::frame(1, "123;17", "ZEP-JobServer Ver " + TestSupport::version()));

    peer.send(1, QStringLiteral("안녕"), QStringLiteral("21;123"));
    reply = peer.take(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->bytes, QByteArray("/\x01"
                                       "01123;21/\x02\xbe\xc8\xb3\xe7/\x03"));

    // Two removals in one arrival: start, then busy; the work timer fires once and stops.
    peer.sendRaw(TestSupport::frame(1, "17;123", "/_2rm") + TestSupport::frame(1, "21;123", "/_2RM"));
    const auto start = peer.take(1), busy = peer.take(1);
    ASSERT_TRUE(start && busy);
    EXPECT_EQ(start->header, QStringLiteral("123;17"));
    EXPECT_EQ(start->body, QStringLiteral("_2 Remove Start..."));
    EXPECT_EQ(busy->header, QStringLiteral("123;21"));
    EXPECT_EQ(busy->body, QStringLiteral("현재 [_2 Remove] 작업이 진행중입니다. 잠시후 시도 바랍니다."));
    EXPECT_TRUE(form.workTimer().isActive());
    EXPECT_TRUE(waitUntil([&] { return !form.workTimer().isActive(); }, 2000));
}

// "/webupdate" starts the tool beside the program only from the sealed copy of a build the release key signed
// as "인증코드갱신툴.exe <version>", in its folder; any other is refused with one error-log line and the
// requester hears why. Without the tool, only the empty reply.
TEST_F(FormTest, WebUpdateStartsOnlyASignedToolBesideTheProgram) {
    const ReleaseKey key, stranger;
    writeDeployment(folder.path(), "UpdatePublicKey=" + key.publicKeyLine().toLatin1() + "\r\n");
    const QString name = "인증코드갱신툴.exe";
    const QString tool = folder.path() + "/" + name;
    const QString marker = folder.path() + "/started";
    const QByteArray body = "#!/bin/sh\ntouch started\n";
    const QString refused = name + " does not run: ";
    const struct {
        const char* name;
        QByteArray signature; // none when null
        QString reply;        // what the requester hears
    } cases[] = {
        {"signed", key.sign(body, name + " 2"), ""},
        {"unsigned", {}, refused + "it has no signature " + name + ".minisig"},
        {"by another key", stranger.sign(body, name + " 2"), refused + "signed by another key"},
        {"as another program", key.sign(body, "VerProbeV1.exe 2"), refused + "its signature does not name"},
        {"no tool", {}, ""},
    };
    frmMain form(peer.port(), fast());
    logIn(form);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(marker);
        QFile::remove(tool + ".minisig");
        QFile::remove(folder.path() + "/ErrorLog.txt");
        if (QByteArray(c.name) == "no tool")
            QFile::remove(tool);
        else
            TestSupport::writeScript(tool, body.mid(10));
        if (!c.signature.isNull())
            TestSupport::writeFile(tool + ".minisig", c.signature);
        peer.send(1, QStringLiteral("/webupdate"), QStringLiteral("17;123"));
        const auto reply = peer.take(1);
        ASSERT_TRUE(reply);
        const QStringList logged = errorLogLines(folder.path());
        if (c.reply.isEmpty()) {
            EXPECT_EQ(reply->body, "");
            EXPECT_EQ(logged, QStringList());
        } else {
            EXPECT_TRUE(reply->body.startsWith(c.reply)) << reply->body.toStdString();
            EXPECT_EQ(logged, QStringList{reply->body});
        }
        if (QByteArray(c.name) == "signed") {
            EXPECT_TRUE(waitUntil([&] { return QFile::exists(marker); }));
        } else {
            pump(200);
            EXPECT_FALSE(QFile::exists(marker));
        }
    }
}

TEST_F(FormTest, RefusedLoginIsLoggedAndTheBotWaitsForTheClose) {
    frmMain form(peer.port(), fast());
    form.Form_Load();
    ASSERT_TRUE(peer.take(50));
    peer.send(50, QStringLiteral("0비밀번호가 틀렸습니다."));
    pump(400); // longer than the reconnect period: nothing happens while the connection stays open
    EXPECT_EQ(peer.connections, 1);
    EXPECT_EQ(errorLogLines(folder.path()),
              QStringList({QStringLiteral("로그인 실패: 0비밀번호가 틀렸습니다.")}));

    peer.drop();
    ASSERT_TRUE(waitUntil([&] { return form.autoLoginTimer().isActive(); }));
    const auto again = peer.take(50, 2000);
    ASSERT_TRUE(again);
    EXPECT_EQ(peer.connections, 2);
    EXPECT_EQ(again->header, QStringLiteral("0;0"));
}

TEST_F(FormTest, EachKeepAliveIsAnsweredOnceAfterTheLatest) {
    frmMain form(peer.port(), fast());
    logIn(form);

    peer.send(59, QString());
    pump(100);
    peer.send(59, QString());
    const qint64 second = peer.nowMs();
    const auto answer = peer.take(59, 2000);
    ASSERT_TRUE(answer);
    EXPECT_GE(answer->atMs - second, 380);
    EXPECT_EQ(answer->bytes, QByteArray("/\x01"
                                        "59123;0/\x02/\x03"));
    pump(700);
    EXPECT_EQ(peer.count(59), 0);
    EXPECT_FALSE(form.logoutSensorTimer().isActive());
}

TEST_F(FormTest, ConnectionLossResetsAndReconnectsWithThePreviousId) {
    frmMain form(peer.port(), fast());
    logIn(form);
    peer.send(59, QString());
    ASSERT_TRUE(waitUntil([&] { return form.logoutSensorTimer().isActive(); }));
    const QString countText = form.onlineCountText();

    peer.drop();
    ASSERT_TRUE(waitUntil([&] { return form.autoLoginTimer().isActive(); }));
    EXPECT_FALSE(form.scheduleTimer().isActive());
    EXPECT_FALSE(form.logoutSensorTimer().isActive());
    EXPECT_EQ(form.tree().count(), 6);
    EXPECT_EQ(form.contacts().OnlineCount, 0);
    EXPECT_EQ(form.onlineCountText(), countText);

    const auto login = peer.take(50, 2000);
    ASSERT_TRUE(login);
    EXPECT_EQ(login->header, QStringLiteral("123;0"));
    peer.send(50, Accepted);
    ASSERT_TRUE(waitUntil([&] { return !form.autoLoginTimer().isActive(); }));
    peer.send(51, UserList);
    ASSERT_TRUE(peer.take(10));
    EXPECT_EQ(form.tree().count(), 9);
}

TEST_F(FormTest, HalfAPacketFromADroppedConnectionIsForgotten) {
    frmMain form(peer.port(), fast());
    logIn(form);
    peer.sendRaw("/\x01"
                 "0117;123/\x02half a message");
    pump(100);
    peer.drop();
    ASSERT_TRUE(peer.take(50, 2000));
    peer.send(50, Accepted); // the first packet of the new connection
    EXPECT_TRUE(waitUntil([&] { return !form.autoLoginTimer().isActive(); }));
    peer.send(1, QStringLiteral("/ver"), QStringLiteral("17;123"));
    const auto reply = peer.take(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, QStringLiteral("ZEP-JobServer Ver ") + TestSupport::version());
}

TEST_F(FormTest, UnreachableServerIsRetriedEveryPeriod) {
    frmMain form(TestSupport::freePort(), fast());
    form.Form_Load();
    ASSERT_TRUE(waitUntil([&] { return errorLogLines(folder.path()).size() >= 3; }, 3000));
    const QStringList log = errorLogLines(folder.path());
    EXPECT_EQ(log[0],
              QStringLiteral("Error(Socket) 10061 (Connection refused) in procedure SckChat_Error of Form "
                             "frmMain"));
    EXPECT_EQ(log[1], log[0]);
    EXPECT_TRUE(form.autoLoginTimer().isActive());
}

TEST_F(FormTest, GarbageAndOddPacketsLeaveTheConnectionWorking) {
    frmMain form(peer.port(), fast());
    logIn(form);
    peer.sendRaw("garbage without markers");
    peer.sendRaw("/\x01"
                 "01no text marker/\x03");
    peer.send(13, QStringLiteral("17"));      // status change without a status
    peer.send(10, QStringLiteral("999;x;0")); // unknown user
    peer.send(2, QStringLiteral("ignored"));
    peer.send(55, QString());
    peer.send(1, QStringLiteral("still here"), QStringLiteral("17;123"));
    const auto reply = peer.take(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, QStringLiteral("still here"));
    EXPECT_EQ(
        errorLogLines(folder.path()),
        QStringList(
            {"Error 9 (Subscript out of range) in procedure Proc_CL_CngStat of Form frmMain(Data:17)"}));
}

TEST_F(FormTest, SendingWhileClosedIsLogged) {
    frmMain form(peer.port(), fast());
    form.SockSendData(59, QString(), QStringLiteral("0"));
    EXPECT_EQ(errorLogLines(folder.path()),
              QStringList({"Error 40006 (Wrong protocol or connection state for the requested transaction or "
                           "request) in procedure SockSendData of Module modMain"}));
}

TEST_F(FormTest, ClosingTheWindowStopsConnectionAndTimers) {
    frmMain form(peer.port(), fast());
    logIn(form);
    bool unloaded = false;
    QObject::connect(&form, &frmMain::unloaded, [&] { unloaded = true; });
    form.cmdClose_Click();
    EXPECT_TRUE(unloaded);
    EXPECT_EQ(form.socketState(), frmMain::sckClosed);
    EXPECT_FALSE(form.scheduleTimer().isActive());
    ASSERT_TRUE(waitUntil([&] { return !peer.connected(); }));
    pump(500);
    EXPECT_EQ(peer.connections, 1); // no reconnect after our own close
}

using TestSupport::FixedClock;

TEST_F(FormTest, ScheduleTickAndTestButtonSendTheBackupReport) {
    // The backup server refuses at once: the report is the connection failure.
    writeDeployment(folder.path(), "FtpPort=1\r\nBackupFtpHost=127.0.0.3\r\n");
    const QString report =
        "< DB 백업결과 보고서 >\r\n\r\nFTP Open에 실패했습니다.\r\n127.0.0.3 - user: backup_checker\r\n";

    const FixedClock eleven(QDateTime(QDate(2026, 12, 9), QTime(11, 0, 30)));
    frmMain form(peer.port(), fast(300), eleven);
    logIn(form);
    const auto ticked = peer.take(2);
    ASSERT_TRUE(ticked);
    EXPECT_EQ(ticked->header, QStringLiteral("123;92"));
    EXPECT_EQ(ticked->body, report);

    form.StopConnection(false);
    EXPECT_FALSE(form.scheduleTimer().isActive());
    form.cmdTest_Click(); // logged out: the report is made and kept for the next login
    EXPECT_EQ(ReportQueue::Load(folder.path()), QList<ReportQueue::Report>({{"92", report}}));
    // Nothing but the failed FTP log-ins, each with its reason.
    for (const QString& line : errorLogLines(folder.path()))
        EXPECT_TRUE(line.startsWith("FTP 127.0.0.") && line.contains("(backup_checker): no session: "))
            << line.toStdString();
}

TEST_F(FormTest, TestButtonSendsAtAnyTime) {
    writeDeployment(folder.path(), "FtpPort=1\r\n");
    const FixedClock night(QDateTime(QDate(2026, 12, 9), QTime(3, 17)));
    frmMain form(peer.port(), fast(), night);
    logIn(form);
    form.cmdTest_Click();
    const auto sent = peer.take(2);
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->header, QStringLiteral("123;92"));
    EXPECT_TRUE(sent->body.startsWith("< DB 백업결과 보고서 >\r\n\r\nFTP Open에 실패했습니다.\r\n"));
}

TEST_F(FormTest, WednesdayRemovalWaitsForFortyPercentOnline) {
    writeDeployment(folder.path(), "FtpPort=1\r\nWebHostFtpHost=127.0.0.4\r\n");
    const FixedClock wednesday(QDateTime(QDate(2026, 12, 9), QTime(9, 10, 1)));
    for (const auto& [online, runs] : {std::pair{8, true}, std::pair{7, false}}) {
        SCOPED_TRACE(testing::Message() << online << " of 20 online");
        peer.received.clear();
        frmMain form(peer.port(), fast(200), wednesday);
        ASSERT_NO_FATAL_FAILURE(FormSetup::logIn(form, peer, userList(colleagues(20, online))));
        const auto report = peer.take(2, 1500);
        EXPECT_EQ(report.has_value(), runs);
        if (report) {
            EXPECT_EQ(report->header, QStringLiteral("123;-1"));
            EXPECT_EQ(
                report->body,
                QStringLiteral(
                    "[FTP의 _2제거 일괄작업 처리결과]\r\n\r\nFTP Open에 실패했습니다.\r\n127.0.0.4 - qzc1"));
        }
        form.cmdClose_Click();
        ASSERT_TRUE(waitUntil([&] { return !peer.connected(); }));
    }
}

// Every job fails at once: no FTP or MySQL server on port 1.
void failFast(const QString& folder) {
    writeDeployment(folder, "FtpPort=1\r\nMySqlPort=1\r\n");
}

const QString BackupReport =
    "< DB 백업결과 보고서 >\r\n\r\nFTP Open에 실패했습니다.\r\n127.0.0.1 - user: backup_checker\r\n";

TEST_F(FormTest, ALateTickRunsTheMinuteItSkippedButNotThoseLoggedOut) {
    failFast(folder.path());
    FixedClock clock(QDateTime(QDate(2026, 12, 9), QTime(10, 59, 30)));
    frmMain form(peer.port(), fast(250), clock);
    logIn(form);
    // The first tick comes only at 11:01:10 (a job held the thread): 11:00 still runs, once.
    clock.at = QDateTime(QDate(2026, 12, 9), QTime(11, 1, 10));
    const auto backup = peer.take(2, 2000);
    ASSERT_TRUE(backup);
    EXPECT_EQ(backup->header, QStringLiteral("123;92"));
    EXPECT_EQ(backup->body, BackupReport);
    pump(600);
    EXPECT_EQ(peer.count(2), 0);

    // Logged out over 14:00: no tick runs it; it runs late, once, after the next login.
    clock.at = QDateTime(QDate(2026, 12, 9), QTime(13, 59, 30));
    pump(300);
    peer.drop();
    ASSERT_TRUE(waitUntil([&] { return form.autoLoginTimer().isActive(); }));
    clock.at = QDateTime(QDate(2026, 12, 9), QTime(14, 2, 0));
    ASSERT_NO_FATAL_FAILURE(logInAgain());
    pump(800);
    const auto late = peer.take(2);
    ASSERT_TRUE(late);
    EXPECT_EQ(late->header, QStringLiteral("123;92"));
    EXPECT_EQ(peer.count(2), 0);
}

TEST_F(FormTest, TheConnectionCarriesKeepAliveBounds) {
    const auto option = [](qintptr fd, int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        EXPECT_EQ(getsockopt(int(fd), level, name, &value, &size), 0);
        return value;
    };
    struct Case {
        const char* name;
        TcpKeepAlive::Bounds bounds;
    };
    const Case cases[] = {{"the program's", TcpKeepAlive::Default}, {"shortened", {2, 1, 3, 4000}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        frmMain::Intervals intervals = fast();
        intervals.keepAlive = c.bounds;
        frmMain form(peer.port(), intervals);
        logIn(form);
        const qintptr fd = form.socketDescriptor();
        ASSERT_GE(fd, 0);
        EXPECT_EQ(option(fd, SOL_SOCKET, SO_KEEPALIVE), 1);
        EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPIDLE), c.bounds.idleSeconds);
        EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPINTVL), c.bounds.intervalSeconds);
        EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_KEEPCNT), c.bounds.probeCount);
        EXPECT_EQ(option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT), c.bounds.userTimeoutMs);
        form.cmdClose_Click();
        ASSERT_TRUE(waitUntil([&] { return !peer.connected(); }));
    }
    static_assert(TcpKeepAlive::DeadPeerNoticedWithinMs(TcpKeepAlive::Default) <= 120000);
    EXPECT_TRUE(errorLogLines(folder.path()).isEmpty());
}

TEST_F(FormTest, AReportMadeWhileThePeerClosedWaitsForTheNextLogin) {
    failFast(folder.path());
    frmMain form(peer.port(), fast());
    logIn(form);
    // The server closes the connection while a job holds the thread; the report comes after.
    peer.drop();
    QThread::msleep(100);
    form.cmdTest_Click();
    EXPECT_EQ(ReportQueue::Load(folder.path()).size(), 1);

    ASSERT_TRUE(peer.take(50, 2000));
    peer.send(50, Accepted);
    EXPECT_TRUE(waitUntil([&] { return !form.autoLoginTimer().isActive(); }));
    pump(100);
    EXPECT_EQ(peer.count(2), 0) << "kept until the contact list has arrived";
    peer.send(51, UserList);
    ASSERT_TRUE(waitUntil([&] { return peer.count(2) == 1; }));
    ASSERT_EQ(peer.received.size(), 2);
    EXPECT_EQ(peer.received[0].code, 10) << "after the version report that follows the list";
    const auto kept = peer.take(2);
    EXPECT_EQ(kept->header, QStringLiteral("123;92"));
    EXPECT_EQ(kept->body, BackupReport);
    EXPECT_FALSE(QFile::exists(folder.path() + "/" + ReportQueue::FileName()));
    // Nothing but the failed FTP log-ins, each with its reason.
    for (const QString& line : errorLogLines(folder.path()))
        EXPECT_TRUE(line.startsWith("FTP 127.0.0.") && line.contains("(backup_checker): no session: "))
            << line.toStdString();
}

TEST_F(FormTest, KeptReportsSurviveARestartAndGoOutOnceInOrder) {
    // A text that a line-based file would take for a second record.
    const QString Framed = "[FTP의 _2제거 일괄작업 처리결과]\r\n92\t3\nabc\n\n";
    failFast(folder.path());
    {
        frmMain form(peer.port(), fast());
        form.cmdTest_Click(); // never connected
        ASSERT_TRUE(ReportQueue::Keep(folder.path(), {"-1", Framed}));
    }
    frmMain form(peer.port(), fast());
    logIn(form);
    const auto first = peer.take(2), second = peer.take(2);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->header, QStringLiteral("123;92"));
    EXPECT_EQ(first->body, BackupReport);
    EXPECT_EQ(second->header, QStringLiteral("123;-1"));
    EXPECT_EQ(second->bytes, TestSupport::frame(2, "123;-1", Framed));

    // A second login sends nothing again.
    peer.drop();
    ASSERT_NO_FATAL_FAILURE(logInAgain());
    pump(300);
    EXPECT_EQ(peer.count(2), 0);
}

} // namespace
