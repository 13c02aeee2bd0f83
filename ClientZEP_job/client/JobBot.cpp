#include "JobBot.h"

#include "CommandJobRunner.h"
#include "ErrorLog.h"
#include "FormGuard.h"
#include "ReportQueue.h"
#include "SiblingTool.h"
#include "modMain.h"
#include "modZEPProtocol.h"

#include <QScopeGuard>

namespace PacketCode = modZEPProtocol::PacketCode;

// The jobs' reports and chat lines go out as the protocol names them.
static_assert(JobCatalogue::ReportPacketCode == PacketCode::Report);
static_assert(JobCatalogue::ChatPacketCode == PacketCode::ChatMessage);

JobBot::JobBot(MessengerSession& session, const ContactList& contacts, const Clock& clock,
               const QString& folder, int scheduleMs, int workMs, QObject* parent)
    : QObject(parent), session_(session), contacts_(contacts), clock_(clock), folder_(folder) {
    const auto setUp = [this](QTimer& timer, int interval, const char* handler, void (JobBot::*run)()) {
        timer.setInterval(interval);
        timer.setTimerType(Qt::PreciseTimer);
        connect(&timer, &QTimer::timeout, this,
                [this, handler, run] { FormGuard::guarded(handler, [this, run] { (this->*run)(); }); });
    };
    setUp(tmrSchedule, scheduleMs, "tmrSchedule_Timer", &JobBot::tmrSchedule_Timer);
    setUp(tmrWork, workMs, "tmrWork_Timer", &JobBot::tmrWork_Timer);
}

void JobBot::loggedIn() {
    // A second list on the same connection restarts the timer but must not forget the minutes covered.
    if (!tmrSchedule.isActive())
        scheduleMinutes_.start(clock_.now());
    tmrSchedule.start();
    sendKeptReports();
}

void JobBot::Proc_ChatCommand(const QString& text, const QString& header) {
    const ChatCommandOutcome outcome = CommandInterpreter::Interpret(text, header, job_, commandUsers_);
    if (!outcome.refused.isEmpty()) {
        const QString warning = QStringLiteral("command refused: %1 from user %2, who is not in CommandUsers")
                                    .arg(outcome.refused.left(80), outcome.sender);
        // Straight to the file: the log's observer would tell the journal of an error.
        ErrorLog::WriteToFile(folder_, clock_.now(), warning);
        emit warningLine(warning);
    }
    // A tool that is there but may not run: the requester hears why instead of the empty reply.
    const QString refusal = outcome.startWebUpdate ? SiblingTool::StartCodeUpdater(folder_) : QString();
    if (outcome.send) {
        session_.SockSendData(PacketCode::ChatMessage, refusal.isEmpty() ? outcome.reply : refusal,
                              outcome.sender);
        emit stateLine(QStringLiteral("chat from %1: %2").arg(outcome.sender, text.left(80)));
    }
    if (outcome.startWorkTimer)
        tmrWork.start();
}

void JobBot::tmrSchedule_Timer() {
    // A late tick also runs the minutes it skipped, in order; one job's error does not cost the others.
    const JobContext context = jobContext();
    const JobCatalogue::Runner run = announced(context);
    for (const QDateTime& minute : scheduleMinutes_.due(clock_.now())) {
        FormGuard::guarded("tmrSchedule_Timer", [&] {
            const auto report = Scheduler::tmrSchedule_Timer(minute, contacts_.IsFewUsersOnline(), run);
            if (report)
                sendReport(report->recipient, report->text, Scheduler::ReportPacketCode);
        });
    }
}

void JobBot::tmrWork_Timer() {
    // A one-shot: the queued command job runs from here, after its acknowledgement has gone out.
    tmrWork.stop();
    const JobContext context = jobContext();
    const auto message = CommandJobRunner::tmrWork_Timer(job_, announced(context));
    if (message)
        sendReport(message->recipient, message->text, message->code);
}

void JobBot::cmdTest_Click() {
    FormGuard::guarded("cmdTest_Click", [this] {
        const JobContext context = jobContext();
        const Scheduler::Report report = Scheduler::cmdTest_Click(announced(context));
        sendReport(report.recipient, report.text, Scheduler::ReportPacketCode);
    });
}

JobContext JobBot::jobContext() const {
    return modMain::JobServers(clock_, Deployment::load(folder_));
}

JobCatalogue::Runner JobBot::announced(const JobContext& context) {
    return [this, &context](JobCatalogue::JobId id) {
        const JobCatalogue::Job& job = JobCatalogue::job(id);
        emit jobStarted(QStringLiteral("running %1").arg(job.status));
        // Back to the connection's state however the job ends.
        const auto restore = qScopeGuard([this] { emit jobEnded(); });
        return job.run(context);
    };
}

void JobBot::sendReport(const QString& recipient, const QString& text, int code) {
    const QString firstLine = text.section(QStringLiteral("\r\n"), 0, 0);
    if (code == Scheduler::ReportPacketCode && !session_.reportCanGoOut()) {
        if (ReportQueue::Keep(folder_, {recipient, text}))
            emit stateLine(
                QStringLiteral("report kept for the next login, to %1: %2").arg(recipient, firstLine),
                recipient);
        return;
    }
    session_.SockSendData(code, text, recipient);
    emit stateLine(QStringLiteral("report sent to %1: %2").arg(recipient, firstLine), recipient);
}

void JobBot::sendKeptReports() {
    for (const ReportQueue::Report& report : ReportQueue::TakeAll(folder_))
        sendReport(report.recipient, report.text, Scheduler::ReportPacketCode);
}
