// The main window's frame: menus, window buttons, the notification-area
// icon, the exit question, the timers and the about box.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "app/about_box.h"
#include "app/leftover_updater.h"
#include "app/main_window.h"
#include "app/standard_commands.h"
#include "core/activity_log.h"
#include "core/connection_string.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/schema.h"
#include "maintenance/program_swap.h"
#include "setup/configure_window.h"
#include "shell/shell.h"
#include "shell/status_window.h"
#include "tests/app/app_fixture.h"
#include "tests/support/older_schema.h"
#include "tests/ui_support/list_entries.h"
#include "users/user_panel.h"

namespace kestrix {
namespace {

const Message kExitQuestion{
    "Your users can still log onto your ftp system while Kestrix is closed.\r\n"
    "Only the daily run that disables and deletes accounts whose dates\r\n"
    "have come stops until Kestrix runs again, unless the\r\n"
    "kestrix-apply-dates timer does that job on this computer.\r\n\r\n"
    "Are you sure you want to exit Kestrix?",
    "Tavix2", MessageIcon::Exclamation, MessageButtons::YesNoCancel, 2};

class MainWindowTest : public test::AppFixture {
  protected:
    void SetUp() override {
        test::AppFixture::SetUp();
        scratch_ = test::makeScratchDatabase(Engine::SQLite);
        configureStore(scratch_->connectionString(), servuPath(), ftpRoot());
        addUser(scratch_->connectionString(), "bob");
        addRule(scratch_->connectionString(), "bob", "/srv/ftp/bob", "RL");
    }
    MainWindow& start() {
        program_ = makeProgram();
        MainWindow& main = program_->mainWindow();
        showWindow(&main, 0);
        return main;
    }
    Shell& shell() { return Shell::instance(); }

    std::unique_ptr<test::ScratchDatabase> scratch_;
};

// Captions and object names of a menu's items in order ("-" for a line).
std::vector<std::string> itemsOf(const QMenu* menu) {
    std::vector<std::string> items;
    for (const QAction* action : menu->actions()) {
        items.push_back(action->objectName().toStdString() + " " +
                        (action->isSeparator() ? std::string("-") : action->text().toStdString()));
    }
    return items;
}

TEST_F(MainWindowTest, MenusHoldEveryItemInOrderWithTheirStartStates) {
    MainWindow& main = start();
    EXPECT_EQ(main.windowTitle(), "Kestrix");
    std::vector<std::string> bar;
    for (const QAction* action : main.menuBar()->actions())
        bar.push_back(action->menu()->objectName().toStdString() + " " +
                      action->text().toStdString());
    EXPECT_EQ(bar, (std::vector<std::string>{"mnuFile &File", "edit1 &Edit", "tools1 &Tools",
                                             "mnuView &View", "mnuHelp &Help"}));
    auto menu = [&](const char* name) { return child<QMenu>(&main, name); };
    EXPECT_EQ(itemsOf(menu("mnuFile")),
              (std::vector<std::string>{"mnuConfigure &Configure", "mnuExit E&xit"}));
    EXPECT_EQ(itemsOf(menu("edit1")),
              (std::vector<std::string>{"edit1_undo &Undo", "edit1_dash1 -", "edit1_cut Cu&t",
                                        "edit1_copy &Copy", "edit1_paste &Paste"}));
    EXPECT_EQ(itemsOf(menu("tools1")),
              (std::vector<std::string>{"tools1_copyUser C&opy User...",
                                        "tools1_migrate &Migration Utility",
                                        "tools1_checkAccess &Check Access..."}));
    EXPECT_EQ(
        itemsOf(menu("mnuHelp")),
        (std::vector<std::string>{"mnuItemHelp &Help", "mnuhyphen -", "ShowLog Show &Log",
                                  "checkUpdates Check for &Updates", "help_web Kestrix &Website",
                                  "mnudashhelp2 -", "mnuItemAbout &About"}));
    EXPECT_EQ(itemsOf(menu("iconMenu1")),
              (std::vector<std::string>{"icon_restore1 Restore", "icon_dash1 -",
                                        "icon_cancel1 Hide this menu", "icon_dash2 -",
                                        "icon_about1 About", "icon_exit1 Exit"}));
    EXPECT_EQ(child<QAction>(&main, "mnuExit")->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    EXPECT_EQ(child<QAction>(&main, "mnuItemHelp")->shortcut(), QKeySequence(Qt::Key_F1));
    EXPECT_FALSE(child<QAction>(&main, "edit1_undo")->isEnabled());
    EXPECT_FALSE(child<QAction>(&main, "ShowLog")->isVisible());
    EXPECT_TRUE(child<QAction>(&main, "checkUpdates")->isVisible());
    // The icon's pop-up menu, with Restore as its default item.
    EXPECT_EQ(menu("iconMenu1")->defaultAction(), child<QAction>(&main, "icon_restore1"));
    EXPECT_EQ(shell().tray().menu(), menu("iconMenu1"));
    EXPECT_EQ(shell().tray().tip(), "Kestrix");

    const std::pair<const char*, const char*> buttons[] = {{"cmdOK", "Minimi&ze"},
                                                           {"cmdRestore", "Rest&ore"},
                                                           {"cmdExit", "E&xit"},
                                                           {"cmdHelp", "Hel&p"}};
    for (const auto& [name, caption] : buttons)
        EXPECT_EQ(child<QPushButton>(&main, name)->text(), caption) << name;
}

// However small it is dragged, the window keeps a size at which every
// control shows whole: no two of them overlap, none leaves the window.
TEST_F(MainWindowTest, AtItsMinimumSizeNoControlsOverlap) {
    MainWindow& main = start();
    main.resize(320, 240);
    QCoreApplication::processEvents();
    EXPECT_EQ(main.size(), main.minimumSize());
    std::vector<std::pair<QWidget*, QRect>> controls;
    for (QWidget* widget : main.findChildren<QWidget*>()) {
        const bool control =
            qobject_cast<QAbstractButton*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QPlainTextEdit*>(widget);
        if (!control || !widget->isVisibleTo(&main) || widget->window() != &main) continue;
        controls.emplace_back(widget, QRect(widget->mapTo(&main, QPoint(0, 0)), widget->size()));
    }
    ASSERT_GT(controls.size(), 20u);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const auto& [widget, rect] = controls[i];
        EXPECT_TRUE(main.rect().contains(rect)) << widget->objectName().toStdString();
        for (std::size_t j = i + 1; j < controls.size(); ++j) {
            const auto& [other, otherRect] = controls[j];
            if (widget->isAncestorOf(other) || other->isAncestorOf(widget)) continue;
            EXPECT_FALSE(rect.intersects(otherRect))
                << widget->objectName().toStdString() << " and "
                << other->objectName().toStdString();
        }
    }
}

TEST_F(MainWindowTest, ExitQuestionAnsweredNoOrCancelKeepsRunning) {
    MainWindow& main = start();
    boxes_.answer(Answer::No);
    QTest::mouseClick(child<QPushButton>(&main, "cmdExit"), Qt::LeftButton);
    boxes_.answer(Answer::Cancel);
    child<QAction>(&main, "mnuExit")->trigger();
    boxes_.answer(Answer::No);
    child<QAction>(&main, "icon_exit1")->trigger();
    EXPECT_EQ(boxes_.shown(), std::vector<Message>(3, kExitQuestion));
    EXPECT_EQ(end_.ends, 0);
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(shell().tray().shown());

    boxes_.answer(Answer::Yes);
    QTest::mouseClick(child<QPushButton>(&main, "cmdExit"), Qt::LeftButton);
    EXPECT_EQ(end_.ends, 1);
    EXPECT_FALSE(shell().tray().shown());
    EXPECT_FALSE(main.isVisible());
}

TEST_F(MainWindowTest, MinimizeCloseBoxAndTrayDoubleClick) {
    MainWindow& main = start();
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconBlue32());

    QTest::mouseClick(child<QPushButton>(&main, "cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconGreen32());
    main.trayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconBlue32());

    // Minimizing the window hides it and leaves its state normal.
    main.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_FALSE(main.isVisible());
    EXPECT_FALSE(main.isMinimized());
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconGreen32());
    child<QAction>(&main, "icon_restore1")->trigger();
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconBlue32());

    // The close box never ends the program.
    EXPECT_FALSE(main.close());
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(shell().tray().currentPicture(), main.picIconGreen32());
    EXPECT_EQ(end_.ends, 0);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(MainWindowTest, MinimizeAsksToSaveAPendingNewUserAndHidesWhateverTheAnswer) {
    MainWindow& main = start();
    main.users().state().editMode = EditMode::NewUser;
    boxes_.answer(Answer::Cancel);
    QTest::mouseClick(child<QPushButton>(&main, "cmdOK"), Qt::LeftButton);
    EXPECT_EQ(boxes_.shown(),
              (std::vector<Message>{{"Would you like to save your changes?", "Tavix2",
                                     MessageIcon::Question, MessageButtons::YesNoCancel, 1}}));
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(main.users().state().editMode, EditMode::NewUser);
}

TEST_F(MainWindowTest, AnOpenModalDialogBlocksRestoringTheWindow) {
    MainWindow& main = start();
    QTest::mouseClick(child<QPushButton>(&main, "cmdOK"), Qt::LeftButton);
    ASSERT_FALSE(main.isVisible());
    bool checked = false;
    test::whenWindowShown("frmConfigure", [&] {
        main.trayActivated(QSystemTrayIcon::DoubleClick);
        EXPECT_FALSE(main.isVisible());
        EXPECT_EQ(shell().tray().currentPicture(), main.picIconGreen32());
        child<QAction>(&main, "icon_restore1")->trigger();
        EXPECT_FALSE(main.isVisible());
        // A modeless window is not shown either.
        child<QAction>(&main, "icon_about1")->trigger();
        EXPECT_EQ(window("frmAbout") == nullptr || !window("frmAbout")->isVisible(), true);
        checked = true;
        QTest::mouseClick(child<QPushButton>(window("frmConfigure"), "cmdCancel"), Qt::LeftButton);
    });
    main.mnuConfigure_Click();
    EXPECT_TRUE(checked);
    EXPECT_TRUE(shell().openDialogs().empty());
    main.trayActivated(QSystemTrayIcon::DoubleClick);
    EXPECT_TRUE(main.isVisible());
}

TEST_F(MainWindowTest, WithoutANotificationAreaMinimizeLeavesTheWindowOnTheTaskBar) {
    shell().tray().overrideAvailability(false);
    MainWindow& main = start();
    EXPECT_FALSE(shell().tray().shown());
    QTest::mouseClick(child<QPushButton>(&main, "cmdOK"), Qt::LeftButton);
    QCoreApplication::processEvents();
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.isMinimized());
    EXPECT_FALSE(main.close());
    EXPECT_TRUE(main.isVisible());
    EXPECT_EQ(end_.ends, 0);
}

TEST_F(MainWindowTest, SessionShutdownEndsWithoutAQuestion) {
    MainWindow& main = start();
    main.sessionShutdown();
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(end_.ends, 1);
    EXPECT_FALSE(shell().tray().shown());
}

TEST_F(MainWindowTest, MinuteTimerRunsTheAccountRulesAtItsTick1440) {
    MainWindow& main = start();
    auto* minutes = child<QTimer>(&main, "tmrTime");
    EXPECT_EQ(minutes->interval(), 60000);
    EXPECT_TRUE(minutes->isActive());
    auto* cleanup = child<QTimer>(&main, "Timer1");
    EXPECT_EQ(cleanup->interval(), 10000);
    EXPECT_TRUE(cleanup->isSingleShot());
    EXPECT_EQ(child<QTimer>(&main, "tmrRules")->interval(), 75);
    // At start-up, once the window is up.
    EXPECT_EQ(accountRuleRuns_, 0);
    QCoreApplication::processEvents();
    EXPECT_EQ(accountRuleRuns_, 1);
    EXPECT_TRUE(mainShownAtAccountRules_);

    for (int tick = 1; tick <= 1439; ++tick)
        main.tmrTime_Timer();
    EXPECT_EQ(main.minuteCounter(), 1439);
    EXPECT_EQ(accountRuleRuns_, 1);
    main.tmrTime_Timer();
    EXPECT_EQ(accountRuleRuns_, 2);
    EXPECT_EQ(main.minuteCounter(), 0);
    for (int tick = 1; tick <= 1439; ++tick)
        main.tmrTime_Timer();
    EXPECT_EQ(accountRuleRuns_, 2);
}

// A run over many users goes a batch at a time: the command returns to the
// event loop with users still due, and the loop finishes them.
TEST_F(MainWindowTest, TheDailyRulesRunBetweenTurnsOfTheEventLoop) {
    const std::string db = scratch_->connectionString();
    test::executeOn(
        db,
        "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i+1 FROM n WHERE i<1200) "
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, Expires) "
        "SELECT 'gone'||i, '/srv/ftp', 1, 1, '2001-01-01' FROM n");
    auto dueLeft = [&] {
        Database reader;
        EXPECT_TRUE(reader.open(db)) << reader.lastError();
        auto rows = reader.query("select count(*) as n from users where username like 'gone%'");
        return rows && !rows->eof() ? rows->integer("n").value_or(-1) : -1;
    };
    ASSERT_EQ(dueLeft(), 1200);
    int told = 0;
    applyAccountDatesInSteps([&] { ++told; });
    const auto left = dueLeft();
    EXPECT_GT(left, 0);
    EXPECT_LT(left, 1200);
    EXPECT_EQ(told, 0);
    // Each turn of the loop takes one batch (the limit only ends a test that fails).
    for (int turn = 0; turn < 1000 && told == 0; ++turn)
        QCoreApplication::processEvents();
    EXPECT_EQ(dueLeft(), 0);
    EXPECT_EQ(told, 1);
    // A run that finds nothing due changes nothing to show.
    applyAccountDatesInSteps([&] { ++told; });
    for (int turn = 0; turn < 10; ++turn)
        QCoreApplication::processEvents();
    EXPECT_EQ(told, 1);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(MainWindowTest, TheTenSecondTimerRemovesALeftOverUpdater) {
    MainWindow& main = start();
    const auto updater = dir_.path() / "update";
    std::ofstream(updater).put('x');
    {
        // A running updater's file is in use.
        QLockFile running(updaterLockPath(dir_.path()));
        ASSERT_TRUE(running.tryLock(0));
        EXPECT_FALSE(removeLeftoverUpdater(dir_.path()));
        EXPECT_TRUE(std::filesystem::exists(updater));
    }
    main.Timer1_Timer();
    EXPECT_FALSE(std::filesystem::exists(updater));
    EXPECT_FALSE(child<QTimer>(&main, "Timer1")->isActive());
    EXPECT_TRUE(std::filesystem::exists(dir_.path() / "Serv-U"));
}

TEST_F(MainWindowTest, AboutBoxGestureRevealsShowLogWhichShowsTheLog) {
    MainWindow& main = start();
    child<QAction>(&main, "mnuItemAbout")->trigger();
    QWidget* about = window("frmAbout");
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    auto* icon = child<QLabel>(about, "picIcon");
    QTest::mouseClick(icon, Qt::LeftButton, Qt::ShiftModifier);
    QTest::mouseClick(icon, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_FALSE(child<QAction>(&main, "ShowLog")->isVisible());
    QTest::mouseClick(icon, Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier);
    EXPECT_TRUE(child<QAction>(&main, "ShowLog")->isVisible());
    QTest::mouseClick(child<QPushButton>(about, "cmdOK"), Qt::LeftButton);
    EXPECT_FALSE(about->isVisible());
    EXPECT_TRUE(child<QAction>(&main, "ShowLog")->isVisible());

    writeLog("the newest line");
    bool seen = false;
    test::whenWindowShown("frmStatus", [&] {
        QWidget* status = window("frmStatus");
        EXPECT_EQ(status->windowTitle(), "Status");
        EXPECT_TRUE(status->isModal());
        auto* text = child<QPlainTextEdit>(status, "txtLog");
        EXPECT_TRUE(text->toPlainText().startsWith("Log File\n"));
        EXPECT_TRUE(text->toPlainText().endsWith("the newest line\n"));
        EXPECT_EQ(text->textCursor().position(), text->toPlainText().size());
        seen = true;
        QTest::mouseClick(child<QPushButton>(status, "cmdOK"), Qt::LeftButton);
    });
    child<QAction>(&main, "ShowLog")->trigger();
    EXPECT_TRUE(seen);
    EXPECT_TRUE(shell().openDialogs().empty());
    // The icon menu's About shows the same box.
    child<QAction>(&main, "icon_about1")->trigger();
    EXPECT_TRUE(about->isVisible());
}

// View, Log: the same window from the menu bar, repeats as one line, a
// filter and Copy.
TEST_F(MainWindowTest, ViewLogShowsRepeatsOnceFiltersAndCopies) {
    MainWindow& main = start();
    for (int i = 0; i < 7; ++i)
        writeLog("the same step");
    writeLog("Another Step");
    bool seen = false;
    test::whenWindowShown("frmStatus", [&] {
        QWidget* status = window("frmStatus");
        auto* text = child<QPlainTextEdit>(status, "txtLog");
        const QString all = text->toPlainText();
        // Seven lines in a row are one, with how often and until when.
        EXPECT_EQ(all.count(QStringLiteral("the same step")), 1) << all.toStdString();
        const QRegularExpression collapsed(
            QString::fromUtf8(R"(:[0-9]{2}:[0-9]{2}:  the same step  \(\x{00d7}7, the last at )"
                              R"([0-9]{2}:[0-9]{2}:[0-9]{2}\)\n)"));
        EXPECT_TRUE(all.contains(collapsed)) << all.toStdString();

        QTest::keyClicks(child<QLineEdit>(status, "txtFilter"), "another");
        EXPECT_EQ(text->toPlainText().count(QLatin1Char('\n')), 1);
        EXPECT_TRUE(text->toPlainText().endsWith(":  Another Step\n"));
        QTest::mouseClick(child<QPushButton>(status, "cmdCopy"), Qt::LeftButton);
        EXPECT_EQ(QApplication::clipboard()->text(), text->toPlainText());
        child<QLineEdit>(status, "txtFilter")->clear();
        EXPECT_EQ(text->toPlainText(), all);
        seen = true;
        QTest::mouseClick(child<QPushButton>(status, "cmdOK"), Qt::LeftButton);
    });
    child<QAction>(&main, "mnuViewLog")->trigger();
    EXPECT_TRUE(seen);
}

TEST_F(MainWindowTest, EditMenuCopiesAndPastesInTheFocusedBox) {
    MainWindow& main = start();
    activate(&main);
    auto* notes = child<QPlainTextEdit>(&main, "txtNotes");
    notes->setFocus(Qt::MouseFocusReason);
    notes->selectAll();
    child<QAction>(&main, "edit1_copy")->trigger();
    EXPECT_EQ(QApplication::clipboard()->text(), "notes of bob");

    auto* home = child<QLineEdit>(&main, "txtHomeDir");
    home->setFocus(Qt::MouseFocusReason);
    home->selectAll();
    child<QAction>(&main, "edit1_cut")->trigger();
    EXPECT_EQ(home->text(), "");
    EXPECT_EQ(QApplication::clipboard()->text(), "/srv/ftp/bob");
    child<QAction>(&main, "edit1_paste")->trigger();
    child<QAction>(&main, "edit1_paste")->trigger();
    EXPECT_EQ(home->text(), "/srv/ftp/bob/srv/ftp/bob");
}

TEST_F(MainWindowTest, RestoreReloadsTheListAndDiscardsUnsavedEdits) {
    MainWindow& main = start();
    auto* home = child<QLineEdit>(&main, "txtHomeDir");
    home->setText("/edited");
    addUser(scratch_->connectionString(), "alice");
    const std::size_t logStart = programLog().text().size();
    QTest::mouseClick(child<QPushButton>(&main, "cmdRestore"), Qt::LeftButton);
    EXPECT_NE(programLog().text().find("restore", logStart), std::string::npos);
    ASSERT_EQ(test::listEntries(child<QAbstractItemView>(&main, "lstUsers")).size(), 2u);
    EXPECT_EQ(main.users().state().selectedUser, "alice");
    EXPECT_EQ(home->text(), "/srv/ftp/alice");
}

TEST_F(MainWindowTest, PerUserButtonsAndModifyIpRulesOpenTheirDialogs) {
    MainWindow& main = start();
    QSignalSpy refresh(main.users().rulesTimer(), &QTimer::timeout);
    ASSERT_TRUE(refresh.wait(5000));
    const std::pair<const char*, const char*> buttons[] = {{"cmdUpDownRatios", "frmUDRatios"},
                                                           {"cmdQuota", "frmDiskQuota"},
                                                           {"cmdIPAccess", "frmIPAccess"}};
    for (const auto& [button, name] : buttons) {
        QTest::mouseClick(child<QPushButton>(&main, button), Qt::LeftButton);
        QWidget* dialog = window(name);
        ASSERT_NE(dialog, nullptr) << name;
        EXPECT_TRUE(dialog->isVisible()) << name;
        EXPECT_FALSE(dialog->isModal()) << name;
        QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
        QTest::mouseClick(child<QPushButton>(&main, button), Qt::LeftButton);
        EXPECT_EQ(window(name), dialog) << name << " is made once, then only hidden";
        QTest::mouseClick(child<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    }

    // The server-wide list, modal over the configuration dialog, and its
    // OK refreshes the dialog's label.
    bool listShown = false;
    test::whenWindowShown("frmConfigure", [&] {
        QWidget* configure = window("frmConfigure");
        test::whenWindowShown("frmGlobalIPAccess", [&] {
            QWidget* list = window("frmGlobalIPAccess");
            EXPECT_TRUE(list->isModal());
            child<QListWidget>(list, "lstRules")->addItem("9.9.9.9");
            QTest::mouseClick(child<QPushButton>(list, "cmdOK"), Qt::LeftButton);
            listShown = true;
        });
        QTest::mouseClick(child<QPushButton>(configure, "cmdGlobalIPAccess"), Qt::LeftButton);
        EXPECT_EQ(child<QLabel>(configure, "lblRules")->text(),
                  "Access rules exist. Click Modify IP Rules button for more information.");
        QTest::mouseClick(child<QPushButton>(configure, "cmdCancel"), Qt::LeftButton);
    });
    program_->configureWindow().showModally();
    EXPECT_TRUE(listShown);
}

TEST_F(MainWindowTest, WebsiteItemOpensTheProductPage) {
    MainWindow& main = start();
    child<QAction>(&main, "help_web")->trigger();
    EXPECT_EQ(desktop_.urls, std::vector<std::string>{kProductWebPage});
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST_F(MainWindowTest, StartUpNamesAReadableDatabaseAndPasswordsKeptInClear) {
    // An older database: its password column cannot hold a hash.
    for (std::string statement : dialectFor(Engine::SQLite).schemaStatements()) {
        const auto at = statement.find("password VARCHAR(255)");
        if (at == std::string::npos) continue;
        statement.replace(at, 21, "password VARCHAR(50)");
        Database keyed;
        ASSERT_TRUE(keyed.open(scratch_->connectionString())) << keyed.lastError();
        kestrix::test::dropOwnerKeys(keyed);
        test::executeOn(scratch_->connectionString(), "DROP TABLE users");
        test::executeOn(scratch_->connectionString(), statement);
    }
    const std::string file = parseConnectionString(scratch_->connectionString()).target->path;
    ASSERT_EQ(::chmod(file.c_str(), 0644), 0);

    ProgramCommands commands;
    commands.securityNotices = [] { return startupSecurityNotices(); };
    program_ = makeProgram(commands);
    MainWindow& main = program_->mainWindow();
    showWindow(&main, 0);
    auto* line = child<QLabel>(&main, "lblSecurityNotice");
    ASSERT_NE(line, nullptr);
    EXPECT_TRUE(line->isVisible());
    const std::string shown = main.securityNotices().toStdString();
    EXPECT_NE(shown.find("The database file " + file + " can be read by every user"),
              std::string::npos)
        << shown;
    EXPECT_NE(shown.find("Passwords are stored in clear text in this database: run kestrix db "
                         "upgrade --hash-passwords"),
              std::string::npos)
        << shown;
    EXPECT_NE(programLog().text().find("Passwords are stored in clear text in this database"),
              std::string::npos);
}

TEST_F(MainWindowTest, APrivateDatabaseWithRoomForHashesGivesNoNotice) {
    ProgramCommands commands;
    commands.securityNotices = [] { return startupSecurityNotices(); };
    program_ = makeProgram(commands);
    MainWindow& main = program_->mainWindow();
    showWindow(&main, 0);
    EXPECT_EQ(main.securityNotices(), "");
    EXPECT_FALSE(child<QLabel>(&main, "lblSecurityNotice")->isVisible());
}

}  // namespace
}  // namespace kestrix
