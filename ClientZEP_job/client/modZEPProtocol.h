#pragma once

#include <QByteArray>
#include <QString>

// Messenger packets: "/" SOH, two-digit code, header, "/" STX, body, "/" ETX, in CP949.
//
// The receive side works on bytes and decodes one complete packet at a time, so a double-byte character split
// between two reads arrives whole. All markers are single ASCII bytes below any CP949 trail byte.
namespace modZEPProtocol {

inline constexpr char SOH = '\x01';
inline constexpr char STX = '\x02';
inline constexpr char ETX = '\x03';

// The packet codes the bot sends or acts on. Every other code that arrives is taken out of the buffer and
// ignored.
namespace PacketCode {
enum Code : qint16 {
    ChatMessage = 1, // a user's chat line; the bot's replies
    Report = 2,      // a job's report
    UserOnline = 10,
    VersionReport = 10, // the bot's id and version, once the user list is in
    UserOffline = 11,
    UserStatus = 13,
    Login = 50, // the login and its reply
    UserList = 51,
    KeepAlive = 59,
};
} // namespace PacketCode

// Receive buffers 0 to 100; the messenger connection uses index 0.
inline constexpr int RecvBufferLast = 100;

// An incomplete packet that grows past this is dropped: a broken peer must not exhaust memory.
inline constexpr qsizetype MaxPendingPacket = 16 * 1024 * 1024;

// The packet the bot sends: its header is MyUserId ";" target. Every packet the bot sends is built here, and
// the characters SOH, STX and ETX are dropped from the target and the body (whatever a database, a server or
// a chat put there), so nothing the bot sends can end its frame early or hold a frame of its own; the rest of
// the text goes out.
QString MakePacket(int code, const QString& body, const QString& target);

void AppendRecvBuffer(const QByteArray& bytes, int index);

// Takes the first complete packet out of buffer `index`. Returns its code, or 0 when no packet was taken (the
// body is then empty). Header fields 2 and 3 are only written when the header holds "[%]".
qint16 ExtractPacket(int index, QString& body, QString& header1, QString& header2, QString& header3);

// The receive loop: takes packets out of buffer `index` and hands each to
// dispatch(code, body, header1, header2, header3), until no complete packet is left or one reads as code 0
// (that one is consumed too; what follows waits for the next arrival). Header fields 2 and 3 start empty for
// every packet.
template <typename Dispatch> void DrainRecvBuffer(int index, Dispatch&& dispatch) {
    QString body, header1, header2, header3;
    for (;;) {
        header2.clear();
        header3.clear();
        const qint16 code = ExtractPacket(index, body, header1, header2, header3);
        if (code == 0)
            return;
        dispatch(code, body, header1, header2, header3);
    }
}

// What buffer `index` still holds.
QByteArray RecvBufferContent(int index);

void ClearRecvBuffer(int index);

} // namespace modZEPProtocol
