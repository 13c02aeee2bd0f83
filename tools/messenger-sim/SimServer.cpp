#include "SimServer.h"

#include "AnsiCodec.h"
#include "SimText.h"

#include <QHostAddress>
#include <QTcpSocket>

namespace {

const QByteArray kStart("/\x01", 2);
const QByteArray kBodyMark("/\x02", 2);
const QByteArray kEnd("/\x03", 2);

// A packet that has not ended within this many bytes is taken as garbage and thrown away.
constexpr qsizetype kMaxPacketBytes = 16 * 1024 * 1024;
// How long a closing connection may take to flush before it is cut.
constexpr int kCloseGraceMs = 5000;

QString decoded(const QByteArray& bytes) {
    return AnsiCodec::toUnicode(bytes);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

SimServer::SimServer(UserTable& users, const SimConfig& config, QObject* parent)
    : QObject(parent), users_(users), config_(config) {
    connect(&server_, &QTcpServer::newConnection, this, &SimServer::onNewConnection);
    connect(&keepalive_, &QTimer::timeout, this, &SimServer::onKeepaliveTick);
}

SimServer::~SimServer() {
    if (socket_)
        socket_->abort();
}

bool SimServer::listen(quint16 port, QString* error) {
    if (!server_.listen(QHostAddress(QHostAddress::LocalHost), port)) {
        *error = server_.errorString();
        return false;
    }
    SimText::printLine(QStringLiteral("SIM listening 127.0.0.1:%1").arg(server_.serverPort()));
    return true;
}

void SimServer::onNewConnection() {
    while (QTcpSocket* incoming = server_.nextPendingConnection()) {
        if (socket_)
            closeBot();
        socket_ = incoming;
        inbox_.clear();
        connect(incoming, &QTcpSocket::readyRead, this, &SimServer::onReadyRead);
        connect(incoming, &QTcpSocket::disconnected, this, [this, incoming] { onSocketGone(incoming); });
        SimText::printLine(QStringLiteral("SIM connected"));
        emit botConnected();
        // Bytes may have arrived together with the connection.
        if (socket_ == incoming && incoming->bytesAvailable() > 0)
            onReadyRead();
    }
}

void SimServer::onSocketGone(QTcpSocket* socket) {
    if (socket != socket_)
        return;
    // Whatever is still buffered was sent before the bot hung up.
    onReadyRead();
    if (socket == socket_)
        closeBot();
}

void SimServer::onReadyRead() {
    if (!socket_)
        return;
    inbox_ += socket_->readAll();
    takePackets();
}

void SimServer::takePackets() {
    // The socket may be closed while a packet is handled (a refused login); the inbox is cleared then.
    while (socket_ && !inbox_.isEmpty()) {
        const qsizetype start = inbox_.indexOf(kStart);
        if (start < 0) {
            // Keep a trailing "/": it may be the first half of a start marker split across reads.
            const qsizetype keep = inbox_.endsWith('/') ? 1 : 0;
            reportDiscarded("junk", inbox_.left(inbox_.size() - keep));
            inbox_.remove(0, inbox_.size() - keep);
            return;
        }
        if (start > 0) {
            reportDiscarded("junk", inbox_.left(start));
            inbox_.remove(0, start);
        }

        const qsizetype end = inbox_.indexOf(kEnd, kStart.size());
        const qsizetype nextStart = inbox_.indexOf(kStart, kStart.size());
        if (nextStart >= 0 && (end < 0 || nextStart < end)) {
            // A new packet begins before this one ended: the unfinished one is lost.
            reportDiscarded("malformed", inbox_.left(nextStart));
            inbox_.remove(0, nextStart);
            continue;
        }
        if (end < 0) {
            if (inbox_.size() > kMaxPacketBytes) {
                SimText::printLine(
                    QStringLiteral("SIM overflow %1 bytes without packet end").arg(inbox_.size()));
                inbox_.clear();
            }
            return;
        }

        const QByteArray packet = inbox_.left(end + kEnd.size());
        inbox_.remove(0, packet.size());
        const QByteArray inner = packet.mid(kStart.size(), packet.size() - kStart.size() - kEnd.size());
        const qsizetype bodyMark = inner.indexOf(kBodyMark);
        if (bodyMark < 2 || !isDigit(inner[0]) || !isDigit(inner[1])) {
            reportDiscarded("malformed", packet);
            continue;
        }
        const int code = (inner[0] - '0') * 10 + (inner[1] - '0');
        handlePacket(code, inner.mid(2, bodyMark - 2), inner.mid(bodyMark + kBodyMark.size()));
    }
}

void SimServer::reportDiscarded(const char* what, const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    SimText::printLine(QStringLiteral("SIM %1 %2").arg(QLatin1String(what), SimText::escape(decoded(bytes))));
}

void SimServer::handlePacket(int code, const QByteArray& headerBytes, const QByteArray& bodyBytes) {
    const QString header = decoded(headerBytes);
    const QString body = decoded(bodyBytes);
    if (!(code == 59 && config_.quietKeepalive))
        SimText::printLine(config_.readable ? SimText::readablePacket(u"BOT", code, header, body)
                                            : QStringLiteral("BOT %1 %2 %3")
                                                  .arg(SimText::codeText(code), SimText::escape(header, true),
                                                       SimText::escape(body)));
    // Answer first, so that anything waiting on this packet acts after the reply is on its way.
    if (code == 50)
        handleLogin(body);
    emit packetReceived(code, header, body);
}

void SimServer::handleLogin(const QString& body) {
    const QStringList parts = body.split(u'/');
    QString refusal;
    if (parts.size() < 2)
        refusal = QStringLiteral("0로그인 정보가 올바르지 않습니다.");
    else if (parts[0] != config_.loginId)
        refusal = QStringLiteral("0등록되지 않은 사용자입니다.");
    else if (parts[1] != config_.password)
        refusal = QStringLiteral("0비밀번호가 틀렸습니다.");

    if (!refusal.isEmpty()) {
        sendPacket(50, QStringLiteral("0"), AnsiCodec::fromUnicode(refusal));
        SimText::printLine(QStringLiteral("SIM login refused"));
        closeBot();
        return;
    }

    const QString reply = QStringLiteral("1\t") + users_.record(config_.botId);
    sendPacket(50, QStringLiteral("0"), AnsiCodec::fromUnicode(reply));
    sendPacket(51, QStringLiteral("0"), AnsiCodec::fromUnicode(users_.listBody()));
    const bool firstLogin = !loggedIn_;
    loggedIn_ = true;
    if (config_.keepaliveMs > 0)
        keepalive_.start(config_.keepaliveMs);
    SimText::printLine(QStringLiteral("SIM login accepted id=%1").arg(config_.botId));
    if (firstLogin)
        emit botLoggedIn();
}

void SimServer::onKeepaliveTick() {
    if (socket_ && loggedIn_)
        sendPacket(59, QStringLiteral("0"), QByteArray(), !config_.quietKeepalive);
}

void SimServer::sendPacket(int code, const QString& header, const QByteArray& text, bool announce) {
    if (!socket_)
        return;
    // A server relays what a user typed inside one frame: the marker bytes are dropped, or one chat line
    // could end its frame and make the next one, with any sender id it names. (CP949 never uses them inside a
    // character.) `raw` still sends any bytes, as a rogue server would.
    QByteArray body = text;
    body.removeIf([](char c) { return c == '\x01' || c == '\x02' || c == '\x03'; });
    QByteArray packet = kStart;
    packet += SimText::codeText(code).toLatin1();
    packet += AnsiCodec::fromUnicode(header);
    packet += kBodyMark;
    packet += body;
    packet += kEnd;
    socket_->write(packet);
    if (announce)
        SimText::printLine(config_.readable
                               ? SimText::readablePacket(u"SIM sent", code, header, decoded(body))
                               : QStringLiteral("SIM sent %1 %2")
                                     .arg(SimText::codeText(code), SimText::escape(decoded(body))));
}

void SimServer::sendRaw(const QByteArray& bytes) {
    if (!socket_)
        return;
    socket_->write(bytes);
    SimText::printLine(QStringLiteral("SIM sent raw %1").arg(SimText::escape(decoded(bytes))));
}

void SimServer::dropBot() {
    closeBot();
}

void SimServer::shutdown() {
    server_.close();
    QTcpSocket* closing = closeBot();
    if (closing && closing->state() != QAbstractSocket::UnconnectedState)
        closing->waitForDisconnected(2000);
}

QTcpSocket* SimServer::closeBot() {
    QTcpSocket* socket = socket_;
    if (!socket)
        return nullptr;
    socket_ = nullptr;
    loggedIn_ = false;
    reportDiscarded("incomplete", inbox_);
    inbox_.clear();
    keepalive_.stop();

    // The socket closes on its own from here: it flushes what was written, then goes away. A peer that
    // stops reading cannot keep it alive beyond the grace period.
    socket->disconnect(this);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kCloseGraceMs, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();

    SimText::printLine(QStringLiteral("SIM disconnected"));
    emit botDisconnected();
    return socket;
}
