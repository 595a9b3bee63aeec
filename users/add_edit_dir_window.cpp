#include "users/add_edit_dir_window.h"

#include "shell/path_box.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_add_edit_dir_window.h"
#include "users/editing/directory_entry.h"
#include "users/shell_prompts.h"

namespace kestrix {

namespace {
const char* const kTag = "Tag";
const char* const kAdd = "add";
const char* const kEdit = "edit";
}  // namespace

AddEditDirWindow::AddEditDirWindow(AddEditDirLinks links, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::AddEditDirWindow>()), links_(std::move(links)) {
    ui_->setupUi(this);
    // Before the first Edit the old path is empty.
    ui_->txtPath->setProperty(kTag, QString());
    refuseLineBreaks(ui_->txtPath, "directory path");
    connect(ui_->cmdOK, &QPushButton::clicked, this, &AddEditDirWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &AddEditDirWindow::cmdCancel_Click);
    connect(ui_->cmdBrowse, &QPushButton::clicked, this, &AddEditDirWindow::cmdBrowse_Click);
}

AddEditDirWindow::~AddEditDirWindow() = default;

void AddEditDirWindow::prepareAdd(const std::string& path) {
    setProperty(kTag, QString::fromLatin1(kAdd));
    setWindowTitle(QStringLiteral("Add Path"));
    ui_->txtPath->setText(toQt(path));
}

void AddEditDirWindow::prepareEdit(const std::string& path) {
    setProperty(kTag, QString::fromLatin1(kEdit));
    setWindowTitle(QStringLiteral("Edit Path"));
    ui_->txtPath->setText(toQt(path));
    ui_->txtPath->setProperty(kTag, toQt(path));
}

std::string AddEditDirWindow::tag() const {
    return fromQt(property(kTag).toString());
}

std::string AddEditDirWindow::oldPath() const {
    return fromQt(ui_->txtPath->property(kTag).toString());
}

void AddEditDirWindow::cmdOK_Click() {
    ShellPrompts prompts;
    const users::DirectoryEntryResult entry =
        users::acceptDirectoryEntry(fromQt(ui_->txtPath->text()), oldPath(), prompts);
    ui_->txtPath->setText(toQt(entry.shownText));
    if (entry.changed && links_.markUnsaved) links_.markUnsaved();
    if (!entry.path) return;
    if (tag() == kAdd) {
        if (links_.add) links_.add(*entry.path);
    } else if (links_.rename) {
        links_.rename(*entry.path);
    }
    hideWindow(this);
}

void AddEditDirWindow::cmdCancel_Click() {
    hideWindow(this);
}

void AddEditDirWindow::reject() {
    cmdCancel_Click();
}

void AddEditDirWindow::cmdBrowse_Click() {
    if (auto folder = Shell::instance().chooseFolder(this, "Select directory path",
                                                     fromQt(ui_->txtPath->text())))
        ui_->txtPath->setText(toQt(*folder));
}

}  // namespace kestrix
