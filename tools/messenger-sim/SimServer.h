#pragma once

#include "UserTable.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

struct SimConfig {
    int botId = 123;
    QString loginId = QStringLiteral("jobserver");
    QString password = QStringLiteral("kx-630195");
    int keepaliveMs = 20000;
    bool quietKeepalive = false;
    // Packets printed for people (SimText::readablePacket) instead of one escaped line each.
    bool readable = false;
};

// The messenger server side: listens on the loopback address, serves one bot connection at a time (a new
// connection replaces the current one), frames the bot's packets, answers logins and sends keep-alives.
// Every packet the bot sends is printed as a BOT line; everything the server does is printed as a SIM line.
class SimServer : public QObject {
    Q_OBJECT

public:
    SimServer(UserTable& users, const SimConfig& config, QObject* parent = nullptr);
    ~SimServer() override;

    bool listen(quint16 port, QString* error);
    quint16 port() const { return server_.serverPort(); }
    int botId() const { return config_.botId; }
    UserTable& users() { return users_; }

    bool hasBot() const { return socket_ != nullptr; }
    bool loggedIn() const { return loggedIn_; }

    // Sends one packet to the bot and, when announce is set, prints "SIM sent <code> <body>". Does nothing
    // without a bot connection; callers check hasBot() first.
    void sendPacket(int code, const QString& header, const QByteArray& body, bool announce = true);
    // Sends bytes exactly as given, for feeding the bot malformed input.
    void sendRaw(const QByteArray& bytes);
    // Closes the bot's connection after flushing what was already sent.
    void dropBot();
    // Closes the bot's connection and waits briefly for the pending bytes to leave; used on exit.
    void shutdown();

signals:
    void botConnected();
    void botLoggedIn();
    void botDisconnected();
    void packetReceived(int code, const QString& header, const QString& body);

private:
    void onNewConnection();
    void onReadyRead();
    void onSocketGone(QTcpSocket* socket);
    void onKeepaliveTick();

    void takePackets();
    void handlePacket(int code, const QByteArray& header, const QByteArray& body);
    void handleLogin(const QString& body);
    void reportDiscarded(const char* what, const QByteArray& bytes);
    // Detaches the current connection, starts its orderly close and returns it (nullptr when none).
    QTcpSocket* closeBot();

    UserTable& users_;
    SimConfig config_;
    QTcpServer server_;
    QTcpSocket* socket_ = nullptr;
    QByteArray inbox_;
    bool loggedIn_ = false;
    QTimer keepalive_;
};
