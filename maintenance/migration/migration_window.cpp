#include "maintenance/migration/migration_window.h"

#include <QCoreApplication>

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
}

MigrationWindow::~MigrationWindow() = default;

void MigrationWindow::cmdMigrate_Click() {
    // Nothing else to press while the one transaction runs.
    ui_->cmdMigrate->setEnabled(false);
    ui_->cmdStartKestrix->setEnabled(false);
    ui_->cmdClose->setEnabled(false);
    ui_->prgWriting->setValue(0);
    result_ = std::make_unique<MigrationResult>(
        writePlan(source_, loaded_, withDomains_, [this](std::size_t done, std::size_t total) {
            ui_->prgWriting->setMaximum(static_cast<int>(total));
            ui_->prgWriting->setValue(static_cast<int>(done));
            QCoreApplication::processEvents();
        }));
    ui_->txtReport->setPlainText(QString::fromStdString(reportText(*result_)));
    ui_->cmdStartKestrix->setEnabled(true);
    ui_->cmdClose->setEnabled(true);
    ui_->cmdStartKestrix->setFocus();
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
