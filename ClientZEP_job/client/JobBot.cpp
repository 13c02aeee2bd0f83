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
    : QObject(parent), session_(session), contacts_(contacts), clock_(clock), folder_(folder), kept_(folder),
      record_(folder, clock.now()), startedAt_(clock.now()) {
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
    // After the login's handler: a job holds the thread.
    QTimer::singleShot(0, this, [this] { FormGuard::guarded("tmrSchedule_Timer", [this] { runMissed(); }); });
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
    // deployment.ini is read for a minute that has a job only: once per job run, not at every tick.
    std::optional<JobContext> context;
    for (const QDateTime& minute : scheduleMinutes_.due(clock_.now())) {
        record_.toDay(minute);
        if (!Scheduler::rowAt(minute))
            continue;
        if (!context)
            context.emplace(jobContext());
        runMinute(minute, *context);
    }
}

// The callers have moved the record on to the minute's day.
void JobBot::runMinute(const QDateTime& minute, const JobContext& context) {
    // Already run after this login, at its minute or late.
    if (context.settings.LateRun && record_.handled(minute.time()))
        return;
    FormGuard::guarded("tmrSchedule_Timer", [&] {
        const auto report =
            Scheduler::tmrSchedule_Timer(minute, contacts_.IsFewUsersOnline(), announced(context));
        if (report)
            sendReport(report->recipient, report->text, Scheduler::ReportPacketCode);
        // Marked once its report has gone out or is kept: a crash before costs a second run, not a report.
        if (Scheduler::rowAt(minute))
            record_.mark(minute.time());
    });
}

void JobBot::runMissed() {
    if (!tmrSchedule.isActive())
        return; // logged out again: the next login does it
    const QDateTime now = clock_.now();
    record_.toDay(now);
    const JobContext context = jobContext();
    if (!context.settings.LateRun)
        return;
    const QDateTime thisMinute = now.addMSecs(-(now.time().second() * 1000 + now.time().msec()));
    for (const JobCatalogue::ScheduleRow& row : record_.missed(now)) {
        // The minute of the login is not late: its entry runs as at its minute, gate and all (the schedule's
        // ticks only begin with the next minute).
        if (row.time == thisMinute.time()) {
            runMinute(thisMinute, context);
            continue;
        }
        const QString minute = row.time.toString(QStringLiteral("HH:mm"));
        const bool wasRunning = startedAt_ <= QDateTime(now.date(), row.time);
        const QString state = wasRunning ? QStringLiteral("not logged in") : QStringLiteral("not running");
        const JobCatalogue::Job& job = JobCatalogue::job(row.job);
        FormGuard::guarded("tmrSchedule_Timer", [&] {
            if (!row.runsLate) {
                emit warningLine(
                    QStringLiteral("%1 of %2 did not run: the bot was %3 then; it is not run late, "
                                   "and %4 is told")
                        .arg(job.status, minute, state, row.recipient));
                sendReport(row.recipient, notRunNotice(minute, wasRunning), Scheduler::ReportPacketCode);
            } else {
                const QString line =
                    QStringLiteral("running %1 late: the bot was %2 at %3").arg(job.status, state, minute);
                emit warningLine(line);
                emit jobStarted(line);
                const auto restore = qScopeGuard([this] { emit jobEnded(); });
                sendReport(row.recipient, job.run(context).report, Scheduler::ReportPacketCode);
            }
            record_.mark(row.time);
        });
    }
}

QString JobBot::notRunNotice(const QString& minute, bool wasRunning) {
    return QStringLiteral(
               "[FTP의 _2제거 일괄작업] 오늘 %1 예정 작업이 실행되지 않았습니다: 그 시각에 잡서버가 %2. "
               "웹 사이트를 바꾸는 작업이라 늦게 실행하지 않습니다. 필요하면 /_2rm 으로 실행하세요.")
        .arg(minute, wasRunning ? QStringLiteral("메신저에 로그인되어 있지 않았습니다")
                                : QStringLiteral("실행되고 있지 않았습니다"));
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

namespace {

QString firstLineOf(const QString& text) {
    return text.section(QStringLiteral("\r\n"), 0, 0);
}

} // namespace

void JobBot::sendReport(const QString& recipient, const QString& text, int code) {
    if (code != Scheduler::ReportPacketCode) {
        session_.SockSendData(code, text, recipient);
        emit stateLine(QStringLiteral("report sent to %1: %2").arg(recipient, firstLineOf(text)), recipient);
        return;
    }
    // What waited goes first, so that the reports arrive in the order they were made.
    sendKeptReports();
    if (!kept_.next() && sendNow(recipient, text))
        return;
    QString why;
    if (kept_.keep({recipient, text}, &why))
        emit stateLine(
            QStringLiteral("report kept for the next login, to %1: %2").arg(recipient, firstLineOf(text)),
            recipient);
    else
        emit warningLine(QStringLiteral("report held in memory for the next login (%1 cannot be written: %2; "
                                        "%3 held), to %4: %5")
                             .arg(ReportQueue::FileName(), why)
                             .arg(kept_.heldInMemory())
                             .arg(recipient, firstLineOf(text)));
}

bool JobBot::sendNow(const QString& recipient, const QString& text) {
    if (!session_.reportCanGoOut() || !session_.SockSendData(Scheduler::ReportPacketCode, text, recipient))
        return false;
    emit stateLine(QStringLiteral("report sent to %1: %2").arg(recipient, firstLineOf(text)), recipient);
    return true;
}

void JobBot::sendKeptReports() {
    while (const auto report = kept_.next()) {
        if (!sendNow(report->recipient, report->text))
            return;
        kept_.sent();
    }
}
