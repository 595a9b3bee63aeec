#include "maintenance/program_swap.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QSysInfo>

#include <signal.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <system_error>

#include "core/file_write.h"
#include "core/settings_store.h"

namespace kestrix {

namespace {

std::optional<std::string> readWhole(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return bytes;
}

}  // namespace

QString programLockPath() {
    const std::string root = SettingsStore::fromEnvironment().root().string();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(root), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QDir::temp().filePath(
        QStringLiteral("kestrix-tavix-%1.lock").arg(QString::fromLatin1(digest)));
}

QString updaterLockPath(const std::filesystem::path& programDirectory) {
    // In the temporary directory: the program directory may not be writable
    // for the one who asks.
    std::string directory = programDirectory.lexically_normal().string();
    while (directory.size() > 1 && directory.back() == '/')
        directory.pop_back();
    const QByteArray digest =
        QCryptographicHash::hash(QByteArray::fromStdString(directory), QCryptographicHash::Sha1)
            .toHex()
            .left(16);
    return QDir::temp().filePath(
        QStringLiteral("kestrix-update-%1.lock").arg(QString::fromLatin1(digest)));
}

bool updaterRunning(const std::filesystem::path& programDirectory) {
    if (programDirectory.empty()) return false;
    // The holder is read, the lock never taken: an updater starting while a
    // probe held it for a moment could take the probe for a stale holder,
    // and the probe's unlock would then remove the updater's lock.
    QLockFile probe(updaterLockPath(programDirectory));
    qint64 pid = 0;
    QString host;
    QString application;
    if (!probe.getLockInfo(&pid, &host, &application)) return false;
    if (!host.isEmpty() && host != QSysInfo::machineHostName()) return true;
    // Only a live holder counts; the lock of an updater that died is stale.
    return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

SwapReport swapProgram(const std::filesystem::path& directory, const QString& lockPath,
                       int waitMs) {
    std::error_code ec;
    const std::filesystem::path program = directory / kProgramFileName;
    const std::filesystem::path package = directory / kPackageFileName;
    if (!std::filesystem::is_regular_file(program, ec)) return {SwapOutcome::NoProgram, {}};
    if (!std::filesystem::is_regular_file(package, ec)) return {SwapOutcome::NoPackage, {}};

    // Held through the swap, so no new copy starts from a half-done directory.
    QLockFile lock(lockPath);
    lock.setStaleLockTime(0);
    if (!lock.tryLock(waitMs)) return {SwapOutcome::StillRunning, {}};

    const std::optional<std::string> old = readWhole(program);
    const std::optional<std::string> fresh = readWhole(package);
    if (!old || !fresh) return {SwapOutcome::Failed, "the files could not be read"};
    const auto mode = static_cast<mode_t>(std::filesystem::status(program, ec).permissions());
    if (ec) return {SwapOutcome::Failed, ec.message()};
    if (WriteResult backup = replaceFile(directory / kBackupFileName, *old, mode); !backup)
        return {SwapOutcome::Failed, backup.error()};
    if (WriteResult swap = replaceFile(program, *fresh, mode); !swap)
        return {SwapOutcome::Failed, swap.error()};
    std::filesystem::remove(package, ec);
    return {SwapOutcome::Swapped, {}};
}

bool startProgram(const std::filesystem::path& directory) {
    return QProcess::startDetached(QString::fromStdString((directory / kProgramFileName).string()),
                                   {}, QString::fromStdString(directory.string()));
}

}  // namespace kestrix
