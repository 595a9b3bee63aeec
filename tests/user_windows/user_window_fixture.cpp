#include "tests/user_windows/user_window_fixture.h"

#include <QAbstractItemView>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "core/database.h"
#include "core/sql_literal.h"
#include "core/stored_password.h"
#include "tests/ui_support/list_entries.h"

namespace kestrix::test {

void UserWindowTest::SetUp() {
    ShellFixture::SetUp();
    scratch_ = makeScratchDatabase(GetParam());
    // The FTP root as the configuration dialog stores it, with its separator.
    configureStore(scratch_->connectionString(), "/", dir("ftp") + "/");
    panel_ = std::make_unique<UserPanel>();
    panel_->resize(900, 600);
}

void UserWindowTest::TearDown() {
    main_.reset();
    configure_.reset();
    panel_.reset();
    ShellFixture::TearDown();
}

MainWindow& UserWindowTest::startMainWindow() {
    configure_ = std::make_unique<ConfigureWindow>(DesignerDefaults{}, ConfigureLinks{});
    MainWindowLinks links;
    links.configureWindow = [this]() -> ConfigureWindow& { return *configure_; };
    main_ = std::make_unique<MainWindow>(std::move(links));
    main_->formLoad();
    activate(main_.get());
    return *main_;
}

std::string UserWindowTest::dir(const std::string& relative) {
    const std::filesystem::path path = disk_.path() / relative;
    std::filesystem::create_directories(path);
    return path.string();
}

std::string UserWindowTest::ftpRoot() const {
    return (disk_.path() / "ftp").string();
}

void UserWindowTest::addUser(const std::string& name, const std::string& homedir,
                             const std::string& password) {
    run("INSERT INTO users (username, homedir, password, comments, max_concurrent, "
        "max_logins_per_ip) VALUES (" +
        sqlText(name) + ", " + sqlText(homedir) + ", " + sqlText(password) + ", " +
        sqlText("notes of " + name) + ", 3, 2)");
}

void UserWindowTest::addRule(const std::string& name, const std::string& directory,
                             const std::string& rights, int inherit) {
    run("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
        sqlText(name) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", " +
        std::to_string(inherit) + ")");
}

Rows UserWindowTest::rows(const std::string& sql, const std::vector<std::string>& columns) {
    return rowsOn(scratch_->connectionString(), sql, columns);
}

Rows UserWindowTest::rulesOf(const std::string& name) {
    return rows(
        "SELECT username, directory, dir_rights, inherit_subdirs FROM dir_rights WHERE "
        "username=" +
            sqlText(name),
        {"username", "directory", "dir_rights", "inherit_subdirs"});
}

Rows UserWindowTest::userRows(const std::string& name) {
    return rows(
        "SELECT username, homedir, password, comments, max_concurrent, max_logins_per_ip, "
        "quota_current FROM users WHERE username=" +
            sqlText(name),
        {"username", "homedir", "password", "comments", "max_concurrent", "max_logins_per_ip",
         "quota_current"});
}

Rows UserWindowTest::userRowsHashing(const std::string& name, const std::string& password) {
    Rows found = userRows(name);
    for (auto& row : found) {
        if (!row[2]) continue;
        const bool hashed = row[2]->starts_with("{CRYPT}$y$") && passwordMatches(*row[2], password);
        row[2] = hashed ? password : std::string("<clear text>");
    }
    return found;
}

QWidget* UserWindowTest::window(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == QLatin1String(name)) return widget;
    }
    return nullptr;
}

std::vector<std::string> UserWindowTest::ruleEntries() {
    return listEntries(child<QListWidget>("lstAccess"));
}

std::vector<std::string> UserWindowTest::userEntries() {
    return listEntries(child<QAbstractItemView>("lstUsers"));
}

void UserWindowTest::nextRefresh() {
    QSignalSpy tick(panel_->rulesTimer(), &QTimer::timeout);
    ASSERT_TRUE(tick.wait(5000));
}

void UserWindowTest::click(const char* button) {
    nextRefresh();
    auto* target = child<QPushButton>(button);
    ASSERT_TRUE(target->isEnabled()) << button;
    QTest::mouseClick(target, Qt::LeftButton);
}

void UserWindowTest::enterNameBox() {
    child<QWidget>("txtUsername")->setFocus(Qt::TabFocusReason);
    // The copy flow runs right after the focus has settled.
    QCoreApplication::processEvents();
}

Message appMessage(std::string text, MessageIcon icon, MessageButtons buttons, int defaultButton) {
    return Message{std::move(text), "Tavix2", icon, buttons, defaultButton};
}

}  // namespace kestrix::test
