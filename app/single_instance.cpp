#include "app/single_instance.h"

#include <QCryptographicHash>
#include <QDir>

#include "core/settings_store.h"
#include "shell/qt_text.h"

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
    const std::string root = SettingsStore::fromEnvironment().root().string();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(root), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QDir::temp().filePath(
        QStringLiteral("kestrix-tavix-%1.lock").arg(toQt(digest.toStdString())));
}

}  // namespace kestrix
