#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <deque>

class QSocketNotifier;
class SimServer;

// Runs sim commands one line at a time, from a script file or from standard input. Commands that wait
// (sleep, wait, waitlogin, waitconnect) pause the runner without blocking the event loop; lines that arrive
// meanwhile queue up behind them.
class SimScript : public QObject {
    Q_OBJECT

public:
    // waitTimeoutMs bounds every wait; 0 lets a wait last forever.
    SimScript(SimServer& server, int waitTimeoutMs, QObject* parent = nullptr);

    // Queues the lines of a script file; "SIM script done" is printed when the last one has run.
    void runLines(const QStringList& lines);
    // Reads commands from standard input as they are typed. End of input just stops the reading.
    void readStandardInput();

signals:
    // The script asked to end the sim (quit: 0) or a wait ran out of time (3).
    void exitRequested(int status);

private:
    enum class Waiting { Nothing, Sleep, Packet, Login, Connect };

    struct Received {
        int code;
        QString body;
    };

    void append(const QString& line);
    void schedulePump();
    void pump();
    void execute(const QString& line);
    void beginWait(Waiting what);
    void endWait();
    bool takeMatchingPacket();
    void onPacket(int code, const QString& body);
    void onConnected();
    void onLoggedIn();
    void onWaitTimeout();
    void onStdinReadable();
    bool needBot();
    void stop(int status);

    SimServer& server_;
    int waitTimeoutMs_;
    QStringList queue_;
    bool pumpScheduled_ = false;
    bool stopped_ = false;
    bool scriptEnds_ = false;

    Waiting waiting_ = Waiting::Nothing;
    int waitCode_ = 0;
    QString waitText_;
    QTimer sleepTimer_;
    QTimer timeoutTimer_;

    // Packets from the bot not yet taken by a wait, oldest first.
    std::deque<Received> unconsumed_;
    int connectsSinceWait_ = 0;

    QSocketNotifier* stdinNotifier_ = nullptr;
    QByteArray stdinPartial_;
};
