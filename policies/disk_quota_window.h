#pragma once

#include <QDialog>

#include <memory>
#include <optional>
#include <string>

#include "policies/logic/disk_quota_settings.h"

namespace Ui {
class DiskQuotaWindow;
}

namespace kestrix {

// frmDiskQuota: one user's disk quota switch and maximum, with the remaining
// quota shown. It writes to the user it loaded.
class DiskQuotaWindow : public QDialog {
    Q_OBJECT
  public:
    explicit DiskQuotaWindow(QWidget* parent = nullptr);
    ~DiskQuotaWindow() override;

    void popQuota(const std::string& user);
    // The same load without touching the switch (after a unit change).
    void popQuota2();
    void changeUnits();

    const std::string& loadedUser() const { return loadedUser_; }

  public slots:
    void chkEnableQuota_Click();
    void cmdOK_Click();
    void cmdCancel_Click();
    void reject() override;

  private:
    void load(bool withSwitch);

    std::unique_ptr<Ui::DiskQuotaWindow> ui_;
    policies::QuotaUnit unit_ = policies::QuotaUnit::Mb;
    std::string loadedUser_;
    // The settings as loaded, so that OK notices another writer's change.
    std::optional<std::string> loaded_;
    // What the dialog showed as loaded, for Keep both.
    policies::QuotaView loadedView_;
};

}  // namespace kestrix
