// Start-up: the splash window, the single-instance rule, the first run with
// its welcome and configuration dialog, and the failure dialogue of the
// database opening.
#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLockFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <filesystem>

#include "app/main_window.h"
#include "app/splash_window.h"
#include "core/activity_log.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "maintenance/program_swap.h"
#include "setup/configure_window.h"
#include "shell/shell.h"
#include "tests/app/app_fixture.h"
#include "tests/ui_support/list_entries.h"
#include "users/user_panel.h"

namespace kestrix {
namespace {

const char* kWelcome =
    "Welcome to Kestrix.\r\n\r\nIt seems like this is the first time you \r\nare running this "
    "application.\r\n\r\nClick OK to configure required settings.";
const char* kQuestion =
    "There was an error connecting to the database. The list below contains possible "
    "cause:\r\n\r\n    \u00b7 Connection string has an incorrect path\r\n    \u00b7 The database "
    "is locked\r\n    \u00b7 You do not have rights\r\n    \u00b7 The connection might be "
    "slow\r\n\r\nWould you like to verify your connection string settings now?\r\n";
const char* kCritical =
    "We could not connect to the database specified. \r\nTo reconfigure the program settings, "
    "please run Kestrix again.\r\n\r\nKestrix will now close. ";
const char* kRestart = "You must restart the Serv-U server before changes will take effect.";

const Message kWelcomeBox{kWelcome, "Tavix2", MessageIcon::Information, MessageButtons::OK, 1};
// The question with its cause before the last line.
Message questionBox(const std::string& cause) {
    std::string text = kQuestion;
    text.insert(text.find("Would you"), "What happened: " + cause + "\r\n\r\n");
    return Message{text, "Tavix2", MessageIcon::Exclamation, MessageButtons::YesNo, 1};
}
const Message kNothingStoredBox = questionBox(
    "no connection string is stored yet: the configuration was closed without \"Commit "
    "changes\".");
const Message kCriticalBox{kCritical, "Kestrix CRITICAL ERROR", MessageIcon::Critical,
                           MessageButtons::OK, 1};
const Message kRestartBox{kRestart, "Tavix2", MessageIcon::Information, MessageButtons::OK, 1};

class StartupTest : public test::AppFixture {
  protected:
    // The question for a connection string that names a file not there.
    Message missingFileBox() const {
        return questionBox("The database file \"" + (dir_.path() / "missing.db").string() +
                           "\" does not exist.");
    }
};

ConfigureWindow* configureWindow() {
    return qobject_cast<ConfigureWindow*>(test::AppFixture::window("frmConfigure"));
}

TEST_F(StartupTest, FirstRunWelcomesThenOffersTheDefaultsAndCancelLeavesTheStoreUnconfigured) {
    program_ = makeProgram();
    const std::size_t logStart = programLog().text().size();
    bool dialogSeen = false;
    boxes_.answer(Answer::OK);  // the welcome
    test::whenWindowShown("frmConfigure", [&] {
        dialogSeen = true;
        ConfigureWindow* dialog = configureWindow();
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), "Kestrix Configuration");
        EXPECT_TRUE(dialog->isModal());
        EXPECT_EQ(Shell::instance().openDialogs().count("frmConfigure"), 1u);
        EXPECT_TRUE(dialog->enableCommitTimer()->isActive());
        EXPECT_EQ(child<QLineEdit>(dialog, "txtServuPath")->text().toStdString(), servuPath());
        EXPECT_EQ(child<QLineEdit>(dialog, "txtFTPdirectory")->text().toStdString(), ftpRoot());
        EXPECT_EQ(child<QPlainTextEdit>(dialog, "txtConnectionString")->toPlainText().toStdString(),
                  defaults().connectionString);
        QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    });
    // Then the user list cannot open the database; No ends the program.
    boxes_.answer(Answer::No);
    boxes_.answer(Answer::OK);

    program_->mainWindow();

    EXPECT_TRUE(dialogSeen);
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{kWelcomeBox, kNothingStoredBox, kCriticalBox}));
    EXPECT_EQ(openConnectionStringKey(), SettingsStore::kNotFound);
    EXPECT_EQ(end_.ends, 1);
    const std::string log = programLog().text().substr(logStart);
    EXPECT_NE(log.find("registry\n"), std::string::npos);
    EXPECT_LT(log.find("On Error Resume Next"), log.find("open the registry"));
    EXPECT_EQ(log.find("load settings"), std::string::npos);
}

TEST_F(StartupTest, FirstRunCommitWithTheDefaultsGivesAnEmptyWorkingMainWindow) {
    program_ = makeProgram();
    const std::size_t logStart = programLog().text().size();
    boxes_.answer(Answer::OK);  // welcome
    test::whenWindowShown("frmConfigure", [&] {
        QTest::mouseClick(child<QPushButton>(configureWindow(), "cmdCommitChanges"),
                          Qt::LeftButton);
    });
    boxes_.answer(Answer::OK);  // restart the server

    MainWindow& main = program_->mainWindow();
    showWindow(&main, 0);

    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{kWelcomeBox, kRestartBox}));
    EXPECT_EQ(end_.ends, 0);
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(configureWindow()->isVisible());
    EXPECT_TRUE(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")).empty());
    EXPECT_EQ(readConnectionString(), defaults().connectionString);
    EXPECT_EQ(getRegSettings("servu_path"), servuPath());
    EXPECT_EQ(getRegSettings("ftp_directory"), ftpRoot());
    EXPECT_TRUE(std::filesystem::is_regular_file(dir_.path() / "data" / "servu.db"));
    const std::string log = programLog().text().substr(logStart);
    EXPECT_NE(log.find("create it from the template"), std::string::npos);
    // The new database really holds the user tables.
    addUser(defaults().connectionString, "first");
    main.cmdRestore_Click();
    EXPECT_EQ(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")).size(), 1u);
}

// The daily date run, started by a timer, opens the database while the
// question about the first failed opening is still up; one commit answers
// both, and nothing asks again about a connection string stored by then.
TEST_F(StartupTest, FirstRunClosedWithoutCommitNeedsOneCommitWhenATimerOpensMeanwhile) {
    program_ = makeProgram();
    duringAccountRules_ = [] {
        Database db;
        if (openDatabase(db, 0)) closeDatabase(db);
    };
    boxes_.answer(Answer::OK);  // welcome
    test::whenWindowShown("frmConfigure", [&] {
        QTest::keyClick(configureWindow(), Qt::Key_Escape);
        test::whenWindowShown("frmConfigure", [&] {
            QTest::mouseClick(child<QPushButton>(configureWindow(), "cmdCommitChanges"),
                              Qt::LeftButton);
        });
    });
    // The question's own wait lets the pending timer run.
    boxes_.answer(Answer::Yes, [](const Message&) { QCoreApplication::processEvents(); });
    boxes_.answer(Answer::OK);  // restart the server

    MainWindow& main = program_->mainWindow();
    QCoreApplication::processEvents();

    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{kWelcomeBox, kNothingStoredBox, kRestartBox}));
    EXPECT_EQ(accountRuleRuns_, 1);
    EXPECT_EQ(end_.ends, 0);
    EXPECT_EQ(readConnectionString(), defaults().connectionString);
    EXPECT_EQ(configureWindow()->tag(), "");
    EXPECT_FALSE(configureWindow()->isVisible());
    addUser(defaults().connectionString, "first");
    main.cmdRestore_Click();
    EXPECT_EQ(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")).size(), 1u);
}

class ConfiguredStartTest : public test::AppFixture,
                            public ::testing::WithParamInterface<Engine> {};

TEST_P(ConfiguredStartTest, SelectsAndLoadsTheFirstUser) {
    auto scratch = test::makeScratchDatabase(GetParam());
    const std::string db = scratch->connectionString();
    configureStore(db, servuPath(), ftpRoot());
    for (const char* name : {"carol", "alice", "bob"})
        addUser(db, name);
    addRule(db, "alice", "/srv/ftp/alice", "RL");
    addRule(db, "alice", "/srv/ftp/alice/in", "RW");
    program_ = makeProgram();

    MainWindow& main = program_->mainWindow();

    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")),
              (std::vector<std::string>{"alice", "bob", "carol"}));
    EXPECT_EQ(main.users().selectedUserRow(), 0);
    EXPECT_EQ(main.users().state().selectedUser, "alice");
    EXPECT_EQ(child<QLineEdit>(&main, "txtUsername")->text(), "alice");
    EXPECT_EQ(child<QLineEdit>(&main, "txtHomeDir")->text(), "/srv/ftp/alice");
    EXPECT_EQ(child<QPlainTextEdit>(&main, "txtNotes")->toPlainText(), "notes of alice");
    EXPECT_EQ(child<QLineEdit>(&main, "txtPassword")->text(), "[Click Here to Change]");
    auto* rules = child<QListWidget>(&main, "lstAccess");
    ASSERT_EQ(rules->count(), 2);
    EXPECT_EQ(rules->item(1)->text(), "/srv/ftp/alice/in");
    EXPECT_EQ(main.users().state().ruleSet.size(), 2u);
    EXPECT_EQ(child<QLabel>(&main, "lblExpires")->text(),
              "This account is not set to expire. Click Here to set date.");
    // The stored values wait in the hidden configuration dialog.
    ConfigureWindow* dialog = configureWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->fields().connectionString, db);
    EXPECT_EQ(dialog->fields().servuPath, servuPath());
    QCoreApplication::processEvents();
    EXPECT_EQ(accountRuleRuns_, 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, ConfiguredStartTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

TEST_F(StartupTest, DecliningTheConnectionCheckShowsRedThenEndsAfterTheCriticalMessage) {
    configureStore("Provider=SQLite;Data Source=" + (dir_.path() / "missing.db").string(),
                   servuPath(), ftpRoot());
    program_ = makeProgram();
    boxes_.answer(Answer::No);
    QLabel* pictureDuringMessage = nullptr;
    bool iconShownDuringMessage = false;
    boxes_.answer(Answer::OK, [&](const Message&) {
        pictureDuringMessage = Shell::instance().tray().currentPicture();
        iconShownDuringMessage = Shell::instance().tray().shown();
        EXPECT_EQ(end_.ends, 0);
    });

    MainWindow& main = program_->mainWindow();

    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{missingFileBox(), kCriticalBox}));
    EXPECT_EQ(pictureDuringMessage, main.picIconRed32());
    EXPECT_TRUE(iconShownDuringMessage);
    EXPECT_FALSE(Shell::instance().tray().shown());
    EXPECT_EQ(end_.ends, 1);
}

TEST_F(StartupTest, YesOpensTheCheckedDialogAndACommitEndsTheWaitWithTheListRefilled) {
    auto scratch = test::makeScratchDatabase(Engine::SQLite);
    addUser(scratch->connectionString(), "bob");
    configureStore("Provider=SQLite;Data Source=" + (dir_.path() / "missing.db").string(),
                   servuPath(), ftpRoot());
    program_ = makeProgram();
    boxes_.answer(Answer::Yes);
    test::whenWindowShown("frmConfigure", [&] {
        ConfigureWindow* dialog = configureWindow();
        EXPECT_EQ(dialog->tag(), "CDB");
        EXPECT_TRUE(dialog->enableCommitTimer()->isActive());
        child<QPlainTextEdit>(dialog, "txtConnectionString")
            ->setPlainText(QString::fromStdString(scratch->connectionString()));
        QTest::mouseClick(child<QPushButton>(dialog, "cmdCommitChanges"), Qt::LeftButton);
    });
    boxes_.answer(Answer::OK);  // restart the server

    MainWindow& main = program_->mainWindow();

    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{missingFileBox(), kRestartBox}));
    EXPECT_EQ(configureWindow()->tag(), "");
    EXPECT_FALSE(configureWindow()->enableCommitTimer()->isActive());
    EXPECT_EQ(readConnectionString(), scratch->connectionString());
    ASSERT_EQ(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")).size(), 1u);
    EXPECT_EQ(main.users().state().selectedUser, "bob");
    EXPECT_EQ(end_.ends, 0);
}

TEST_F(StartupTest, CancelWhileCheckingTheConnectionEndsTheProgram) {
    configureStore("", servuPath(), ftpRoot());
    program_ = makeProgram();
    boxes_.answer(Answer::Yes);
    test::whenWindowShown("frmConfigure", [&] {
        QTest::mouseClick(child<QPushButton>(configureWindow(), "cmdCancel"), Qt::LeftButton);
    });
    QLabel* pictureDuringMessage = nullptr;
    boxes_.answer(Answer::OK, [&](const Message&) {
        pictureDuringMessage = Shell::instance().tray().currentPicture();
    });

    MainWindow& main = program_->mainWindow();

    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{kNothingStoredBox, kCriticalBox}));
    EXPECT_EQ(pictureDuringMessage, main.picIconRed32());
    EXPECT_FALSE(Shell::instance().tray().shown());
    EXPECT_EQ(end_.ends, 1);
}

TEST_F(StartupTest, SplashHidesAfterItsTimeAndThenShowsTheMainWindow) {
    auto scratch = test::makeScratchDatabase(Engine::SQLite);
    configureStore(scratch->connectionString(), servuPath(), ftpRoot());
    program_ = makeProgram();
    program_->start();
    SplashWindow& splash = program_->splashWindow();
    EXPECT_TRUE(splash.isVisible());
    EXPECT_EQ(splash.showTimer()->interval(), 1500);
    EXPECT_EQ(splash.checkTimer()->interval(), 1501);
    EXPECT_TRUE(splash.showTimer()->isActive());
    EXPECT_TRUE(splash.checkTimer()->isActive());
    EXPECT_EQ(program_->loadedMainWindow(), nullptr);

    splash.tmrShow_Timer();
    EXPECT_FALSE(splash.isVisible());
    EXPECT_FALSE(splash.showTimer()->isActive());
    splash.tmrCheck_Timer();
    EXPECT_FALSE(splash.checkTimer()->isActive());
    ASSERT_NE(program_->loadedMainWindow(), nullptr);
    EXPECT_TRUE(program_->loadedMainWindow()->isVisible());
    EXPECT_EQ(program_->loadedMainWindow()->windowTitle(), "Kestrix");
    EXPECT_EQ(end_.ends, 0);
}

TEST_F(StartupTest, MouseOnTheSplashHidesItAtOnce) {
    program_ = makeProgram();
    program_->start();
    SplashWindow& splash = program_->splashWindow();
    QTest::mouseClick(&splash, Qt::LeftButton);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_FALSE(splash.showTimer()->isActive());
    EXPECT_TRUE(splash.checkTimer()->isActive());
}

// A copy started while the updater waits to replace the program file ends
// at once, without taking the lock the updater waits for.
TEST_F(StartupTest, ACopyStartedWhileTheUpdaterRunsLeavesItAlone) {
    QLockFile updater(updaterLockPath(dir_.path()));
    ASSERT_TRUE(updater.tryLock(0));
    program_ = makeProgram();
    program_->start();
    program_->splashWindow().tmrCheck_Timer();
    EXPECT_EQ(end_.ends, 1);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(program_->loadedMainWindow(), nullptr);
    QLockFile programLock(QString::fromStdString((dir_.path() / "tavix.lock").string()));
    EXPECT_TRUE(programLock.tryLock(0));
}

TEST_F(StartupTest, SecondCopyEndsQuietly) {
    // The running copy holds the lock.
    QLockFile running(QString::fromStdString((dir_.path() / "tavix.lock").string()));
    ASSERT_TRUE(running.tryLock(0));
    program_ = makeProgram();
    program_->start();
    program_->splashWindow().tmrCheck_Timer();
    EXPECT_EQ(end_.ends, 1);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(program_->loadedMainWindow(), nullptr);

    // Once it has gone, a new copy starts.
    running.unlock();
    Shell::instance().reset();
    Shell::instance().setMessageBoxes(&boxes_);
    Shell::instance().setProgramEnd(&end_);
    auto scratch = test::makeScratchDatabase(Engine::SQLite);
    configureStore(scratch->connectionString(), servuPath(), ftpRoot());
    program_.reset();
    program_ = makeProgram();
    program_->start();
    program_->splashWindow().tmrCheck_Timer();
    EXPECT_EQ(end_.ends, 1);
    EXPECT_NE(program_->loadedMainWindow(), nullptr);
}

}  // namespace
}  // namespace kestrix
