#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "policies/logic/misc_settings.h"
#include "policies/logic/month_calendar.h"
#include "policies/user_dialog_links.h"

class QLineEdit;

namespace Ui {
class MiscSetupWindow;
}

namespace kestrix {

// frmMiscSetup: one user's account limits and schedule, with the date
// picker (fraCal1) lying over the settings (fraMain). Made on first use and
// then only hidden, except that Enter or Escape in the grid of the
// stand-alone GetDate closes it for good (closedForGood): its owner makes a
// new one next time.
class MiscSetupWindow : public QDialog {
    Q_OBJECT
  public:
    explicit MiscSetupWindow(UserDialogLinks links, QWidget* parent = nullptr);
    ~MiscSetupWindow() override;

    // Loads the user's row into the controls; OK writes to this user.
    void popInfo(const std::string& user);
    const std::string& loadedUser() const { return loadedUser_; }

    // The picker on its own, modally: true with date set when one was chosen.
    bool getDate(policies::Date& date, const QString& title = {});

    policies::MiscSettings settings() const;
    bool pickerInFront() const;
    bool dateChosen() const { return dateChosen_; }

  signals:
    void closedForGood();

  public slots:
    void CmdOK_Click();
    void CmdCancel_Click();
    void CmdLoginMessageFile_Click();
    void cmdDiableDDD_Click();
    void cmdExpiresDDD_Click();
    void Command2_Click();
    void Command1_Click();
    // The close box and Escape outside the grid cancel.
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    void show(const policies::MiscSettings& settings);
    void chkDisableAccount_Click();
    void chkDisableOn_Click();
    void chkExpires_Click();
    void openPicker(QLineEdit* target);
    void dateBoxLeft(QLineEdit* box);
    void showMainFrame();
    void addWeekdayHeadings();
    void pickerDateChanged(policies::Date date);
    void cboMonth_Click(int index);
    void cboYear_Click(int index);
    void acceptPickedDate();
    void closeHost();
    QWidget* fieldWidget(policies::MiscField field) const;

    std::unique_ptr<Ui::MiscSetupWindow> ui_;
    UserDialogLinks links_;
    std::string loadedUser_;
    // The settings as loaded, so that OK notices another writer's change.
    std::optional<std::string> loaded_;
    policies::MiscSettings loadedSettings_;  // as read, for the audit trail
    // Where a chosen date goes: txtDisableDate, txtExpDate, or nowhere.
    QLineEdit* targetField_ = nullptr;
    bool dateChosen_ = false;
    bool standAlonePick_ = false;
    bool checkingDate_ = false;  // a typed date's refusal is on the screen  // inside GetDate:
                                 // Enter and Escape close the window
};

}  // namespace kestrix
