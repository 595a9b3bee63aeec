#include "maintenance/update_check.h"

#include <QFile>
#include <QProcess>

#include <unistd.h>

#include <system_error>
#include <utility>

#include "core/file_write.h"
#include "maintenance/package_check.h"
#include "maintenance/program_swap.h"

namespace kestrix {

namespace {

void tell(MessageBoxes& boxes, const std::string& text, MessageIcon icon) {
    boxes.show(titledMessage(text, icon, MessageButtons::OK));
}

QUrl serverUrl(const UpdateCheckSetup& setup, const char* path) {
    std::string base = setup.serverBase;
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    return QUrl(QString::fromStdString(base + path));
}

// Fetches, verifies and writes the package; the reason when it failed.
std::string fetchPackage(const UpdateCheckSetup& setup, const UpdateHandOver& handOver) {
    FetchControl control;
    if (handOver.downloading) handOver.downloading(control);
    const QUrl packageUrl = serverUrl(setup, kPackagePath);
    // The signature first: a few bytes, and without it the package is of no use.
    auto progress = std::exchange(control.progress, {});
    const FetchResult signature = httpGet(QUrl(packageUrl.toString() + QStringLiteral(".sig")),
                                          {setup.timeoutMs, kMaxSignatureBytes}, &control);
    control.progress = std::move(progress);
    FetchResult package;
    if (signature.ok)
        package = httpGet(packageUrl, {setup.timeoutMs, setup.maxPackageBytes}, &control);
    if (handOver.downloaded) handOver.downloaded();
    if (signature.cancelled || package.cancelled) return "the download was cancelled";
    if (!signature.ok)
        return "the package's signature could not be fetched: " + signature.error.toStdString();
    if (package.tooLong) return "the package is too large: " + package.error.toStdString();
    if (!package.ok) return "the download failed: " + package.error.toStdString();
    const std::string_view bytes(package.body.constData(),
                                 static_cast<size_t>(package.body.size()));
    std::string problem = packageProblem(
        bytes,
        std::string_view(signature.body.constData(), static_cast<size_t>(signature.body.size())),
        setup.publicKeyHex);
    if (!problem.empty()) return problem;
    if (WriteResult written = replaceFile(setup.programDirectory / kPackageFileName, bytes, 0644);
        !written)
        return "the package could not be written: " + written.error();
    return {};
}

// Why this build cannot install an update itself; empty when it can.
std::string installBlocker(const UpdateCheckSetup& setup) {
    // The package manager owns an installed program's files, even where this
    // user (root) could write them.
    if (setup.packaged)
        return kPackagedPrefix + setup.programDirectory.string() +
               ".\r\nPlease update Kestrix through your system's package manager.";
    if (setup.publicKeyHex.empty()) return kNoKeyMessage;
    if (::access(setup.programDirectory.c_str(), W_OK) != 0)
        return kNotWritablePrefix + setup.programDirectory.string() +
               ".\r\nPlease update Kestrix through your system's package manager.";
    return {};
}

}  // namespace

std::string versionText(const Version& version) {
    return std::to_string(version.major) + "." + std::to_string(version.minor) + "." +
           std::to_string(version.revision);
}

std::string versionsLine(const Version& own, const Version& offered) {
    return "This is Kestrix " + versionText(own) + "; the update server offers " +
           versionText(offered) + ".";
}

std::string ensureUpdater(const std::filesystem::path& directory) {
    const std::filesystem::path updater = directory / kUpdaterFileName;
    std::error_code ec;
    if (std::filesystem::exists(updater, ec)) return {};
    QFile carried(QStringLiteral(":/kestrix/update"));
    if (!carried.open(QIODevice::ReadOnly)) return "the program carries no updater";
    const QByteArray bytes = carried.readAll();
    WriteResult written = replaceFile(
        updater, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())), 0755);
    return written ? std::string{} : "the updater could not be written: " + written.error();
}

UpdateOutcome checkForUpdates(const UpdateCheckSetup& setup, MessageBoxes& boxes,
                              const UpdateHandOver& handOver) {
    if (setup.serverBase.empty()) {
        tell(boxes,
             std::string(kUnreachablePrefix) +
                 "no update server is set (File, Configure, \"Update server\").",
             MessageIcon::Exclamation);
        return UpdateOutcome::Unreachable;
    }
    FetchControl asking;
    if (handOver.asking) handOver.asking(asking);
    const FetchResult reply =
        httpGet(serverUrl(setup, kVersionPath), {setup.timeoutMs, kMaxVersionReplyBytes}, &asking);
    if (handOver.answered) handOver.answered();
    if (reply.cancelled) return UpdateOutcome::Cancelled;
    if (reply.tooLong) {
        tell(boxes, kNotAVersionPrefix + reply.error.toStdString() + ".", MessageIcon::Exclamation);
        return UpdateOutcome::NoVersion;
    }
    if (!reply.ok) {
        tell(boxes, kUnreachablePrefix + reply.error.toStdString(), MessageIcon::Exclamation);
        return UpdateOutcome::Unreachable;
    }
    const std::optional<Version> offered = parseVersionReply(reply.body.toStdString());
    if (!offered) {
        tell(boxes, kNoVersionMessage, MessageIcon::Exclamation);
        return UpdateOutcome::NoVersion;
    }
    // Never an older or the same version: that would only undo fixes.
    const std::string versions = versionsLine(setup.own, *offered);
    if (*offered <= setup.own) {
        tell(boxes, std::string(kUpToDateMessage) + "\r\n\r\n" + versions,
             MessageIcon::Information);
        return UpdateOutcome::UpToDate;
    }
    // What this build cannot do is said before anything is asked.
    if (const std::string blocker = installBlocker(setup); !blocker.empty()) {
        tell(boxes, versions + "\r\n\r\n" + blocker, MessageIcon::Exclamation);
        return setup.publicKeyHex.empty() && !setup.packaged ? UpdateOutcome::NoKey
                                                             : UpdateOutcome::NotWritable;
    }
    if (boxes.show(titledMessage(versions + "\r\n\r\n" + kNewVersionQuestion, MessageIcon::Question,
                                 MessageButtons::YesNo)) != Answer::Yes) {
        tell(boxes, kLaterMessage, MessageIcon::Information);
        return UpdateOutcome::Declined;
    }

    const std::filesystem::path package = setup.programDirectory / kPackageFileName;
    std::error_code ec;
    // A package is only ever there once it has been verified.
    std::filesystem::remove(package, ec);
    std::string problem = fetchPackage(setup, handOver);
    if (problem.empty() && handOver.mayLeave && !handOver.mayLeave()) {
        std::filesystem::remove(package, ec);
        return UpdateOutcome::Stayed;
    }
    if (problem.empty()) problem = ensureUpdater(setup.programDirectory);
    if (problem.empty() &&
        !QProcess::startDetached(
            QString::fromStdString((setup.programDirectory / kUpdaterFileName).string()), {},
            QString::fromStdString(setup.programDirectory.string())))
        problem = "the updater could not be started";
    if (!problem.empty()) {
        std::filesystem::remove(package, ec);
        tell(boxes, kRejectedPrefix + problem + ".", MessageIcon::Exclamation);
        return UpdateOutcome::Rejected;
    }
    if (handOver.leave) handOver.leave();
    return UpdateOutcome::HandedOver;
}

}  // namespace kestrix
