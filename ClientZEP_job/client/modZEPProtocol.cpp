#include "modZEPProtocol.h"

#include "AnsiCodec.h"
#include "ErrorLog.h"
#include "NumericText.h"
#include "VbError.h"
#include "modMain.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace modZEPProtocol {
namespace {

// A receive buffer. Taken packets only move `head`; the bytes are compacted now and then, so taking every
// packet out of one large chunk stays linear. `endScanFrom` remembers how far an incomplete packet has
// already been searched for its end marker, so a packet arriving in many small reads is not searched from its
// start at every read.
struct RecvBuf {
    QByteArray data;
    qsizetype head = 0;
    qsizetype endScanFrom = 0;

    void clear() {
        data.clear();
        head = 0;
        endScanFrom = 0;
    }
    void compact() {
        if (head == data.size()) {
            clear();
        } else if (head > 4096 && head > data.size() / 2) {
            data.remove(0, head);
            endScanFrom = std::max<qsizetype>(0, endScanFrom - head);
            head = 0;
        }
    }
};

std::array<RecvBuf, RecvBufferLast + 1>& buffers() {
    static std::array<RecvBuf, RecvBufferLast + 1> all;
    return all;
}

RecvBuf& buffer(int index) {
    if (index < 0 || index > RecvBufferLast)
        throw VbError(VbErrors::SubscriptOutOfRange, QStringLiteral("modZEPProtocol"),
                      VbErrors::describe(VbErrors::SubscriptOutOfRange));
    return buffers()[size_t(index)];
}

// Position of the first "/" + `marker` in [from, to), or -1.
qsizetype findMarker(const char* data, qsizetype from, qsizetype to, char marker) {
    while (from + 1 < to) {
        const void* hit = std::memchr(data + from, '/', size_t(to - from - 1));
        if (!hit)
            return -1;
        const qsizetype at = static_cast<const char*>(hit) - data;
        if (data[at + 1] == marker)
            return at;
        from = at + 1;
    }
    return -1;
}

// The two code digits read as a decimal number: blanks skipped, digits up to the first other character.
qint16 readCode(const char* p, qsizetype size) {
    qsizetype i = 0;
    while (i < size && p[i] == ' ')
        ++i;
    qint16 code = 0;
    for (; i < size && p[i] >= '0' && p[i] <= '9'; ++i)
        code = qint16(code * 10 + (p[i] - '0'));
    return code;
}

const QByteArray HeaderSeparator = QByteArrayLiteral("[%]");

bool isMarker(QChar c) {
    return c == QLatin1Char(SOH) || c == QLatin1Char(STX) || c == QLatin1Char(ETX);
}

// `text` without the marker characters, appended to `packet`: without them no "/" can begin a frame marker.
void appendUnframed(QString& packet, const QString& text) {
    if (std::none_of(text.begin(), text.end(), isMarker)) {
        packet += text;
        return;
    }
    for (const QChar c : text)
        if (!isMarker(c))
            packet += c;
}

} // namespace

QString MakePacket(int code, const QString& body, const QString& target) {
    QString packet;
    packet.reserve(body.size() + target.size() + 24);
    packet += QLatin1Char('/');
    packet += QLatin1Char(SOH);
    packet += QStringLiteral("%1").arg(code, 2, 10, QLatin1Char('0'));
    packet += QString::number(modMain::MyUserId);
    packet += QLatin1Char(';');
    appendUnframed(packet, target);
    packet += QLatin1Char('/');
    packet += QLatin1Char(STX);
    appendUnframed(packet, body);
    packet += QLatin1Char('/');
    packet += QLatin1Char(ETX);
    return packet;
}

void AppendRecvBuffer(const QByteArray& bytes, int index) {
    RecvBuf& b = buffer(index);
    b.compact();
    if (b.data.isEmpty())
        b.data = bytes; // shares the bytes read from the socket instead of copying them
    else
        b.data += bytes;
}

QByteArray RecvBufferContent(int index) {
    const RecvBuf& b = buffer(index);
    return b.data.mid(b.head);
}

void ClearRecvBuffer(int index) {
    buffer(index).clear();
}

qint16 ExtractPacket(int index, QString& body, QString& header1, QString& header2, QString& header3) {
    RecvBuf& b = buffer(index);
    body.clear();

    for (;;) {
        const char* data = b.data.constData();
        const qsizetype size = b.data.size();
        if (size - b.head <= 1)
            return 0;

        const qsizetype start = findMarker(data, b.head, size, SOH);
        if (start < 0) {
            // Nothing that could become a packet: discard it all, but a closing "/" may be the first half
            // of a start marker whose SOH is still on its way.
            const bool keepSlash = data[size - 1] == '/';
            b.clear();
            if (keepSlash)
                b.data = QByteArray(1, '/');
            return 0;
        }
        if (start != b.head) {
            // Bytes before the start marker go with the packet; dropping them now changes nothing else.
            b.head = start;
            b.endScanFrom = 0;
        }

        const qsizetype scanFrom = std::max(start + 2, b.endScanFrom - 1);
        const qsizetype end = findMarker(data, scanFrom, size, ETX);
        if (end < 0) {
            b.endScanFrom = size;
            if (size - start > MaxPendingPacket) {
                ErrorLog::WriteToFile(
                    QStringLiteral("Error 7 (Out of memory) in procedure ExtractPacket of Module "
                                   "modZEPProtocol(Dropped %1 bytes of an incomplete packet)")
                        .arg(size - start));
                b.clear();
            }
            return 0;
        }

        // The packet is [start, end); what follows the end marker stays for the next call.
        b.head = end + 2;
        b.endScanFrom = 0;

        const qsizetype codeAt = start + 2;
        const qint16 code =
            readCode(data + codeAt, std::min<qsizetype>(2, std::max<qsizetype>(0, end - codeAt)));
        const qsizetype text = findMarker(data, codeAt, end, STX);
        if (text < start + 4) {
            // No text marker, or one inside the code: a malformed packet is dropped like garbage.
            continue;
        }

        const qsizetype headerAt = start + 4;
        const char* header = data + headerAt;
        const qsizetype headerSize = text - headerAt;
        if (headerSize > 0 && std::search(header, header + headerSize, HeaderSeparator.begin(),
                                          HeaderSeparator.end()) != header + headerSize) {
            QString* fields[] = {&header1, &header2, &header3};
            qsizetype from = 0;
            for (int f = 0; f < 3; ++f) {
                const char* sep = std::search(header + from, header + headerSize, HeaderSeparator.begin(),
                                              HeaderSeparator.end());
                const qsizetype to = sep - header;
                *fields[f] = AnsiCodec::toUnicode(header + from, to - from);
                if (to == headerSize)
                    break;
                from = to + HeaderSeparator.size();
            }
        } else {
            header1 = AnsiCodec::toUnicode(header, headerSize);
        }

        body = AnsiCodec::toUnicode(data + text + 2, end - (text + 2));
        if (b.head == size)
            b.clear();
        return code;
    }
}

} // namespace modZEPProtocol
