#pragma once

#include <QWidget>

#include <memory>
#include <optional>
#include <string>

#include "users/editing/rule_list.h"
#include "users/editing/user_save.h"
#include "users/editing_state.h"
#include "users/user_list_loader.h"
#include "users/user_record_loader.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QSignalBlocker;
class QTimer;

namespace Ui {
class UserPanel;
}

namespace kestrix {

class AddEditDirWindow;
class NewNameWindow;
class UserNameModel;

// The user editing area of the main window: the user list, the record of
// the user being edited, the rule list with its boxes, the status lines and
// the per-user buttons. It owns the editing state.
class UserPanel : public QWidget, private UserListView, private UserRecordView {
    Q_OBJECT
  public:
    explicit UserPanel(QWidget* parent = nullptr);
    ~UserPanel() override;

    EditingState& state() { return state_; }
    const EditingState& state() const { return state_; }

    // popMain: refills the list from the database and selects (and so
    // loads) the first user. False when the administrator chose to stay
    // with unsaved changes; nothing changed then.
    bool popMain();
    // After the daily account rules deleted or disabled accounts: the list
    // is read again, keeping the selected user where it is still stored.
    // Left as it is while the administrator has unsaved changes.
    void refreshAfterAccountRules();
    // Before the user being edited is left (another user, New User, Delete,
    // the end of the program): with unsaved changes, asks whether to save
    // them. False when the administrator stays (Cancel, or a failed save).
    bool confirmLeavingUser();
    // Loads one user into the editing area and rebuilds the rule set. A
    // pending new user or copy ends here: what is loaded is what Save
    // updates. False when the database refused a statement (already
    // reported).
    bool loadUserData(const std::string& name);
    // Shows the stored dates of that user in the status lines only.
    bool loadStatusLines(const std::string& name);
    int userCount() const override;

    // The list entry selected, or -1.
    int selectedUserRow() const;
    int selectedRuleRow() const;
    // Selects a list entry; a change of selection loads that user.
    void selectUserRow(int row);
    // Selects a rule of the rule list; its boxes show it.
    void selectRuleRow(int row);

    QTimer* rulesTimer() const { return tmrRules_; }

  signals:
    // The per-user dialogs, opened by whoever owns them; each acts on
    // state().selectedUser.
    void miscRequested();
    void ratiosRequested();
    void quotaRequested();
    void ipAccessRequested();

  public slots:
    void lstUsers_Click();
    // The filter box: the list shows the users whose name contains it.
    void txtFilter_Change(const QString& text);
    void lstAccess_Click();
    void cmdBrowse_Click();
    void cmdMisc_Click();
    void cmdUpDownRatios_Click();
    void cmdQuota_Click();
    void cmdIPAccess_Click();
    void tmrRules_Timer();

    void cmdStore_Click();
    void cmdNew_Click();
    void cmdDelete_Click();
    void cmdAdd_Click();
    void cmdEdit_Click();
    void cmdDirDelete_Click();
    void cmdUp_Click();
    void cmdDown_Click();
    // A rule box was ticked or cleared: the selected rule takes the boxes.
    void ruleBox_Click();
    // Entering the user-name box offers to copy the user.
    void txtUsername_GotFocus();
    // Copy User of the menu: the copy flow, as entering the name box
    // starts it, for the keyboard as well as the mouse.
    void startCopy();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    QString editedText(QObject* box) const;
    // UserListView
    void clearUsers() override;
    void addUsers(std::vector<ListedUser> users) override;
    void selectFirstUser() override;
    // UserRecordView
    void clearRules() override;
    void showRecord(const std::string& username, const std::string& homedir,
                    const std::string& comments) override;
    void addRule(const std::string& directory) override;
    void showDisableLine(const StatusLine& line) override;
    void showExpiryLine(const StatusLine& line) override;
    void statementFailed(const std::string& description) override;

    void showLine(QLabel* label, const StatusLine& line);
    void clearRuleSelection();
    // The boxes show the selected rule, or stay empty with none selected.
    void showRuleBoxes(const users::RuleList& rules);
    Rights boxRights() const;
    // Each rule list entry shows the rights of its rule beside it.
    void showRuleRights();

    enum class Leave { Stay, Discarded, Saved };
    // The unsaved-changes question; Saved when the save went through.
    Leave askToLeave();
    // Save of the record as the boxes show it; the list is not touched.
    users::SaveOutcome saveEditedUser();
    // Refills the list and selects the entry of that name (without regard
    // to case), or the first one.
    void refill(const std::string& keep);
    // After a Save: the saved user's entry, in name order, in place of the
    // one it was saved from (or added, for a user that is new); the list is
    // not read again. The row that was selected is selected (and loaded)
    // again, as after a refill.
    void placeSavedUser(const std::string& name, const std::string& replaced, int rowToSelect);
    // "12 of 100,004 users" under the list.
    void showUserCount();
    // Loads the user selected in the list (the rest of lstUsers_Click).
    void loadSelectedUser();
    // A load still waiting for the keys to stop happens now, so that a
    // command acts on the user the list shows.
    void settlePendingLoad();
    // Changes of the user list's selection that load no user.
    QSignalBlocker quietUserList() const;
    // The entry made current and selected alone; -1 selects none.
    void setCurrentUserRow(int row);
    // Puts the list's selection back on the user being edited, quietly.
    void restoreUserSelection();

    // The rule set with the list's selection, for one rule command; keepRules
    // puts its result back into the rule set and the list, which always
    // show the same rules in the same order.
    users::RuleList workingRules() const;
    void keepRules(const users::RuleList& rules);

    AddEditDirWindow& addEditDirWindow();
    NewNameWindow& newNameWindow();
    // The new-user dialog accepted a name: fill the window, store, select.
    void createUser(const std::string& name, const std::string& password);
    void emptyEditingArea();

    std::unique_ptr<Ui::UserPanel> ui_;
    UserNameModel* userNames_ = nullptr;
    EditingState state_;
    QTimer* tmrRules_ = nullptr;
    QCheckBox* boxes_[9] = {};
    // The text a box held when the focus entered it: leaving it marks the
    // user unsaved only when that text has changed.
    QObject* enteredBox_ = nullptr;
    QString enteredText_;
    // Made on first use, then only hidden; owned as children of the window.
    AddEditDirWindow* addEditDir_ = nullptr;
    NewNameWindow* newName_ = nullptr;
    bool copyFlowRunning_ = false;
    // The list entry of the user being edited, to go back to.
    std::optional<std::string> shownUserName_;
    // How long the list waits after a key before it loads the user.
    static constexpr int kKeyLoadDelayMs = 120;
    QTimer* pendingLoad_ = nullptr;
    // The next change of selection loads after the wait, as a key's would.
    bool loadLater_ = false;
    // What refill() selects instead of the first entry.
    std::string preferredUser_;
};

}  // namespace kestrix
