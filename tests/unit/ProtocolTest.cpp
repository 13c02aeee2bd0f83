#include "TestSupport.h"
#include "VbError.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <gtest/gtest.h>

using namespace modZEPProtocol;

namespace {

struct Packet {
    qint16 code;
    QString header1, header2, header3, body;
    bool operator==(const Packet&) const = default;
};

void PrintTo(const Packet& p, std::ostream* os) {
    *os << "{" << p.code << ", '" << p.header1.toStdString() << "', '" << p.header2.toStdString() << "', '"
        << p.header3.toStdString() << "', '" << p.body.toStdString() << "'}";
}

using TestSupport::frame;

// One data arrival: append the chunk and run the receive loop.
QList<Packet> arrive(const QByteArray& chunk) {
    AppendRecvBuffer(chunk, 0);
    QList<Packet> got;
    DrainRecvBuffer(
        0, [&](qint16 code, const QString& body, const QString& h1, const QString& h2, const QString& h3) {
            got.append({code, h1, h2, h3, body});
        });
    return got;
}

class ProtocolTest : public ::testing::Test {
protected:
    void SetUp() override {
        ClearRecvBuffer(0);
        modMain::MyUserId = 0;
        TestSupport::takeErrorLog();
    }
};

TEST_F(ProtocolTest, MakePacketFramesCodeHeaderAndBody) {
    modMain::MyUserId = 123;
    // The keep-alive of bot 123: 13 characters.
    const QString keepAlive = MakePacket(59, QString(), QStringLiteral("0"));
    EXPECT_EQ(keepAlive, QStringLiteral("/\x01"
                                        "59123;0/\x02/\x03"));
    EXPECT_EQ(keepAlive.size(), 13);

    EXPECT_EQ(MakePacket(1, QStringLiteral("a/b;c\r\nd"), QStringLiteral("17")),
              QStringLiteral("/\x01"
                             "01123;17/\x02"
                             "a/b;c\r\nd/\x03"));
    EXPECT_EQ(MakePacket(2, QStringLiteral("보고"), QStringLiteral("-1")),
              QStringLiteral("/\x01"
                             "02123;-1/\x02보고/\x03"));
    // Frame markers in a body or a target (a database row, a chat line) are dropped: one frame, the rest
    // kept.
    EXPECT_EQ(MakePacket(2,
                         QStringLiteral("a/\x03/\x01"
                                        "0121;9/\x02z\x01"),
                         QStringLiteral("92/\x02")),
              QStringLiteral("/\x01"
                             "02123;92//\x02"
                             "a//0121;9/z/\x03"));
    modMain::MyUserId = 0;
    EXPECT_EQ(MakePacket(50, QStringLiteral("x"), QStringLiteral("0")), QStringLiteral("/\x01"
                                                                                       "500;0/\x02x/\x03"));
}

TEST_F(ProtocolTest, ReceiveLoopOverChunks) {
    const QByteArray chat = frame("01", QStringLiteral("17;123"), QStringLiteral("/help"));
    const QByteArray online = frame("10", QStringLiteral("0"), QStringLiteral("17;127.0.0.1;0"));
    const QByteArray hangul = frame("01", QStringLiteral("17;123"), QStringLiteral("안녕하세요"));
    const qsizetype split = hangul.indexOf("\xbe\xc8") + 1; // between the two bytes of "안"
    ASSERT_GT(split, 0);

    struct Case {
        const char* name;
        QList<QByteArray> chunks;
        QList<QList<Packet>> perArrival;
        QByteArray left;
    };
    const Case cases[] = {
        {"two packets in one chunk, in order",
         {chat + online},
         {{{1, "17;123", "", "", "/help"}, {10, "0", "", "", "17;127.0.0.1;0"}}},
         {}},
        {"a packet split over two chunks",
         {chat.left(7), chat.mid(7)},
         {{}, {{1, "17;123", "", "", "/help"}}},
         {}},
        {"a double-byte character split between chunks arrives whole",
         {hangul.left(split), hangul.mid(split)},
         {{}, {{1, "17;123", "", "", QStringLiteral("안녕하세요")}}},
         {}},
        {"body with slashes and semicolons",
         {frame("01", "5;1", "a/b;c/ d\r\n\t/")},
         {{{1, "5;1", "", "", "a/b;c/ d\r\n\t/"}}},
         {}},
        {"header with two separators",
         {frame("01", "17;123[%]two[%]three[%]four", "x")},
         {{{1, "17;123", "two", "three", "x"}}},
         {}},
        {"header with one separator leaves field 3 empty",
         {frame("01", "17;[%]two", "x")},
         {{{1, "17;", "two", "", "x"}}},
         {}},
        {"code digits 7x read as 7", {frame("7x", "h", "b")}, {{{7, "h", "", "", "b"}}}, {}},
        {"code digits x7 read as 0 and end the loop", {frame("x7", "h", "b") + chat}, {{}}, chat},
        {"a code-0 packet ends the loop; the rest waits for the next arrival",
         {frame("00", "h", "b") + chat, QByteArray()},
         {{}, {{1, "17;123", "", "", "/help"}}},
         {}},
        {"garbage before a start marker is dropped with the packet",
         {"junk/x" + chat},
         {{{1, "17;123", "", "", "/help"}}},
         {}},
        {"a buffer without a start marker is discarded", {"abc"}, {{}}, {}},
        {"a buffer without a start marker keeps its closing slash", {"abc/"}, {{}}, "/"},
        {"a start marker split after its slash still delivers the packet",
         {"x/", chat.mid(1)},
         {{}, {{1, "17;123", "", "", "/help"}}},
         {}},
        {"a slash that is not followed by SOH is discarded next time", {"x/", "y"}, {{}, {}}, {}},
        {"a lone slash is kept", {"/"}, {{}}, "/"},
        {"a lone slash completes into a packet",
         {"/", chat.mid(1)},
         {{}, {{1, "17;123", "", "", "/help"}}},
         {}},
        {"text after the end marker stays",
         {chat + "/\x01"
                 "5"},
         {{{1, "17;123", "", "", "/help"}}},
         "/\x01"
         "5"},
        {"unknown codes are handed on to be ignored",
         {frame("99", "h", "") + frame("55", "", "")},
         {{{99, "h", "", "", ""}, {55, "", "", "", ""}}},
         {}},
        {"a packet without a text marker is dropped, the next one taken",
         {"/\x01"
          "01abc/\x03" +
          chat},
         {{{1, "17;123", "", "", "/help"}}},
         {}},
        {"a text marker inside the code is malformed",
         {"/\x01"
          "0/\x02x/\x03" +
          online},
         {{{10, "0", "", "", "17;127.0.0.1;0"}}},
         {}},
        {"an empty frame is malformed and dropped",
         {"/\x01/\x03" + chat},
         {{{1, "17;123", "", "", "/help"}}},
         {}},
        {"an empty header and body",
         {"/\x01"
          "59/\x02/\x03"},
         {{{59, "", "", "", ""}}},
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ClearRecvBuffer(0);
        ASSERT_EQ(c.chunks.size(), c.perArrival.size());
        for (qsizetype i = 0; i < c.chunks.size(); ++i)
            EXPECT_EQ(arrive(c.chunks[i]), c.perArrival[i]) << "arrival " << i;
        EXPECT_EQ(RecvBufferContent(0), c.left);
    }
}

TEST_F(ProtocolTest, ManyPacketsInOneChunkAndByteByByte) {
    QByteArray stream;
    QList<Packet> expected;
    for (int i = 0; i < 5000; ++i) {
        const QString body = QStringLiteral("메시지 %1 / ; 끝").arg(i);
        stream += frame("01", QStringLiteral("%1;123").arg(i), body);
        expected.append({1, QStringLiteral("%1;123").arg(i), "", "", body});
    }
    EXPECT_EQ(arrive(stream), expected);
    EXPECT_TRUE(RecvBufferContent(0).isEmpty());

    QByteArray first100;
    for (int i = 0; i < 100; ++i)
        first100 += frame("01", expected[i].header1, expected[i].body);
    QList<Packet> got;
    for (char byte : first100)
        got += arrive(QByteArray(1, byte));
    EXPECT_EQ(got, expected.mid(0, 100));
}

TEST_F(ProtocolTest, OversizedIncompletePacketIsDroppedWithOneLogLine) {
    const QByteArray start = "/\x01"
                             "01h/\x02";
    arrive(start);
    const QByteArray piece(1024 * 1024, 'a');
    for (int i = 0; i < 15; ++i)
        EXPECT_TRUE(arrive(piece).isEmpty());
    // Exactly the limit is still kept; one byte more is not.
    arrive(QByteArray(piece.size() - start.size(), 'a'));
    EXPECT_EQ(RecvBufferContent(0).size(), MaxPendingPacket);
    EXPECT_TRUE(TestSupport::takeErrorLog().isEmpty());
    arrive("b");
    EXPECT_TRUE(RecvBufferContent(0).isEmpty());
    const QStringList log = TestSupport::takeErrorLog();
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].startsWith(QStringLiteral("Error 7 (Out of memory) in procedure ExtractPacket")))
        << log[0].toStdString();

    // The stream recovers with the next packet.
    EXPECT_EQ(arrive(frame("11", "0", "17")), (QList<Packet>{{11, "0", "", "", "17"}}));
}

TEST_F(ProtocolTest, BufferIndexesRunFrom0To100) {
    EXPECT_NO_THROW(AppendRecvBuffer("x", 100));
    EXPECT_EQ(RecvBufferContent(100), QByteArray("x"));
    ClearRecvBuffer(100);
    try {
        AppendRecvBuffer("x", 101);
        FAIL() << "index 101 accepted";
    } catch (const VbError& e) {
        EXPECT_EQ(e.number(), 9);
    }
}

TEST_F(ProtocolTest, HeaderFieldsTwoAndThreeAreKeptWhenNoSeparator) {
    AppendRecvBuffer(frame("01", "17;1", "x"), 0);
    QString body, h1, h2 = QStringLiteral("keep2"), h3 = QStringLiteral("keep3");
    EXPECT_EQ(ExtractPacket(0, body, h1, h2, h3), 1);
    EXPECT_EQ(h2, QStringLiteral("keep2"));
    EXPECT_EQ(h3, QStringLiteral("keep3"));
    EXPECT_EQ(ExtractPacket(0, body, h1, h2, h3), 0);
    EXPECT_TRUE(body.isEmpty());
}

} // namespace
