#pragma once

#include "AnsiCodec.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QList>
#include <QTcpServer>
#include <QTcpSocket>
#include <algorithm>
#include <optional>

using TestSupport::pump;
using TestSupport::waitUntil;

// The server side of the messenger connection, in the test's own process: it listens on loopback, records
// every packet the bot sends, and sends what a test tells it to.
class MessengerPeer : public QObject {
public:
    struct Packet {
        int code;
        QString header;
        QString body;
        QByteArray bytes; // the packet as it crossed the wire
        qint64 atMs;      // when it arrived, on the peer's clock
    };

    // Listens on a free port of `address`: loopback, unless a test has made a network of its own.
    explicit MessengerPeer(const QHostAddress& address = QHostAddress::LocalHost) {
        clock_.start();
        server_.listen(address, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = server_.nextPendingConnection()) {
                delete socket_;
                socket_ = s;
                ++connections;
                QObject::connect(s, &QTcpSocket::readyRead, this, [this, s] { read(s); });
            }
        });
    }
    ~MessengerPeer() override { delete socket_; }

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }

    void send(int code, const QString& body, const QString& header = QStringLiteral("0")) {
        sendRaw(TestSupport::frame(code, header, body));
    }
    void sendRaw(const QByteArray& bytes) {
        if (socket_) {
            socket_->write(bytes);
            socket_->flush();
        }
    }
    // A server that has stopped reading sends `count` copies of `bytes`, each once the previous one has left
    // its own buffer, so that what piles up is the bot's. Stops early when the bot closes the connection.
    void floodWithoutReading(const QByteArray& bytes, int count) {
        QTcpSocket* s = socket_;
        if (!s)
            return;
        QObject::disconnect(s, &QTcpSocket::readyRead, this, nullptr);
        s->setReadBufferSize(1);
        for (int sent = 0; sent < count && socket_ == s && s->state() == QAbstractSocket::ConnectedState;) {
            if (s->bytesToWrite() == 0) {
                s->write(bytes);
                ++sent;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
    }
    void drop() {
        if (socket_)
            socket_->disconnectFromHost();
    }
    bool connected() const { return socket_ && socket_->state() == QAbstractSocket::ConnectedState; }

    // Waits for the next packet with `code` not yet taken, and takes it.
    std::optional<Packet> take(int code, int ms = 5000) {
        std::optional<Packet> found;
        waitUntil(
            [&] {
                for (qsizetype i = 0; i < received.size(); ++i)
                    if (received[i].code == code) {
                        found = received.takeAt(i);
                        return true;
                    }
                return false;
            },
            ms);
        return found;
    }
    int count(int code) const {
        return int(std::count_if(received.begin(), received.end(),
                                 [code](const Packet& p) { return p.code == code; }));
    }
    qint64 nowMs() const { return clock_.elapsed(); }

    QList<Packet> received;
    int connections = 0;

private:
    void read(QTcpSocket* s) {
        buffer_ += s->readAll();
        for (;;) {
            const qsizetype start = buffer_.indexOf("/\x01");
            const qsizetype end = buffer_.indexOf("/\x03", start + 2);
            if (start < 0 || end < 0)
                return;
            // A copy of its own: a slice would keep the whole read buffer alive as long as the packet is
            // kept.
            const QByteArray packet(buffer_.constData() + start, end + 2 - start);
            buffer_.remove(0, end + 2);
            const qsizetype text = packet.indexOf("/\x02");
            received.append({packet.mid(2, 2).toInt(), AnsiCodec::toUnicode(packet.mid(4, text - 4)),
                             AnsiCodec::toUnicode(packet.mid(text + 2, packet.size() - 2 - (text + 2))),
                             packet, clock_.elapsed()});
        }
    }

    QTcpServer server_;
    QTcpSocket* socket_ = nullptr;
    QByteArray buffer_;
    QElapsedTimer clock_;
};
