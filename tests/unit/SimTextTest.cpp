// The simulator's readable packet view: what the demo shows of every report.

#include "SimText.h"

#include "QStringPrinter.h"

#include <gtest/gtest.h>

namespace {

TEST(SimTextTest, ReadablePacketPutsBodyLinesUnderOneColumn) {
    struct Case {
        const char* name;
        QString who;
        int code;
        QString header, body, shown;
    };
    const Case cases[] = {
        {"one line", "BOT", 1, "123;17", "ZEP-JobServer Ver 3.4.301",
         "BOT 01 123 -> 17 | ZEP-JobServer Ver 3.4.301"},
        {"report lines and an empty one", "BOT", 2, "123;-1", "[제목]\r\n\r\n처리완료:1, 처리실패:0",
         "BOT 02 123 -> -1 | [제목]\n"
         "                 |\n"
         "                 | 처리완료:1, 처리실패:0"},
        {"a final line break leaves an empty last line", "BOT", 2, "123;92", "a\r\n",
         "BOT 02 123 -> 92 | a\n"
         "                 |"},
        {"lone CR and lone LF break too", "SIM sent", 1, "17;123", "a\rb\nc",
         "SIM sent 01 17 -> 123 | a\n"
         "                      | b\n"
         "                      | c"},
        {"empty body", "BOT", 59, "123;0", "", "BOT 59 123 -> 0 |"},
        {"header without a semicolon", "SIM sent", 50, "0", "1\t잡서버", "SIM sent 50 0 | 1\\t잡서버"},
        {"other control characters stay escaped", "BOT", 1, "1 2;3", "x\x01y\\",
         "BOT 01 1\\x202 -> 3 | x\\x01y\\\\"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SimText::readablePacket(c.who, c.code, c.header, c.body), c.shown);
    }
}

} // namespace
