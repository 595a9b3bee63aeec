#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "policies/logic/ip_rules.h"

class QTimer;

namespace Ui {
class IpAccessWindow;
}

namespace kestrix {

class NumericKeyFilter;

enum class IpListOwner { User, Server };

// frmIPAccess (one user's blocked addresses) and frmGlobalIPAccess (the
// server-wide list): one window, told apart by whose list it edits.
class IpAccessWindow : public QDialog {
    Q_OBJECT
  public:
    // afterSave runs once OK has stored the list.
    explicit IpAccessWindow(IpListOwner owner, std::function<void()> afterSave = {},
                            QWidget* parent = nullptr);
    ~IpAccessWindow() override;

    // Fills the list with the stored rules of the user (the server-wide
    // list ignores the name).
    void popList(const std::string& user = {});

    std::vector<std::string> lines() const;
    QTimer* rulesTimer() const { return tmrRules_; }

  public slots:
    void cmdAdd_Click();
    void cmdRemove_Click();
    void cmdUp_Click();
    void cmdDown_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void tmrRules_Timer();
    void reject() override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    int selectedRow() const;
    void moveSelected(int step);
    // Adds the typed entry after its checks; false (with a message) when
    // it is refused or not wanted, the focus back in the box.
    bool addTypedEntry();
    // False when the address is refused: the focus goes back to the box.
    bool txtIPaddress_Validate();

    std::unique_ptr<Ui::IpAccessWindow> ui_;
    policies::IpRuleScope scope_;
    // A user's list as loaded, so that OK notices another writer's change.
    std::optional<std::string> loaded_;
    std::vector<std::string> loadedRules_;  // the list as read, for the audit trail
    std::function<void()> afterSave_;
    NumericKeyFilter* keyFilter_ = nullptr;
    QTimer* tmrRules_ = nullptr;
    // The entry Remove last put back into the box.
    QString removedEntry_;
    // A refused address swallows the click that tried to leave the box.
    bool swallowClick_ = false;
};

}  // namespace kestrix
