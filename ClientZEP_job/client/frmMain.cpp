#include "frmMain.h"

#include "ErrorLog.h"
#include "FormGuard.h"
#include "NumericText.h"
#include "Process.h"
#include "ProgramInfo.h"
#include "VbError.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <QDir>
#include <QFileInfo>

namespace PacketCode = modZEPProtocol::PacketCode;

frmMain::frmMain(quint16 messengerPort, Intervals intervals, const Clock& clock, QObject* parent)
    : QObject(parent),
      session_(messengerPort, intervals.logoutSensor, intervals.autoLogin, intervals.keepAlive),
      bot_(session_, contacts_, clock, ProgramInfo::folder(), intervals.schedule, intervals.work) {
    // The program's own account until start-up passes the site's.
    const Deployment defaults = Deployment::defaults();
    session_.setLogin(defaults.LoginId, defaults.LoginPassword);
    connect(&bot_, &JobBot::stateLine, this, &frmMain::stateLine);
    connect(&bot_, &JobBot::warningLine, this, &frmMain::warningLine);
    // A job's status lasts while it runs; then the connection's is back.
    connect(&bot_, &JobBot::jobStarted, this, &frmMain::statusChanged);
    connect(&bot_, &JobBot::jobEnded, this, [this] { emit statusChanged(connectionStatus_); });

    connect(&session_, &MessengerSession::stateLine, this,
            [this](const QString& line) { emit stateLine(line); });
    connect(&session_, &MessengerSession::statusChanged, this, &frmMain::setConnectionStatus);
    connect(&session_, &MessengerSession::connectionReset, this, [this] {
        FormGuard::guarded("ResetConnection", [this] {
            StopConnection(true);
            InitUserTree();
        });
    });
    // The packets, each trapped on its own as the receive loop's.
    const auto handle = [this](auto packet, auto handler) {
        connect(&session_, packet, this, [this, handler](const auto&... fields) {
            FormGuard::guarded("SckChat_DataArrival", [&] { (this->*handler)(fields...); });
        });
    };
    handle(&MessengerSession::loginResult, &frmMain::Proc_LoginResult);
    handle(&MessengerSession::userList, &frmMain::Proc_CL_List);
    handle(&MessengerSession::userOnline, &frmMain::Proc_CL_Online);
    handle(&MessengerSession::userOffline, &frmMain::Proc_CL_Offline);
    handle(&MessengerSession::userStatusChanged, &frmMain::Proc_CL_CngStat);
    handle(&MessengerSession::chatLine, &frmMain::Proc_ChatCommand);
}

frmMain::~frmMain() = default;

// ---- window ----

void frmMain::Form_Load() {
    // Each statement's error is logged and the next statement runs.
    FormGuard::guarded("Form_Load", [this] {
        caption_ += QStringLiteral(" v") + ProgramInfo::versionText();
        emit captionChanged(caption_);
    });
    FormGuard::guarded("Form_Load", [] {
        const QString folder = ProgramInfo::folder();
        // A link in the folder's place is no folder of ours: mkdir then fails on it and says so.
        const QFileInfo received(folder + QStringLiteral("/RECVFILE"));
        if (!received.isDir() || received.isSymLink()) {
            QDir::setCurrent(folder);
            if (!QDir(folder).mkdir(QStringLiteral("RECVFILE")))
                throw VbError(75, QString(), QStringLiteral("Path/File access error"));
        }
    });
    FormGuard::guarded("Form_Load", [this] { InitUserTree(); });
    FormGuard::guarded("Form_Load", [this] {
        session_.setServer(modMain::ServerAddress);
        ConnectServer();
    });
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
    session_.StopConnection();
    bot_.loggedOut();
    // The program has no other windows to unload when keepWindows is false.
    Q_UNUSED(keepWindows);
}

// ---- send path ----

void frmMain::SendChatMessage(const QString& target, const QString& text, int code) {
    SockSendData(code, text, target);
}

void frmMain::setConnectionStatus(const QString& status) {
    connectionStatus_ = status;
    emit statusChanged(status);
}

// ---- received packets ----

void frmMain::Proc_LoginResult(const QString& body) {
    if (body.startsWith(QLatin1Char('0'))) {
        ErrorLog::WriteToFile(QStringLiteral("로그인 실패: ") + body);
        emit stateLine(QStringLiteral("login refused: ") + body);
        setConnectionStatus(QStringLiteral("login as %1 refused; trying again every %2 s")
                                .arg(loginId())
                                .arg(autoLoginTimer().interval() / 1000.0));
        return;
    }
    if (!body.startsWith(QLatin1Char('1')))
        return;
    session_.StopAutoLogin();
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
        QStringLiteral("logged in as %1 (%2), %3 users").arg(loginId(), lblMyInfo_).arg(contacts_.UserCount));
    emit userListReceived();
    SockSendData(PacketCode::VersionReport,
                 QString::number(modMain::MyUserId) + QLatin1Char(';') + ProgramInfo::versionText(),
                 QStringLiteral("0"));
    session_.setOnline();
    bot_.loggedIn();
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

void frmMain::setMyInfo(const QString& text) {
    lblMyInfo_ = text;
    emit myInfoChanged(text);
}

void frmMain::setOnlineCountText(const QString& text) {
    lblCnt_ = text;
    emit onlineCountTextChanged(text);
}
