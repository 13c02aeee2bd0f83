// The built ClientZEP_job in a program folder of its own, against messenger-sim.

#include "AnsiCodec.h"
#include "BotRun.h"
#include "CommandInterpreter.h"
#include "MachineId.h"
#include "TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <gtest/gtest.h>

namespace {

TEST(BotTest, LogsInAndAnswersChatCommands) {
    BotRun run({}, "waitlogin\n"
                   "wait 10\n"
                   "17 /help\n"
                   "wait 1\n"
                   "21 /VER\n"
                   "wait 1\n"
                   "33 /ver x\n"
                   "wait 1\n"
                   "45 안녕하세요, 봇!\n"
                   "wait 1\n"
                   "17 /_2rm\n"
                   "64 /_2rm\n"
                   "wait 1 Start\n"
                   "wait 1 현재\n"
                   "quit\n");
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString();

    // The text itself is pinned by the interpreter's unit test.
    const QString help = CommandInterpreter::HelpText();
    const QString login =
        "jobserver/kx-630195/" + MachineId::macAddress() + "-" + MachineId::driveSerial(run.folder.path());
    const QList<BotLine> expected = {
        {"50", "0;0", login},
        {"10", "123;0", "123;" + TestSupport::version()},
        {"01", "123;17", escaped(help)},
        {"01", "123;21", "ZEP-JobServer Ver " + TestSupport::version()},
        {"01", "123;33", ""},
        {"01", "123;45", "안녕하세요, 봇!"},
        {"01", "123;17", "_2 Remove Start..."},
        {"01", "123;64", "현재 [_2 Remove] 작업이 진행중입니다. 잠시후 시도 바랍니다."},
    };
    EXPECT_EQ(run.botPackets(), expected) << run.simOutput.toStdString();

    // The headless front told its operator what happened.
    EXPECT_TRUE(run.botOutput.contains("logged in as 123 [기술개발팀] 잡서버"))
        << run.botOutput.toStdString();
    EXPECT_TRUE(run.botOutput.contains("user list: 12 users, 7명")) << run.botOutput.toStdString();
    EXPECT_TRUE(run.errorLog().isEmpty());
    EXPECT_TRUE(QDir(run.folder.path() + "/RECVFILE").exists());
}

TEST(BotTest, RefusedLoginIsLogged) {
    BotRun run({"--password", "another"}, "waitconnect\n"
                                          "sleep 1000\n"
                                          "quit\n");
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString();
    ASSERT_EQ(run.botPackets().size(), 1);
    EXPECT_EQ(run.botPackets()[0].code, "50");

    const QStringList log = run.errorLog();
    ASSERT_EQ(log.size(), 1) << run.botOutput.toStdString();
    EXPECT_TRUE(
        QRegularExpression("^\\d{12} 로그인 실패: 0비밀번호가 틀렸습니다\\.$").match(log[0]).hasMatch())
        << log[0].toStdString();
    // The line is CP949 on disk.
    QFile raw(run.folder.path() + "/ErrorLog.txt");
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    EXPECT_TRUE(raw.readAll().contains(AnsiCodec::fromUnicode(QStringLiteral("로그인 실패: 0"))));
}

// Ten times faster clocks: the keep-alive answer comes 3 s after the keep-alive, the reconnect 3 s after the
// drop. libfaketime is preloaded into the bot itself, so killing the bot leaves nothing behind.
TEST(BotTest, KeepAliveAnswerAndReconnectUnderScaledTime) {
    const QProcessEnvironment faketime = fakedTime("+0 x10");
    QElapsedTimer clock;
    clock.start();
    BotRun run({},
               "waitlogin\n"
               "wait 10\n"
               "keepalive\n"
               "sleep 500\n"
               "keepalive\n"
               "wait 59\n"
               "sleep 1000\n"
               "drop\n"
               "waitconnect\n"
               "wait 50\n"
               "waitlogin\n"
               "wait 10\n"
               "quit\n",
               faketime);
    ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString();
    EXPECT_GE(clock.elapsed(), 3500 + 1000 + 2500);

    QList<BotLine> packets = run.botPackets();
    ASSERT_EQ(packets.size(), 5) << run.simOutput.toStdString();
    EXPECT_EQ(packets[0].header, "0;0");
    EXPECT_EQ(packets[1], (BotLine{"10", "123;0", "123;" + TestSupport::version()}));
    EXPECT_EQ(packets[2], (BotLine{"59", "123;0", ""})); // two keep-alives, one answer
    EXPECT_EQ(packets[3].code, "50");
    EXPECT_EQ(packets[3].header, "123;0"); // the reconnect carries the id of the last login
    EXPECT_EQ(packets[4], (BotLine{"10", "123;0", "123;" + TestSupport::version()}));
    EXPECT_TRUE(run.botOutput.contains("connection closed; reconnecting")) << run.botOutput.toStdString();
}

// A virtual display of its own, for the window front.
class VirtualDisplay {
public:
    VirtualDisplay() {
        server.start("Xvfb", {"-displayfd", "1", "-screen", "0", "640x480x24", "-nolisten", "tcp"});
        if (server.waitForStarted() && server.waitForReadyRead(10000))
            name = ":" + QString::fromLatin1(server.readLine()).trimmed();
    }
    ~VirtualDisplay() {
        server.terminate();
        server.waitForFinished();
    }
    QProcess server;
    QString name;
};

// With a display the program loads its window from the plugin beside it; without the plugin it goes on
// headless. Both log in.
TEST(BotTest, WindowFrontComesFromThePluginBesideTheProgram) {
    VirtualDisplay display;
    ASSERT_FALSE(display.name.isEmpty()) << "Xvfb did not start: run scripts/setup.sh";
    for (const bool withPlugin : {true, false}) {
        SCOPED_TRACE(withPlugin ? "with the plugin" : "without the plugin");
        QProcessEnvironment env;
        env.insert("DISPLAY", display.name);
        env.insert("ZEPJOB_HEADLESS", "0");
        env.insert("QT_QPA_PLATFORM", "xcb");
        BotRun run({}, "waitlogin\nwait 10\nquit\n", env,
                   withPlugin ? QStringList{QStringLiteral(ZEPJOB_GUI_PLUGIN)} : QStringList{});
        ASSERT_EQ(run.finishScript(), 0) << run.simOutput.toStdString() << run.botOutput.toStdString();
        EXPECT_EQ(run.botPackets().size(), 2);
        EXPECT_EQ(run.botOutput.contains("running headless"), !withPlugin) << run.botOutput.toStdString();
        EXPECT_EQ(run.botOutput.contains("logged in as 123"), !withPlugin) << run.botOutput.toStdString();
    }
}

TEST(BotTest, SecondInstanceRefusesToStart) {
    BotRun run({}, "waitlogin\nquit\n");
    ASSERT_EQ(run.finishScript(), 0);
    // The first bot was killed; start one and then a second in the same folder.
    const QProcessEnvironment env = BotFolder::environmentWith({});
    QProcess first, second;
    for (QProcess* p : {&first, &second}) {
        p->setProcessEnvironment(env);
        p->setProgram(run.folder.path() + "/ClientZEP_job");
    }
    first.start();
    ASSERT_TRUE(first.waitForStarted());
    QThread::msleep(500);
    second.start();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(QString::fromUtf8(second.readAllStandardError()).contains("이미 실행중입니다."));
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

} // namespace
