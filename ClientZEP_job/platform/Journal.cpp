#include "Journal.h"

#include <QtEndian>
#include <QtGlobal>
#include <algorithm>
#include <iterator>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Journal {
namespace {

const char SocketPath[] = "/run/systemd/journal/socket";

void appendField(QByteArray& out, const QByteArray& name, const QByteArray& value) {
    out += name;
    out += '\n';
    const quint64 size = qToLittleEndian<quint64>(quint64(value.size()));
    out.append(reinterpret_cast<const char*>(&size), sizeof size);
    out += value;
    out += '\n';
}

} // namespace

bool standardErrorIsJournal() {
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = stream.indexOf(':');
    if (colon <= 0)
        return false;
    bool devOk = false;
    bool inoOk = false;
    const qulonglong device = stream.left(colon).toULongLong(&devOk);
    const qulonglong inode = stream.mid(colon + 1).toULongLong(&inoOk);
    struct stat status {};
    if (!devOk || !inoOk || ::fstat(STDERR_FILENO, &status) != 0)
        return false;
    return qulonglong(status.st_dev) == device && qulonglong(status.st_ino) == inode;
}

QByteArray entry(const QByteArray& identifier, Priority priority, const QString& message,
                 const Fields& fields) {
    QByteArray out;
    appendField(out, "MESSAGE", message.toUtf8());
    appendField(out, "PRIORITY", QByteArray::number(int(priority)));
    appendField(out, "SYSLOG_IDENTIFIER", identifier);
    for (const auto& [name, value] : fields)
        appendField(out, name, value);
    return out;
}

bool send(const QByteArray& identifier, Priority priority, const QString& message, const Fields& fields) {
    const QByteArray datagram = entry(identifier, priority, message, fields);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    static_assert(sizeof SocketPath <= sizeof address.sun_path);
    std::copy(std::begin(SocketPath), std::end(SocketPath), address.sun_path);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const ssize_t sent = ::sendto(fd, datagram.constData(), datagram.size(), MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == datagram.size();
}

} // namespace Journal
