#include "ServiceFront.h"

#include "ErrorLog.h"
#include "Journal.h"
#include "MessageBox.h"
#include "ServiceManager.h"
#include "Startup.h"
#include "frmMain.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The signal handler's only work: one byte into a pipe that the event loop watches.
int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

class JournalMessageBox : public MessageBoxService {
public:
    void show(const QString& text) override {
        Startup::stateLine(QStringLiteral("[message box] ") + text,
                           text.startsWith(QLatin1String("Error ")) ? Journal::Err : Journal::Warning);
    }
};

} // namespace

void ServiceFront::routeToJournal() {
    if (!Journal::standardErrorIsJournal())
        return;
    static JournalMessageBox boxes;
    MessageBox::install(&boxes);
    ErrorLog::setObserver([](const QString& message) { Startup::stateLine(message, Journal::Err); });
}

ServiceFront::ServiceFront(frmMain& form) : QObject(&form), form_(form) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        struct sigaction action {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    if (signalPipe[0] >= 0) {
        signals_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
        connect(signals_, &QSocketNotifier::activated, this, [this] {
            unsigned char byte = 0;
            if (::read(signalPipe[0], &byte, 1) == 1)
                stop(byte);
        });
    }

    if (!ServiceManager::active())
        return;
    connect(&form, &frmMain::statusChanged, this,
            [](const QString& status) { ServiceManager::notify("STATUS=" + status.toUtf8()); });
    // A zero-time timer fires once the event loop has taken over.
    QTimer::singleShot(0, this, [] { ServiceManager::notify("READY=1"); });
    const auto timeout = ServiceManager::watchdogTimeout();
    if (timeout.count() > 0) {
        // Well inside the timeout, so a busy moment of the loop is no reason for a restart.
        watchdog_.setInterval(std::max<qint64>(timeout.count() / 3, 1));
        connect(&watchdog_, &QTimer::timeout, this, [] { ServiceManager::feedWatchdog(); });
        watchdog_.start();
    }
}

ServiceFront::~ServiceFront() {
    if (signalPipe[0] >= 0) {
        ::signal(SIGTERM, SIG_DFL);
        ::signal(SIGINT, SIG_DFL);
    }
}

void ServiceFront::stop(int signal) {
    if (ServiceManager::active())
        ServiceManager::notify("STOPPING=1\nSTATUS=stopping");
    Startup::stateLine(QStringLiteral("%1: closing the connection and ending")
                           .arg(signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGINT")));
    form_.cmdClose_Click();
}
