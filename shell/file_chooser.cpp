#include "shell/file_chooser.h"

#include <QDir>
#include <QFileDialog>

#include "shell/qt_text.h"

namespace kestrix {

namespace {

std::optional<std::string> choose(QWidget* owner, const FileRequest& request, bool save) {
    QFileDialog dialog(owner, toQt(request.title), toQt(request.startDirectory),
                       toQt(request.filter));
    dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (!request.proposedName.empty()) dialog.selectFile(toQt(request.proposedName));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return fromQt(QDir::toNativeSeparators(chosen.front()));
}

}  // namespace

std::optional<std::string> QtFileChooser::chooseOpenFile(QWidget* owner,
                                                         const FileRequest& request) {
    return choose(owner, request, false);
}

std::optional<std::string> QtFileChooser::chooseSaveFile(QWidget* owner,
                                                         const FileRequest& request) {
    return choose(owner, request, true);
}

}  // namespace kestrix
