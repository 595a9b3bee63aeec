#include "maintenance/migration/migration_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "maintenance/program_swap.h"
#include "shell/shell.h"
#include "ui_migration_window.h"

namespace kestrix::migration {

MigrationWindow::MigrationWindow(MigrationSource source, bool withDomains,
                                 std::filesystem::path programDirectory, QWidget* parent)
    : QWidget(parent),
      ui_(std::make_unique<Ui::MigrationWindow>()),
      source_(std::move(source)),
      withDomains_(withDomains),
      programDirectory_(std::move(programDirectory)) {
    ui_->setupUi(this);
    ui_->lblBuild->setText(withDomains_ ? QStringLiteral("Serv-U Version 4.0 and above")
                                        : QStringLiteral("Serv-U version 2.0 to 3.0"));
    loaded_ = loadAccounts(source_.accountFilePath);
    const std::string found = loaded_.problem.empty()
                                  ? findingsText(source_.accountFilePath, loaded_.plan)
                                  : loaded_.problem;
    ui_->txtReport->setPlainText(QString::fromStdString(found));
    ui_->cmdMigrate->setEnabled(loaded_.problem.empty() && !loaded_.plan.users.empty());
    connect(ui_->cmdMigrate, &QPushButton::clicked, this, &MigrationWindow::cmdMigrate_Click);
    connect(ui_->cmdStartKestrix, &QPushButton::clicked, this,
            &MigrationWindow::cmdStartKestrix_Click);
    connect(ui_->cmdClose, &QPushButton::clicked, this, &QWidget::close);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &MigrationWindow::cmdCancel_Click);
    centreOnScreen();
}

MigrationWindow::~MigrationWindow() = default;

void MigrationWindow::cmdMigrate_Click() {
    // Only Cancel while the one transaction runs.
    ui_->cmdMigrate->setEnabled(false);
    ui_->cmdStartKestrix->setEnabled(false);
    ui_->cmdClose->setEnabled(false);
    ui_->cmdCancel->setEnabled(true);
    ui_->cmdCancel->setFocus();
    ui_->prgWriting->setValue(0);
    running_ = true;
    cancelRequested_ = false;
    result_ = std::make_unique<MigrationResult>(
        writePlan(source_, loaded_, withDomains_,
                  [this](const WriteStep& step) { return showProgress(step); }));
    running_ = false;
    ui_->cmdCancel->setEnabled(false);
    // The report of many users takes a moment to lay out; nothing is left to cancel.
    ui_->lblStep->setText(QStringLiteral("Writing the report"));
    QCoreApplication::processEvents();
    ui_->txtReport->setPlainText(QString::fromStdString(reportText(*result_)));
    ui_->lblStep->setText(result_->outcome.cancelled ? QStringLiteral("Cancelled")
                                                     : QStringLiteral("Done"));
    // A cancelled run can be started again.
    ui_->cmdMigrate->setEnabled(result_->outcome.cancelled);
    ui_->cmdStartKestrix->setEnabled(true);
    ui_->cmdClose->setEnabled(true);
    ui_->cmdStartKestrix->setFocus();
}

bool MigrationWindow::showProgress(const WriteStep& step) {
    ui_->lblStep->setText(QString::fromStdString(step.name));
    // An empty step still shows as complete rather than as a busy bar.
    ui_->prgWriting->setMaximum(static_cast<int>(std::max<std::size_t>(step.total, 1)));
    ui_->prgWriting->setValue(static_cast<int>(step.total == 0 ? 1 : step.done));
    QCoreApplication::processEvents();
    return !cancelRequested_;
}

void MigrationWindow::cmdCancel_Click() {
    if (!running_) return;
    cancelRequested_ = true;
    ui_->cmdCancel->setEnabled(false);
    ui_->lblStep->setText(QStringLiteral("Cancelling..."));
}

void MigrationWindow::closeEvent(QCloseEvent* event) {
    if (running_) {
        cmdCancel_Click();
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

void MigrationWindow::centreOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    QRect frame = geometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void MigrationWindow::cmdStartKestrix_Click() {
    if (!startProgram(programDirectory_)) {
        Shell::instance().ask(
            titledMessage("Kestrix could not be started from " + programDirectory_.string() + ".",
                          MessageIcon::Exclamation, MessageButtons::OK));
        return;
    }
    close();
}

}  // namespace kestrix::migration
