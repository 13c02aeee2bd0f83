#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// The previous-instance test: a lock file in the program folder, held for the life of the process. A lock
// left by a process that died is taken over.
//
// The lock file names its holder (process id, host, program). Where it cannot be written (a full disk), the
// lock is taken on the file alone, empty, which needs no free space: an empty lock file counts as held only
// while a running process holds it.
class InstanceLock {
public:
    explicit InstanceLock(const QString& folder);
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // True when this process now holds the lock; false when another running instance holds it (still, after
    // waiting up to `waitMs` for it to end), or when it could not be taken at all (failure() says why).
    bool tryLock(int waitMs = 0);

    // Why the last tryLock failed other than by another running instance; empty when that was the cause.
    const QString& failure() const { return failure_; }

    // Gives the lock back (it is also given back when the process ends).
    void unlock();

    // The lock file of the program folder `folder`.
    static QString path(const QString& folder);

private:
    enum class Plain { Held, Busy, Failed };
    // The lock on the file itself, created empty when missing.
    Plain lockPlainFile();

    QString path_;
    std::unique_ptr<QLockFile> lock_;
    int plainFd_ = -1; // the file's own lock, when that is the one held
    QString failure_;
};
