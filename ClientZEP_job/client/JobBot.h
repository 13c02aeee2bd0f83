#pragma once

#include "Clock.h"
#include "CommandInterpreter.h"
#include "ContactList.h"
#include "DailyRecord.h"
#include "JobCatalogue.h"
#include "MessengerSession.h"
#include "ReportQueue.h"
#include "Scheduler.h"

#include <QObject>
#include <QString>
#include <QTimer>

// The bot's decisions: the answer to a chat line, the job a schedule tick or a queued command runs, and
// where each report goes, now or kept for the next login. It reads deployment.ini once per job run, passes
// what it read down to the job, and sends through the session. The timers `tmrSchedule` and `tmrWork` are
// the main window's; their handlers' errors are trapped as the window's.
class JobBot : public QObject {
    Q_OBJECT
public:
    JobBot(MessengerSession& session, const ContactList& contacts, const Clock& clock, const QString& folder,
           int scheduleMs, int workMs, QObject* parent = nullptr);

    // Who may start the jobs of the chat commands; every user until set.
    void setCommandUsers(const CommandRights& users) { commandUsers_ = users; }

    // The contact list of a login is in: the schedule runs from now, and what was kept goes out.
    void loggedIn();
    // The connection is gone: no tick runs until the next login.
    void loggedOut() { tmrSchedule.stop(); }

    void Proc_ChatCommand(const QString& text, const QString& header);
    // The daily schedule, once a minute while logged in with the contact list.
    void tmrSchedule_Timer();
    // The queued command job, once, after its acknowledgement has gone out.
    void tmrWork_Timer();
    // "test2": the DB backup report for the administrator, at any time.
    void cmdTest_Click();

    const CommandJob& commandJob() const { return job_; }
    const QTimer& scheduleTimer() const { return tmrSchedule; }
    const QTimer& workTimer() const { return tmrWork; }

signals:
    // As the window's: `reportRecipient` is the recipient when the line is about a report.
    void stateLine(const QString& line, const QString& reportRecipient = QString());
    void warningLine(const QString& line);
    // A job has started (its status words) and has ended, however it ended.
    void jobStarted(const QString& status);
    void jobEnded();

private:
    // Runs the jobs against `context`, each announced while it runs.
    JobCatalogue::Runner announced(const JobContext& context);
    // What a job run is given: the endpoints, and deployment.ini read once for the run.
    JobContext jobContext() const;
    // The schedule's entry of `minute`, unless it was handled already.
    void runMinute(const QDateTime& minute, const JobContext& context);
    // The daily entries whose minute passed today without a login, once, after this login: a report job runs
    // late, the others' recipients are told that they did not run. Off with deployment.ini's LateRun=off.
    void runMissed();
    // The one line that tells the removal's recipient that its minute passed without a run.
    static QString notRunNotice(const QString& minute, bool wasRunning);
    // A job's message, with a line for the operator. A report that finds no connection to go out on is kept
    // for the next login: in ReportQueue.txt, or in memory when that cannot be written.
    void sendReport(const QString& recipient, const QString& text, int code);
    // One report onto the connection; false when it cannot go out now.
    bool sendNow(const QString& recipient, const QString& text);
    // The reports kept while there was no connection, in order, as far as the connection takes them.
    void sendKeptReports();

    MessengerSession& session_;
    const ContactList& contacts_;
    const Clock& clock_;
    const QString folder_;
    ReportQueue::Store kept_;
    // What of today's schedule was handled, across restarts; and since when this process runs.
    DailyRecord record_;
    const QDateTime startedAt_;
    Scheduler::TickMinutes scheduleMinutes_;
    CommandJob job_;
    CommandRights commandUsers_;
    QTimer tmrSchedule;
    QTimer tmrWork;
};
