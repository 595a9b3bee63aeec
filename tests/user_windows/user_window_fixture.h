#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "setup/configure_window.h"
#include "tests/ui_support/shell_fixture.h"
#include "users/user_panel.h"

namespace kestrix::test {

// The user area of the main window on a real database of either engine, with
// an FTP root of real directories and scripted boxes.
class UserWindowTest : public ShellFixture, public ::testing::WithParamInterface<Engine> {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A directory under the FTP root, made on the disk.
    std::string dir(const std::string& relative);
    std::string ftpRoot() const;

    void run(const std::string& sql) { executeOn(scratch_->connectionString(), sql); }
    void addUser(const std::string& name, const std::string& homedir,
                 const std::string& password = "secret");
    void addRule(const std::string& name, const std::string& directory, const std::string& rights,
                 int inherit);

    Rows rows(const std::string& sql, const std::vector<std::string>& columns);
    // username, directory, dir_rights, inherit_subdirs of a user, as read.
    Rows rulesOf(const std::string& name);
    // username, homedir, password, comments, max_concurrent,
    // max_logins_per_ip, quota_current.
    Rows userRows(const std::string& name);
    // userRows with the stored password shown as the password it is the
    // hash of, when it is a fresh hash of that password; plain text shows as
    // "<clear text>".
    Rows userRowsHashing(const std::string& name, const std::string& password);

    template <typename T>
    T* child(const char* name) {
        T* found = panel_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    template <typename T>
    static T* childOf(QWidget* window, const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    // A window of the program by its name, or nullptr.
    static QWidget* window(const char* name);

    std::vector<std::string> ruleEntries();
    std::vector<std::string> userEntries();
    // Waits for the editing-state refresh, then clicks the button, which
    // must be enabled by then.
    void click(const char* button);
    void nextRefresh();
    // Enters the user-name box as the keyboard does; the copy flow runs.
    void enterNameBox();
    // The whole main window on the test's database, loaded and active; it
    // lives until the test ends.
    MainWindow& startMainWindow();

    std::unique_ptr<ScratchDatabase> scratch_;
    TempDir disk_;
    std::unique_ptr<UserPanel> panel_;
    std::unique_ptr<ConfigureWindow> configure_;
    std::unique_ptr<MainWindow> main_;
};

Message appMessage(std::string text, MessageIcon icon = MessageIcon::Exclamation,
                   MessageButtons buttons = MessageButtons::OK, int defaultButton = 1);

}  // namespace kestrix::test
