#include "shell/folder_chooser.h"

#include <QFileDialog>
#include <QFileInfo>

#include "shell/qt_text.h"

namespace kestrix {

std::optional<std::string> QtFolderChooser::chooseFolder(QWidget* owner, const std::string& title,
                                                         const std::string& startAt) {
    QFileDialog dialog(owner, toQt(title));
    if (!startAt.empty() && QFileInfo(toQt(startAt)).isDir()) dialog.setDirectory(toQt(startAt));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::string();
    return fromQt(chosen.front());
}

}  // namespace kestrix
