#include "app/single_instance.h"

#include "maintenance/program_swap.h"

namespace kestrix {

SingleInstance::SingleInstance(const QString& lockPath) : path_(lockPath) {}
SingleInstance::~SingleInstance() = default;

bool SingleInstance::anotherCopyRunning() {
    if (lock_ && lock_->isLocked()) return false;
    lock_ = std::make_unique<QLockFile>(path_);
    // Only a live holder counts; the lock of a copy that died is stale.
    lock_->setStaleLockTime(0);
    return !lock_->tryLock(0);
}

QString SingleInstance::defaultLockPath() {
    return programLockPath();
}

}  // namespace kestrix
