#include "tests/app/app_fixture.h"

#include "app/main_window.h"

#include <filesystem>
#include <fstream>

#include "core/sql_literal.h"

namespace kestrix::test {

void AppFixture::SetUp() {
    ShellFixture::SetUp();
    std::filesystem::create_directories(dir_.path() / "Serv-U");
    std::filesystem::create_directories(dir_.path() / "ftp");
    std::ofstream(dir_.path() / "Serv-U" / "ServUDaemon.ini").flush();
}

void AppFixture::TearDown() {
    program_.reset();
    ShellFixture::TearDown();
}

DesignerDefaults AppFixture::defaults() const {
    return {servuPath(), ftpRoot(),
            "Provider=SQLite;Data Source=" + (dir_.path() / "data" / "servu.db").string()};
}

std::unique_ptr<Program> AppFixture::makeProgram(ProgramCommands commands) {
    ProgramOptions options;
    options.commands = std::move(commands);
    options.defaults = defaults();
    options.lockPath = (dir_.path() / "tavix.lock").string();
    options.programDirectory = dir_.path();
    options.commands.applyAccountDates = [this](const std::function<void()>&) {
        ++accountRuleRuns_;
        if (duringAccountRules_) duringAccountRules_();
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (dynamic_cast<MainWindow*>(widget) != nullptr)
                mainShownAtAccountRules_ = widget->isVisible();
        }
    };
    return std::make_unique<Program>(options);
}

void AppFixture::addUser(const std::string& connectionString, const std::string& name) {
    executeOn(connectionString,
              "INSERT INTO users (username, homedir, comments, max_concurrent, max_logins_per_ip) "
              "VALUES (" +
                  sqlText(name) + ", " + sqlText("/srv/ftp/" + name) + ", " +
                  sqlText("notes of " + name) + ", 1, 1)");
}

void AppFixture::addRule(const std::string& connectionString, const std::string& name,
                         const std::string& directory, const std::string& rights) {
    executeOn(connectionString,
              "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
                  sqlText(name) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", 1)");
}

QWidget* AppFixture::window(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name)) return widget;
    }
    return nullptr;
}

}  // namespace kestrix::test
