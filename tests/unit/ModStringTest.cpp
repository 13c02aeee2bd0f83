#include "modString.h"

#include "MessageBoxRecorder.h"
#include "TestSupport.h"
#include "VbError.h"

#include <gtest/gtest.h>

namespace {

// 32,768 bytes in CP949: one past the 16-bit range.
const QString TooWide(16384, QChar(0xD55C));

TEST(ModStringTest, DisplayWidthCountsCp949Bytes) {
    struct Case {
        QString text;
        int width;
    };
    const Case cases[] = {
        {"", 0},
        {"abc 1,234", 9},
        {"한글날", 6},
        {"a한1", 4},
        {"똠방각하", 8}, // extension-area syllables are double-byte too
        {QString(16383, QChar(0xD55C)), 32766},
        {"a" + QString(16383, QChar(0xD55C)), 32767},
    };
    for (const Case& c : cases)
        EXPECT_EQ(modString::DisplayWidth(c.text), c.width) << c.text.left(10).toStdString();

    try {
        modString::DisplayWidth(TooWide);
        ADD_FAILURE() << "no overflow";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), VbErrors::Overflow);
    }
}

TEST(ModStringTest, ContainsTextIsExact) {
    struct Case {
        QString text;
        QString part;
        bool contains;
    };
    const Case cases[] = {
        {"abc", "b", true}, {"abc", "abc", true}, {"abc", "B", false},    {"ab", "abc", false},
        {"abc", "", false}, {"", "", false},      {"한글날", "글", true}, {"한글날", "날글", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(modString::ContainsText(c.text, c.part), c.contains)
            << c.text.toStdString() << " / " << c.part.toStdString();
}

TEST(ModStringTest, LeftByWidthNeverSplitsADoubleByteCharacter) {
    struct Case {
        QString text;
        int width;
        bool noPad;
        QString result;
    };
    const Case cases[] = {
        {"한글", 0, false, ""},   {"abc", 0, true, ""},       {"한글", 1, false, " "},
        {"한글", 1, true, ""},    {"한글", 2, false, "한"},   {"한글", 3, false, "한 "},
        {"한글", 3, true, "한"},  {"한글", 4, false, "한글"}, {"한글", 9, false, "한글"},
        {"a한b", 2, false, "a "}, {"a한b", 3, true, "a한"},   {"abc", 2, false, "ab"},
        {"", 3, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.text.toStdString() << " width " << c.width << " noPad " << c.noPad);
        const QString result = modString::LeftByWidth(c.text, c.width, c.noPad);
        EXPECT_EQ(result, c.result);
        EXPECT_TRUE(c.text.startsWith(result.trimmed()));
    }
}

TEST(ModStringTest, LPadAlignsOrCutsToTheWidth) {
    struct Case {
        QString text;
        int width;
        QString fill;
        QString result;
    };
    const Case cases[] = {
        {"1,234", 8, " ", "   1,234"}, {"한글날", 5, " ", "한글 "},
        {"한글날", 6, " ", "한글날"},  {"한글날", 8, "*", "**한글날"},
        {"a한글", 4, " ", "a한 "},     {"a한글", 5, " ", "a한글"},
        {"12", 5, "*#", "***12"},  // only the first character of the fill
        {"ab", 4, "가", "가가ab"}, // a double-byte fill is twice as wide as counted
        {"abc", 0, " ", ""},           {"", 0, " ", ""},
        {"", 3, "0", "000"},           {"abc", 2, "", "ab"}, // a cut needs no fill
        {"한", 1, " ", " "},           {"abc", 32767, " ", QString(32764, QLatin1Char(' ')) + "abc"},
    };
    MessageBoxRecorder boxes;
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.text.toStdString() << " width " << c.width << " fill " << c.fill.toStdString());
        const QString result = modString::LPad(c.text, c.width, c.fill);
        EXPECT_EQ(result, c.result);
        if (c.fill.size() == 1 && c.fill != QStringLiteral("가")) {
            EXPECT_EQ(modString::DisplayWidth(result), c.width);
        }
    }
    EXPECT_TRUE(boxes.texts.isEmpty()) << boxes.texts.join(" | ").toStdString();
}

TEST(ModStringTest, LPadShowsItsErrorsAndGivesTheEmptyText) {
    const QString invalid = QStringLiteral(
        "Error 5 (Invalid procedure call or argument) in procedure LPad of Class Module CKoreanString");
    const QString overflow =
        QStringLiteral("Error 6 (Overflow) in procedure LPad of Class Module CKoreanString");
    struct Case {
        QString text;
        int width;
        QString fill;
        QString message;
    };
    const Case cases[] = {
        {"ab", 4, "", invalid},        {"ab", 2, "", invalid},          {"", 0, "", invalid},
        {"ab", -1, " ", invalid},      {"", -1, " ", invalid},          {"한글", -32768, " ", invalid},
        {TooWide, 8, " ", overflow},   {TooWide, 32767, " ", overflow}, {"ab", 32768, " ", overflow},
        {"ab", -32769, " ", overflow},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.text.left(10).toStdString() << " width " << c.width << " fill "
                                        << c.fill.toStdString());
        MessageBoxRecorder boxes;
        EXPECT_EQ(modString::LPad(c.text, c.width, c.fill), QString());
        EXPECT_EQ(boxes.texts, QStringList{c.message});
    }
}

} // namespace
