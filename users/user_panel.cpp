#include "users/user_panel.h"

#include <algorithm>

#include <QCheckBox>
#include <QFocusEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QShortcut>
#include <QSignalBlocker>
#include <QTableView>
#include <QTimer>

#include "core/settings.h"
#include "shell/path_box.h"
#include "shell/qt_text.h"
#include "shell/shell.h"
#include "ui_user_panel.h"
#include "users/add_edit_dir_window.h"
#include "users/editing/directory_entry.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/rule_rights_text.h"
#include "users/editing/text_rules.h"
#include "users/editing/user_lifecycle.h"
#include "users/editing/user_save.h"
#include "users/new_name_window.h"
#include "users/rule_rights_delegate.h"
#include "users/shell_prompts.h"
#include "users/user_name_model.h"
#include "users/user_table.h"

namespace kestrix {

namespace {

// Focus moving to another window or into a menu does not leave the box.
bool focusMovedWithinWindow(const QEvent* event) {
    const auto reason = static_cast<const QFocusEvent*>(event)->reason();
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

int selectedRowOf(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

}  // namespace

UserPanel::UserPanel(QWidget* parent) : QWidget(parent), ui_(std::make_unique<Ui::UserPanel>()) {
    ui_->setupUi(this);
    // After setupUi: a button's caption resets its shortcut to the mnemonic.
    ui_->cmdStore->setShortcut(QKeySequence::Save);
    ui_->cmdNew->setShortcut(QKeySequence::New);
    // Spare room goes to the record and, within it, to the rule list.
    // A password is masked as it is typed; the placeholder stays readable.
    // The second box is for a new password only: the placeholder keeps the
    // stored one, and empties it.
    connect(ui_->txtPassword, &QLineEdit::textChanged, this, [this](const QString& text) {
        const bool keepsStored = text == toQt(kPasswordPlaceholder);
        ui_->txtPassword->setEchoMode(keepsStored ? QLineEdit::Normal : QLineEdit::Password);
        if (keepsStored) ui_->txtPasswordConfirm->clear();
        ui_->txtPasswordConfirm->setEnabled(!keepsStored);
    });
    ui_->splitMain->setStretchFactor(0, 2);
    ui_->splitMain->setStretchFactor(1, 5);
    ui_->splitRecord->setStretchFactor(0, 0);
    ui_->splitRecord->setStretchFactor(1, 1);
    boxes_[0] = ui_->chkRead;
    boxes_[1] = ui_->chkWrite;
    boxes_[2] = ui_->chkAppend;
    boxes_[3] = ui_->chkDelete;
    boxes_[4] = ui_->chkExecute;
    boxes_[5] = ui_->chkList;
    boxes_[6] = ui_->chkMake;
    boxes_[7] = ui_->chkRemove;
    boxes_[8] = ui_->chkInherit;

    for (QObject* box :
         {static_cast<QObject*>(ui_->txtUsername), static_cast<QObject*>(ui_->txtHomeDir),
          static_cast<QObject*>(ui_->txtNotes), static_cast<QObject*>(ui_->txtPassword)}) {
        box->installEventFilter(this);
    }
    ui_->txtNotes->viewport()->installEventFilter(this);
    refuseLineBreaks(ui_->txtHomeDir, "Home Directory");
    for (QCheckBox* box : boxes_) {
        box->installEventFilter(this);
        connect(box, &QCheckBox::clicked, this, &UserPanel::ruleBox_Click);
    }
    ui_->lblExpires->installEventFilter(this);
    ui_->lblDisabled->installEventFilter(this);

    userNames_ = new UserNameModel(this);
    ui_->lstUsers->setModel(userNames_);
    // A list of one column whose rows all have the height of a line: laying
    // it out costs the same for ten names as for a hundred thousand, where
    // a list view places every entry.
    QHeaderView* rows = ui_->lstUsers->verticalHeader();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setMinimumSectionSize(1);
    rows->setDefaultSectionSize(ui_->lstUsers->fontMetrics().height() + 2);
    // The state column is as wide as its longest word; the name takes the
    // rest. Neither measures the rows.
    QHeaderView* columns = ui_->lstUsers->horizontalHeader();
    columns->setSectionResizeMode(UserNameModel::NameColumn, QHeaderView::Stretch);
    columns->setSectionResizeMode(UserNameModel::StateColumn, QHeaderView::Fixed);
    columns->resizeSection(UserNameModel::StateColumn,
                           ui_->lstUsers->fontMetrics().horizontalAdvance(
                               UserNameModel::stateText(AccountState::ExpiringSoon)) +
                               12);
    connect(ui_->txtFilter, &QLineEdit::textChanged, this, &UserPanel::txtFilter_Change);
    ui_->txtFilter->installEventFilter(this);
    auto* findUser = new QShortcut(QKeySequence::Find, this);
    findUser->setContext(Qt::WidgetWithChildrenShortcut);
    connect(findUser, &QShortcut::activated, this, [this] {
        ui_->txtFilter->setFocus(Qt::ShortcutFocusReason);
        ui_->txtFilter->selectAll();
    });
    // Arrow presses in a row load only the user they stop at.
    pendingLoad_ = new QTimer(this);
    pendingLoad_->setSingleShot(true);
    pendingLoad_->setInterval(kKeyLoadDelayMs);
    connect(pendingLoad_, &QTimer::timeout, this, &UserPanel::loadSelectedUser);
    connect(ui_->lstUsers->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &UserPanel::lstUsers_Click);
    ui_->lstAccess->setItemDelegate(new RuleRightsDelegate(ui_->lstAccess));
    connect(ui_->lstAccess, &QListWidget::itemSelectionChanged, this, &UserPanel::lstAccess_Click);
    connect(ui_->cmdBrowse, &QPushButton::clicked, this, &UserPanel::cmdBrowse_Click);
    connect(ui_->cmdMisc, &QPushButton::clicked, this, &UserPanel::cmdMisc_Click);
    connect(ui_->cmdUpDownRatios, &QPushButton::clicked, this, &UserPanel::cmdUpDownRatios_Click);
    connect(ui_->cmdQuota, &QPushButton::clicked, this, &UserPanel::cmdQuota_Click);
    connect(ui_->cmdIPAccess, &QPushButton::clicked, this, &UserPanel::cmdIPAccess_Click);
    connect(ui_->cmdStore, &QPushButton::clicked, this, &UserPanel::cmdStore_Click);
    connect(ui_->cmdNew, &QPushButton::clicked, this, &UserPanel::cmdNew_Click);
    connect(ui_->cmdDelete, &QPushButton::clicked, this, &UserPanel::cmdDelete_Click);
    connect(ui_->cmdAdd, &QPushButton::clicked, this, &UserPanel::cmdAdd_Click);
    connect(ui_->cmdEdit, &QPushButton::clicked, this, &UserPanel::cmdEdit_Click);
    connect(ui_->cmdDirDelete, &QPushButton::clicked, this, &UserPanel::cmdDirDelete_Click);
    connect(ui_->cmdUp, &QPushButton::clicked, this, &UserPanel::cmdUp_Click);
    connect(ui_->cmdDown, &QPushButton::clicked, this, &UserPanel::cmdDown_Click);

    tmrRules_ = new QTimer(this);
    tmrRules_->setObjectName(QStringLiteral("tmrRules"));
    tmrRules_->setInterval(75);
    connect(tmrRules_, &QTimer::timeout, this, &UserPanel::tmrRules_Timer);
    tmrRules_->start();
}

UserPanel::~UserPanel() = default;

// ---- the user list ----

bool UserPanel::popMain() {
    if (state_.unsavedChanges && askToLeave() == Leave::Stay) return false;
    refill({});
    return true;
}

void UserPanel::refreshAfterAccountRules() {
    if (state_.unsavedChanges) return;
    refill(state_.selectedUser);
}

void UserPanel::refill(const std::string& keep) {
    pendingLoad_->stop();
    preferredUser_ = keep;
    fillUserList(*this);
    preferredUser_.clear();
    showUserCount();
}

void UserPanel::placeSavedUser(const std::string& name, const std::string& replaced,
                               int rowToSelect) {
    int savedRow = -1;
    {
        const QSignalBlocker quiet = quietUserList();
        const int replacedRow = replaced.empty() ? -1 : userNames_->findExactly(replaced);
        // Save changes neither the disable switch nor the dates.
        ListedUser saved{name, AccountState::Active, {}};
        if (replacedRow >= 0) {
            saved.state = userNames_->state(replacedRow);
            saved.expires = userNames_->listed(replacedRow).expires;
            userNames_->removeName(replacedRow);
        } else if (!replaced.empty()) {
            userNames_->removeUnshown(replaced);
        }
        savedRow = userNames_->sortedPlace(toQt(name));
        userNames_->insertUser(savedRow, std::move(saved));
        setCurrentUserRow(-1);
    }
    shownUserName_.reset();
    showUserCount();
    // The selection reloads the user from the rows just written: the row
    // that was selected, or the saved user's when none was.
    if (rowToSelect < 0) rowToSelect = savedRow;
    if (userNames_->count() > 0) selectUserRow(std::clamp(rowToSelect, 0, userNames_->count() - 1));
}

void UserPanel::showUserCount() {
    const int total = userNames_->totalCount();
    const QString users = total == 1 ? QStringLiteral("user") : QStringLiteral("users");
    if (userNames_->filter().isEmpty()) {
        ui_->lblUserCount->setText(QStringLiteral("%L1 %2").arg(total).arg(users));
    } else {
        ui_->lblUserCount->setText(
            QStringLiteral("%L1 of %L2 %3").arg(userNames_->count()).arg(total).arg(users));
    }
}

void UserPanel::txtFilter_Change(const QString& text) {
    const int before = selectedUserRow();
    const std::optional<std::string> selected =
        before >= 0 ? std::optional(userNames_->name(before)) : std::nullopt;
    {
        const QSignalBlocker quiet = quietUserList();
        userNames_->setFilter(text);
        const int kept = selected ? userNames_->findExactly(*selected) : -1;
        setCurrentUserRow(kept);
    }
    showUserCount();
    // The selection follows: to the first user shown when the selected one
    // is filtered out. With unsaved edits nothing is loaded: the edits stay
    // on screen until the administrator picks a user.
    if (selectedUserRow() < 0 && userNames_->count() > 0 && !state_.unsavedChanges) {
        loadLater_ = true;
        setCurrentUserRow(0);
        loadLater_ = false;
    }
    if (selectedUserRow() >= 0) ui_->lstUsers->scrollTo(userNames_->index(selectedUserRow()));
}

void UserPanel::settlePendingLoad() {
    if (!pendingLoad_->isActive()) return;
    pendingLoad_->stop();
    loadSelectedUser();
}

QSignalBlocker UserPanel::quietUserList() const {
    return QSignalBlocker(ui_->lstUsers->selectionModel());
}

void UserPanel::setCurrentUserRow(int row) {
    // As a single-selection list does: the current entry is the selection.
    ui_->lstUsers->selectionModel()->setCurrentIndex(
        userNames_->index(row), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void UserPanel::clearUsers() {
    const QSignalBlocker quiet = quietUserList();
    userNames_->setNames({});
    shownUserName_.reset();
}

void UserPanel::addUsers(std::vector<ListedUser> users) {
    const QSignalBlocker quiet = quietUserList();
    userNames_->setUsers(std::move(users));
    // Adding must not select anything by itself.
    setCurrentUserRow(-1);
}

void UserPanel::selectFirstUser() {
    const QString wanted = toQt(trimmed(preferredUser_));
    const int found = wanted.isEmpty() ? -1 : userNames_->findIgnoringCase(wanted);
    selectUserRow(std::max(found, 0));
}

int UserPanel::userCount() const {
    return userNames_->count();
}

int UserPanel::selectedUserRow() const {
    const QModelIndexList selected = ui_->lstUsers->selectionModel()->selectedIndexes();
    return selected.isEmpty() ? -1 : selected.front().row();
}

int UserPanel::selectedRuleRow() const {
    return selectedRowOf(ui_->lstAccess);
}

void UserPanel::selectUserRow(int row) {
    if (row == selectedUserRow()) return;
    setCurrentUserRow(row);
}

void UserPanel::lstUsers_Click() {
    clearRuleSelection();
    if (selectedUserRow() < 0) {
        pendingLoad_->stop();
        return;
    }
    // Moving by key loads once the keys stop; the rules shown stay those of
    // the user shown until then. Unsaved edits are asked about at once.
    if ((loadLater_ || ui_->lstUsers->movingByKey()) && !state_.unsavedChanges) {
        pendingLoad_->start();
        return;
    }
    pendingLoad_->stop();
    loadSelectedUser();
}

void UserPanel::loadSelectedUser() {
    if (selectedUserRow() < 0) return;
    const std::string name = userNames_->name(selectedUserRow());
    if (state_.unsavedChanges) {
        switch (askToLeave()) {
            case Leave::Stay:
                restoreUserSelection();
                return;
            case Leave::Saved:
                // The refill selects the entry again, which loads it.
                refill(name);
                return;
            case Leave::Discarded:
                break;
        }
    }
    shownUserName_ = name;
    if (!loadUserData(name)) return;
    // Loading may have refilled the list (a repaired connection reloads it),
    // so the entry is read again.
    const int row = selectedUserRow();
    if (row >= 0) state_.selectedUser = userNames_->name(row);
}

void UserPanel::restoreUserSelection() {
    const QSignalBlocker quiet = quietUserList();
    setCurrentUserRow(shownUserName_ ? userNames_->findExactly(*shownUserName_) : -1);
}

// ---- unsaved changes ----

UserPanel::Leave UserPanel::askToLeave() {
    const std::string name = trimmed(fromQt(ui_->txtUsername->text()));
    const Answer answer =
        Shell::instance().ask(titledMessage("Save the changes to user " + name + "?",
                                            MessageIcon::Question, MessageButtons::YesNoCancel));
    if (answer == Answer::No) {
        state_.unsavedChanges = false;
        return Leave::Discarded;
    }
    if (answer != Answer::Yes) return Leave::Stay;
    return saveEditedUser() == users::SaveOutcome::Written ? Leave::Saved : Leave::Stay;
}

bool UserPanel::confirmLeavingUser() {
    if (!state_.unsavedChanges) return true;
    switch (askToLeave()) {
        case Leave::Stay:
            return false;
        case Leave::Saved:
            refill(fromQt(ui_->txtUsername->text()));
            return true;
        case Leave::Discarded:
            return true;
    }
    return true;
}

// ---- one user's record ----

bool UserPanel::loadUserData(const std::string& name) {
    // A pending new user or copy ends, so that a later Save cannot insert a
    // stored user a second time.
    state_.editMode = EditMode::Stored;
    // The rule list is emptied and filled again: it shows only the result.
    ui_->lstAccess->setUpdatesEnabled(false);
    const bool loaded = kestrix::loadUserData(name, state_, *this);
    showRuleRights();
    ui_->lstAccess->setUpdatesEnabled(true);
    return loaded;
}

bool UserPanel::loadStatusLines(const std::string& name) {
    return kestrix::loadStatusLines(name, *this);
}

void UserPanel::clearRules() {
    ui_->lstAccess->clear();
}

void UserPanel::showRecord(const std::string& username, const std::string& homedir,
                           const std::string& comments) {
    ui_->txtUsername->setText(toQt(username));
    ui_->txtHomeDir->setText(toQt(homedir));
    ui_->txtNotes->setPlainText(toQt(comments));
    ui_->txtPassword->setText(toQt(kPasswordPlaceholder));
}

void UserPanel::addRule(const std::string& directory) {
    ui_->lstAccess->addItem(toQt(directory));
    // A long path is cut by the list's width; the tip shows all of it.
    ui_->lstAccess->item(ui_->lstAccess->count() - 1)->setToolTip(toQt(directory));
}

void UserPanel::showLine(QLabel* label, const StatusLine& line) {
    label->setText(toQt(line.text));
    QPalette colours = label->palette();
    const QColor colour =
        line.colour == LineColour::Red ? QColor(255, 0, 0) : palette().color(QPalette::ButtonText);
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
}

void UserPanel::showDisableLine(const StatusLine& line) {
    showLine(ui_->lblDisabled, line);
}

void UserPanel::showExpiryLine(const StatusLine& line) {
    showLine(ui_->lblExpires, line);
}

void UserPanel::statementFailed(const std::string& description) {
    reportStatementFailure(description);
}

// ---- the rule list ----

void UserPanel::clearRuleSelection() {
    ui_->lstAccess->setCurrentRow(-1);
    ui_->lstAccess->clearSelection();
}

void UserPanel::selectRuleRow(int row) {
    if (row < 0 || row >= ui_->lstAccess->count()) return;
    ui_->lstAccess->setCurrentRow(row);
    ui_->lstAccess->scrollToItem(ui_->lstAccess->item(row));
}

void UserPanel::lstAccess_Click() {
    showRuleBoxes(workingRules());
}

void UserPanel::showRuleBoxes(const users::RuleList& rules) {
    const auto shown = rules.shownForSelection();
    const users::RuleList::Shown none;
    const Rights& r = shown ? shown->rights : none.rights;
    const bool ticked[9] = {r.read,   r.write,   r.append,
                            r.remove, r.execute, r.list,
                            r.make,   r.rmdir,   shown && shown->inherit};
    for (int i = 0; i < 9; ++i)
        boxes_[i]->setChecked(ticked[i]);
}

Rights UserPanel::boxRights() const {
    return Rights{ui_->chkRead->isChecked(),    ui_->chkWrite->isChecked(),
                  ui_->chkAppend->isChecked(),  ui_->chkDelete->isChecked(),
                  ui_->chkExecute->isChecked(), ui_->chkList->isChecked(),
                  ui_->chkMake->isChecked(),    ui_->chkRemove->isChecked()};
}

void UserPanel::ruleBox_Click() {
    users::RuleList rules = workingRules();
    if (!rules.setSelectedRights(boxRights(), ui_->chkInherit->isChecked())) return;
    state_.ruleSet = rules.rules();
    state_.unsavedChanges = true;
    showRuleRights();
}

void UserPanel::showRuleRights() {
    const int count = std::min<int>(ui_->lstAccess->count(), state_.ruleSet.size());
    for (int row = 0; row < count; ++row) {
        const users::RuleRightsText rights =
            users::ruleRightsText(state_.ruleSet[static_cast<std::size_t>(row)]);
        QString text = rights.letters.empty() ? QStringLiteral("-") : toQt(rights.letters);
        if (rights.inherited) text += QStringLiteral(" ") + toQt(rights.inheritWord());
        ui_->lstAccess->item(row)->setData(RuleRightsDelegate::kRightsRole, text);
    }
}

// ---- buttons ----

void UserPanel::cmdBrowse_Click() {
    if (auto folder = Shell::instance().chooseFolder(window(), "Select directory path",
                                                     fromQt(ui_->txtHomeDir->text()))) {
        if (toQt(*folder) != ui_->txtHomeDir->text()) state_.unsavedChanges = true;
        ui_->txtHomeDir->setText(toQt(*folder));
    }
}

void UserPanel::cmdMisc_Click() {
    settlePendingLoad();
    emit miscRequested();
}

void UserPanel::cmdUpDownRatios_Click() {
    settlePendingLoad();
    emit ratiosRequested();
}

void UserPanel::cmdQuota_Click() {
    settlePendingLoad();
    emit quotaRequested();
}

void UserPanel::cmdIPAccess_Click() {
    settlePendingLoad();
    emit ipAccessRequested();
}

// ---- Save ----

users::SaveOutcome UserPanel::saveEditedUser() {
    state_.unsavedChanges = false;
    users::SaveForm form;
    form.username = fromQt(ui_->txtUsername->text());
    form.homeDir = fromQt(ui_->txtHomeDir->text());
    form.password = fromQt(ui_->txtPassword->text());
    form.passwordConfirm = fromQt(ui_->txtPasswordConfirm->text());
    form.notes = fromQt(ui_->txtNotes->toPlainText());
    users::SaveContext context{state_.selectedUser, state_.editMode, state_.ruleSet,
                               state_.loadedVersion};
    context.loaded = &state_.loaded;
    ShellPrompts prompts;
    const users::SaveOutcome outcome = users::saveUser(form, context, prompts);
    if (outcome == users::SaveOutcome::Written) {
        state_.editMode = EditMode::Stored;
    } else if (outcome == users::SaveOutcome::Reload) {
        // What is stored now replaces what was typed, as asked.
        loadUserData(state_.selectedUser);
    } else if (outcome != users::SaveOutcome::Vanished) {
        // What was not written is still to be saved.
        state_.unsavedChanges = true;
    }
    return outcome;
}

void UserPanel::cmdStore_Click() {
    settlePendingLoad();
    const int remembered = selectedUserRow();
    // The entry a stored user was saved from: the one the user was loaded
    // through.
    const std::string savedFrom =
        state_.editMode == EditMode::Stored ? state_.selectedUser : std::string();
    const std::string savedName = fromQt(ui_->txtUsername->text());
    switch (saveEditedUser()) {
        case users::SaveOutcome::Written:
            placeSavedUser(savedName, savedFrom, remembered);
            break;
        case users::SaveOutcome::Vanished:
            refill({});
            if (selectedUserRow() < 0) emptyEditingArea();
            break;
        default:
            break;
    }
}

// ---- new users, copies, deletion ----

NewNameWindow& UserPanel::newNameWindow() {
    if (newName_ == nullptr) {
        newName_ =
            new NewNameWindow([this](const std::string& name,
                                     const std::string& password) { createUser(name, password); },
                              window());
    }
    return *newName_;
}

void UserPanel::cmdNew_Click() {
    settlePendingLoad();
    if (!confirmLeavingUser()) return;
    NewNameWindow& dialog = newNameWindow();
    dialog.clearBoxes();
    showWindow(&dialog, 0);
}

void UserPanel::createUser(const std::string& name, const std::string& password) {
    ui_->txtUsername->setText(toQt(name));
    ui_->txtHomeDir->setText(toQt(users::newUserHomeDir(getRegSettings(kFtpDirectoryValue))));
    ui_->txtNotes->clear();
    // Typed twice in the dialog already.
    ui_->txtPassword->setText(toQt(password));
    ui_->txtPasswordConfirm->setText(toQt(password));
    state_.selectedUser.clear();
    // No stored user has the empty name: this empties the rules and sets the
    // status lines, and leaves the four boxes as filled above.
    loadUserData("");
    state_.editMode = EditMode::NewUser;
    newName_->clearBoxes();
    hideWindow(newName_);

    cmdStore_Click();
    const int row = userNames_->findIgnoringCase(toQt(trimmed(name)));
    if (row >= 0) selectUserRow(row);
}

void UserPanel::txtUsername_GotFocus() {
    if (copyFlowRunning_) return;
    copyFlowRunning_ = true;
    ShellPrompts prompts;
    const users::CopyResult copy = users::runCopyFlow(
        users::CopyRequest{fromQt(ui_->txtUsername->text()), state_.selectedUser}, prompts);
    copyFlowRunning_ = false;
    if (copy.focusNotes) {
        ui_->txtNotes->setFocus(Qt::OtherFocusReason);
        return;
    }
    ui_->txtUsername->setText(toQt(copy.nameBox));
    if (copy.copyStarted) {
        state_.selectedUser = copy.nameBox;
        state_.editMode = EditMode::Copy;
        ui_->txtPassword->setText(toQt(copy.password));
        ui_->txtPasswordConfirm->setText(toQt(copy.password));
    }
    if (copy.unsaved) state_.unsavedChanges = true;
}

void UserPanel::startCopy() {
    if (state_.selectedUser.empty()) return;
    // The box's focus starts the flow; in the box already, it starts here.
    if (ui_->txtUsername->hasFocus())
        txtUsername_GotFocus();
    else
        ui_->txtUsername->setFocus(Qt::ShortcutFocusReason);
}

void UserPanel::cmdDelete_Click() {
    settlePendingLoad();
    // Nobody to delete: no question naming nobody.
    if (userCount() == 0 || state_.selectedUser.empty()) return;
    if (!confirmLeavingUser()) return;
    ShellPrompts prompts;
    const users::DeleteOutcome outcome = users::deleteUser(state_.selectedUser, prompts);
    if (outcome == users::DeleteOutcome::DatabaseUnavailable ||
        outcome == users::DeleteOutcome::Failed) {
        return;
    }
    refill({});
    if (selectedUserRow() < 0) emptyEditingArea();
}

void UserPanel::emptyEditingArea() {
    ui_->txtHomeDir->clear();
    ui_->txtNotes->clear();
    ui_->txtPassword->clear();
    ui_->txtPasswordConfirm->clear();
    ui_->txtUsername->clear();
    // The rule set goes with the list, so that no rule is saved that the
    // list does not show; nothing is pending any more, and no deleted user
    // is still the one being edited.
    keepRules(users::RuleList());
    state_.editMode = EditMode::Stored;
    state_.selectedUser.clear();
}

// ---- rule commands ----

users::RuleList UserPanel::workingRules() const {
    users::RuleList rules;
    for (const DirRule& rule : state_.ruleSet)
        rules.load(rule);
    rules.select(selectedRuleRow());
    return rules;
}

void UserPanel::keepRules(const users::RuleList& rules) {
    state_.ruleSet = rules.rules();
    const QSignalBlocker quiet(ui_->lstAccess);
    const std::vector<std::string>& entries = rules.entries();
    const int count = static_cast<int>(entries.size());
    while (ui_->lstAccess->count() > count)
        delete ui_->lstAccess->takeItem(ui_->lstAccess->count() - 1);
    for (int row = 0; row < count; ++row) {
        const QString text = toQt(entries[static_cast<std::size_t>(row)]);
        if (row >= ui_->lstAccess->count()) ui_->lstAccess->addItem(text);
        ui_->lstAccess->item(row)->setText(text);
        ui_->lstAccess->item(row)->setToolTip(text);
    }
    ui_->lstAccess->setCurrentRow(rules.selected());
    showRuleBoxes(rules);
    showRuleRights();
}

AddEditDirWindow& UserPanel::addEditDirWindow() {
    if (addEditDir_ == nullptr) {
        AddEditDirLinks links;
        links.markUnsaved = [this] { state_.unsavedChanges = true; };
        links.add = [this](const std::string& path) {
            users::RuleList rules = workingRules();
            rules.add(path);
            // The new rule is selected, so the boxes show its own rights.
            rules.select(static_cast<int>(rules.rules().size()) - 1);
            keepRules(rules);
            state_.unsavedChanges = true;
        };
        links.rename = [this](const std::string& path) {
            users::RuleList rules = workingRules();
            rules.renameSelected(path);
            keepRules(rules);
        };
        addEditDir_ = new AddEditDirWindow(std::move(links), window());
    }
    return *addEditDir_;
}

void UserPanel::cmdAdd_Click() {
    settlePendingLoad();
    AddEditDirWindow& dialog = addEditDirWindow();
    dialog.prepareAdd(users::defaultRulePath(getRegSettings(kFtpDirectoryValue)));
    showWindow(&dialog, 1);
}

void UserPanel::cmdEdit_Click() {
    const auto entry = workingRules().selectedText();
    if (!entry) return;
    AddEditDirWindow& dialog = addEditDirWindow();
    dialog.prepareEdit(*entry);
    showWindow(&dialog, 1);
}

void UserPanel::cmdDirDelete_Click() {
    users::RuleList rules = workingRules();
    rules.removeSelected();
    keepRules(rules);
    state_.unsavedChanges = true;
}

void UserPanel::cmdUp_Click() {
    users::RuleList rules = workingRules();
    if (!rules.moveUp()) return;
    // The boxes show the moved rule as it stands in the rule set.
    keepRules(rules);
    state_.unsavedChanges = true;
}

void UserPanel::cmdDown_Click() {
    users::RuleList rules = workingRules();
    if (!rules.moveDown()) return;
    keepRules(rules);
    state_.unsavedChanges = true;
}

// ---- the editing-state refresh ----

void UserPanel::tmrRules_Timer() {
    const bool userSelected = selectedUserRow() >= 0;
    for (QWidget* button :
         {static_cast<QWidget*>(ui_->cmdUpDownRatios), static_cast<QWidget*>(ui_->cmdMisc),
          static_cast<QWidget*>(ui_->cmdIPAccess), static_cast<QWidget*>(ui_->cmdQuota),
          static_cast<QWidget*>(ui_->cmdAdd)}) {
        button->setEnabled(userSelected);
    }
    const bool ruleSelected = selectedRuleRow() >= 0;
    for (QWidget* control :
         {static_cast<QWidget*>(ui_->cmdDirDelete), static_cast<QWidget*>(ui_->cmdUp),
          static_cast<QWidget*>(ui_->cmdDown), static_cast<QWidget*>(ui_->cmdEdit)}) {
        control->setEnabled(ruleSelected);
    }
    for (QCheckBox* box : boxes_)
        box->setEnabled(ruleSelected);
    QFont font = ui_->cmdStore->font();
    font.setBold(state_.unsavedChanges);
    ui_->cmdStore->setFont(font);
}

// ---- focus and clicks of the boxes ----

QString UserPanel::editedText(QObject* box) const {
    if (box == ui_->txtNotes) return ui_->txtNotes->toPlainText();
    if (auto* line = qobject_cast<QLineEdit*>(box)) return line->text();
    return {};
}

bool UserPanel::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui_->txtFilter && event->type() == QEvent::KeyPress) {
        // From the filter into the list it narrowed.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Down || key == Qt::Key_Return || key == Qt::Key_Enter) {
            ui_->lstUsers->setFocus(Qt::TabFocusReason);
            return true;
        }
    }
    switch (event->type()) {
        case QEvent::FocusIn:
            if ((watched == ui_->txtHomeDir || watched == ui_->txtNotes ||
                 watched == ui_->txtPassword) &&
                focusMovedWithinWindow(event)) {
                enteredBox_ = watched;
                enteredText_ = editedText(watched);
            }
            if (watched == ui_->txtPassword && focusMovedWithinWindow(event)) {
                ui_->txtPassword->setText(toQt(passwordOnEnter(fromQt(ui_->txtPassword->text()))));
            } else if (watched == ui_->txtUsername && focusMovedWithinWindow(event)) {
                // Its boxes must not open inside the focus change itself.
                QMetaObject::invokeMethod(this, &UserPanel::txtUsername_GotFocus,
                                          Qt::QueuedConnection);
            }
            break;
        case QEvent::FocusOut:
            if (watched != ui_->txtUsername && focusMovedWithinWindow(event)) {
                if (watched == ui_->txtPassword) {
                    ui_->txtPassword->setText(
                        toQt(passwordOnLeave(fromQt(ui_->txtPassword->text()))));
                }
                // Only a real change counts: passing through a box, or
                // ticking the rule boxes (their clicks mark it), does not.
                if (watched == enteredBox_ && editedText(watched) != enteredText_)
                    state_.unsavedChanges = true;
            }
            break;
        case QEvent::MouseButtonRelease:
            if (watched == ui_->lblExpires || watched == ui_->lblDisabled) {
                cmdMisc_Click();
            } else if (watched == ui_->txtHomeDir || watched == ui_->txtPassword ||
                       watched == ui_->txtNotes->viewport()) {
                clearRuleSelection();
            }
            break;
        default:
            break;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kestrix
