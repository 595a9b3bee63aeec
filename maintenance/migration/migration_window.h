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
    // Asks the run to stop; it undoes what it wrote.
    void cmdCancel_Click();

  protected:
    // Closing while the run writes cancels it instead.
    void closeEvent(QCloseEvent* event) override;

  private:
    bool showProgress(const WriteStep& step);
    void centreOnScreen();

    std::unique_ptr<Ui::MigrationWindow> ui_;
    MigrationSource source_;
    bool withDomains_;
    std::filesystem::path programDirectory_;
    LoadedAccounts loaded_;
    std::unique_ptr<MigrationResult> result_;
    bool running_ = false;
    bool cancelRequested_ = false;
};

}  // namespace kestrix::migration
