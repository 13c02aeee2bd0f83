#include "AnsiCodec.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace {

// Converts `input` with the system's iconv command.
QByteArray iconvTool(const QByteArray& input, const char* from, const char* to) {
    QProcess iconv;
    iconv.start(QStringLiteral("iconv"),
                {QStringLiteral("-f"), QLatin1String(from), QStringLiteral("-t"), QLatin1String(to)});
    EXPECT_TRUE(iconv.waitForStarted());
    iconv.write(input);
    iconv.closeWriteChannel();
    EXPECT_TRUE(iconv.waitForFinished());
    EXPECT_EQ(iconv.exitCode(), 0) << iconv.readAllStandardError().toStdString();
    return iconv.readAllStandardOutput();
}

TEST(AnsiCodecCrossCheck, AgreesWithTheIconvCommand) {
    QString text =
        QStringLiteral("- 파일서버 명령어 메뉴얼 -\r\n현재 [자동업데이트] 작업이 진행중입니다.\r\n"
                       "[대구]영업/고객관리팀 관리부 기술개발팀 [서울]영업전략팀 대표 기타 똠방각하 ㈜①\t");
    // Every precomposed Hangul syllable, which CP949 covers in full.
    for (char16_t c = 0xAC00; c <= 0xD7A3; ++c)
        text += QChar(c);

    const QByteArray byTool = iconvTool(text.toUtf8(), "UTF-8", "CP949");
    ASSERT_FALSE(byTool.isEmpty());
    EXPECT_EQ(AnsiCodec::fromUnicode(text), byTool);
    EXPECT_EQ(AnsiCodec::toUnicode(byTool), text);
    EXPECT_EQ(QString::fromUtf8(iconvTool(AnsiCodec::fromUnicode(text), "CP949", "UTF-8")), text);
}

} // namespace
