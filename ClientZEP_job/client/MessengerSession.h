#pragma once

#include "TcpKeepAlive.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

// The bot's connection to the messenger server: the socket `SckChat`, the login sent on connecting, the
// answer to the server's keep-alives (`tmrLogoutSensor`), the reconnect attempts after a loss
// (`trmAutoLogin`), the receive buffer and the send path. Every complete packet the bot acts on comes out as
// a signal of its kind; what is done with it is the owner's business. Its handlers are the main window's, and
// so are the names of their trapped errors.
class MessengerSession : public QObject {
    Q_OBJECT
public:
    // Socket states as the window's socket control numbers them.
    enum SocketState { sckClosed = 0, sckConnecting = 6, sckConnected = 7, sckClosing = 8 };

    MessengerSession(quint16 port, int logoutSensorMs, int autoLoginMs, const TcpKeepAlive::Bounds& keepAlive,
                     QObject* parent = nullptr);
    ~MessengerSession() override;

    // Where ConnectServer connects to, and the account the login sends.
    void setServer(const QString& host) { ServerAddress = host; }
    void setLogin(const QString& id, const QString& password);
    const QString& loginId() const { return LoginId; }
    const QString& loginPassword() const { return LoginPassword; }

    // Starts a connection attempt unless one is open or under way.
    void ConnectServer();
    void SckChat_Connect();
    void SckChat_DataArrival();
    // Buffers the bytes read and hands out every complete packet.
    void SckChat_Receive(const QByteArray& bytes);
    void SckChat_Error(int number, const QString& description);
    // A loss: reset, then reconnect attempts until a login is accepted.
    void SckChat_Close();
    // Closes the socket without running SckChat_Close, and stops answering keep-alives.
    void StopConnection();
    void ResetConnection();
    void StartAutoLogin();
    void StopAutoLogin() { trmAutoLogin.stop(); }
    void tmrLogoutSensor_Timer();
    void trmAutoLogin_Timer();
    QString GetMacAddress();
    // The login body: account "/" password "/" MAC "-" drive serial.
    static QString LoginBody(const QString& id, const QString& password, const QString& mac,
                             const QString& serial);

    // Bytes handed to the connection that the server has not taken yet, at most; past the bound the
    // connection is closed and made again, as after any loss.
    static constexpr qint64 MaxUnsentBytes = 512 * 1024;

    // A packet to `target`; false when it did not go out (logged, and the packet lost).
    bool SockSendData(int code, const QString& body, const QString& target);

    // The contact list of this connection's login is in; until the next stop.
    void setOnline() { online_ = true; }
    // Whether a report can go out now: online on a connection that the peer has not closed or reset
    // meanwhile.
    bool reportCanGoOut();

    int socketState() const;
    // The socket's descriptor while it has one, else -1.
    qintptr socketDescriptor() const { return SckChat.socketDescriptor(); }
    const QTimer& logoutSensorTimer() const { return tmrLogoutSensor; }
    const QTimer& autoLoginTimer() const { return trmAutoLogin; }

signals:
    void loginResult(const QString& body);
    void userList(const QString& body);
    void userOnline(const QString& body);
    void userOffline(const QString& body);
    void userStatusChanged(const QString& body);
    // A user's chat line and the first field of its header (the sender's id, ";", ...).
    void chatLine(const QString& text, const QString& header);
    // The connection was stopped after a loss: what the owner kept for it goes too.
    void connectionReset();
    // A change of the connection worth telling an operator.
    void stateLine(const QString& line);
    // The connection's state in a few words.
    void statusChanged(const QString& status);

private:
    void closeSocket();
    void dispatch(qint16 code, const QString& body, const QString& header1);
    // The reconnect period in seconds, as the texts give it.
    double autoLoginSeconds() const { return trmAutoLogin.interval() / 1000.0; }

    quint16 port_;
    TcpKeepAlive::Bounds keepAlive_;
    QString ServerAddress;
    QString LoginId;
    QString LoginPassword;
    // Logged in with the contact list on the current connection.
    bool online_ = false;
    // The server stopped taking what is sent; the connection is being closed.
    bool overflowed_ = false;

    QTcpSocket SckChat;
    QTimer tmrLogoutSensor;
    QTimer trmAutoLogin;
};
