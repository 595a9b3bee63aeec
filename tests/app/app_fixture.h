#pragma once

#include <QApplication>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>
#include <string>

#include "app/program.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix::test {

// A program of its own for each test: its single-instance lock, program
// directory and FTP server paths in a temporary directory, and the daily
// account rules counted.
class AppFixture : public ShellFixture {
  public:
    // A top-level window by its name, or nullptr.
    static QWidget* window(const char* name);

  protected:
    void SetUp() override;
    void TearDown() override;

    // The given commands, with the daily account rules counted in place of theirs.
    std::unique_ptr<Program> makeProgram(ProgramCommands commands = {});
    // The defaults the configuration dialog offers: an FTP server directory
    // with its configuration file, an FTP root, a SQLite file not made yet.
    DesignerDefaults defaults() const;
    std::string servuPath() const { return (dir_.path() / "Serv-U").string() + "/"; }
    std::string ftpRoot() const { return (dir_.path() / "ftp").string() + "/"; }

    // Adds a user (and its rules) to a database.
    static void addUser(const std::string& connectionString, const std::string& name);
    static void addRule(const std::string& connectionString, const std::string& name,
                        const std::string& directory, const std::string& rights);

    template <typename T>
    static T* child(QWidget* window, const char* name) {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    TempDir dir_;
    int accountRuleRuns_ = 0;
    // Runs inside the counted daily account rules (what the real run does).
    std::function<void()> duringAccountRules_;
    // Whether the main window was shown when the rules last ran.
    bool mainShownAtAccountRules_ = false;
    std::unique_ptr<Program> program_;
};

}  // namespace kestrix::test
