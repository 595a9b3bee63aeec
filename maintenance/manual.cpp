#include "maintenance/manual.h"

#include <QString>
#include <QUrl>

#include <system_error>

namespace kestrix {

std::string manualUrl(const std::filesystem::path& manual) {
    return QUrl::fromLocalFile(QString::fromStdString(manual.string()))
        .toString(QUrl::FullyEncoded)
        .toStdString();
}

std::string manualMissingMessage(const std::filesystem::path& manual) {
    return std::string(kManualMissingMessage) + "\r\nIt should be " + manual.string() + ".";
}

ManualOutcome openManual(const std::filesystem::path& programDirectory, MessageBoxes& boxes,
                         const UrlOpener& open) {
    const std::filesystem::path manual = programDirectory / kManualFileName;
    std::error_code ec;
    // A directory of that name is no manual either.
    if (!std::filesystem::is_regular_file(manual, ec)) {
        boxes.show(titledMessage(manualMissingMessage(manual), MessageIcon::Exclamation,
                                 MessageButtons::OK));
        return ManualOutcome::Missing;
    }
    if (open(manualUrl(manual))) return ManualOutcome::Opened;
    boxes.show(titledMessage(std::string(kNoPdfViewerPrefix) + manual.string() + ".",
                             MessageIcon::Exclamation, MessageButtons::OK));
    return ManualOutcome::NoViewer;
}

}  // namespace kestrix
