#pragma once

#include <QString>

// A growable text buffer: room is reserved in whole chunks and every appended piece is copied into it, so
// building a long text piece by piece copies the whole text only when the room grows. Lengths, positions and
// sizes are UTF-16 code units held in 32-bit signed integers.
//
// Errors travel to the caller as VbError: 9 (subscript out of range) for a position or length outside the
// current text in Insert and Remove, 6 (overflow) when the text or its room would pass the 32-bit range, 5
// (invalid procedure call) for a chunk size below 1. A failing call leaves the object as it was.
class cStringBuilder {
public:
    static constexpr qint32 DefaultChunkSize = 8192;
    static constexpr qint32 BinaryCompare = 0;
    static constexpr qint32 TextCompare = 1;

    qint32 Length() const { return used_; }
    qint32 Capacity() const { return capacity_; }
    qint32 ChunkSize() const { return chunkSize_; }
    // A chunk size below 1 could never make room: it is refused with error 5 and the old size kept.
    void setChunkSize(qint32 iChunkSize);

    // A text that fills at least half its room is handed out in that room, without a copy (as a QString
    // built by appending would hold it); the builder's next change then works on a copy of its own while the
    // text is still held. A shorter text is copied, so that the room does not travel with it.
    QString toString() const;
    // Replaces the whole content; the room only grows, except that the empty text gives it all back.
    void setTheString(const QString& sThis);
    void Clear();

    void AppendNL(const QString& sThis);
    void Append(const QString& sThis);
    void AppendByVal(QString sThis);
    // iIndex is 0-based: 0 inserts in front, Length() at the end.
    void Insert(qint32 iIndex, const QString& sThis);
    void InsertByVal(qint32 iIndex, QString sThis);
    void Remove(qint32 iIndex, qint32 lLen);
    // 1-based position of the first match at or after lStartIndex (1 when below 1), or 0. TextCompare ignores
    // case; any other value compares exactly. An empty sToFind matches at lStartIndex inside a non-empty
    // text.
    qint32 Find(const QString& sToFind, qint32 lStartIndex, qint32 compare) const;
    // Gives back spare room down to at most one chunk.
    void HeapMinimize();

private:
    void growFor(qint64 needed, const char* procedure);
    // The room to write in, whole again and this builder's own after toString lent it out.
    char16_t* room();

    // The reserved room: the first used_ units are the text, the rest is spaces, capacity_ units in all;
    // while lent_, it is cut to the text and may be shared with a text toString gave out. Growing goes
    // through QString's own reallocation, which extends the block in place where it can instead of copying
    // it into fresh memory.
    mutable QString buffer_;
    qint32 capacity_ = 0;
    qint32 chunkSize_ = DefaultChunkSize;
    qint32 used_ = 0;
    mutable bool lent_ = false;
};
