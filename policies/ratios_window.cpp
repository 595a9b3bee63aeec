#include "policies/ratios_window.h"

#include "policies/logic/policy_database.h"
#include "policies/write_report.h"
#include "shell/number_box.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_ratios_window.h"

namespace kestrix {

using policies::CreditUnit;
using policies::RatioKind;

namespace {
constexpr RatioKind kKinds[] = {RatioKind::FilesPerSession, RatioKind::BytesPerSession,
                                RatioKind::FilesOverall, RatioKind::BytesOverall};
constexpr int kKilobytesItem = 1;
}  // namespace

RatiosWindow::RatiosWindow(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::RatiosWindow>()) {
    ui_->setupUi(this);
    QLineEdit* const boxes[] = {ui_->txtUpload, ui_->txtDownload, ui_->txtUDCrd};
    for (std::size_t i = 0; i < std::size(boxes); ++i)
        makeNumberBox(boxes[i], [this, i] { return policies::ratioRanges(form())[i]; });
    connect(ui_->chkEnableUD, &QCheckBox::clicked, this, &RatiosWindow::chkEnableUD_Click);
    const QRadioButton* options[] = {ui_->optFPS, ui_->optBPS, ui_->optFAS, ui_->optBAS};
    for (int i = 0; i < 4; ++i) {
        connect(options[i], &QRadioButton::clicked, this,
                [this, kind = kKinds[i]] { option_Click(kind); });
    }
    // A choice by the administrator, not the load's setting of the text.
    connect(ui_->cboChoice, &QComboBox::activated, this, &RatiosWindow::changeUnits);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &RatiosWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &RatiosWindow::cmdCancel_Click);
    checkEnabled();
}

RatiosWindow::~RatiosWindow() = default;

policies::RatioForm RatiosWindow::form() const {
    policies::RatioForm form;
    form.enabled = ui_->chkEnableUD->isChecked();
    const QRadioButton* options[] = {ui_->optFPS, ui_->optBPS, ui_->optFAS, ui_->optBAS};
    for (int i = 0; i < 4; ++i) {
        if (options[i]->isChecked()) form.kind = kKinds[i];
    }
    form.upload = fromQt(ui_->txtUpload->text());
    form.download = fromQt(ui_->txtDownload->text());
    form.credit = fromQt(ui_->txtUDCrd->text());
    // The unit label records what the credit box holds.
    const QString unit = ui_->Label5->text().trimmed().toLower();
    form.unit = unit == QLatin1String("kb")   ? CreditUnit::Kb
                : unit == QLatin1String("mb") ? CreditUnit::Mb
                                              : CreditUnit::Files;
    form.kilobytesChosen = ui_->cboChoice->currentIndex() == kKilobytesItem;
    return form;
}

void RatiosWindow::showForm(const policies::RatioForm& form) {
    ui_->chkEnableUD->setChecked(form.enabled);
    QRadioButton* options[] = {ui_->optFPS, ui_->optBPS, ui_->optFAS, ui_->optBAS};
    for (int i = 0; i < 4; ++i) {
        if (form.kind == kKinds[i]) options[i]->setChecked(true);
    }
    ui_->txtUpload->setText(toQt(form.upload));
    ui_->txtDownload->setText(toQt(form.download));
    ui_->txtUDCrd->setText(toQt(form.credit));
    ui_->Label5->setText(toQt(policies::unitCaption(form.unit)));
    ui_->cboChoice->setCurrentIndex(form.kilobytesChosen ? kKilobytesItem : 0);
    ui_->cboChoice->setEnabled(form.kind && policies::countsBytes(*form.kind));
}

void RatiosWindow::thisFormLoadData(const std::string& user) {
    loadedUser_ = user;
    nameUserInCaption(this, "User Upload/Download Ratios", user);
    std::string failure;
    loaded_ = policies::loadedVersion(user, policies::ratioParts(), failure);
    if (!loaded_) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    const auto stored = policies::readRatios(user, failure);
    if (!stored) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    policies::RatioForm shown = form();
    policies::showStored(shown, *stored);
    loadedForm_ = shown;
    showForm(shown);
    checkEnabled();
}

bool RatiosWindow::thisFormSaveData() {
    // Described before the write: a Reload replaces the form.
    const DialogWrite write{"User Upload/Download Ratios", loadedUser_,
                            policies::describeRatios(form())};
    std::string failure;
    const auto outcome = writeOrAsk(
        loadedUser_, loaded_,
        [&](const std::optional<std::string>& loaded) {
            return policies::writeAll({policies::ratioUpdate(form(), loadedUser_)}, failure, {},
                                      WriteGuard{WriteLock::user(loadedUser_), loadedUser_,
                                                 policies::ratioParts(), loaded});
        },
        [&] { thisFormLoadData(loadedUser_); },
        [&] {
            return policies::keepBothRatios(
                loadedUser_, loadedForm_, form(), failure,
                [](const Message& question) { return Shell::instance().ask(question); });
        });
    // A failed opening hides the dialog all the same; a refusal keeps it.
    return writeWentThrough(outcome, failure, write) ||
           outcome == policies::WriteOutcome::Unavailable;
}

void RatiosWindow::checkEnabled() {
    const bool on = ui_->chkEnableUD->isChecked();
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->optFPS), static_cast<QWidget*>(ui_->optBPS),
          static_cast<QWidget*>(ui_->optFAS), static_cast<QWidget*>(ui_->optBAS)})
        control->setEnabled(on);
    const QColor background = on ? QColor(Qt::white) : palette().color(QPalette::Window);
    for (QLineEdit* box : {ui_->txtUpload, ui_->txtDownload, ui_->txtUDCrd}) {
        box->setEnabled(on);
        QPalette colours = box->palette();
        colours.setColor(QPalette::Base, background);
        box->setPalette(colours);
    }
}

void RatiosWindow::changeUnits() {
    policies::RatioForm shown = form();
    policies::chooseUnit(shown, shown.kilobytesChosen);
    showForm(shown);
}

void RatiosWindow::chkEnableUD_Click() {
    checkEnabled();
    policies::RatioForm shown = form();
    policies::switchRatios(shown, shown.enabled);
    showForm(shown);
}

void RatiosWindow::option_Click(RatioKind kind) {
    policies::RatioForm shown = form();
    policies::selectKind(shown, kind);
    showForm(shown);
}

void RatiosWindow::cmdOK_Click() {
    if (const auto refusal = policies::checkRatios(form())) {
        Shell::instance().ask(*refusal);
        return;
    }
    if (thisFormSaveData()) hideWindow(this);
}

void RatiosWindow::cmdCancel_Click() {
    hideWindow(this);
}

void RatiosWindow::reject() {
    cmdCancel_Click();
}

}  // namespace kestrix
