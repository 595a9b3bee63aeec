#include "users/new_name_window.h"

#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_new_name_window.h"
#include "users/editing/user_lifecycle.h"
#include "users/shell_prompts.h"

namespace kestrix {

NewNameWindow::NewNameWindow(Accepted accepted, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::NewNameWindow>()), accepted_(std::move(accepted)) {
    ui_->setupUi(this);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &NewNameWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &NewNameWindow::cmdCancel_Click);
}

NewNameWindow::~NewNameWindow() = default;

void NewNameWindow::clearBoxes() {
    ui_->txtNewName->clear();
    ui_->txtPassword->clear();
    ui_->txtConfirm->clear();
    // Every opening starts in the name box.
    ui_->txtNewName->setFocus(Qt::OtherFocusReason);
}

void NewNameWindow::cmdOK_Click() {
    const std::string name = fromQt(ui_->txtNewName->text());
    const std::string password = fromQt(ui_->txtPassword->text());
    ShellPrompts prompts;
    if (users::checkNewName(name, password, prompts) != users::NewNameVerdict::Accepted) return;
    // Typed unseen, so typed twice.
    if (fromQt(ui_->txtConfirm->text()) != password) {
        prompts.show(users::passwordsDifferMessage());
        return;
    }
    if (accepted_) accepted_(name, password);
}

void NewNameWindow::cmdCancel_Click() {
    hideWindow(this);
}

void NewNameWindow::reject() {
    cmdCancel_Click();
}

}  // namespace kestrix
