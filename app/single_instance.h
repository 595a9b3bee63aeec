#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

namespace kestrix {

// One copy of the program per settings store: the first copy holds a lock
// file for as long as it runs (a crashed copy's lock is taken over).
class SingleInstance {
  public:
    explicit SingleInstance(const QString& lockPath);
    ~SingleInstance();

    // True when another running copy holds the lock; otherwise this copy
    // takes it.
    bool anotherCopyRunning();

    // The lock file for the settings store this process uses.
    static QString defaultLockPath();

  private:
    QString path_;
    std::unique_ptr<QLockFile> lock_;
};

}  // namespace kestrix
