#include "shell/status_window.h"

#include <QScrollBar>
#include <QTextCursor>

#include "core/activity_log.h"
#include "shell/artwork.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_status_window.h"

namespace kestrix {

StatusWindow::StatusWindow(ActivityLog& log, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::StatusWindow>()), log_(log) {
    ui_->setupUi(this);
    ui_->picStatus->setPixmap(emblem(kIconBlue, 64));
    // The log so far (it begins with the designer text), then every new line.
    ui_->txtLog->setPlainText(toQt(log_.text()));
    ui_->txtLog->moveCursor(QTextCursor::End);
    listener_ = log_.attach([this](const std::string& line) { append(line); });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &StatusWindow::cmdOK_Click);
}

StatusWindow::~StatusWindow() {
    log_.detach(listener_);
}

void StatusWindow::append(const std::string& line) {
    QPlainTextEdit* box = ui_->txtLog;
    box->moveCursor(QTextCursor::End);
    box->insertPlainText(toQt(line));
    box->moveCursor(QTextCursor::End);
    box->ensureCursorVisible();
}

void StatusWindow::cmdOK_Click() {
    hideWindow(this);
}

void StatusWindow::reject() {
    cmdOK_Click();
}

}  // namespace kestrix
