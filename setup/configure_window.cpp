#include "setup/configure_window.h"

#include <QFocusEvent>
#include <QTimer>

#include "core/activity_log.h"
#include "core/connection_string.h"
#include "setup/database_wizard.h"
#include "setup/global_rules_status.h"
#include "shell/path_box.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_configure_window.h"

namespace kestrix {

ConfigureWindow::ConfigureWindow(DesignerDefaults defaults, ConfigureLinks links, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ConfigureWindow>()),
      links_(std::move(links)),
      defaultConnectionString_(defaults.connectionString) {
    ui_->setupUi(this);
    // The designer texts: this platform's defaults.
    ui_->txtServuPath->setText(toQt(defaults.servuPath));
    ui_->txtFTPdirectory->setText(toQt(defaults.ftpDirectory));
    setConnectionText(defaults.connectionString);

    tmrEnableCommit_ = new QTimer(this);
    tmrEnableCommit_->setObjectName(QStringLiteral("tmrEnableCommit"));
    tmrEnableCommit_->setInterval(100);
    connect(tmrEnableCommit_, &QTimer::timeout, this, &ConfigureWindow::tmrEnableCommit_Timer);

    connect(ui_->cmdCommitChanges, &QPushButton::clicked, this,
            &ConfigureWindow::cmdCommitChanges_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &ConfigureWindow::cmdCancel_Click);
    connect(ui_->cmdBrowseProgramPath, &QPushButton::clicked, this,
            &ConfigureWindow::cmdBrowseProgramPath_Click);
    connect(ui_->cmdBrowseServerPath, &QPushButton::clicked, this,
            &ConfigureWindow::cmdBrowseServerPath_Click);
    connect(ui_->cmdConnectionString, &QPushButton::clicked, this,
            &ConfigureWindow::cmdConnectionString_Click);
    connect(ui_->cmdGlobalIPAccess, &QPushButton::clicked, this,
            &ConfigureWindow::cmdGlobalIPAccess_Click);
    connect(ui_->cmdShowPassword, &QPushButton::toggled, this, &ConfigureWindow::showPassword);
    ui_->txtServuPath->installEventFilter(this);
    refuseLineBreaks(ui_->txtServuPath, "Serv-U program path");
    refuseLineBreaks(ui_->txtFTPdirectory, "FTP directory path");
    // Opening starts at the first field rather than on a button.
    ui_->txtServuPath->setFocus(Qt::OtherFocusReason);
}

// Masked, the box shows "***" for the password; an edit that leaves the
// "***" keeps the password it stands for.
void ConfigureWindow::setConnectionText(const std::string& text) {
    connectionString_ = text;
    ui_->txtConnectionString->setPlainText(
        toQt(passwordShown_ ? text : maskedConnectionString(text)));
}

std::string ConfigureWindow::connectionText() const {
    const std::string shown = fromQt(ui_->txtConnectionString->toPlainText());
    return passwordShown_ ? shown : unmaskedConnectionString(shown, connectionString_);
}

void ConfigureWindow::showPassword(bool shown) {
    const std::string text = connectionText();
    passwordShown_ = shown;
    setConnectionText(text);
    if (ui_->cmdShowPassword->isChecked() != shown) ui_->cmdShowPassword->setChecked(shown);
    ui_->cmdShowPassword->setText(shown ? QStringLiteral("Hide") : QStringLiteral("Show"));
}

ConfigureWindow::~ConfigureWindow() = default;

void ConfigureWindow::formLoad() {
    checkLabelStatus();
}

void ConfigureWindow::showModally() {
    tmrEnableCommit_->start();
    showWindow(this, 1);
}

ConfigureFields ConfigureWindow::fields() const {
    return {fromQt(ui_->txtServuPath->text()), fromQt(ui_->txtFTPdirectory->text()),
            connectionText(), fromQt(ui_->txtUpdateServer->text())};
}

void ConfigureWindow::setFields(const ConfigureFields& fields) {
    ui_->txtServuPath->setText(toQt(fields.servuPath));
    ui_->txtFTPdirectory->setText(toQt(fields.ftpDirectory));
    setConnectionText(fields.connectionString);
    ui_->txtUpdateServer->setText(toQt(fields.updateServer));
}

void ConfigureWindow::cmdCommitChanges_Click() {
    ConfigureFields values = fields();
    ShellMessageBoxes boxes;
    const CommitResult result = ConfigurationCommit(boxes, defaultConnectionString_).run(values);
    // The paths show the trailing '/' they were stored with.
    ui_->txtServuPath->setText(toQt(values.servuPath));
    ui_->txtFTPdirectory->setText(toQt(values.ftpDirectory));
    ui_->txtUpdateServer->setText(toQt(values.updateServer));
    if (result == CommitResult::OtherProgramPath) {
        // Another program path, then the whole commit again; this one ends.
        cmdBrowseProgramPath_Click();
        cmdCommitChanges_Click();
        return;
    }
    if (result != CommitResult::Committed) return;
    tmrEnableCommit_->stop();
    writeLog("warn about restarting server");
    Shell::instance().ask(
        titledMessage("You must restart the Serv-U server before changes will take effect.",
                      MessageIcon::Information, MessageButtons::OK));
    writeLog("re-pop main");
    if (links_.popMain) links_.popMain();
    hideWindow(this);
    tag_.clear();
}

void ConfigureWindow::cmdCancel_Click() {
    tmrEnableCommit_->stop();
    if (tag_ == kTagCheckDatabase) {
        if (links_.endForUnreachableDatabase) links_.endForUnreachableDatabase();
        return;
    }
    hideWindow(this);
}

void ConfigureWindow::reject() {
    cmdCancel_Click();
}

void ConfigureWindow::cmdBrowseProgramPath_Click() {
    if (auto folder = Shell::instance().chooseFolder(this, "Select the path of your Serv-u program",
                                                     fromQt(ui_->txtServuPath->text()))) {
        ui_->txtServuPath->setText(toQt(*folder));
    }
}

void ConfigureWindow::cmdBrowseServerPath_Click() {
    if (auto folder = Shell::instance().chooseFolder(this, "Select default FTP server directory",
                                                     fromQt(ui_->txtFTPdirectory->text())))
        ui_->txtFTPdirectory->setText(toQt(*folder));
}

void ConfigureWindow::tmrEnableCommit_Timer() {
    const ConfigureFields values = fields();
    ui_->cmdCommitChanges->setEnabled(!values.servuPath.empty() && !values.ftpDirectory.empty() &&
                                      !values.connectionString.empty());
}

void ConfigureWindow::cmdGlobalIPAccess_Click() {
    if (links_.globalIpRules) links_.globalIpRules();
}

DatabaseWizard& ConfigureWindow::wizard() {
    if (!wizard_) {
        WizardLinks links;
        links.setConnectionString = [this](const std::string& text) { setConnectionText(text); };
        links.askConnection = links_.askConnection;
        if (const auto target = parseConnectionString(defaultConnectionString_).target)
            links.defaultDatabaseFile = target->path;
        wizard_ = new DatabaseWizard(std::move(links), this);
    }
    return *wizard_;
}

void ConfigureWindow::cmdConnectionString_Click() {
    // The wizard's first page asks whether to create or to pick, with Back
    // from the pages after it.
    wizard().showFormFace(0);
    showWindow(&wizard(), 1);
}

void ConfigureWindow::checkLabelStatus() {
    std::string failure;
    if (auto caption = globalRulesCaption(&failure))
        ui_->lblRules->setText(toQt(*caption));
    else if (!failure.empty())
        reportStatementFailure(failure);
}

void ConfigureWindow::txtServuPath_Validate() {
    if (ui_->txtServuPath->text().toLower() == QStringLiteral("show log") && links_.statusWindow)
        showWindow(links_.statusWindow(), 1);
}

bool ConfigureWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->txtServuPath && event->type() == QEvent::FocusOut) {
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
            txtServuPath_Validate();
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kestrix
