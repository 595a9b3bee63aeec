#include "maintenance/migration_launcher.h"

#include <QFile>
#include <QProcess>

#include <cstdlib>
#include <system_error>

#include "core/file_write.h"

namespace kestrix {
namespace {

void tell(MessageBoxes& boxes, const std::string& text) {
    boxes.show(titledMessage(text, MessageIcon::Exclamation, MessageButtons::OK));
}

}  // namespace

const char* migrationResource(MigrationBuild build) {
    return build == MigrationBuild::Server2To3 ? ":/kestrix/migration-2" : ":/kestrix/migration-4";
}

bool askToRunMigration(MessageBoxes& boxes) {
    return boxes.show(titledMessage(kMigrationQuestion, MessageIcon::Question,
                                    MessageButtons::YesNoCancel, 2)) == Answer::Yes;
}

std::filesystem::path migrationCacheDirectory() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache != nullptr && cache[0] == '/') return std::filesystem::path(cache) / "kestrix";
    const char* home = std::getenv("HOME");
    return std::filesystem::path(home != nullptr ? home : "/") / ".cache" / "kestrix";
}

MigrationLaunch launchMigration(const MigrationPlaces& places, MigrationBuild build,
                                MessageBoxes& boxes, const MigrationHandOver& handOver,
                                long long* startedPid) {
    if (handOver.mayLeave && !handOver.mayLeave()) return MigrationLaunch::Stayed;
    const std::filesystem::path target = places.utilityDirectory / kMigrationFileName;
    QFile resource(QString::fromLatin1(migrationResource(build)));
    if (!resource.open(QIODevice::ReadOnly)) {
        tell(boxes, "This build of Kestrix does not carry the migration utility.");
        return MigrationLaunch::Failed;
    }
    const QByteArray bytes = resource.readAll();
    std::error_code ec;
    std::filesystem::create_directories(places.utilityDirectory, ec);
    WriteResult written =
        ec ? WriteResult::failed(ec.value())
           : replaceFile(target, std::string_view(bytes.constData(), bytes.size()), 0755);
    if (!written) {
        tell(boxes, "The migration utility could not be written to " + target.string() + ": " +
                        written.error() + ".\r\nKestrix keeps running.");
        return MigrationLaunch::Failed;
    }
    QProcess process;
    process.setProgram(QString::fromStdString(target.string()));
    process.setArguments({QString::fromLatin1(kProgramDirectoryOption),
                          QString::fromStdString(places.programDirectory.string())});
    process.setWorkingDirectory(QString::fromStdString(places.utilityDirectory.string()));
    qint64 pid = 0;
    if (!process.startDetached(&pid)) {
        tell(boxes, "The migration utility " + target.string() + " could not be started: " +
                        process.errorString().toStdString() + ".\r\nKestrix keeps running.");
        return MigrationLaunch::Failed;
    }
    if (startedPid) *startedPid = pid;
    if (handOver.leave) handOver.leave();
    return MigrationLaunch::HandedOver;
}

}  // namespace kestrix
