#include "frmMain.h"

#include "AnsiCodec.h"
#include "CommandJobRunner.h"
#include "ErrorLog.h"
#include "MachineId.h"
#include "MessageBox.h"
#include "NumericText.h"
#include "Process.h"
#include "ProgramInfo.h"
#include "ReportQueue.h"
#include "Scheduler.h"
#include "SiblingTool.h"
#include "VbError.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <poll.h>

namespace {

const QString Form = QStringLiteral("Form");
const QString FormName = QStringLiteral("frmMain");

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

} // namespace

frmMain::frmMain(quint16 messengerPort, Intervals intervals, const Clock& clock, QObject* parent)
    : QObject(parent), messengerPort_(messengerPort), clock_(clock), intervals_(intervals) {
    const auto setUp = [](QTimer& timer, int interval) {
        timer.setInterval(interval);
        timer.setTimerType(Qt::PreciseTimer);
    };
    setUp(tmrLogoutSensor, intervals.logoutSensor);
    setUp(trmAutoLogin, intervals.autoLogin);
    setUp(tmrSchedule, intervals.schedule);
    setUp(tmrWork, intervals.work);

    connect(&tmrLogoutSensor, &QTimer::timeout, this,
            [this] { guarded("tmrLogoutSensor_Timer", [this] { tmrLogoutSensor_Timer(); }); });
    connect(&trmAutoLogin, &QTimer::timeout, this,
            [this] { guarded("trmAutoLogin_Timer", [this] { trmAutoLogin_Timer(); }); });
    connect(&tmrWork, &QTimer::timeout, this,
            [this] { guarded("tmrWork_Timer", [this] { tmrWork_Timer(); }); });
    connect(&tmrSchedule, &QTimer::timeout, this,
            [this] { guarded("tmrSchedule_Timer", [this] { tmrSchedule_Timer(); }); });

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

frmMain::~frmMain() {
    closeSocket();
}

void frmMain::closeSocket() {
    // Our own closes are silent: only a close by the peer runs SckChat_Close.
    const QSignalBlocker block(SckChat);
    SckChat.abort();
}

void frmMain::guarded(const char* procedure, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ErrorLog::WriteToFile(VbErrors::trappedText(e, QLatin1String(procedure), Form, FormName));
    }
}

// ---- window ----

void frmMain::Form_Load() {
    // Each statement's error is logged and the next statement runs.
    guarded("Form_Load", [this] {
        caption_ += QStringLiteral(" v") + ProgramInfo::versionText();
        emit captionChanged(caption_);
    });
    guarded("Form_Load", [this] {
        // The bot account; a site may set its own in deployment.ini.
        const Deployment deployment = Deployment::load(ProgramInfo::folder());
        LoginId = deployment.LoginId;
        LoginPassword = deployment.LoginPassword;
    });
    guarded("Form_Load", [] {
        const QString folder = ProgramInfo::folder();
        // A link in the folder's place is no folder of ours: mkdir then fails on it and says so.
        const QFileInfo received(folder + QStringLiteral("/RECVFILE"));
        if (!received.isDir() || received.isSymLink()) {
            QDir::setCurrent(folder);
            if (!QDir(folder).mkdir(QStringLiteral("RECVFILE")))
                throw VbError(75, QString(), QStringLiteral("Path/File access error"));
        }
    });
    guarded("Form_Load", [this] { InitUserTree(); });
    guarded("Form_Load", [this] { ConnectServer(); });
}

void frmMain::Form_Unload() {
    StopConnection(false);
}

void frmMain::cmdClose_Click() {
    Form_Unload();
    emit unloaded();
}

void frmMain::mnuFile_Exit_Click() {
    cmdClose_Click();
}

void frmMain::cmdSend_Click(int index) {
    if (index != 5)
        return;
    Process::openFolder(ProgramInfo::folder() + QStringLiteral("/RECVFILE"));
}

void frmMain::InitUserTree() {
    contacts_.InitUserTree();
}

void frmMain::StopConnection(bool keepWindows) {
    online_ = false;
    closeSocket();
    tmrSchedule.stop();
    tmrLogoutSensor.stop();
    // The program has no other windows to unload when keepWindows is false.
    Q_UNUSED(keepWindows);
}

// ---- send path ----

void frmMain::SockSendData(int code, const QString& body, const QString& target) {
    if (SckChat.state() != QAbstractSocket::ConnectedState) {
        ErrorLog::WriteToFile(VbErrors::trappedText(
            40006,
            QStringLiteral("Wrong protocol or connection state for the requested transaction or request"),
            QStringLiteral("SockSendData"), QStringLiteral("Module"), QStringLiteral("modMain")));
        return;
    }
    const QByteArray bytes = AnsiCodec::fromUnicode(modZEPProtocol::MakePacket(code, body, target));
    if (SckChat.write(bytes) != bytes.size()) {
        ErrorLog::WriteToFile(VbErrors::trappedText(winsockNumber(SckChat.error()), SckChat.errorString(),
                                                    QStringLiteral("SockSendData"), QStringLiteral("Module"),
                                                    QStringLiteral("modMain")));
    }
}

void frmMain::SendChatMessage(const QString& target, const QString& text, int code) {
    SockSendData(code, text, target);
}

// ---- connection ----

int frmMain::socketState() const {
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

void frmMain::ConnectServer() {
    const int state = socketState();
    if (state == sckConnected || state == sckConnecting)
        return;
    closeSocket();
    emit stateLine(QStringLiteral("connecting to %1:%2").arg(modMain::ServerAddress).arg(messengerPort_));
    setConnectionStatus(
        QStringLiteral("connecting to %1:%2").arg(modMain::ServerAddress).arg(messengerPort_));
    SckChat.connectToHost(modMain::ServerAddress, messengerPort_);
}

QString frmMain::GetMacAddress() {
    try {
        return MachineId::macAddress();
    } catch (const std::exception& e) {
        MessageBox::show(VbErrors::trappedText(e, QStringLiteral("GetMacAddress"), Form, FormName));
    }
    return QString();
}

void frmMain::SckChat_Connect() {
    // Whatever a dropped connection left half-received must not swallow the first packet of this one.
    modZEPProtocol::ClearRecvBuffer(0);
    const QString mac = GetMacAddress();
    const QString serial = MachineId::driveSerial(QString());
    // The bot only answers the server's keep-alives; these bounds make a peer that vanished without a word
    // fail the socket, so the usual error, reset and reconnect follow.
    const QString refused = TcpKeepAlive::apply(SckChat.socketDescriptor(), intervals_.keepAlive);
    if (!refused.isEmpty())
        ErrorLog::WriteToFile(VbErrors::trappedText(VbErrors::InvalidProcedureCall, refused,
                                                    QStringLiteral("SckChat_Connect"), Form, FormName));
    emit stateLine(QStringLiteral("connected; sending login as %1").arg(LoginId));
    setConnectionStatus(
        QStringLiteral("connected to %1, logging in as %2").arg(modMain::ServerAddress, LoginId));
    SockSendData(50, LoginBody(LoginId, LoginPassword, mac, serial), QStringLiteral("0"));
}

QString frmMain::LoginBody(const QString& id, const QString& password, const QString& mac,
                           const QString& serial) {
    return id + QLatin1Char('/') + password + QLatin1Char('/') + mac + QLatin1Char('-') + serial;
}

void frmMain::SckChat_DataArrival() {
    SckChat_Receive(SckChat.readAll());
}

void frmMain::SckChat_Receive(const QByteArray& bytes) {
    modZEPProtocol::AppendRecvBuffer(bytes, 0);
    modZEPProtocol::DrainRecvBuffer(
        0, [this](qint16 code, const QString& body, const QString& header1, const QString&, const QString&) {
            // One bad packet must not cost the ones behind it.
            guarded("SckChat_DataArrival", [&] { dispatch(code, body, header1); });
        });
}

void frmMain::dispatch(qint16 code, const QString& body, const QString& header1) {
    switch (code) {
    case 59:
        tmrLogoutSensor.stop();
        tmrLogoutSensor.start();
        break;
    case 50:
        Proc_LoginResult(body);
        break;
    case 51:
        Proc_CL_List(body);
        break;
    case 10:
        Proc_CL_Online(body);
        break;
    case 11:
        Proc_CL_Offline(body);
        break;
    case 13:
        Proc_CL_CngStat(body);
        break;
    case 1:
        Proc_ChatCommand(body, header1);
        break;
    default:
        // Known codes without an action (2, 55, 30, 31, 32, 54, 56, 57, 22) and unknown ones alike.
        break;
    }
}

void frmMain::SckChat_Error(int number, const QString& description) {
    ErrorLog::WriteToFile(QStringLiteral("Error(Socket) %1 (%2) in procedure SckChat_Error of Form frmMain")
                              .arg(number)
                              .arg(description));
    emit stateLine(QStringLiteral("socket error %1 (%2)").arg(number).arg(description));
    SckChat_Close();
}

void frmMain::SckChat_Close() {
    closeSocket();
    ResetConnection();
    StartAutoLogin();
    emit stateLine(
        QStringLiteral("connection closed; reconnecting every %1 s").arg(trmAutoLogin.interval() / 1000.0));
    setConnectionStatus(
        QStringLiteral("connection lost; reconnecting every %1 s").arg(trmAutoLogin.interval() / 1000.0));
}

void frmMain::ResetConnection() {
    StopConnection(true);
    InitUserTree();
}

void frmMain::StartAutoLogin() {
    // Enabling a running timer leaves its period where it is.
    if (!trmAutoLogin.isActive())
        trmAutoLogin.start();
}

void frmMain::tmrLogoutSensor_Timer() {
    tmrLogoutSensor.stop();
    SockSendData(59, QString(), QStringLiteral("0"));
}

void frmMain::trmAutoLogin_Timer() {
    ConnectServer();
}

void frmMain::tmrSchedule_Timer() {
    // A late tick also runs the minutes it skipped, in order; one job's error does not cost the others.
    const JobContext context = jobContext();
    const JobCatalogue::Runner run = announced(context);
    for (const QDateTime& minute : scheduleMinutes_.due(clock_.now())) {
        guarded("tmrSchedule_Timer", [&] {
            const auto report = Scheduler::tmrSchedule_Timer(minute, contacts_.IsFewUsersOnline(), run);
            if (report)
                sendReport(report->recipient, report->text, Scheduler::ReportPacketCode);
        });
    }
}

void frmMain::cmdTest_Click() {
    guarded("cmdTest_Click", [this] {
        const JobContext context = jobContext();
        const Scheduler::Report report = Scheduler::cmdTest_Click(announced(context));
        sendReport(report.recipient, report.text, Scheduler::ReportPacketCode);
    });
}

JobContext frmMain::jobContext() const {
    return modMain::JobServers(clock_, Deployment::load(ProgramInfo::folder()));
}

void frmMain::sendReport(const QString& recipient, const QString& text, int code) {
    const QString firstLine = text.section(QStringLiteral("\r\n"), 0, 0);
    if (code == Scheduler::ReportPacketCode && !reportCanGoOut()) {
        if (ReportQueue::Keep(ProgramInfo::folder(), {recipient, text}))
            emit stateLine(
                QStringLiteral("report kept for the next login, to %1: %2").arg(recipient, firstLine),
                recipient);
        return;
    }
    SendChatMessage(recipient, text, code);
    emit stateLine(QStringLiteral("report sent to %1: %2").arg(recipient, firstLine), recipient);
}

void frmMain::setConnectionStatus(const QString& status) {
    connectionStatus_ = status;
    emit statusChanged(status);
}

JobCatalogue::Runner frmMain::announced(const JobContext& context) {
    return [this, &context](JobCatalogue::JobId id) {
        const JobCatalogue::Job& job = JobCatalogue::job(id);
        emit statusChanged(QStringLiteral("running %1").arg(job.status));
        // Back to the connection's state however the job ends.
        const auto restore = qScopeGuard([this] { emit statusChanged(connectionStatus_); });
        return job.run(context);
    };
}

bool frmMain::reportCanGoOut() {
    if (!online_ || SckChat.state() != QAbstractSocket::ConnectedState)
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

void frmMain::sendKeptReports() {
    for (const ReportQueue::Report& report : ReportQueue::TakeAll(ProgramInfo::folder()))
        sendReport(report.recipient, report.text, Scheduler::ReportPacketCode);
}

void frmMain::tmrWork_Timer() {
    // A one-shot: the queued command job runs from here, after its acknowledgement has gone out.
    tmrWork.stop();
    const JobContext context = jobContext();
    const auto message = CommandJobRunner::tmrWork_Timer(job_, announced(context));
    if (message)
        sendReport(message->recipient, message->text, message->code);
}

// ---- received packets ----

void frmMain::Proc_LoginResult(const QString& body) {
    if (body.startsWith(QLatin1Char('0'))) {
        ErrorLog::WriteToFile(QStringLiteral("로그인 실패: ") + body);
        emit stateLine(QStringLiteral("login refused: ") + body);
        setConnectionStatus(QStringLiteral("login as %1 refused; trying again every %2 s")
                                .arg(LoginId)
                                .arg(trmAutoLogin.interval() / 1000.0));
        return;
    }
    if (!body.startsWith(QLatin1Char('1')))
        return;
    trmAutoLogin.stop();
    // A short reply is taken as far as it goes; missing fields read as empty.
    const QStringList fields = body.split(QLatin1Char('\t'));
    modMain::MyUserId = NumericText::leadingNumberAs<qint32>(fields.value(1));
    modMain::MyName = fields.value(5);
    setMyInfo(QLatin1Char('[') +
              ContactList::GetDeptName(NumericText::leadingNumberAs<qint16>(fields.value(4))) +
              QStringLiteral("] ") + modMain::MyName);
    emit stateLine(QStringLiteral("logged in as %1 %2").arg(modMain::MyUserId).arg(lblMyInfo_));
}

void frmMain::Proc_CL_List(const QString& body) {
    contacts_.Proc_CL_List(body, modMain::MyUserId);
    setOnlineCountText(contacts_.OnlineCountText());
    emit stateLine(QStringLiteral("user list: %1 users, %2 online").arg(contacts_.UserCount).arg(lblCnt_));
    setConnectionStatus(
        QStringLiteral("logged in as %1 (%2), %3 users").arg(LoginId, lblMyInfo_).arg(contacts_.UserCount));
    emit userListReceived();
    SockSendData(10, QString::number(modMain::MyUserId) + QLatin1Char(';') + ProgramInfo::versionText(),
                 QStringLiteral("0"));
    online_ = true;
    // A second list on the same connection restarts the timer but must not forget the minutes covered.
    if (!tmrSchedule.isActive())
        scheduleMinutes_.start(clock_.now());
    tmrSchedule.start();
    sendKeptReports();
}

void frmMain::Proc_CL_Online(const QString& body) {
    if (contacts_.Proc_CL_Online(body, modMain::MyUserId)) {
        setOnlineCountText(contacts_.OnlineCountText());
        emit stateLine(QStringLiteral("online: %1 (%2)").arg(body.section(QLatin1Char(';'), 0, 0), lblCnt_));
    }
}

void frmMain::Proc_CL_Offline(const QString& body) {
    if (contacts_.Proc_CL_Offline(body, modMain::MyUserId)) {
        setOnlineCountText(contacts_.OnlineCountText());
        emit stateLine(QStringLiteral("offline: %1 (%2)").arg(body, lblCnt_));
    }
}

void frmMain::Proc_CL_CngStat(const QString& body) {
    contacts_.Proc_CL_CngStat(body, modMain::MyUserId);
}

void frmMain::Proc_ChatCommand(const QString& text, const QString& header) {
    const ChatCommandOutcome outcome = CommandInterpreter::Interpret(text, header, job_, commandUsers_);
    if (!outcome.refused.isEmpty()) {
        const QString warning = QStringLiteral("command refused: %1 from user %2, who is not in CommandUsers")
                                    .arg(outcome.refused.left(80), outcome.sender);
        // Straight to the file: the log's observer would tell the journal of an error.
        ErrorLog::WriteToFile(ProgramInfo::folder(), clock_.now(), warning);
        emit warningLine(warning);
    }
    if (outcome.startWebUpdate)
        SiblingTool::StartCodeUpdater(ProgramInfo::folder());
    if (outcome.send) {
        SendChatMessage(outcome.sender, outcome.reply, 1);
        emit stateLine(QStringLiteral("chat from %1: %2").arg(outcome.sender, text.left(80)));
    }
    if (outcome.startWorkTimer)
        tmrWork.start();
}

void frmMain::setMyInfo(const QString& text) {
    lblMyInfo_ = text;
    emit myInfoChanged(text);
}

void frmMain::setOnlineCountText(const QString& text) {
    lblCnt_ = text;
    emit onlineCountTextChanged(text);
}
