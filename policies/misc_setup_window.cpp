#include "policies/misc_setup_window.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QTimer>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/short_date.h"
#include "core/text_routines.h"
#include "policies/write_report.h"
#include "shell/number_box.h"
#include "shell/path_box.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_misc_setup_window.h"

namespace kestrix {

using policies::Date;
using policies::MiscField;
using policies::MiscSettings;

namespace {

constexpr int kMainPage = 0;
constexpr int kCalendarPage = 1;

void warn(const Message& message) {
    Shell::instance().ask(message);
}

}  // namespace

MiscSetupWindow::MiscSetupWindow(UserDialogLinks links, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::MiscSetupWindow>()), links_(std::move(links)) {
    ui_->setupUi(this);
    ui_->stackFrames->setCurrentIndex(kMainPage);
    writeLog("Calculate calendar grid measurements");
    ui_->picMonth->measureCells();
    addWeekdayHeadings();

    for (std::size_t i = 0; i < policies::kMonthItems.size(); ++i)
        ui_->cboMonth->addItem(QString::fromLatin1(policies::kMonthItems[i]), int(i + 1));
    const int thisYear = static_cast<int>(today().year());
    for (int year = thisYear; year <= thisYear + 100; ++year)
        ui_->cboYear->addItem(QString::number(year));
    // A date moved before this year is shown too; a year may be typed.
    ui_->cboYear->setEditable(true);
    ui_->cboYear->setInsertPolicy(QComboBox::NoInsert);
    ui_->cboYear->setValidator(new QIntValidator(1, 9999, ui_->cboYear));
    // A typed year counts as soon as it has its four digits, whether or not
    // the list holds it, and again when the box is left or Enter is pressed.
    connect(ui_->cboYear->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        if (text.trimmed().size() == 4) cboYear_Click(ui_->cboYear->currentIndex());
    });
    connect(ui_->cboYear->lineEdit(), &QLineEdit::editingFinished, this,
            [this] { cboYear_Click(ui_->cboYear->currentIndex()); });

    const std::pair<QLineEdit*, policies::MiscField> numberBoxes[] = {
        {ui_->TxtAllowOnly, policies::MiscField::AllowOnly},
        {ui_->txtMaxSpeed, policies::MiscField::MaxSpeed},
        {ui_->txtIdleTimeOut, policies::MiscField::IdleTimeout},
        {ui_->txtSessionTimeout, policies::MiscField::SessionTimeout},
        {ui_->txtMaxUSer, policies::MiscField::MaxUsers}};
    for (const auto& [box, field] : numberBoxes)
        makeNumberBox(box, policies::miscNumberRange(field));
    refuseLineBreaks(ui_->txtLoginMessageFile, "login message file");
    ui_->txtDisableDate->installEventFilter(this);
    ui_->txtExpDate->installEventFilter(this);

    connect(ui_->chkDisableAccount, &QCheckBox::clicked, this,
            &MiscSetupWindow::chkDisableAccount_Click);
    connect(ui_->chkDisableOn, &QCheckBox::clicked, this, &MiscSetupWindow::chkDisableOn_Click);
    connect(ui_->chkExpires, &QCheckBox::clicked, this, &MiscSetupWindow::chkExpires_Click);
    connect(ui_->cmdDiableDDD, &QPushButton::clicked, this, &MiscSetupWindow::cmdDiableDDD_Click);
    connect(ui_->cmdExpiresDDD, &QPushButton::clicked, this, &MiscSetupWindow::cmdExpiresDDD_Click);
    connect(ui_->CmdLoginMessageFile, &QPushButton::clicked, this,
            &MiscSetupWindow::CmdLoginMessageFile_Click);
    connect(ui_->CmdOK, &QPushButton::clicked, this, &MiscSetupWindow::CmdOK_Click);
    connect(ui_->CmdCancel, &QPushButton::clicked, this, &MiscSetupWindow::CmdCancel_Click);
    // Help has no action.
    connect(ui_->Command2, &QPushButton::clicked, this, &MiscSetupWindow::Command2_Click);
    connect(ui_->Command1, &QPushButton::clicked, this, &MiscSetupWindow::Command1_Click);
    connect(ui_->cboMonth, &QComboBox::activated, this, &MiscSetupWindow::cboMonth_Click);
    connect(ui_->cboYear, &QComboBox::activated, this, &MiscSetupWindow::cboYear_Click);
    connect(ui_->picMonth, &MonthGrid::dateChanged, this, &MiscSetupWindow::pickerDateChanged);
    connect(ui_->picMonth, &MonthGrid::accepted, this, &MiscSetupWindow::acceptPickedDate);
    // Inside the dialog Enter accepts the date and Escape leaves without
    // one, both back to the settings and whatever was typed there; only the
    // stand-alone GetDate ends with the window.
    connect(ui_->picMonth, &MonthGrid::enterPressed, this, [this] {
        if (!standAlonePick_) return acceptPickedDate();
        dateChosen_ = true;
        closeHost();
    });
    connect(ui_->picMonth, &MonthGrid::escapePressed, this, [this] {
        if (!standAlonePick_) return Command1_Click();
        closeHost();
    });
    pickerDateChanged(ui_->picMonth->currentDate());
}

MiscSetupWindow::~MiscSetupWindow() = default;

// ---- loading ----

void MiscSetupWindow::popInfo(const std::string& user) {
    // Every opening starts on the settings, never on a calendar left open.
    ui_->stackFrames->setCurrentIndex(kMainPage);
    targetField_ = nullptr;
    nameUserInCaption(this, "User Miscellaneous Setup", user);
    MiscSettings loaded;
    std::string failure;
    loaded_ = policies::loadedVersion(user, policies::miscParts(), failure);
    if (!loaded_) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    switch (policies::readMiscSettings(user, loaded, failure)) {
        case policies::MiscAccess::Unavailable:
        case policies::MiscAccess::Changed:
            return;
        case policies::MiscAccess::Refused:
        case policies::MiscAccess::TooWide:  // a write's outcome only
            reportStatementFailure(failure);
            return;
        case policies::MiscAccess::Missing:
            loadedUser_ = user;
            loadedSettings_ = {};
            return;
        case policies::MiscAccess::Done:
            // Dates are shown in the person's own form.
            loaded.expiryDate = shownDateText(loaded.expiryDate);
            loaded.disableDate = shownDateText(loaded.disableDate);
            loadedUser_ = user;
            loadedSettings_ = loaded;
            show(loaded);
            return;
    }
}

void MiscSetupWindow::show(const MiscSettings& s) {
    ui_->chkDisableAccount->setChecked(s.disableAccount);
    ui_->ChkShowRelPath->setChecked(s.relativePaths);
    ui_->ChkHideHidden->setChecked(s.hideHidden);
    ui_->ChkAlwaysLogin->setChecked(s.alwaysLogin);
    // Neither option is selected when both columns are 0.
    ui_->optOneLogin->setAutoExclusive(false);
    ui_->optMaxLogins->setAutoExclusive(false);
    ui_->optOneLogin->setChecked(s.oneLogin);
    ui_->optMaxLogins->setChecked(s.maxLogins);
    ui_->optOneLogin->setAutoExclusive(true);
    ui_->optMaxLogins->setAutoExclusive(true);
    ui_->txtMaxSpeed->setText(toQt(s.maxSpeed));
    ui_->txtIdleTimeOut->setText(toQt(s.idleTimeout));
    ui_->txtSessionTimeout->setText(toQt(s.sessionTimeout));
    ui_->txtMaxUSer->setText(toQt(s.maxUsers));
    ui_->txtLoginMessageFile->setText(toQt(s.loginMessageFile));
    ui_->TxtAllowOnly->setText(toQt(s.allowOnly));
    ui_->chkDisableOn->setEnabled(!s.disableAccount);
    ui_->chkDisableOn->setChecked(s.disableOn);
    ui_->txtDisableDate->setText(toQt(s.disableDate));
    ui_->chkExpires->setChecked(s.expires);
    ui_->txtExpDate->setText(toQt(s.expiryDate));
    chkDisableOn_Click();
    chkExpires_Click();
}

MiscSettings MiscSetupWindow::settings() const {
    MiscSettings s;
    s.disableAccount = ui_->chkDisableAccount->isChecked();
    s.relativePaths = ui_->ChkShowRelPath->isChecked();
    s.hideHidden = ui_->ChkHideHidden->isChecked();
    s.alwaysLogin = ui_->ChkAlwaysLogin->isChecked();
    s.oneLogin = ui_->optOneLogin->isChecked();
    s.maxLogins = ui_->optMaxLogins->isChecked();
    s.allowOnly = fromQt(ui_->TxtAllowOnly->text());
    s.maxSpeed = fromQt(ui_->txtMaxSpeed->text());
    s.idleTimeout = fromQt(ui_->txtIdleTimeOut->text());
    s.sessionTimeout = fromQt(ui_->txtSessionTimeout->text());
    s.maxUsers = fromQt(ui_->txtMaxUSer->text());
    s.loginMessageFile = fromQt(ui_->txtLoginMessageFile->text());
    s.disableOn = ui_->chkDisableOn->isChecked();
    s.disableDate = fromQt(ui_->txtDisableDate->text());
    s.expires = ui_->chkExpires->isChecked();
    s.expiryDate = fromQt(ui_->txtExpDate->text());
    return s;
}

// ---- control rules ----

void MiscSetupWindow::chkDisableAccount_Click() {
    const bool disabled = ui_->chkDisableAccount->isChecked();
    ui_->chkDisableOn->setEnabled(!disabled);
    if (disabled) ui_->txtDisableDate->clear();
}

void MiscSetupWindow::chkDisableOn_Click() {
    const bool on = ui_->chkDisableOn->isChecked();
    ui_->cmdDiableDDD->setEnabled(on);
    ui_->txtDisableDate->setEnabled(on);
    if (!on) ui_->txtDisableDate->clear();
}

void MiscSetupWindow::chkExpires_Click() {
    const bool on = ui_->chkExpires->isChecked();
    ui_->cmdExpiresDDD->setEnabled(on);
    ui_->txtExpDate->setEnabled(on);
    if (!on) ui_->txtExpDate->clear();
}

bool MiscSetupWindow::eventFilter(QObject* watched, QEvent* event) {
    // A typed date is checked when its box is left, once the focus has
    // landed where it went.
    if (event->type() == QEvent::FocusOut &&
        (watched == ui_->txtDisableDate || watched == ui_->txtExpDate)) {
        auto* box = static_cast<QLineEdit*>(watched);
        QTimer::singleShot(0, this, [this, box] { dateBoxLeft(box); });
    }
    return QDialog::eventFilter(watched, event);
}

void MiscSetupWindow::dateBoxLeft(QLineEdit* box) {
    const bool disable = box == ui_->txtDisableDate;
    QWidget* now = QApplication::focusWidget();
    // OK checks it itself; Cancel and the box's own calendar do not use it.
    if (checkingDate_ || !isVisible() || !box->isEnabled() || now == box || now == ui_->CmdOK ||
        now == ui_->CmdCancel || now == (disable ? ui_->cmdDiableDDD : ui_->cmdExpiresDDD))
        return;
    const std::string text = trimmed(fromQt(box->text()));
    if (text.empty()) return;
    if (const auto refusal = policies::checkDateText(
            text, disable ? MiscField::DisableDate : MiscField::ExpiryDate)) {
        checkingDate_ = true;
        warn(refusal->message);
        checkingDate_ = false;
        box->setFocus(Qt::OtherFocusReason);
        box->selectAll();
        return;
    }
    box->setText(toQt(shownDateText(text)));
}

void MiscSetupWindow::CmdLoginMessageFile_Click() {
    QWidget* owner = parentWidget() != nullptr ? parentWidget() : this;
    const auto file = Shell::instance().chooseOpenFile(
        owner, FileRequest{"Logon File", "Text Files (*.txt)", "logonfile.txt",
                           fromQt(QCoreApplication::applicationDirPath())});
    ui_->txtLoginMessageFile->setText(file ? toQt(trimmed(*file)) : QString());
    raise();
    activateWindow();
}

// ---- OK and Cancel ----

QWidget* MiscSetupWindow::fieldWidget(MiscField field) const {
    switch (field) {
        case MiscField::LoginMessageFile:
            return ui_->txtLoginMessageFile;
        case MiscField::IdleTimeout:
            return ui_->txtIdleTimeOut;
        case MiscField::SessionTimeout:
            return ui_->txtSessionTimeout;
        case MiscField::AllowOnly:
            return ui_->TxtAllowOnly;
        case MiscField::MaxUsers:
            return ui_->txtMaxUSer;
        case MiscField::MaxSpeed:
            return ui_->txtMaxSpeed;
        case MiscField::ExpiryDate:
            return ui_->chkExpires;
        case MiscField::DisableDate:
            return ui_->chkDisableOn;
        case MiscField::None:
            break;
    }
    return nullptr;
}

void MiscSetupWindow::CmdOK_Click() {
    // OK while the calendar is in front takes the day marked there, as the
    // calendar's own OK would, instead of the box behind it.
    if (pickerInFront()) {
        if (targetField_ != nullptr)
            acceptPickedDate();
        else
            showMainFrame();
    }
    const MiscSettings s = settings();
    const DialogWrite write{"User Miscellaneous Setup", loadedUser_,
                            policies::describeMiscChange(loadedSettings_, s)};
    if (const auto refusal = policies::checkMiscSettings(s)) {
        recordDialogWrite(write, audit::Result::Refused, refusal->message.text);
        warn(refusal->message);
        if (QWidget* field = fieldWidget(refusal->focus)) field->setFocus(Qt::OtherFocusReason);
        return;
    }
    if (const auto question = policies::pastDateQuestion(loadedSettings_, s)) {
        if (Shell::instance().ask(*question) != Answer::Yes) return;
    }
    std::string failure;
    policies::MiscAccess outcome = policies::writeMiscSettings(s, loadedUser_, failure, loaded_);
    if (outcome == policies::MiscAccess::Changed) {
        switch (Shell::instance().ask(changedElsewhereMergeQuestion(loadedUser_))) {
            case Answer::KeepBoth:
                outcome = policies::keepBothMisc(
                    loadedSettings_, s, loadedUser_, failure,
                    [](const Message& question) { return Shell::instance().ask(question); });
                if (outcome == policies::MiscAccess::Changed) {
                    recordDialogWrite(write, audit::Result::Refused,
                                      changedBySomeoneElse(loadedUser_));
                    return;
                }
                break;
            case Answer::Overwrite:
                outcome = policies::writeMiscSettings(s, loadedUser_, failure);
                break;
            case Answer::Reload:
                recordDialogWrite(write, audit::Result::Refused, changedBySomeoneElse(loadedUser_));
                popInfo(loadedUser_);
                return;
            default:
                recordDialogWrite(write, audit::Result::Refused, changedBySomeoneElse(loadedUser_));
                return;
        }
    }
    if (outcome == policies::MiscAccess::Unavailable) {
        recordDialogWrite(write, audit::Result::Failed, "the database could not be opened");
        return;
    }
    if (outcome != policies::MiscAccess::Done) {
        const Message refusal = policies::miscWriteRefusal(outcome, loadedUser_, failure);
        recordDialogWrite(write,
                          outcome == policies::MiscAccess::Refused ? audit::Result::Failed
                                                                   : audit::Result::Refused,
                          refusal.text);
        warn(refusal);
        return;
    }
    recordDialogWrite(write, audit::Result::Done);
    targetField_ = nullptr;
    hideWindow(this);
    if (links_.userSaved) links_.userSaved(loadedUser_);
}

void MiscSetupWindow::CmdCancel_Click() {
    // Cancel leaves the calendar too, so that it is not in front next time.
    ui_->stackFrames->setCurrentIndex(kMainPage);
    targetField_ = nullptr;
    hideWindow(this);
}

void MiscSetupWindow::reject() {
    CmdCancel_Click();
}

void MiscSetupWindow::keyPressEvent(QKeyEvent* event) {
    // On the picker's other controls Escape leaves the picker, not the
    // dialog with what was typed in it, and Enter (which has just applied a
    // typed year) does not press the dialog's OK.
    if (pickerInFront() && !standAlonePick_ &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        if (event->key() == Qt::Key_Escape) {
            Command1_Click();
            event->accept();
            return;
        }
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            event->accept();
            return;
        }
    }
    QDialog::keyPressEvent(event);
}

// ---- the picker ----

void MiscSetupWindow::cmdDiableDDD_Click() {
    openPicker(ui_->txtDisableDate);
}

void MiscSetupWindow::cmdExpiresDDD_Click() {
    openPicker(ui_->txtExpDate);
}

void MiscSetupWindow::openPicker(QLineEdit* target) {
    targetField_ = target;
    // The calendar opens on the day typed in the box, if it holds one.
    const auto typed = parseShortDate(trimmed(fromQt(target->text())));
    ui_->picMonth->setDate(typed ? *typed : today());
    pickerDateChanged(ui_->picMonth->currentDate());
    ui_->stackFrames->setCurrentIndex(kCalendarPage);
    ui_->picMonth->setFocus(Qt::OtherFocusReason);
}

bool MiscSetupWindow::pickerInFront() const {
    return ui_->stackFrames->currentIndex() == kCalendarPage;
}

void MiscSetupWindow::showMainFrame() {
    const bool fromPicker = pickerInFront();
    ui_->stackFrames->setCurrentIndex(kMainPage);
    // Back where the picker was opened from, so the keyboard goes on there.
    if (fromPicker && targetField_ != nullptr) {
        QWidget* box = targetField_ == ui_->txtDisableDate
                           ? static_cast<QWidget*>(ui_->chkDisableOn)
                           : ui_->chkExpires;
        box->setFocus(Qt::OtherFocusReason);
    }
}

void MiscSetupWindow::addWeekdayHeadings() {
    // A row above the grid, one heading per column (Sunday first), each as
    // wide as a cell so the names stand over their days.
    auto* row = new QWidget(ui_->fraCal1);
    row->setObjectName(QStringLiteral("lblWeekdays"));
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (const char* name : {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"}) {
        auto* heading = new QLabel(QString::fromLatin1(name), row);
        heading->setAlignment(Qt::AlignCenter);
        heading->setFixedWidth(ui_->picMonth->cellWidth());
        layout->addWidget(heading);
    }
    row->setFixedWidth(ui_->picMonth->width());
    const int at = ui_->layoutCalendar->indexOf(ui_->picMonth);
    ui_->layoutCalendar->insertWidget(at, row, 0, ui_->layoutCalendar->itemAt(at)->alignment());
}

void MiscSetupWindow::pickerDateChanged(Date date) {
    ui_->lblMonth->setText(toQt(policies::monthCaption(date)));
    ui_->cboMonth->setCurrentIndex(static_cast<int>(static_cast<unsigned>(date.month())) - 1);
    ui_->cboYear->setCurrentText(QString::number(static_cast<int>(date.year())));
}

void MiscSetupWindow::cboMonth_Click(int index) {
    const Date current = ui_->picMonth->currentDate();
    ui_->picMonth->setDate(policies::assembleDate(static_cast<int>(current.year()),
                                                  ui_->cboMonth->itemData(index).toUInt(),
                                                  static_cast<unsigned>(current.day())));
}

void MiscSetupWindow::cboYear_Click(int) {
    const Date current = ui_->picMonth->currentDate();
    const int year =
        static_cast<int>(std::lround(leadingNumber(fromQt(ui_->cboYear->currentText()))));
    if (year < 1 || year > 9999) return;
    ui_->picMonth->setDate(policies::assembleDate(year, static_cast<unsigned>(current.month()),
                                                  static_cast<unsigned>(current.day())));
}

void MiscSetupWindow::Command2_Click() {
    acceptPickedDate();
}

void MiscSetupWindow::acceptPickedDate() {
    dateChosen_ = true;
    // With no target (OK pressed while the picker was in front) nothing is
    // written; the settings come back to the front.
    if (targetField_ != nullptr)
        targetField_->setText(toQt(formatShortDate(ui_->picMonth->currentDate())));
    showMainFrame();
}

void MiscSetupWindow::Command1_Click() {
    showMainFrame();
}

void MiscSetupWindow::closeHost() {
    if (isVisible()) hideWindow(this);
    emit closedForGood();
}

bool MiscSetupWindow::getDate(Date& date, const QString& title) {
    writeLog("Store user-specified date");
    ui_->picMonth->setDate(date);
    pickerDateChanged(ui_->picMonth->currentDate());
    writeLog("Use caller-specified caption if any");
    if (!title.isEmpty()) setWindowTitle(title);
    writeLog("Display this form");
    ui_->stackFrames->setCurrentIndex(kCalendarPage);
    standAlonePick_ = true;
    showWindow(this, 1);
    standAlonePick_ = false;
    writeLog("Return selected date");
    if (dateChosen_) date = ui_->picMonth->currentDate();
    writeLog("Return value indicates if date was selected");
    return dateChosen_;
}

}  // namespace kestrix
