#pragma once

#include "Clock.h"
#include "CommandInterpreter.h"
#include "ContactList.h"
#include "JobCatalogue.h"
#include "MessengerSession.h"
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
    // A job's message, with a line for the operator. A report that finds no connection to go out on is kept
    // for the next login.
    void sendReport(const QString& recipient, const QString& text, int code);
    // The reports kept while there was no connection, in order.
    void sendKeptReports();

    MessengerSession& session_;
    const ContactList& contacts_;
    const Clock& clock_;
    const QString folder_;
    Scheduler::TickMinutes scheduleMinutes_;
    CommandJob job_;
    CommandRights commandUsers_;
    QTimer tmrSchedule;
    QTimer tmrWork;
};
