#include "tests/ui_support/shell_fixture.h"

#include <QApplication>
#include <QTest>
#include <QWidget>

#include "core/database.h"
#include "core/settings.h"
#include "shell/shell.h"

namespace kestrix::test {

void ShellFixture::SetUp() {
    ensureApplication();
    Shell& shell = Shell::instance();
    shell.reset();
    shell.setMessageBoxes(&boxes_);
    shell.setInputBoxes(&inputs_);
    shell.setFolderChooser(&folders_);
    shell.setFileChooser(&files_);
    shell.setProgramEnd(&end_);
    shell.setDesktopOpener(&desktop_);
    shell.tray().overrideAvailability(true);
}

void ShellFixture::TearDown() {
    EXPECT_EQ(boxes_.unanswered(), 0u) << "scripted answers left over";
    EXPECT_EQ(inputs_.unanswered(), 0u) << "scripted input answers left over";
    EXPECT_EQ(folders_.unanswered(), 0u) << "scripted folders left over";
    EXPECT_EQ(files_.unanswered(), 0u) << "scripted files left over";
    Shell::instance().reset();
}

void ShellFixture::configureStore(const std::string& connectionString, const std::string& servuPath,
                                  const std::string& ftpDirectory) {
    ASSERT_TRUE(writeConnectionString(connectionString));
    ASSERT_TRUE(writeSetting(kServuPathValue, servuPath));
    ASSERT_TRUE(writeSetting(kFtpDirectoryValue, ftpDirectory));
}

void ShellFixture::activate(QWidget* window) {
    window->show();
    window->raise();
    window->activateWindow();
    QApplication::setActiveWindow(window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
}

void executeOn(const std::string& connectionString, const std::string& sql) {
    Database db;
    ASSERT_TRUE(db.open(connectionString)) << db.lastError();
    ASSERT_TRUE(db.execute(sql)) << db.lastError() << "\n" << sql;
}

Rows rowsOn(const std::string& connectionString, const std::string& sql,
            const std::vector<std::string>& columns) {
    Rows out;
    Database db;
    EXPECT_TRUE(db.open(connectionString)) << db.lastError();
    auto rs = db.query(sql);
    EXPECT_TRUE(rs) << db.lastError() << "\n" << sql;
    for (; rs && !rs->eof(); rs->moveNext()) {
        Row row;
        for (const std::string& column : columns)
            row.push_back(rs->field(column));
        out.push_back(std::move(row));
    }
    return out;
}

}  // namespace kestrix::test
