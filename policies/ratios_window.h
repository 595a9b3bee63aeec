#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "policies/logic/ratio_settings.h"

namespace Ui {
class RatiosWindow;
}

namespace kestrix {

// frmUDRatios: one user's upload/download ratio and credit. It writes to
// the user it loaded, whoever the main window shows by then.
class RatiosWindow : public QDialog {
    Q_OBJECT
  public:
    explicit RatiosWindow(QWidget* parent = nullptr);
    ~RatiosWindow() override;

    void thisFormLoadData(const std::string& user);
    // False when the database refused the UPDATE (already reported).
    bool thisFormSaveData();
    void checkEnabled();
    void changeUnits();

    const std::string& loadedUser() const { return loadedUser_; }

  public slots:
    void chkEnableUD_Click();
    void option_Click(policies::RatioKind kind);
    void cmdOK_Click();
    void cmdCancel_Click();
    void reject() override;

  private:
    policies::RatioForm form() const;
    void showForm(const policies::RatioForm& form);

    std::unique_ptr<Ui::RatiosWindow> ui_;
    std::string loadedUser_;
    // The settings as loaded, so that OK notices another writer's change.
    std::optional<std::string> loaded_;
    // The form as loaded, for Keep both.
    policies::RatioForm loadedForm_;
};

}  // namespace kestrix
