#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <optional>

// The messenger server's side of one bot connection, on a loopback socket. Packets are framed and encoded as
// the server frames them: "/" SOH, two-digit code, header, "/" STX, body, "/" ETX, text in CP949.
class MessengerPeer {
public:
    struct Packet {
        int code = 0;
        QString header;
        QString body;
    };

    MessengerPeer();

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }

    // Pumps the event loop until the bot has connected; false after `timeoutMs`.
    bool waitForConnection(int timeoutMs = 5000);

    // Pumps the event loop until a packet with `code` has arrived from the bot and takes it (and the packets
    // before it) off the queue.
    std::optional<Packet> waitForPacket(int code, int timeoutMs = 5000);

    // Sends one packet with the server's header "0".
    void send(int code, const QString& body);

    // Closes the connection from the server's side.
    void disconnect();

    static QByteArray frame(int code, const QString& header, const QString& body);

private:
    void readPackets();

    QTcpServer server_;
    QPointer<QTcpSocket> socket_;
    QByteArray pending_;
    QList<Packet> packets_;
};
