#include "policies/ip_access_window.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QTimer>

#include "core/activity_log.h"
#include "policies/numeric_key_filter.h"
#include "policies/write_report.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_ip_access_window.h"

namespace kestrix {

IpAccessWindow::IpAccessWindow(IpListOwner owner, std::function<void()> afterSave, QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::IpAccessWindow>()),
      afterSave_(std::move(afterSave)) {
    ui_->setupUi(this);
    if (owner == IpListOwner::Server) {
        setObjectName(QStringLiteral("frmGlobalIPAccess"));
        setWindowTitle(QStringLiteral("Global IP Blocking"));
        ui_->fraAccessRules->setTitle(QStringLiteral("Global Access Rules"));
    } else {
        scope_.user = std::string();
    }
    keyFilter_ = new NumericKeyFilter(this, &policies::addressKeyAccepted);
    ui_->txtIPaddress->installEventFilter(keyFilter_);
    ui_->txtIPaddress->installEventFilter(this);
    for (QAbstractButton* button : findChildren<QAbstractButton*>())
        button->installEventFilter(this);
    ui_->lstRules->viewport()->installEventFilter(this);

    connect(ui_->cmdAdd, &QPushButton::clicked, this, &IpAccessWindow::cmdAdd_Click);
    connect(ui_->cmdRemove, &QPushButton::clicked, this, &IpAccessWindow::cmdRemove_Click);
    connect(ui_->cmdUp, &QPushButton::clicked, this, &IpAccessWindow::cmdUp_Click);
    connect(ui_->cmdDown, &QPushButton::clicked, this, &IpAccessWindow::cmdDown_Click);
    connect(ui_->cmdOK, &QPushButton::clicked, this, &IpAccessWindow::cmdOK_Click);
    connect(ui_->cmdCancel, &QPushButton::clicked, this, &IpAccessWindow::cmdCancel_Click);

    tmrRules_ = new QTimer(this);
    tmrRules_->setObjectName(QStringLiteral("tmrRules"));
    tmrRules_->setInterval(75);
    connect(tmrRules_, &QTimer::timeout, this, &IpAccessWindow::tmrRules_Timer);
    tmrRules_->start();

    writeLog("populate with current ips");
}

IpAccessWindow::~IpAccessWindow() = default;

void IpAccessWindow::popList(const std::string& user) {
    ui_->lstRules->clear();
    loadedRules_.clear();
    if (scope_.user) {
        scope_.user = user;
        nameUserInCaption(this, "Setup IP Blocking ", user);
    }
    std::string failure;
    loaded_.reset();
    if (scope_.user) {
        loaded_ = policies::loadedVersion(*scope_.user, policies::ipRulesParts(), failure);
        if (!loaded_) {
            if (!failure.empty()) reportStatementFailure(failure);
            return;
        }
    }
    const auto rules = policies::readIpRules(scope_, failure);
    if (!rules) {
        if (!failure.empty()) reportStatementFailure(failure);
        return;
    }
    loadedRules_ = *rules;
    for (const std::string& line : *rules)
        ui_->lstRules->addItem(toQt(line));
}

std::vector<std::string> IpAccessWindow::lines() const {
    std::vector<std::string> out;
    for (int row = 0; row < ui_->lstRules->count(); ++row)
        out.push_back(fromQt(ui_->lstRules->item(row)->text()));
    return out;
}

int IpAccessWindow::selectedRow() const {
    const auto selected = ui_->lstRules->selectedItems();
    return selected.isEmpty() ? -1 : ui_->lstRules->row(selected.first());
}

void IpAccessWindow::cmdAdd_Click() {
    addTypedEntry();
}

bool IpAccessWindow::addTypedEntry() {
    // Add can come before the box has been left (Enter, Alt+A): only an
    // entry the plug-in can match goes into the list, and a refusal says why.
    const QString text = ui_->txtIPaddress->text();
    const auto refuse = [this](const Message& message) {
        QApplication::beep();
        Shell::instance().ask(message);
        ui_->txtIPaddress->setFocus(Qt::OtherFocusReason);
        return false;
    };
    if (text.isEmpty()) return false;
    const std::string entry = fromQt(text);
    const policies::AddressCheck check = policies::checkAddress(entry);
    if (!check.accepted)
        return refuse(titledMessage(check.reason, MessageIcon::Exclamation, MessageButtons::OK));
    if (const auto existing = policies::sameEntryIn(lines(), entry))
        return refuse(policies::duplicateEntryMessage(entry, *existing));
    if (const auto question = policies::everyAddressQuestion(scope_, entry)) {
        if (Shell::instance().ask(*question) != Answer::Yes) {
            ui_->txtIPaddress->setFocus(Qt::OtherFocusReason);
            return false;
        }
    }
    writeLog("code to add entry");
    ui_->lstRules->addItem(text);
    ui_->txtIPaddress->clear();
    return true;
}

void IpAccessWindow::cmdRemove_Click() {
    const int row = selectedRow();
    if (row < 0) return;
    ui_->txtIPaddress->setText(ui_->lstRules->item(row)->text());
    removedEntry_ = ui_->txtIPaddress->text();
    delete ui_->lstRules->takeItem(row);
}

void IpAccessWindow::moveSelected(int step) {
    const int row = selectedRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= ui_->lstRules->count()) return;
    ui_->lstRules->insertItem(target, ui_->lstRules->takeItem(row));
    ui_->lstRules->setCurrentRow(target);
}

void IpAccessWindow::cmdUp_Click() {
    moveSelected(-1);
}

void IpAccessWindow::cmdDown_Click() {
    moveSelected(1);
}

void IpAccessWindow::cmdOK_Click() {
    // An address typed but not added is not dropped without a word (one
    // that Remove put back into the box was removed on purpose).
    const QString pending = ui_->txtIPaddress->text();
    if (!pending.isEmpty() && pending != removedEntry_) {
        const Answer answer = Shell::instance().ask(titledMessage(
            "The address \"" + fromQt(ui_->txtIPaddress->text()) +
                "\" in the IP Address box is not in the list yet.\r\n\r\nAdd it before "
                "saving?",
            MessageIcon::Question, MessageButtons::YesNoCancel));
        if (answer == Answer::Cancel) return;
        if (answer == Answer::Yes && !addTypedEntry()) return;
        if (answer == Answer::No) ui_->txtIPaddress->clear();
    }
    // Described before the write: a Reload replaces the list.
    const DialogWrite write{scope_.user ? "Setup IP Blocking" : "Global IP Blocking",
                            scope_.user.value_or(""),
                            policies::describeListChange(loadedRules_, lines())};
    std::string failure;
    const auto outcome = writeOrAsk(
        scope_.user.value_or(""), loaded_,
        [&](const std::optional<std::string>& loaded) {
            return policies::writeIpRules(scope_, lines(), failure, loaded);
        },
        [&] { popList(*scope_.user); },
        [&] {
            return policies::changeIpRules(
                scope_,
                [&](std::vector<std::string>& stored) {
                    policies::applyListChange(loadedRules_, lines(), stored);
                    return true;
                },
                failure);
        });
    if (!writeWentThrough(outcome, failure, write)) return;
    hideWindow(this);
    if (afterSave_) afterSave_();
}

void IpAccessWindow::cmdCancel_Click() {
    hideWindow(this);
}

void IpAccessWindow::reject() {
    cmdCancel_Click();
}

void IpAccessWindow::tmrRules_Timer() {
    const bool selected = selectedRow() >= 0;
    ui_->cmdRemove->setEnabled(selected);
    ui_->cmdUp->setEnabled(selected);
    ui_->cmdDown->setEnabled(selected);
    ui_->cmdAdd->setEnabled(!ui_->txtIPaddress->text().isEmpty());
}

bool IpAccessWindow::txtIPaddress_Validate() {
    const policies::AddressCheck check = policies::checkAddress(fromQt(ui_->txtIPaddress->text()));
    if (check.beep) QApplication::beep();
    return check.accepted;
}

bool IpAccessWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->txtIPaddress) {
        if (event->type() == QEvent::KeyPress && !ui_->txtIPaddress->text().isEmpty()) {
            // Enter in the box adds the address rather than pressing OK.
            const int key = static_cast<QKeyEvent*>(event)->key();
            if (key == Qt::Key_Return || key == Qt::Key_Enter) {
                addTypedEntry();
                return true;
            }
        }
        if (event->type() == QEvent::MouseButtonPress) {
            ui_->lstRules->setCurrentItem(nullptr);
            ui_->lstRules->clearSelection();
        } else if (event->type() == QEvent::FocusOut) {
            // Only a move to another control of this dialog validates.
            const auto reason = static_cast<QFocusEvent*>(event)->reason();
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
                isVisible() && !txtIPaddress_Validate()) {
                swallowClick_ = true;
                const std::string reason =
                    policies::checkAddress(fromQt(ui_->txtIPaddress->text())).reason;
                QTimer::singleShot(0, this, [this, reason] {
                    swallowClick_ = false;
                    Shell::instance().ask(
                        titledMessage(reason, MessageIcon::Exclamation, MessageButtons::OK));
                    ui_->txtIPaddress->setFocus(Qt::OtherFocusReason);
                });
            }
        }
    } else if (swallowClick_ && (event->type() == QEvent::MouseButtonPress ||
                                 event->type() == QEvent::MouseButtonDblClick)) {
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace kestrix
