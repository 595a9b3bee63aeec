#include "shell/file_chooser.h"

#include <QDir>
#include <QFileDialog>

#include "shell/qt_text.h"

namespace kestrix {

std::optional<std::string> QtFileChooser::chooseOpenFile(QWidget* owner,
                                                         const FileRequest& request) {
    QFileDialog dialog(owner, toQt(request.title), toQt(request.startDirectory),
                       toQt(request.filter));
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    if (!request.proposedName.empty()) dialog.selectFile(toQt(request.proposedName));
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return fromQt(QDir::toNativeSeparators(chosen.front()));
}

}  // namespace kestrix
