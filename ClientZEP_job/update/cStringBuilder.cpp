#include "cStringBuilder.h"

#include "VbError.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr qint64 MaxLength = std::numeric_limits<qint32>::max();

[[noreturn]] void fail(int number, const char* procedure) {
    throw VbError(number, QStringLiteral("cStringBuilder::") + QLatin1StringView(procedure),
                  VbErrors::describe(number));
}

const char16_t* units(const QString& s) {
    return reinterpret_cast<const char16_t*>(s.constData());
}

} // namespace

void cStringBuilder::setChunkSize(qint32 iChunkSize) {
    if (iChunkSize < 1)
        fail(VbErrors::InvalidProcedureCall, "ChunkSize");
    chunkSize_ = iChunkSize;
}

QString cStringBuilder::toString() const {
    if (used_ == 0)
        return QString();
    if (!lent_) {
        if (buffer_.capacity() > 2 * qsizetype(used_))
            return QString(buffer_.constData(), used_);
        buffer_.truncate(used_);
        lent_ = true;
    }
    return buffer_;
}

char16_t* cStringBuilder::room() {
    if (lent_) {
        lent_ = false;
        buffer_.resize(capacity_, u' ');
    }
    return reinterpret_cast<char16_t*>(buffer_.data());
}

void cStringBuilder::setTheString(const QString& sThis) {
    if (sThis.isEmpty()) {
        Clear();
        return;
    }
    if (sThis.size() > capacity_)
        growFor(sThis.size(), "TheString");
    const qint32 length = qint32(sThis.size());
    char16_t* const to = room();
    std::memcpy(to, units(sThis), size_t(length) * sizeof(char16_t));
    // Whatever of a longer old text lies past the new one is spare room again.
    if (used_ > length)
        std::fill(to + length, to + used_, u' ');
    used_ = length;
}

void cStringBuilder::Clear() {
    buffer_ = QString();
    capacity_ = 0;
    used_ = 0;
    lent_ = false;
}

void cStringBuilder::AppendNL(const QString& sThis) {
    // Room for both first, so that a refusal leaves nothing half appended; the chunks come out the same.
    if (used_ + sThis.size() + 2 > capacity_)
        growFor(used_ + sThis.size() + 2, "AppendNL");
    Append(sThis);
    Append(QStringLiteral("\r\n"));
}

void cStringBuilder::Append(const QString& sThis) {
    const qsizetype n = sThis.size();
    if (n == 0)
        return;
    if (used_ + n > capacity_)
        growFor(used_ + n, "Append");
    char16_t* at = room() + used_;
    const char16_t* from = units(sThis);
    // Single characters are the common piece (the JSON reader appends one at a time): no call for those.
    if (n == 1)
        *at = *from;
    else
        std::memcpy(at, from, size_t(n) * sizeof(char16_t));
    used_ += qint32(n);
}

void cStringBuilder::AppendByVal(QString sThis) {
    Append(sThis);
}

void cStringBuilder::Insert(qint32 iIndex, const QString& sThis) {
    if (iIndex < 0 || iIndex > used_)
        fail(VbErrors::SubscriptOutOfRange, "Insert");
    const qsizetype n = sThis.size();
    if (n == 0)
        return;
    if (used_ + n > capacity_)
        growFor(used_ + n, "Insert");
    char16_t* at = room() + iIndex;
    std::memmove(at + n, at, size_t(used_ - iIndex) * sizeof(char16_t));
    std::memcpy(at, units(sThis), size_t(n) * sizeof(char16_t));
    used_ += qint32(n);
}

void cStringBuilder::InsertByVal(qint32 iIndex, QString sThis) {
    Insert(iIndex, sThis);
}

void cStringBuilder::Remove(qint32 iIndex, qint32 lLen) {
    // 64-bit sum: iIndex + lLen must not wrap round into range.
    if (iIndex < 0 || lLen < 0 || iIndex > used_ || qint64(iIndex) + lLen > used_)
        fail(VbErrors::SubscriptOutOfRange, "Remove");
    if (lLen == 0)
        return;
    char16_t* at = room() + iIndex;
    const qint32 tail = used_ - iIndex - lLen;
    std::memmove(at, at + lLen, size_t(tail) * sizeof(char16_t));
    // The freed units become spare room again, which is spaces.
    std::fill_n(at + tail, lLen, u' ');
    used_ -= lLen;
}

qint32 cStringBuilder::Find(const QString& sToFind, qint32 lStartIndex, qint32 compare) const {
    const qint32 from = std::max(lStartIndex, 1) - 1;
    if (from >= used_)
        return 0;
    const QStringView text(buffer_.constData(), used_);
    const qsizetype at = text.indexOf(QStringView(sToFind), from,
                                      compare == TextCompare ? Qt::CaseInsensitive : Qt::CaseSensitive);
    return at < 0 ? 0 : qint32(at + 1);
}

void cStringBuilder::HeapMinimize() {
    const qint32 spare = capacity_ - used_;
    if (spare <= chunkSize_)
        return;
    // As many whole chunks as leave at most one chunk of spare room.
    const qint32 chunks = (spare - 1) / chunkSize_;
    room();
    capacity_ -= chunks * chunkSize_;
    buffer_.resize(capacity_);
    buffer_.squeeze();
}

// Grows the room by the fewest whole chunks that hold `needed` units, in one step. Room past the 32-bit range
// is refused with error 6 before anything changes.
void cStringBuilder::growFor(qint64 needed, const char* procedure) {
    const qint64 capacity = capacity_;
    const qint64 chunks = (needed - capacity + chunkSize_ - 1) / chunkSize_;
    const qint64 grown = capacity + chunks * chunkSize_;
    if (needed > MaxLength || grown > MaxLength)
        fail(VbErrors::Overflow, procedure);
    room();
    buffer_.resize(qsizetype(grown), u' ');
    capacity_ = qint32(grown);
}
