#include "policies/disk_quota_window.h"

#include "core/activity_log.h"
#include "policies/write_report.h"
#include "shell/number_box.h"
#include "shell/qt_text.h"
#include "shell/read_only_look.h"
#include "shell/shell.h"
#include "ui_disk_quota_window.h"

namespace kestrix {

DiskQuotaWindow::DiskQuotaWindow(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::DiskQuotaWindow>()) {
    ui_->setupUi(this);
    makeNumberBox(ui_->txtQuotaMaximum, [this] { return policies::quotaRange(unit_); });
    showAsReadOnly(ui_->txtQuotaCurrent);
    ui_->txtQuotaCurrent->setToolTip(
        QStringLiteral("Kept by the FTP server as the user uploads and deletes files; "
                       "it is shown here, not edited."));
    connect(ui_->chkEnableQuota, &QCheckBox::clicked, this, &DiskQuotaWindow::chkEnableQuota_Click);
    connect(ui_->optM, &QRadioButton::clicked, this, &DiskQuotaWindow::changeUnits);
    connect(ui_->opK, &QRadioButton::clicked, this, &DiskQuotaWindow::changeUnits);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &DiskQuotaWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &DiskQuotaWindow::cmdCancel_Click);
    ui_->optM->setChecked(true);
    writeLog("show current quota");
    chkEnableQuota_Click();
}

DiskQuotaWindow::~DiskQuotaWindow() = default;

void DiskQuotaWindow::popQuota(const std::string& user) {
    loadedUser_ = user;
    nameUserInCaption(this, "User Disk Quota", user);
    load(true);
}

void DiskQuotaWindow::popQuota2() {
    load(false);
}

void DiskQuotaWindow::load(bool withSwitch) {
    std::string failure;
    const auto stored = policies::readQuota(loadedUser_, failure);
    if (!stored) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    // After the read, which may have repaired the row itself.
    loaded_ = policies::loadedVersion(loadedUser_, policies::quotaParts(), failure);
    if (!loaded_) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    const policies::QuotaView view = policies::quotaView(*stored, unit_);
    // A unit change reloads the numbers alone: the switch stays as loaded.
    const bool loadedSwitch = loadedView_.enabled;
    loadedView_ = view;
    if (!withSwitch) loadedView_.enabled = loadedSwitch;
    if (withSwitch) ui_->chkEnableQuota->setChecked(view.enabled);
    ui_->txtQuotaCurrent->setText(toQt(view.current));
    ui_->txtQuotaMaximum->setText(toQt(view.maximum));
    chkEnableQuota_Click();
}

void DiskQuotaWindow::changeUnits() {
    unit_ = ui_->opK->isChecked() ? policies::QuotaUnit::Kb : policies::QuotaUnit::Mb;
    const QString caption = toQt(policies::quotaUnitCaption(unit_));
    ui_->Label3->setText(caption);
    ui_->Label4->setText(caption);
    if (!loadedUser_.empty()) popQuota2();
}

void DiskQuotaWindow::chkEnableQuota_Click() {
    ui_->txtQuotaMaximum->setEnabled(ui_->chkEnableQuota->isChecked());
}

void DiskQuotaWindow::cmdOK_Click() {
    const bool enabled = ui_->chkEnableQuota->isChecked();
    const std::string maximum = fromQt(ui_->txtQuotaMaximum->text());
    const DialogWrite write{"User Disk Quota", loadedUser_,
                            enabled ? "quota on, maximum " + maximum + " " +
                                          std::string(policies::quotaUnitCaption(unit_))
                                    : std::string("quota off")};
    if (const auto refusal = policies::checkQuota(enabled, maximum, unit_)) {
        recordDialogWrite(write, audit::Result::Refused, refusal->text);
        Shell::instance().ask(*refusal);
        return;
    }
    std::string failure;
    const auto outcome = writeOrAsk(
        loadedUser_, loaded_,
        [&](const std::optional<std::string>& loaded) {
            return policies::writeQuota(loadedUser_, enabled, maximum, unit_, failure, loaded);
        },
        [&] { load(true); },
        [&] {
            return policies::keepBothQuota(
                loadedUser_, loadedView_, enabled, maximum, unit_, failure,
                [](const Message& question) { return Shell::instance().ask(question); });
        });
    if (writeWentThrough(outcome, failure, write)) hideWindow(this);
}

void DiskQuotaWindow::cmdCancel_Click() {
    hideWindow(this);
}

void DiskQuotaWindow::reject() {
    cmdCancel_Click();
}

}  // namespace kestrix
