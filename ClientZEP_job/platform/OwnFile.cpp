#include "OwnFile.h"

#include <QFile>
#include <QRandomGenerator>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace OwnFile {
namespace {

QString reason(int error) {
    if (error == ELOOP)
        return QStringLiteral("a link is in the file's place");
    return QString::fromLocal8Bit(std::strerror(error));
}

// Every byte, through short writes and signals.
bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

int openPlain(const QString& path, bool followLink, struct stat* status) {
    const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (followLink ? 0 : O_NOFOLLOW);
    const int fd = ::open(QFile::encodeName(path).constData(), flags);
    if (fd < 0)
        return -1;
    struct stat own {};
    struct stat& st = status ? *status : own;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

std::optional<QByteArray> readAll(int fd, qsizetype bound) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > bound)
        return std::nullopt;
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + done, size_t(bytes.size() - done), off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return std::nullopt;
        done += n;
    }
    return bytes;
}

std::optional<QByteArray> readPlain(const QString& path, qsizetype bound, bool followLink) {
    const int fd = openPlain(path, followLink);
    if (fd < 0)
        return std::nullopt;
    auto bytes = readAll(fd, bound);
    ::close(fd);
    return bytes;
}

bool append(const QString& path, const QByteArray& bytes, QString* error) {
    // O_NOFOLLOW: a symbolic link fails the open; O_NONBLOCK: a FIFO in the file's place cannot hold us.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        if (error)
            *error = reason(errno);
        return false;
    }
    struct stat status {};
    bool ok = ::fstat(fd, &status) == 0;
    if (ok && (!S_ISREG(status.st_mode) || status.st_nlink != 1)) {
        if (error)
            *error = QStringLiteral("not a plain file of its own (a link or a device is in its place)");
        ok = false;
    } else if (ok && !writeAll(fd, bytes.constData(), bytes.size())) {
        if (error)
            *error = reason(errno);
        ok = false;
    }
    ::close(fd);
    return ok;
}

Replacement::Replacement(const QString& path) : path_(QFile::encodeName(path)) {}

Replacement::~Replacement() {
    cancel();
}

bool Replacement::fail(const QString& what, int error) {
    error_ = what + QStringLiteral(": ") + reason(error);
    failed_ = true;
    return false;
}

bool Replacement::open(int mode) {
    cancel();
    failed_ = false;
    error_.clear();
    // Beside the file, so that the rename stays on one file system; O_EXCL creates it new, never through a
    // link of that name.
    const qsizetype slash = path_.lastIndexOf('/');
    const QByteArray prefix = path_.left(slash + 1) + '.' + path_.mid(slash + 1) + '.';
    for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
        temporary_ = prefix + QByteArray::number(QRandomGenerator::global()->generate64(), 36);
        fd_ = ::open(temporary_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd_ < 0 && errno != EEXIST)
            break;
    }
    if (fd_ < 0) {
        temporary_.clear();
        return fail(QStringLiteral("cannot create a temporary file"), errno);
    }
    // A plain file that is replaced keeps its permissions, unless the caller names them.
    struct stat old {};
    if (mode >= 0) {
        if (::fchmod(fd_, mode_t(mode)) != 0)
            return fail(QStringLiteral("cannot set the file's permissions"), errno);
    } else if (::lstat(path_.constData(), &old) == 0 && S_ISREG(old.st_mode)) {
        ::fchmod(fd_, old.st_mode & 0777);
    }
    return true;
}

bool Replacement::write(const char* data, qsizetype size) {
    if (fd_ < 0 || failed_)
        return false;
    return writeAll(fd_, data, size) || fail(QStringLiteral("cannot write"), errno);
}

bool Replacement::commit() {
    if (fd_ < 0 || failed_) {
        cancel();
        return false;
    }
    const bool synced = ::fsync(fd_) == 0 || fail(QStringLiteral("cannot write"), errno);
    const bool closed = ::close(fd_) == 0 || fail(QStringLiteral("cannot write"), errno);
    fd_ = -1;
    if (!synced || !closed || ::rename(temporary_.constData(), path_.constData()) != 0) {
        if (!failed_)
            fail(QStringLiteral("cannot put the file in place"), errno);
        cancel();
        return false;
    }
    temporary_.clear();
    return true;
}

void Replacement::cancel() {
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    if (!temporary_.isEmpty())
        ::unlink(temporary_.constData());
    temporary_.clear();
}

} // namespace OwnFile
