#include "InstanceLock.h"

InstanceLock::InstanceLock(const QString& folder) : lock_(std::make_unique<QLockFile>(path(folder))) {
    // A lock never goes stale by age: the bot runs for months.
    lock_->setStaleLockTime(0);
}

bool InstanceLock::tryLock(int waitMs) {
    return lock_->isLocked() || lock_->tryLock(waitMs);
}

void InstanceLock::unlock() {
    lock_->unlock();
}

QString InstanceLock::path(const QString& folder) {
    return folder + QStringLiteral("/ClientZEP_job.lock");
}
