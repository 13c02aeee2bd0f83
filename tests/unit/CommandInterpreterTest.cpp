#include "CommandInterpreter.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

const QString Help = QStringLiteral("- 파일서버 명령어 메뉴얼 -\r\n"
                                    "--------------------------------------\r\n"
                                    "/_2rm           : _2제거 실행\r\n"
                                    "/selfupdate     : 메신저 셀프 업데이트\r\n"
                                    "/ver            : 버전보기\r\n"
                                    "/webupdate      : 웹인증번호업데이트\r\n"
                                    "--------------------------------------");

TEST(CommandInterpreterTest, HelpTextIsSevenLines) {
    EXPECT_EQ(CommandInterpreter::HelpText(), Help);
    const QStringList lines = Help.split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 7);
    EXPECT_EQ(lines[1], QString(38, QLatin1Char('-')));
    EXPECT_EQ(AnsiCodec::fromUnicode(Help).size(), 243); // the bytes the messenger carries
}

TEST(CommandInterpreterTest, RepliesWhenIdle) {
    struct Case {
        QString text;
        QString reply;
        bool queues;
        bool webUpdate;
    };
    const Case cases[] = {
        {"hello", "hello", false, false},
        {"안녕하세요 봇", "안녕하세요 봇", false, false},
        {"", "", false, false},
        {" /help", " /help", false, false},
        {"/help", Help, false, false},
        {"/HELP", Help, false, false},
        {"/HeLp", Help, false, false},
        {"/help me", "", false, false},
        {"/help ", "", false, false},
        {"/", "", false, false},
        {"/ver", "ZEP-JobServer Ver " + TestSupport::version(), false, false},
        {"/VER", "ZEP-JobServer Ver " + TestSupport::version(), false, false},
        {"/ver x", "", false, false},
        {"/webupdate", "", false, true},
        {"/WebUpdate", "", false, true},
        {"/unknown", "", false, false},
        {"/selfupdate", "Auto Update Start...(Cur Ver: " + TestSupport::version() + ")", true, false},
        {"/_2rm", "_2 Remove Start...", true, false},
        {"/_2RM", "_2 Remove Start...", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        CommandJob job;
        const ChatCommandOutcome out = CommandInterpreter::Interpret(c.text, QStringLiteral("17;123"), job);
        EXPECT_EQ(out.sender, QStringLiteral("17"));
        EXPECT_TRUE(out.send);
        EXPECT_EQ(out.reply, c.reply);
        EXPECT_EQ(out.startWorkTimer, c.queues);
        EXPECT_EQ(job.WorkJob != 0, c.queues);
        EXPECT_EQ(out.startWebUpdate, c.webUpdate);
    }
}

TEST(CommandInterpreterTest, OneCommandJobAtATime) {
    const QString busy2 = QStringLiteral("현재 [_2 Remove] 작업이 진행중입니다. 잠시후 시도 바랍니다.");
    const QString busy1 = QStringLiteral("현재 [자동업데이트] 작업이 진행중입니다. 잠시후 시도 바랍니다.");
    CommandJob job;

    ChatCommandOutcome out =
        CommandInterpreter::Interpret(QStringLiteral("/_2rm"), QStringLiteral("17;1"), job);
    EXPECT_EQ(out.reply, QStringLiteral("_2 Remove Start..."));
    EXPECT_EQ(job.WorkJob, 2);
    EXPECT_EQ(job.WorkJobName, QStringLiteral("_2 Remove"));
    EXPECT_EQ(job.WorkJobRequester, QStringLiteral("17"));

    for (const char* command : {"/_2rm", "/selfupdate", "/SELFUPDATE"}) {
        out = CommandInterpreter::Interpret(QString::fromLatin1(command), QStringLiteral("21;1"), job);
        EXPECT_EQ(out.reply, busy2) << command;
        EXPECT_FALSE(out.startWorkTimer);
        EXPECT_EQ(out.sender, QStringLiteral("21"));
    }
    EXPECT_EQ(job.WorkJob, 2);
    EXPECT_EQ(job.WorkJobRequester, QStringLiteral("17"));

    // Other commands are answered while a job is pending.
    EXPECT_EQ(CommandInterpreter::Interpret(QStringLiteral("/ver"), QStringLiteral("21;1"), job).reply,
              QStringLiteral("ZEP-JobServer Ver ") + TestSupport::version());

    // Once the runner has cleared the job, the next one is accepted.
    job.WorkJob = 0;
    out = CommandInterpreter::Interpret(QStringLiteral("/selfupdate"), QStringLiteral("33;1"), job);
    EXPECT_EQ(out.reply, QStringLiteral("Auto Update Start...(Cur Ver: ") + TestSupport::version() +
                             QStringLiteral(")"));
    EXPECT_EQ(job.WorkJob, 1);
    EXPECT_EQ(job.WorkJobName, QStringLiteral("자동업데이트"));
    EXPECT_EQ(job.WorkJobRequester, QStringLiteral("33"));
    EXPECT_EQ(CommandInterpreter::Interpret(QStringLiteral("/_2rm"), QStringLiteral("17;1"), job).reply,
              busy1);
}

TEST(CommandInterpreterTest, SenderIsTheHeaderBeforeItsFirstSemicolon) {
    const std::pair<QString, QString> cases[] = {
        {"17;123", "17"}, {"17;", "17"}, {";5", ""}, {"17;1;2", "17"}, {"17", "17"}, {"", ""},
    };
    for (const auto& [header, sender] : cases)
        EXPECT_EQ(CommandInterpreter::GetSenderId(header), sender) << header.toStdString();

    // With no sender at all there is nobody to answer.
    CommandJob job;
    EXPECT_FALSE(CommandInterpreter::Interpret(QStringLiteral("hi"), QString(), job).send);
    EXPECT_FALSE(CommandInterpreter::Interpret(QStringLiteral("/_2rm"), QStringLiteral(";1"), job).send);
    EXPECT_EQ(job.WorkJob, 0);
}

} // namespace
