#pragma once

#include <QDialog>
#include <filesystem>
#include <memory>

#include "maintenance/migration_launcher.h"

namespace Ui {
class MigrateWindow;
}

namespace kestrix {

// frmMigrate: the choice of the FTP server's generation, then the
// hand-over to the migration utility.
class MigrateWindow : public QDialog {
    Q_OBJECT
  public:
    MigrateWindow(MigrationPlaces places, MigrationHandOver handOver, QWidget* parent = nullptr);
    ~MigrateWindow() override;

    // How the last OK ended; no value before the first.
    std::optional<MigrationLaunch> lastLaunch() const { return lastLaunch_; }
    // The process id of the utility the last OK started; 0 when none.
    long long startedPid() const { return startedPid_; }

  public slots:
    void cmdOK_Click();
    void cmdCancel_Click();
    void reject() override;

  private:
    void Form_Load();

    std::unique_ptr<Ui::MigrateWindow> ui_;
    MigrationPlaces places_;
    MigrationHandOver handOver_;
    std::optional<MigrationLaunch> lastLaunch_;
    long long startedPid_ = 0;
};

}  // namespace kestrix
