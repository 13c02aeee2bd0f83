#include "ServiceManager.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtGlobal>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ServiceManager {

bool active() {
    return !qEnvironmentVariableIsEmpty("INVOCATION_ID") || !qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

bool notify(const QByteArray& state) {
    const QByteArray socketName = qgetenv("NOTIFY_SOCKET");
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketName.size() < 2 || std::size_t(socketName.size()) >= sizeof(address.sun_path) ||
        (socketName[0] != '/' && socketName[0] != '@'))
        return false;
    std::memcpy(address.sun_path, socketName.constData(), socketName.size());
    if (address.sun_path[0] == '@')
        address.sun_path[0] = '\0'; // an abstract socket: its name is counted, not terminated
    const socklen_t length = socklen_t(offsetof(sockaddr_un, sun_path) + socketName.size());
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = ::sendto(fd, state.constData(), state.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), length);
    ::close(fd);
    return sent == state.size();
}

std::chrono::milliseconds watchdogTimeout() {
    bool ok = false;
    const qulonglong usec = qEnvironmentVariable("WATCHDOG_USEC").toULongLong(&ok);
    if (!ok || usec == 0)
        return std::chrono::milliseconds(0);
    const QString pid = qEnvironmentVariable("WATCHDOG_PID");
    if (!pid.isEmpty() && pid.toLongLong() != ::getpid())
        return std::chrono::milliseconds(0); // meant for another process (a parent that started us)
    return std::chrono::milliseconds(qMax<qulonglong>(usec / 1000, 1));
}

void feedWatchdog() {
    static const std::chrono::milliseconds timeout = watchdogTimeout();
    if (timeout.count() == 0)
        return;
    static QElapsedTimer sinceLast;
    if (sinceLast.isValid() && sinceLast.elapsed() < timeout.count() / 10)
        return;
    if (notify("WATCHDOG=1"))
        sinceLast.start();
}

QByteArray encodeArguments(const QStringList& arguments) {
    return QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact);
}

std::optional<QStringList> decodeArguments(const QByteArray& text) {
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList arguments;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        arguments << value.toString();
    }
    return arguments;
}

} // namespace ServiceManager
