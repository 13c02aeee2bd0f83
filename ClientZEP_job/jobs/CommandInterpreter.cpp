#include "CommandInterpreter.h"

#include "ProgramInfo.h"

namespace CommandInterpreter {
namespace {

QString busyReply(const CommandJob& job) {
    return QStringLiteral("현재 [") + job.WorkJobName +
           QStringLiteral("] 작업이 진행중입니다. 잠시후 시도 바랍니다.");
}

// Queues a long command unless one is pending; returns the reply.
QString queue(CommandJob& job, qint16 kind, const QString& name, const QString& sender,
              const QString& startReply, ChatCommandOutcome& outcome) {
    if (job.WorkJob > 0)
        return busyReply(job);
    job.WorkJob = kind;
    job.WorkJobName = name;
    job.WorkJobRequester = sender;
    outcome.startWorkTimer = true;
    return startReply;
}

} // namespace

QString HelpText() {
    return QStringLiteral("- 파일서버 명령어 메뉴얼 -\r\n"
                          "--------------------------------------\r\n"
                          "/_2rm           : _2제거 실행\r\n"
                          "/selfupdate     : 메신저 셀프 업데이트\r\n"
                          "/ver            : 버전보기\r\n"
                          "/webupdate      : 웹인증번호업데이트\r\n"
                          "--------------------------------------");
}

QString RefusalReply() {
    return QStringLiteral("이 명령을 실행할 권한이 없습니다. 관리자에게 문의 바랍니다.");
}

QString GetSenderId(const QString& header) {
    const qsizetype semicolon = header.indexOf(QLatin1Char(';'));
    return semicolon < 0 ? header : header.left(semicolon);
}

ChatCommandOutcome Interpret(const QString& text, const QString& header, CommandJob& job,
                             const CommandRights& users) {
    ChatCommandOutcome outcome;
    outcome.sender = GetSenderId(header);
    // Nobody to answer: a line without any sender is dropped.
    if (outcome.sender.isEmpty()) {
        outcome.send = false;
        return outcome;
    }
    if (!text.startsWith(QLatin1Char('/'))) {
        // A line that is no command comes back, up to a length that any chat line stays within.
        outcome.reply = text.left(MaxEchoLength);
        return outcome;
    }

    const QString command = text.mid(1).toLower();
    const QString version = ProgramInfo::versionText();
    const bool startsJob = command == QLatin1String("selfupdate") || command == QLatin1String("_2rm") ||
                           command == QLatin1String("webupdate");
    if (startsJob && !users.allows(outcome.sender)) {
        outcome.reply = RefusalReply();
        outcome.refused = text;
        return outcome;
    }
    if (command == QLatin1String("help")) {
        outcome.reply = HelpText();
    } else if (command == QLatin1String("ver")) {
        outcome.reply = QStringLiteral("ZEP-JobServer Ver ") + version;
    } else if (command == QLatin1String("selfupdate")) {
        outcome.reply =
            queue(job, CommandJob::SelfUpdate, QStringLiteral("자동업데이트"), outcome.sender,
                  QStringLiteral("Auto Update Start...(Cur Ver: ") + version + QLatin1Char(')'), outcome);
    } else if (command == QLatin1String("_2rm")) {
        outcome.reply = queue(job, CommandJob::Remove2, QStringLiteral("_2 Remove"), outcome.sender,
                              QStringLiteral("_2 Remove Start..."), outcome);
    } else if (command == QLatin1String("webupdate")) {
        outcome.startWebUpdate = true;
    }
    return outcome;
}

} // namespace CommandInterpreter
