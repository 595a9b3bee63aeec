#include "shell/status_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QScrollBar>
#include <QTextCursor>
#include <QTextDocumentFragment>

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
    lines_.setText(log_.text());
    showLines();
    listener_ = log_.attach([this](const std::string& line) { append(line); });
    connect(ui_->cmdOK, &QPushButton::clicked, this, &StatusWindow::cmdOK_Click);
    connect(ui_->cmdCopy, &QPushButton::clicked, this, &StatusWindow::cmdCopy_Click);
    connect(ui_->txtFilter, &QLineEdit::textChanged, this, &StatusWindow::txtFilter_Change);
}

StatusWindow::~StatusWindow() {
    log_.detach(listener_);
}

void StatusWindow::append(const std::string& line) {
    lines_.append(line);
    // A hidden window is not laid out for every line a Save writes.
    if (!isVisible()) {
        stale_ = true;
        return;
    }
    showLines();
}

void StatusWindow::showLines() {
    stale_ = false;
    QPlainTextEdit* box = ui_->txtLog;
    box->setPlainText(toQt(lines_.shown(fromQt(ui_->txtFilter->text()))));
    box->moveCursor(QTextCursor::End);
    box->ensureCursorVisible();
}

void StatusWindow::showEvent(QShowEvent* event) {
    if (stale_) showLines();
    QDialog::showEvent(event);
}

void StatusWindow::txtFilter_Change() {
    showLines();
}

void StatusWindow::cmdCopy_Click() {
    const QTextCursor cursor = ui_->txtLog->textCursor();
    QString text =
        cursor.hasSelection() ? cursor.selection().toPlainText() : ui_->txtLog->toPlainText();
    QGuiApplication::clipboard()->setText(text);
}

void StatusWindow::cmdOK_Click() {
    hideWindow(this);
}

void StatusWindow::reject() {
    cmdOK_Click();
}

}  // namespace kestrix
