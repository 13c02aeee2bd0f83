// The messenger server's host vanishes without closing: no FIN, no RST, nothing more on the wire. The test
// makes two network namespaces of its own (the process moves into the first, the bot's side; the server's
// side is the second), joins them with a veth pair on a link-local /30, and takes the server's end of the
// link down. It needs root for the namespaces (CI runs as root), `ip` (iproute2) and `nsenter`
// (util-linux); without them it fails. Nothing outside these namespaces is ever touched.
//
// The kernel's TCP timers run on real time, so this test takes up to about two minutes.

#include "FormFixture.h"
#include "QStringPrinter.h"

#include <QElapsedTimer>
#include <QProcess>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <memory>
#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace FormSetup;

const QString UserList = userList({userRecord(17, 1, "김민준", 1), userRecord(21, 2, "이서연", 0)});
const QString ServerAddress = QStringLiteral("169.254.77.2");

ino_t namespaceOfThisThread() {
    struct stat st {};
    return stat("/proc/thread-self/ns/net", &st) == 0 ? st.st_ino : 0;
}

// A network namespace this test made, held open by a descriptor of the process.
struct Namespace {
    int fd = -1;
    // A path other programs can open it by.
    QString path() const { return QStringLiteral("/proc/%1/fd/%2").arg(getpid()).arg(fd); }
};

// Runs `ip` inside `ns`, named explicitly, so that no command can reach the namespace the test started in.
bool ip(const Namespace& ns, const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("nsenter"),
                  QStringList{"--net=" + ns.path(), "--", QStringLiteral("ip")} + arguments);
    if (!process.waitForFinished(10000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        ADD_FAILURE() << "ip " << arguments.join(' ').toStdString() << ": "
                      << process.errorString().toStdString() << " "
                      << process.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

using TestSupport::errorLogLines;

class VanishingPeerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(geteuid(), 0u) << "this test makes network namespaces of its own: run it as root";
        const ino_t started = namespaceOfThisThread();
        ASSERT_NE(started, 0u);

        // The bot's side: this process from now on.
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "unshare: " << std::strerror(errno);
        botSide.fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(botSide.fd, 0);
        ASSERT_NE(namespaceOfThisThread(), started);
        // The server's side, made from here and left again at once.
        ASSERT_EQ(unshare(CLONE_NEWNET), 0) << "unshare: " << std::strerror(errno);
        serverSide.fd = open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        ASSERT_GE(serverSide.fd, 0);
        ASSERT_EQ(setns(botSide.fd, CLONE_NEWNET), 0) << "setns: " << std::strerror(errno);
        ASSERT_NE(namespaceOfThisThread(), started);

        ASSERT_TRUE(ip(botSide, {"link", "set", "lo", "up"}));
        ASSERT_TRUE(ip(serverSide, {"link", "set", "lo", "up"}));
        ASSERT_TRUE(ip(botSide, {"link", "add", "zepbot0", "address", "02:00:00:00:77:01", "type", "veth",
                                 "peer", "name", "zepsrv0", "address", "02:00:00:00:77:02"}));
        ASSERT_TRUE(ip(botSide, {"link", "set", "zepsrv0", "netns", serverSide.path()}));
        ASSERT_TRUE(ip(botSide, {"addr", "add", "169.254.77.1/30", "dev", "zepbot0"}));
        ASSERT_TRUE(ip(botSide, {"link", "set", "zepbot0", "up"}));
        // The bot's packets go out on the link whether or not anyone answers there.
        ASSERT_TRUE(ip(botSide, {"neigh", "replace", ServerAddress, "lladdr", "02:00:00:00:77:02", "dev",
                                 "zepbot0", "nud", "permanent"}));
        ASSERT_TRUE(ip(serverSide, {"addr", "add", "169.254.77.2/30", "dev", "zepsrv0"}));
        ASSERT_TRUE(ip(serverSide, {"link", "set", "zepsrv0", "up"}));

        // The server listens in its own namespace; the sockets it accepts live there too.
        ASSERT_EQ(setns(serverSide.fd, CLONE_NEWNET), 0) << "setns: " << std::strerror(errno);
        peer = std::make_unique<MessengerPeer>(QHostAddress(ServerAddress));
        ASSERT_EQ(setns(botSide.fd, CLONE_NEWNET), 0) << "setns: " << std::strerror(errno);
        ASSERT_TRUE(peer->listening());

        resetProgram(folder.path(), ServerAddress);
        // The backup server of the test button refuses at once, on this side's own loopback.
        writeDeployment(folder.path(), "FtpPort=1\r\nBackupFtpHost=127.0.0.1\r\n");
    }
    void TearDown() override {
        peer.reset();
        for (const Namespace& ns : {botSide, serverSide})
            if (ns.fd >= 0)
                close(ns.fd);
    }

    bool setServerLink(const char* state) { return ip(serverSide, {"link", "set", "zepsrv0", state}); }

    Namespace botSide, serverSide;
    std::unique_ptr<MessengerPeer> peer;
    QTemporaryDir folder;
};

TEST_F(VanishingPeerTest, TheBotNoticesWithinTwoMinutesAndDeliversWhatItMadeMeanwhile) {
    // Early in the morning: nothing of the schedule is due while the test runs.
    const TestSupport::FixedClock early(QDateTime(QDate(2026, 12, 9), QTime(3, 0)));
    frmMain form(peer->port(), {.autoLogin = 1000}, early);
    ASSERT_NO_FATAL_FAILURE(logIn(form, *peer, UserList));
    peer->send(1, QStringLiteral("/ver"), QStringLiteral("17;123"));
    const auto reply = peer->take(1);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->body, QStringLiteral("ZEP-JobServer Ver ") + TestSupport::version());

    // The server's host is gone. The bot has nothing to send: only the connection itself can tell.
    ASSERT_TRUE(setServerLink("down"));
    QElapsedTimer gone;
    gone.start();
    ASSERT_TRUE(waitUntil([&] { return form.autoLoginTimer().isActive(); }, 150000))
        << "still logged in " << gone.elapsed() / 1000 << " s after the server vanished";
    const qint64 noticedMs = gone.elapsed();
    std::printf("the vanished server was noticed after %.1f s\n", noticedMs / 1000.0);
    EXPECT_LE(noticedMs, 120000);
    EXPECT_TRUE(peer->connected()) << "the server's side saw a close: the vanishing was not silent";
    EXPECT_FALSE(form.scheduleTimer().isActive());
    EXPECT_EQ(form.tree().count(), 6);
    const QStringList log = errorLogLines(folder.path());
    ASSERT_EQ(log.size(), 1) << log.join('\n').toStdString();
    EXPECT_TRUE(log[0].startsWith("Error(Socket) ")) << log[0].toStdString();
    EXPECT_TRUE(log[0].endsWith(") in procedure SckChat_Error of Form frmMain")) << log[0].toStdString();

    // A report made while the bot is away, then the server is back.
    form.cmdTest_Click();
    ASSERT_TRUE(setServerLink("up"));
    const auto login = peer->take(50, 60000);
    ASSERT_TRUE(login) << "no new login after the server came back";
    EXPECT_EQ(login->header, QStringLiteral("123;0"));
    EXPECT_EQ(peer->connections, 2);
    EXPECT_TRUE(peer->received.isEmpty()) << "sent before the login was accepted";
    ASSERT_NO_FATAL_FAILURE(acceptLogin(*peer, UserList));
    const auto report = peer->take(2);
    ASSERT_TRUE(report) << "the report made while away was lost";
    EXPECT_EQ(report->header, QStringLiteral("123;92"));
    EXPECT_EQ(report->body,
              QStringLiteral("< DB 백업결과 보고서 >\r\n\r\nFTP Open에 실패했습니다.\r\n127.0.0.1 - "
                             "user: backup_checker\r\n"));
    pump(500);
    EXPECT_EQ(peer->count(2), 0) << "sent more than once";
    form.cmdClose_Click();
}

} // namespace
