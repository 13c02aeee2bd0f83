#include "frmMain.h"

#include "CommandJobRunner.h"
#include "ErrorLog.h"
#include "FormGuard.h"
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

namespace PacketCode = modZEPProtocol::PacketCode;

// The scheduler's reports go out as what the protocol calls a report.
static_assert(Scheduler::ReportPacketCode == PacketCode::Report);

frmMain::frmMain(quint16 messengerPort, Intervals intervals, const Clock& clock, QObject* parent)
    : QObject(parent), clock_(clock),
      session_(messengerPort, intervals.logoutSensor, intervals.autoLogin, intervals.keepAlive) {
    const auto setUp = [](QTimer& timer, int interval) {
        timer.setInterval(interval);
        timer.setTimerType(Qt::PreciseTimer);
    };
    setUp(tmrSchedule, intervals.schedule);
    setUp(tmrWork, intervals.work);

    connect(&tmrWork, &QTimer::timeout, this,
            [this] { guarded("tmrWork_Timer", [this] { tmrWork_Timer(); }); });
    connect(&tmrSchedule, &QTimer::timeout, this,
            [this] { guarded("tmrSchedule_Timer", [this] { tmrSchedule_Timer(); }); });

    connect(&session_, &MessengerSession::stateLine, this,
            [this](const QString& line) { emit stateLine(line); });
    connect(&session_, &MessengerSession::statusChanged, this, &frmMain::setConnectionStatus);
    connect(&session_, &MessengerSession::connectionReset, this, [this] {
        guarded("ResetConnection", [this] {
            StopConnection(true);
            InitUserTree();
        });
    });
    // The packets, each trapped on its own as the receive loop's.
    const auto handle = [this](auto packet, auto handler) {
        connect(&session_, packet, this, [this, handler](const auto&... fields) {
            guarded("SckChat_DataArrival", [&] { (this->*handler)(fields...); });
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

void frmMain::guarded(const char* procedure, const std::function<void()>& handler) {
    FormGuard::guarded(procedure, handler);
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
        session_.setLogin(deployment.LoginId, deployment.LoginPassword);
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
    guarded("Form_Load", [this] {
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
    tmrSchedule.stop();
    // The program has no other windows to unload when keepWindows is false.
    Q_UNUSED(keepWindows);
}

// ---- send path ----

void frmMain::SendChatMessage(const QString& target, const QString& text, int code) {
    SockSendData(code, text, target);
}

// ---- the bot ----

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
    return session_.reportCanGoOut();
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
        SendChatMessage(outcome.sender, outcome.reply, PacketCode::ChatMessage);
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
