#include "AnsiCodec.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(AnsiCodecTest, RoundTripsText) {
    const QString texts[] = {
        QString(),
        QStringLiteral("plain ASCII /\x01\x02\x03\r\n\t"),
        QStringLiteral("이미 실행중입니다."),
        QStringLiteral("현재 [_2 Remove] 작업이 진행중입니다. 잠시후 시도 바랍니다."),
        QStringLiteral("[대구]영업/고객관리팀 mixed 123 똠방각하 펲"), // includes CP949 extension syllables
        QStringLiteral("한자 漢字 and symbols ㈜ ①"),
    };
    for (const QString& text : texts) {
        const QByteArray bytes = AnsiCodec::fromUnicode(text);
        EXPECT_EQ(AnsiCodec::toUnicode(bytes), text) << text.toStdString();
    }
}

TEST(AnsiCodecTest, KnownBytes) {
    // "한글" in CP949, and the extended-area syllable "똠".
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringLiteral("한글")), QByteArray("\xc7\xd1\xb1\xdb"));
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringLiteral("똠")), QByteArray("\x8c\x63"));
    EXPECT_EQ(AnsiCodec::toUnicode(QByteArray("\xb8\xed")), QStringLiteral("명"));
}

TEST(AnsiCodecTest, BadBytesBecomeReplacementCharacters) {
    const QString fffd(QChar(0xFFFD));
    struct Case {
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {"\xff", fffd},
        {"a\x80"
         "b",
         "a" + fffd + "b"},
        {"\xc7", fffd}, // a lead byte cut off at the end
        {"\xc7\xd1\xc7", QStringLiteral("한") + fffd},
        {"\xc7\x20", fffd + " "}, // a lead byte followed by a byte that cannot trail
        {QByteArray("\x00"
                    "x",
                    2),
         QString(QChar(0)) + "x"},
        // iconv takes in the bad pair that ends the text before it reports it: nothing is left to skip
        {"\xa2\xa2$\xa2\xe8", QStringLiteral("\u21D4$") + fffd},
        {"\xa2\xe8", fffd},
    };
    for (const Case& c : cases)
        EXPECT_EQ(AnsiCodec::toUnicode(c.bytes), c.text) << c.bytes.toHex().toStdString();
}

TEST(AnsiCodecTest, UnrepresentableCharactersBecomeQuestionMarks) {
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringLiteral("a😀b")), QByteArray("a?b"));
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringLiteral("한ก글")), QByteArray("\xc7\xd1?\xb1\xdb"));
    const QChar lone[] = {QChar(0xD800), QChar(u'x')};
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringView(lone, 2)), QByteArray("?x"));
    const QChar trailing[] = {QChar(u'x'), QChar(0xD800)};
    EXPECT_EQ(AnsiCodec::fromUnicode(QStringView(trailing, 2)), QByteArray("x?"));
}

} // namespace
