#include "MessengerPeer.h"

#include "AnsiCodec.h"

#include <QHostAddress>
#include <QTest>

MessengerPeer::MessengerPeer() {
    server_.listen(QHostAddress::LocalHost, 0);
}

bool MessengerPeer::waitForConnection(int timeoutMs) {
    if (!socket_ && QTest::qWaitFor([this] { return server_.hasPendingConnections(); }, timeoutMs))
        socket_ = server_.nextPendingConnection();
    return socket_ != nullptr;
}

QByteArray MessengerPeer::frame(int code, const QString& header, const QString& body) {
    QByteArray bytes = "/\x01";
    bytes += QByteArray::number(code).rightJustified(2, '0');
    bytes += AnsiCodec::fromUnicode(header);
    bytes += "/\x02";
    bytes += AnsiCodec::fromUnicode(body);
    bytes += "/\x03";
    return bytes;
}

void MessengerPeer::readPackets() {
    if (!socket_)
        return;
    pending_ += socket_->readAll();
    for (;;) {
        const qsizetype start = pending_.indexOf("/\x01");
        const qsizetype text = pending_.indexOf("/\x02", start + 2);
        const qsizetype end = pending_.indexOf("/\x03", text + 2);
        if (start < 0 || text < 0 || end < 0)
            return;
        Packet packet;
        packet.code = pending_.mid(start + 2, 2).toInt();
        packet.header = AnsiCodec::toUnicode(pending_.mid(start + 4, text - start - 4));
        packet.body = AnsiCodec::toUnicode(pending_.mid(text + 2, end - text - 2));
        packets_.append(packet);
        pending_.remove(0, end + 2);
    }
}

std::optional<MessengerPeer::Packet> MessengerPeer::waitForPacket(int code, int timeoutMs) {
    std::optional<Packet> found;
    const bool arrived = QTest::qWaitFor(
        [&] {
            readPackets();
            while (!packets_.isEmpty()) {
                const Packet packet = packets_.takeFirst();
                if (packet.code == code) {
                    found = packet;
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return arrived ? found : std::nullopt;
}

void MessengerPeer::send(int code, const QString& body) {
    if (!socket_)
        return;
    socket_->write(frame(code, QStringLiteral("0"), body));
    socket_->flush();
}

void MessengerPeer::disconnect() {
    if (socket_)
        socket_->disconnectFromHost();
}
