#include "TestSupport.h"
#include "VbError.h"
#include "cStringBuilder.h"

#include <functional>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <vector>

namespace {

struct State {
    QString text;
    qint32 length;
    qint32 capacity;
    qint32 chunkSize;
    bool operator==(const State&) const = default;
};

State stateOf(const cStringBuilder& sb) {
    return {sb.toString(), sb.Length(), sb.Capacity(), sb.ChunkSize()};
}

// The error number a call raised, or 0; a failing call must leave the object as it was.
int errorOf(cStringBuilder& sb, const std::function<void(cStringBuilder&)>& call) {
    const State before = stateOf(sb);
    try {
        call(sb);
    } catch (const VbError& e) {
        EXPECT_EQ(e.description(), VbErrors::describe(e.number()));
        EXPECT_TRUE(e.source().startsWith(QStringLiteral("cStringBuilder::"))) << e.source().toStdString();
        EXPECT_EQ(stateOf(sb), before) << "changed by a failing call";
        return e.number();
    }
    return 0;
}

// Distinct characters, so that a misplaced copy shows.
QString text(qsizetype n, char16_t first = u'a') {
    QString s(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        s[i] = QChar(char16_t(first + i % 26));
    return s;
}

TEST(StringBuilderTest, NewObject) {
    const cStringBuilder sb;
    EXPECT_EQ(sb.Length(), 0);
    EXPECT_EQ(sb.Capacity(), 0);
    EXPECT_EQ(sb.ChunkSize(), 8192);
    EXPECT_TRUE(sb.toString().isEmpty());
}

TEST(StringBuilderTest, AppendGrowsByWholeChunks) {
    struct Case {
        qint32 chunk;
        std::vector<qsizetype> pieces;
        qint32 capacity;
    };
    const Case cases[] = {
        {8192, {1}, 8192},    {8192, {20000}, 24576},
        {8192, {8192}, 8192}, {8192, {8193}, 16384},
        {8192, {0}, 0},       {4, {5}, 8},
        {4, {3, 2}, 8},       {4, {4, 4, 1}, 12},
        {4, {9, 0}, 12},      {3, {2, 2, 2, 2, 2}, 12},
        {1, {7}, 7},
    };
    for (const Case& c : cases) {
        for (const bool byVal : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << "chunk " << c.chunk << " pieces " << testing::PrintToString(c.pieces)
                         << (byVal ? " by value" : ""));
            cStringBuilder sb;
            sb.setChunkSize(c.chunk);
            QString expected;
            char16_t first = u'a';
            for (const qsizetype n : c.pieces) {
                const QString piece = text(n, first++);
                byVal ? sb.AppendByVal(piece) : sb.Append(piece);
                expected += piece;
            }
            EXPECT_EQ(sb.Capacity(), c.capacity);
            EXPECT_EQ(sb.Length(), expected.size());
            EXPECT_EQ(sb.toString(), expected);
        }
    }
}

TEST(StringBuilderTest, TheStringGrowsButNeverShrinksTheRoom) {
    struct Case {
        qint32 chunk;
        std::vector<qsizetype> texts; // set one after the other
        qint32 capacity;
    };
    const Case cases[] = {
        {8192, {20000}, 24576},
        {8192, {20000, 2}, 24576},
        {8192, {20000, 0}, 0},
        {8192, {2, 20000}, 24576},
        {3, {7}, 9},
        {3, {10, 1, 12}, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "chunk " << c.chunk << " texts " << testing::PrintToString(c.texts));
        cStringBuilder sb;
        sb.setChunkSize(c.chunk);
        QString last;
        char16_t first = u'a';
        for (const qsizetype n : c.texts) {
            last = text(n, first++);
            sb.setTheString(last);
        }
        EXPECT_EQ(sb.Capacity(), c.capacity);
        EXPECT_EQ(sb.Length(), last.size());
        EXPECT_EQ(sb.toString(), last);
    }

    // Appending after a shorter text continues right after it.
    cStringBuilder sb;
    sb.setTheString(QStringLiteral("abcdef"));
    sb.setTheString(QStringLiteral("xy"));
    sb.Append(QStringLiteral("z"));
    EXPECT_EQ(sb.toString(), QStringLiteral("xyz"));
}

TEST(StringBuilderTest, AppendNLAndClear) {
    cStringBuilder sb;
    sb.AppendNL(QStringLiteral("x"));
    EXPECT_EQ(sb.Length(), 3);
    EXPECT_EQ(sb.toString(), QStringLiteral("x\r\n"));
    sb.AppendNL(QString());
    sb.Append(QStringLiteral("한글"));
    EXPECT_EQ(sb.toString(), QStringLiteral("x\r\n\r\n한글"));

    sb.Clear();
    EXPECT_EQ(stateOf(sb), (State{QString(), 0, 0, 8192}));
    sb.Append(QStringLiteral("q"));
    EXPECT_EQ(stateOf(sb), (State{QStringLiteral("q"), 1, 8192, 8192}));
}

TEST(StringBuilderTest, Insert) {
    struct Case {
        qint32 index;
        QString piece;
        QString result; // when it succeeds
        int error;
    };
    const Case cases[] = {
        {0, "a", "axyz", 0},   {3, "a", "xyza", 0},
        {1, "ab", "xabyz", 0}, {2, "", "xyz", 0},
        {4, "a", "", 9},       {-1, "a", "", 9},
        {4, "", "", 9},        {std::numeric_limits<qint32>::min(), "a", "", 9},
    };
    for (const Case& c : cases) {
        for (const bool byVal : {false, true}) {
            SCOPED_TRACE(testing::Message() << "index " << c.index << " piece " << c.piece.toStdString()
                                            << (byVal ? " by value" : ""));
            cStringBuilder sb;
            sb.setTheString(QStringLiteral("xyz"));
            const int error = errorOf(sb, [&](cStringBuilder& b) {
                byVal ? b.InsertByVal(c.index, c.piece) : b.Insert(c.index, c.piece);
            });
            EXPECT_EQ(error, c.error);
            if (c.error == 0) {
                EXPECT_EQ(sb.toString(), c.result);
            }
        }
    }

    // An insert that does not fit grows the room by whole chunks and keeps both halves.
    cStringBuilder sb;
    sb.setChunkSize(4);
    sb.setTheString(QStringLiteral("xyz"));
    sb.Insert(1, QStringLiteral("abcdef"));
    EXPECT_EQ(stateOf(sb), (State{QStringLiteral("xabcdefyz"), 9, 12, 4}));
}

TEST(StringBuilderTest, Remove) {
    constexpr qint32 Max = std::numeric_limits<qint32>::max();
    struct Case {
        qint32 index;
        qint32 length;
        QString result;
        int error;
    };
    const Case cases[] = {
        {1, 1, "xz", 0}, {2, 2, "", 9},  {0, 3, "", 0}, {3, 0, "xyz", 0}, {0, 0, "xyz", 0}, {2, 1, "xy", 0},
        {-1, 1, "", 9},  {0, -1, "", 9}, {4, 0, "", 9}, {0, 4, "", 9},    {1, Max, "", 9},  {Max, Max, "", 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "index " << c.index << " length " << c.length);
        cStringBuilder sb;
        sb.setTheString(QStringLiteral("xyz"));
        EXPECT_EQ(errorOf(sb, [&](cStringBuilder& b) { b.Remove(c.index, c.length); }), c.error);
        if (c.error == 0) {
            EXPECT_EQ(sb.toString(), c.result);
            EXPECT_EQ(sb.Length(), c.result.size());
            EXPECT_EQ(sb.Capacity(), 8192);
        }
    }
}

TEST(StringBuilderTest, Find) {
    struct Case {
        QString content;
        QString toFind;
        qint32 start;
        qint32 compare;
        qint32 position;
    };
    const Case cases[] = {
        {"xyz", "z", 1, 0, 3},  {"xyz", "q", 0, 0, 0},   {"xyz", "X", 0, 1, 1},
        {"xyz", "X", 0, 0, 0},  {"xyz", "YZ", -7, 1, 2}, {"xyz", "y", 2, 0, 2},
        {"xyz", "y", 3, 0, 0},  {"xyz", "z", 4, 0, 0},   {"xyz", "xyzw", 1, 0, 0},
        {"xyz", "", 2, 0, 2},   {"xyz", "", 4, 0, 0},    {"", "", 1, 0, 0},
        {"", "a", 1, 0, 0},     {"abab", "ab", 2, 0, 3}, {"한글 텍스트", "텍", 1, 0, 4},
        {"ÄBC", "äb", 1, 1, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.content.toStdString() << " / " << c.toFind.toStdString()
                                        << " from " << c.start << " compare " << c.compare);
        cStringBuilder sb;
        sb.setTheString(c.content);
        EXPECT_EQ(sb.Find(c.toFind, c.start, c.compare), c.position);
    }

    // The spare room and the rest of an older, longer text are not part of the text.
    cStringBuilder sb;
    sb.setTheString(QStringLiteral("ab cdef"));
    sb.setTheString(QStringLiteral("ab"));
    EXPECT_EQ(sb.Find(QStringLiteral("cd"), 1, 0), 0);
    EXPECT_EQ(sb.Find(QStringLiteral(" "), 1, 0), 0);
    sb.setTheString(QStringLiteral("abcd"));
    sb.Remove(1, 2);
    EXPECT_EQ(sb.Find(QStringLiteral("c"), 1, 0), 0);
}

TEST(StringBuilderTest, HeapMinimizeLeavesAtMostOneSpareChunk) {
    struct Case {
        qint32 chunk;
        qsizetype content;
        qint32 remove; // characters removed from the front before minimising
        qint32 capacityBefore;
        qint32 capacityAfter;
    };
    const Case cases[] = {
        {8192, 0, 0, 0, 0},
        {8192, 20000, 19990, 24576, 8192},
        {8192, 1, 0, 8192, 8192},
        {8192, 16384, 8192, 16384, 16384}, // exactly one chunk spare
        {8192, 16384, 8193, 16384, 8192},
        {8192, 20000, 20000, 24576, 8192},
        {4, 12, 11, 12, 4},
        {4, 12, 7, 12, 8},
        {3, 10, 0, 12, 12},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "chunk " << c.chunk << " content " << c.content << " removed " << c.remove);
        cStringBuilder sb;
        sb.setChunkSize(c.chunk);
        const QString content = text(c.content);
        sb.setTheString(content);
        sb.Remove(0, c.remove);
        EXPECT_EQ(sb.Capacity(), c.capacityBefore);
        sb.HeapMinimize();
        EXPECT_EQ(sb.Capacity(), c.capacityAfter);
        EXPECT_EQ(sb.toString(), content.mid(c.remove));
        // The room is still usable: filling it exactly does not grow it.
        sb.Append(text(c.capacityAfter - sb.Length(), u'A'));
        EXPECT_EQ(sb.Capacity(), c.capacityAfter);
    }

    cStringBuilder cleared;
    cleared.Append(QStringLiteral("abc"));
    cleared.Clear();
    cleared.HeapMinimize();
    EXPECT_EQ(stateOf(cleared), (State{QString(), 0, 0, 8192}));
}

TEST(StringBuilderTest, ChunkSizeBelowOneIsRefused) {
    for (const qint32 size : {0, -1, -8192, std::numeric_limits<qint32>::min()}) {
        SCOPED_TRACE(size);
        cStringBuilder sb;
        sb.setChunkSize(16);
        sb.Append(QStringLiteral("abc"));
        EXPECT_EQ(errorOf(sb, [&](cStringBuilder& b) { b.setChunkSize(size); }), 5);
        sb.Append(text(20));
        EXPECT_EQ(sb.Capacity(), 32);
    }
}

TEST(StringBuilderTest, RoomPastThe32BitRangeIsRefused) {
    // One chunk of the default size is in use; a chunk that large cannot be added to it.
    const std::function<void(cStringBuilder&)> calls[] = {
        [](cStringBuilder& b) { b.Append(text(8192)); },
        [](cStringBuilder& b) { b.AppendNL(text(8191)); },
        [](cStringBuilder& b) { b.Insert(0, text(8192)); },
        [](cStringBuilder& b) { b.setTheString(text(8193)); },
    };
    for (const auto& call : calls) {
        cStringBuilder sb;
        sb.Append(QStringLiteral("a"));
        sb.setChunkSize(std::numeric_limits<qint32>::max());
        EXPECT_EQ(errorOf(sb, call), 6);
        // What still fits is taken as before.
        sb.Append(text(8191));
        EXPECT_EQ(sb.Length(), 8192);
    }
}

} // namespace
