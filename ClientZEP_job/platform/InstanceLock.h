#pragma once

#include <QLockFile>
#include <QString>
#include <memory>

// The previous-instance test: a lock file in the program folder, held for the life of the process. A lock
// left by a process that died is taken over.
class InstanceLock {
public:
    explicit InstanceLock(const QString& folder);

    // True when this process now holds the lock; false when another running instance holds it.
    bool tryLock();

private:
    std::unique_ptr<QLockFile> lock_;
};
