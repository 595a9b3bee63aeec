#pragma once

#include <QWidget>
#include <filesystem>
#include <memory>

#include "maintenance/migration/migration_run.h"

namespace Ui {
class MigrationWindow;
}

namespace kestrix::migration {

// The utility's window: what the account file holds, the progress while it
// is written, the report, and the way back to Kestrix.
class MigrationWindow : public QWidget {
    Q_OBJECT
  public:
    MigrationWindow(MigrationSource source, bool withDomains,
                    std::filesystem::path programDirectory, QWidget* parent = nullptr);
    ~MigrationWindow() override;

    const MigrationResult* result() const { return result_.get(); }

    void cmdMigrate_Click();
    void cmdStartKestrix_Click();

  private:
    std::unique_ptr<Ui::MigrationWindow> ui_;
    MigrationSource source_;
    bool withDomains_;
    std::filesystem::path programDirectory_;
    LoadedAccounts loaded_;
    std::unique_ptr<MigrationResult> result_;
};

}  // namespace kestrix::migration
