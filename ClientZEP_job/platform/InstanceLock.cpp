#include "InstanceLock.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

InstanceLock::InstanceLock(const QString& folder)
    : path_(path(folder)), lock_(std::make_unique<QLockFile>(path_)) {
    // A lock never goes stale by age: the bot runs for months.
    lock_->setStaleLockTime(0);
}

InstanceLock::~InstanceLock() {
    unlock();
}

InstanceLock::Plain InstanceLock::lockPlainFile() {
    // O_NOFOLLOW: a link in the file's place is refused, not followed.
    const int fd =
        ::open(QFile::encodeName(path_).constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        failure_ =
            QStringLiteral("cannot open %1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(errno)));
        return Plain::Failed;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        if (error == EWOULDBLOCK)
            return Plain::Busy;
        failure_ =
            QStringLiteral("cannot lock %1: %2").arg(path_, QString::fromLocal8Bit(std::strerror(error)));
        return Plain::Failed;
    }
    // A lock file that names a holder is QLockFile's: whoever wrote it decides, not this lock.
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_size != 0) {
        ::close(fd);
        return Plain::Busy;
    }
    plainFd_ = fd;
    return Plain::Held;
}

bool InstanceLock::tryLock(int waitMs) {
    failure_.clear();
    if (lock_->isLocked() || plainFd_ >= 0)
        return true;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        if (lock_->tryLock(0))
            return true;
        // Held by a running instance (it holds the file's lock as well), or left empty by one that could not
        // write it: the file's own lock tells which. Any other failure (no space for the holder's name) falls
        // back to the file's own lock.
        const QLockFile::LockError error = lock_->error();
        const QString qtFailure = error == QLockFile::PermissionError
                                      ? QStringLiteral("permission denied")
                                      : QStringLiteral("the file cannot be written");
        const Plain plain = lockPlainFile();
        if (plain == Plain::Held)
            return true;
        if (plain == Plain::Failed) {
            if (error != QLockFile::LockFailedError)
                failure_ = QStringLiteral("%1 (%2)").arg(failure_, qtFailure);
            return false;
        }
        if (waited.elapsed() >= waitMs)
            return false;
        QThread::msleep(std::min<qint64>(100, waitMs - waited.elapsed() + 1));
    }
}

void InstanceLock::unlock() {
    if (plainFd_ >= 0) {
        // Removed while still held, so that no other process takes a lock on a name about to go.
        ::unlink(QFile::encodeName(path_).constData());
        ::close(plainFd_);
        plainFd_ = -1;
    }
    lock_->unlock();
}

QString InstanceLock::path(const QString& folder) {
    return folder + QStringLiteral("/ClientZEP_job.lock");
}
