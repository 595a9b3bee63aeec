#pragma once

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace Ui {
class DatabaseWizard;
}

namespace kestrix {

// What the wizard needs of the configuration dialog and the platform.
struct WizardLinks {
    // Puts the connection string the wizard made or chose into the dialog's
    // box; the dialog's commit stores it.
    std::function<void(const std::string&)> setConnectionString;
    // The PostgreSQL connection dialog, filled with a server (may be empty):
    // a complete connection string, or nothing. Unset: the program's own.
    std::function<std::optional<std::string>(const std::string& server)> askConnection;
    // The default database's file (may be empty): its folder is where the
    // file dialogs open.
    std::string defaultDatabaseFile;
};

// frmDatabaseWizard1: creates a new user database or selects an existing
// one. Page 0 chooses which; pages 1 and 2 create, 3 shows the log, 4
// selects. Every exit returns it to page 0 with no engine chosen.
class DatabaseWizard : public QDialog {
    Q_OBJECT
  public:
    explicit DatabaseWizard(WizardLinks links, QWidget* parent = nullptr);
    ~DatabaseWizard() override;

    bool showFormFace(int page);
    int page() const { return page_; }

  public slots:
    void cmdPage0Next_Click();
    void cmdBack_Click();
    void cmdPage1Next_Click();
    void cmdPage2Next_Click();
    void cmdPage4Next_Click();
    // Every Cancel and Finish.
    void leave();
    void reject() override;

    // True while a database step runs off the window's thread.
    bool busy() const { return busy_; }

  private:
    // Runs the work on a thread of its own; the window keeps answering and
    // shows the step with a busy bar until it is done.
    void waitFor(const std::string& step, const std::function<void()>& work);
    std::optional<std::string> askConnection(const std::string& server);
    // Next on the engine pages waits for an engine.
    void engineChosen();
    std::string fileStartDirectory() const;
    void stored(const std::string& connectionString);

    std::unique_ptr<Ui::DatabaseWizard> ui_;
    WizardLinks links_;
    int page_ = 1;
    int logListener_ = 0;
    bool busy_ = false;
};

}  // namespace kestrix
