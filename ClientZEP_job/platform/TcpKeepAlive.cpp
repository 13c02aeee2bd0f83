#include "TcpKeepAlive.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace TcpKeepAlive {

QString apply(qintptr descriptor, const Bounds& bounds) {
    struct Option {
        int level;
        int name;
        int value;
        const char* label;
    };
    const Option options[] = {
        {SOL_SOCKET, SO_KEEPALIVE, 1, "SO_KEEPALIVE"},
        {IPPROTO_TCP, TCP_KEEPIDLE, bounds.idleSeconds, "TCP_KEEPIDLE"},
        {IPPROTO_TCP, TCP_KEEPINTVL, bounds.intervalSeconds, "TCP_KEEPINTVL"},
        {IPPROTO_TCP, TCP_KEEPCNT, bounds.probeCount, "TCP_KEEPCNT"},
        {IPPROTO_TCP, TCP_USER_TIMEOUT, bounds.userTimeoutMs, "TCP_USER_TIMEOUT"},
    };
    for (const Option& o : options) {
        if (::setsockopt(int(descriptor), o.level, o.name, &o.value, sizeof o.value) != 0)
            return QStringLiteral("setsockopt %1: %2")
                .arg(QLatin1String(o.label), QString::fromLocal8Bit(std::strerror(errno)));
    }
    return QString();
}

} // namespace TcpKeepAlive
