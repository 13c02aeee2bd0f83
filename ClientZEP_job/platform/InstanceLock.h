#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// The previous-instance test: a lock file in the program folder, held for the life of the process. A lock
// left by a process that died is taken over.
class InstanceLock {
public:
    explicit InstanceLock(const QString& folder);

    // True when this process now holds the lock; false when another running instance holds it (still, after
    // waiting up to `waitMs` for it to end).
    bool tryLock(int waitMs = 0);

    // Gives the lock back (it is also given back when the process ends).
    void unlock();

    // The lock file of the program folder `folder`.
    static QString path(const QString& folder);

private:
    std::unique_ptr<QLockFile> lock_;
};
