#include "InstanceLock.h"

InstanceLock::InstanceLock(const QString& folder)
    : lock_(std::make_unique<QLockFile>(folder + QStringLiteral("/ClientZEP_job.lock"))) {
    // A lock never goes stale by age: the bot runs for months.
    lock_->setStaleLockTime(0);
}

bool InstanceLock::tryLock() {
    return lock_->isLocked() || lock_->tryLock(0);
}
