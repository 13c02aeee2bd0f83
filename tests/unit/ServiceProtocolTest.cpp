// What the bot tells a service manager and the journal, received on real sockets: the datagrams of the notify
// protocol (a path and an abstract name), the watchdog's period for this process only, and the journal's
// native entry with fields whose values may hold any byte.

#include "Journal.h"
#include "QStringPrinter.h"
#include "ServiceManager.h"

#include <QTemporaryDir>
#include <QtEndian>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

// One datagram socket bound to `name` (a path, or "@" + an abstract name), and what arrives on it.
class Receiver {
public:
    explicit Receiver(const QByteArray& name) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::memcpy(address.sun_path, name.constData(), name.size());
        if (name.startsWith('@'))
            address.sun_path[0] = '\0';
        bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address),
                        socklen_t(offsetof(sockaddr_un, sun_path) + name.size())) == 0;
        timeval wait{2, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    }
    ~Receiver() { ::close(fd_); }
    bool bound() const { return bound_; }
    QByteArray next() {
        char buffer[4096];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        return n < 0 ? QByteArray("(nothing)") : QByteArray(buffer, int(n));
    }

private:
    int fd_ = -1;
    bool bound_ = false;
};

class Environment {
public:
    Environment(const char* name, const QByteArray& value)
        : name_(name), old_(qgetenv(name)), had_(qEnvironmentVariableIsSet(name)) {
        qputenv(name, value);
    }
    ~Environment() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    QByteArray old_;
    bool had_;
};

TEST(ServiceNotifyTest, StatesReachThePathOrAbstractSocketNamed) {
    QTemporaryDir dir;
    const QByteArray path = (dir.path() + QStringLiteral("/notify")).toUtf8();
    const QByteArray abstract = "@zepjob-notify-test-" + QByteArray::number(::getpid());
    for (const QByteArray& name : {path, abstract}) {
        Receiver receiver(name);
        ASSERT_TRUE(receiver.bound()) << name.constData();
        const Environment socket("NOTIFY_SOCKET", name);
        EXPECT_TRUE(ServiceManager::notify("READY=1"));
        EXPECT_EQ(receiver.next(), "READY=1");
        EXPECT_TRUE(ServiceManager::notify("STATUS=logged in as jobserver ([기술개발팀] 잡서버)"));
        EXPECT_EQ(QString::fromUtf8(receiver.next()),
                  QStringLiteral("STATUS=logged in as jobserver ([기술개발팀] 잡서버)"));
    }
    // No manager, or one that is not listening: nothing happens, and the caller is told.
    for (const char* name : {"", "relative/path", "@", "/nonexistent/folder/notify"}) {
        const Environment socket("NOTIFY_SOCKET", name);
        EXPECT_FALSE(ServiceManager::notify("READY=1")) << name;
    }
}

TEST(ServiceNotifyTest, TheWatchdogPeriodIsForThisProcessOnly) {
    const QByteArray self = QByteArray::number(::getpid());
    struct Case {
        const char* usec;
        QByteArray pid; // empty: not set
        long long ms;
    };
    const Case cases[] = {
        {"180000000", "", 180000},
        {"180000000", self, 180000},
        {"180000000", "1", 0},
        {"0", "", 0},
        {"", "", 0},
        {"abc", "", 0},
        {"500", "", 1},
    };
    for (const Case& c : cases) {
        const Environment usec("WATCHDOG_USEC", c.usec);
        const Environment pid("WATCHDOG_PID", c.pid);
        EXPECT_EQ(ServiceManager::watchdogTimeout().count(), c.ms) << c.usec << " pid " << c.pid.constData();
    }
}

// One field of the binary form: name, LF, the value's size as 64-bit little endian, the value, LF.
QByteArray field(const QByteArray& name, const QByteArray& value) {
    const quint64 size = qToLittleEndian<quint64>(quint64(value.size()));
    return name + '\n' + QByteArray(reinterpret_cast<const char*>(&size), 8) + value + '\n';
}

TEST(JournalTest, AnEntryCarriesMessagePriorityIdentifierAndFields) {
    const QByteArray entry =
        Journal::entry("ClientZEP_job", Journal::Err, QStringLiteral("로그인 실패: 0\nsecond line"),
                       {{"ZEPJOB_RECIPIENT", "92"}});
    EXPECT_EQ(entry, field("MESSAGE", QStringLiteral("로그인 실패: 0\nsecond line").toUtf8()) +
                         field("PRIORITY", "3") + field("SYSLOG_IDENTIFIER", "ClientZEP_job") +
                         field("ZEPJOB_RECIPIENT", "92"));
    EXPECT_EQ(Journal::entry("x", Journal::Info, QString(), {}),
              field("MESSAGE", "") + field("PRIORITY", "6") + field("SYSLOG_IDENTIFIER", "x"));
}

TEST(JournalTest, StandardErrorIsTheJournalOnlyWhenItsStreamIsNamed) {
    struct stat status {};
    ASSERT_EQ(::fstat(STDERR_FILENO, &status), 0);
    const QByteArray own =
        QByteArray::number(qulonglong(status.st_dev)) + ':' + QByteArray::number(qulonglong(status.st_ino));
    const QByteArray other = QByteArray::number(qulonglong(status.st_dev)) + ':' +
                             QByteArray::number(qulonglong(status.st_ino) + 1);
    for (const auto& [value, expected] : {std::pair{own, true},
                                          {other, false},
                                          {QByteArray(), false},
                                          {QByteArray("12"), false},
                                          {QByteArray("a:b"), false}}) {
        const Environment stream("JOURNAL_STREAM", value);
        EXPECT_EQ(Journal::standardErrorIsJournal(), expected) << value.constData();
    }
}

} // namespace
