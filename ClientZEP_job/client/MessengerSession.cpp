#include "MessengerSession.h"

#include "AnsiCodec.h"
#include "ErrorLog.h"
#include "FormGuard.h"
#include "MachineId.h"
#include "MessageBox.h"
#include "VbError.h"
#include "modZEPProtocol.h"

#include <QSignalBlocker>
#include <poll.h>

namespace PacketCode = modZEPProtocol::PacketCode;
using FormGuard::guarded;

namespace {

// The socket control's error numbers, so the log reads the same whatever the platform.
int winsockNumber(QAbstractSocket::SocketError error) {
    switch (error) {
    case QAbstractSocket::ConnectionRefusedError:
        return 10061;
    case QAbstractSocket::RemoteHostClosedError:
        return 10054;
    case QAbstractSocket::HostNotFoundError:
        return 11001;
    case QAbstractSocket::SocketTimeoutError:
        return 10060;
    case QAbstractSocket::NetworkError:
        return 10051;
    case QAbstractSocket::SocketAccessError:
        return 10013;
    case QAbstractSocket::SocketResourceError:
        return 10055;
    case QAbstractSocket::AddressInUseError:
        return 10048;
    default:
        return 40006;
    }
}

const QString Form = QStringLiteral("Form");
const QString FormName = QStringLiteral("frmMain");

// The send path's errors belong to the module that sends.
void logSendError(int number, const QString& description) {
    ErrorLog::WriteToFile(VbErrors::trappedText(number, description, QStringLiteral("SockSendData"),
                                                QStringLiteral("Module"), QStringLiteral("modMain")));
}

} // namespace

MessengerSession::MessengerSession(quint16 port, int logoutSensorMs, int autoLoginMs,
                                   const TcpKeepAlive::Bounds& keepAlive, QObject* parent)
    : QObject(parent), port_(port), keepAlive_(keepAlive) {
    tmrLogoutSensor.setInterval(logoutSensorMs);
    trmAutoLogin.setInterval(autoLoginMs);
    for (QTimer* timer : {&tmrLogoutSensor, &trmAutoLogin})
        timer->setTimerType(Qt::PreciseTimer);

    connect(&tmrLogoutSensor, &QTimer::timeout, this,
            [this] { guarded("tmrLogoutSensor_Timer", [this] { tmrLogoutSensor_Timer(); }); });
    connect(&trmAutoLogin, &QTimer::timeout, this,
            [this] { guarded("trmAutoLogin_Timer", [this] { trmAutoLogin_Timer(); }); });

    connect(&SckChat, &QTcpSocket::connected, this,
            [this] { guarded("SckChat_Connect", [this] { SckChat_Connect(); }); });
    connect(&SckChat, &QTcpSocket::readyRead, this,
            [this] { guarded("SckChat_DataArrival", [this] { SckChat_DataArrival(); }); });
    // A close by the peer arrives as "disconnected"; our own closes are made with the socket's signals
    // blocked.
    connect(&SckChat, &QTcpSocket::disconnected, this,
            [this] { guarded("SckChat_Close", [this] { SckChat_Close(); }); });
    connect(&SckChat, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError)
            return; // followed by "disconnected"
        guarded("SckChat_Error",
                [this, error] { SckChat_Error(winsockNumber(error), SckChat.errorString()); });
    });
}

MessengerSession::~MessengerSession() {
    closeSocket();
}

void MessengerSession::setLogin(const QString& id, const QString& password) {
    LoginId = id;
    LoginPassword = password;
}

void MessengerSession::closeSocket() {
    // Our own closes are silent: only a close by the peer runs SckChat_Close.
    const QSignalBlocker block(SckChat);
    SckChat.abort();
    overflowed_ = false;
}

// ---- send path ----

bool MessengerSession::SockSendData(int code, const QString& body, const QString& target) {
    if (SckChat.state() != QAbstractSocket::ConnectedState || overflowed_) {
        logSendError(
            40006,
            QStringLiteral("Wrong protocol or connection state for the requested transaction or request"));
        return false;
    }
    const QByteArray bytes = AnsiCodec::fromUnicode(modZEPProtocol::MakePacket(code, body, target));
    // A server that stops reading would otherwise make the bot hold everything it sends, without end.
    if (SckChat.bytesToWrite() + bytes.size() > MaxUnsentBytes) {
        const QString why =
            QStringLiteral("the server has not taken %1 bytes sent to it, more than its bound "
                           "of %2 bytes; the connection is closed and made again")
                .arg(SckChat.bytesToWrite())
                .arg(MaxUnsentBytes);
        logSendError(10055, why);
        emit stateLine(why);
        overflowed_ = true;
        // Closed once the handler that sends has returned, as a loss by the peer would be.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (overflowed_)
                    guarded("SckChat_Close", [this] { SckChat_Close(); });
            },
            Qt::QueuedConnection);
        return false;
    }
    if (SckChat.write(bytes) != bytes.size()) {
        logSendError(winsockNumber(SckChat.error()), SckChat.errorString());
        return false;
    }
    // Into the system's buffer now: a job may hold the thread for long, and the program may end meanwhile.
    SckChat.flush();
    return true;
}

bool MessengerSession::reportCanGoOut() {
    if (!online_ || overflowed_ || SckChat.state() != QAbstractSocket::ConnectedState)
        return false;
    // A job blocks the thread, so a close or reset by the peer during the job has not been handled yet.
    // Asking the socket itself, without waiting, tells; the close is then handled as always once the
    // handler returns (what the peer sent before it is read and dispatched first). Spinning the event
    // loop here instead would run other handlers in the middle of this one.
    pollfd pending{int(SckChat.socketDescriptor()), POLLRDHUP, 0};
    if (::poll(&pending, 1, 0) < 0)
        return true; // nothing known against the connection
    return (pending.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) == 0;
}

// ---- connection ----

int MessengerSession::socketState() const {
    switch (SckChat.state()) {
    case QAbstractSocket::HostLookupState:
    case QAbstractSocket::ConnectingState:
        return sckConnecting;
    case QAbstractSocket::ConnectedState:
        return sckConnected;
    case QAbstractSocket::ClosingState:
        return sckClosing;
    default:
        return sckClosed;
    }
}

void MessengerSession::ConnectServer() {
    const int state = socketState();
    if (state == sckConnected || state == sckConnecting)
        return;
    closeSocket();
    const QString connecting = QStringLiteral("connecting to %1:%2").arg(ServerAddress).arg(port_);
    emit stateLine(connecting);
    emit statusChanged(connecting);
    SckChat.connectToHost(ServerAddress, port_);
}

QString MessengerSession::GetMacAddress() {
    try {
        return MachineId::macAddress();
    } catch (const std::exception& e) {
        MessageBox::show(VbErrors::trappedText(e, QStringLiteral("GetMacAddress"), Form, FormName));
    }
    return QString();
}

QString MessengerSession::LoginBody(const QString& id, const QString& password, const QString& mac,
                                    const QString& serial) {
    return id + QLatin1Char('/') + password + QLatin1Char('/') + mac + QLatin1Char('-') + serial;
}

void MessengerSession::SckChat_Connect() {
    // Whatever a dropped connection left half-received must not swallow the first packet of this one.
    modZEPProtocol::ClearRecvBuffer(0);
    const QString mac = GetMacAddress();
    const QString serial = MachineId::driveSerial(QString());
    // The bot only answers the server's keep-alives; these bounds make a peer that vanished without a word
    // fail the socket, so the usual error, reset and reconnect follow.
    const QString refused = TcpKeepAlive::apply(SckChat.socketDescriptor(), keepAlive_);
    if (!refused.isEmpty())
        ErrorLog::WriteToFile(VbErrors::trappedText(VbErrors::InvalidProcedureCall, refused,
                                                    QStringLiteral("SckChat_Connect"), Form, FormName));
    emit stateLine(QStringLiteral("connected; sending login as %1").arg(LoginId));
    emit statusChanged(QStringLiteral("connected to %1, logging in as %2").arg(ServerAddress, LoginId));
    SockSendData(PacketCode::Login, LoginBody(LoginId, LoginPassword, mac, serial), QStringLiteral("0"));
}

void MessengerSession::SckChat_DataArrival() {
    SckChat_Receive(SckChat.readAll());
}

void MessengerSession::SckChat_Receive(const QByteArray& bytes) {
    modZEPProtocol::AppendRecvBuffer(bytes, 0);
    modZEPProtocol::DrainRecvBuffer(
        0, [this](qint16 code, const QString& body, const QString& header1, const QString&, const QString&) {
            // One bad packet must not cost the ones behind it.
            guarded("SckChat_DataArrival", [&] { dispatch(code, body, header1); });
        });
}

void MessengerSession::dispatch(qint16 code, const QString& body, const QString& header1) {
    switch (code) {
    case PacketCode::KeepAlive:
        tmrLogoutSensor.stop();
        tmrLogoutSensor.start();
        break;
    case PacketCode::Login:
        emit loginResult(body);
        break;
    case PacketCode::UserList:
        emit userList(body);
        break;
    case PacketCode::UserOnline:
        emit userOnline(body);
        break;
    case PacketCode::UserOffline:
        emit userOffline(body);
        break;
    case PacketCode::UserStatus:
        emit userStatusChanged(body);
        break;
    case PacketCode::ChatMessage:
        emit chatLine(body, header1);
        break;
    default:
        // Reports, the other known codes and unknown ones alike: taken out and ignored.
        break;
    }
}

void MessengerSession::SckChat_Error(int number, const QString& description) {
    ErrorLog::WriteToFile(QStringLiteral("Error(Socket) %1 (%2) in procedure SckChat_Error of Form frmMain")
                              .arg(number)
                              .arg(description));
    emit stateLine(QStringLiteral("socket error %1 (%2)").arg(number).arg(description));
    SckChat_Close();
}

void MessengerSession::SckChat_Close() {
    closeSocket();
    ResetConnection();
    StartAutoLogin();
    emit stateLine(QStringLiteral("connection closed; reconnecting every %1 s").arg(autoLoginSeconds()));
    emit statusChanged(QStringLiteral("connection lost; reconnecting every %1 s").arg(autoLoginSeconds()));
}

void MessengerSession::StopConnection() {
    online_ = false;
    closeSocket();
    tmrLogoutSensor.stop();
}

void MessengerSession::ResetConnection() {
    StopConnection();
    emit connectionReset();
}

void MessengerSession::StartAutoLogin() {
    // Enabling a running timer leaves its period where it is.
    if (!trmAutoLogin.isActive())
        trmAutoLogin.start();
}

void MessengerSession::tmrLogoutSensor_Timer() {
    tmrLogoutSensor.stop();
    SockSendData(PacketCode::KeepAlive, QString(), QStringLiteral("0"));
}

void MessengerSession::trmAutoLogin_Timer() {
    ConnectServer();
}
