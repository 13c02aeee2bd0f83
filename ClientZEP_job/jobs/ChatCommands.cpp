#include "ChatCommands.h"

#include "ProgramInfo.h"

namespace ChatCommands {
namespace {

// The command with its "/", padded so that every help line's ":" stands in one column.
constexpr qsizetype HelpColumn = 16;
const QString Rule = QString(38, QLatin1Char('-'));

} // namespace

const QList<Command>& Commands() {
    static const QList<Command> commands = {
        {.word = QStringLiteral("_2rm"),
         .helpLine = QStringLiteral("_2제거 실행"),
         .needsRight = true,
         .effect = Effect::QueueJob,
         .acknowledgement = [] { return QStringLiteral("_2 Remove Start..."); },
         .job = JobCatalogue::JobId::Remove2,
         .workJob = 2,
         .jobName = QStringLiteral("_2 Remove")},
        {.word = QStringLiteral("selfupdate"),
         .helpLine = QStringLiteral("메신저 셀프 업데이트"),
         .needsRight = true,
         .effect = Effect::QueueJob,
         .acknowledgement =
             [] {
                 return QStringLiteral("Auto Update Start...(Cur Ver: ") + ProgramInfo::versionText() + ')';
             },
         .job = JobCatalogue::JobId::SelfUpdate,
         .workJob = 1,
         .jobName = QStringLiteral("자동업데이트")},
        {.word = QStringLiteral("ver"),
         .helpLine = QStringLiteral("버전보기"),
         .needsRight = false,
         .effect = Effect::Reply,
         .acknowledgement = [] { return QStringLiteral("ZEP-JobServer Ver ") + ProgramInfo::versionText(); }},
        {.word = QStringLiteral("webupdate"),
         .helpLine = QStringLiteral("웹인증번호업데이트"),
         .needsRight = true,
         .effect = Effect::WebUpdate},
        {.word = QStringLiteral("help"), .needsRight = false, .effect = Effect::Help},
    };
    return commands;
}

const Command* find(const QString& word) {
    const QString lower = word.toLower();
    for (const Command& command : Commands())
        if (command.word == lower)
            return &command;
    return nullptr;
}

const Command* queuedAs(qint16 workJob) {
    for (const Command& command : Commands())
        if (command.effect == Effect::QueueJob && command.workJob == workJob)
            return &command;
    return nullptr;
}

QString HelpText() {
    QStringList lines = {QStringLiteral("- 파일서버 명령어 메뉴얼 -"), Rule};
    for (const Command& command : Commands())
        if (!command.helpLine.isEmpty())
            lines.append((QLatin1Char('/') + command.word).leftJustified(HelpColumn) + QStringLiteral(": ") +
                         command.helpLine);
    lines.append(Rule);
    return lines.join(QStringLiteral("\r\n"));
}

QString RestrictedWords() {
    QStringList words;
    for (const Command& command : Commands())
        if (command.needsRight)
            words.append(QLatin1Char('/') + command.word);
    return words.join(QStringLiteral(", "));
}

} // namespace ChatCommands
