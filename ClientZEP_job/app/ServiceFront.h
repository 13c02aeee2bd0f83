#pragma once

#include <QObject>
#include <QTimer>

class QSocketNotifier;
class frmMain;

// The bot under a service manager (systemd, Type=notify): "READY=1" once the event loop runs, "STATUS=" as
// its state changes, and a watchdog fed by the event loop, so that only a bot whose loop is stuck is
// restarted. With or without a manager, SIGTERM and SIGINT end the bot as closing its window does: the socket
// closed, the timers stopped, one state line.
class ServiceFront : public QObject {
    Q_OBJECT
public:
    explicit ServiceFront(frmMain& form);
    ~ServiceFront() override;

    // When standard error is the journal: the error log's entries go there as errors, and message boxes as
    // errors ("Error ..." texts, the trapped ones) or warnings. Call before anything may be logged.
    static void routeToJournal();

private:
    void stop(int signal);

    frmMain& form_;
    QTimer watchdog_;
    QSocketNotifier* signals_ = nullptr;
};
