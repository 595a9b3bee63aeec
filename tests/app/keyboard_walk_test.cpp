// An administrator's first day, by keyboard alone: every step below is a
// key press on the focused widget, a shortcut or a mnemonic; no slot is
// called and nothing is clicked. What it leaves is read from the database.
#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <filesystem>
#include <functional>

#include "app/main_window.h"
#include "core/activity_log.h"
#include "core/settings.h"
#include "policies/month_grid.h"
#include "shell/shell.h"
#include "tests/app/app_fixture.h"
#include "tests/ui_support/list_entries.h"
#include "users/user_panel.h"

namespace kestrix {
namespace {

class KeyboardWalkTest : public test::AppFixture {
  protected:
    // Where keys go: an open menu first, else the widget with the focus.
    static QWidget* focused() {
        if (QWidget* popup = QApplication::activePopupWidget()) return popup;
        return QApplication::focusWidget();
    }
    static std::string focusName() {
        QWidget* widget = focused();
        return widget == nullptr ? "(nothing)" : widget->objectName().toStdString();
    }
    static void key(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = focused();
        ASSERT_NE(target, nullptr) << "no widget has the focus for key " << code;
        QTest::keyClick(target, static_cast<Qt::Key>(code), modifiers);
        QCoreApplication::processEvents();
    }
    static void type(const char* text) {
        QWidget* target = focused();
        ASSERT_NE(target, nullptr) << "no widget has the focus for \"" << text << "\"";
        QTest::keyClicks(target, QString::fromUtf8(text));
        QCoreApplication::processEvents();
    }
    // Tab (forwards) or Shift+Tab until the named control has the focus.
    static void tabTo(const char* name, bool backwards = false) {
        for (int presses = 0; presses < 40; ++presses) {
            if (focusName() == name) return;
            key(Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        }
        FAIL() << "Tab never reaches " << name << "; the focus is on " << focusName();
    }
    // A window just shown takes the keys once the platform has activated it.
    static void waitActive(const char* name) {
        QWidget* shown = window(name);
        ASSERT_NE(shown, nullptr) << name;
        ASSERT_TRUE(QTest::qWaitFor([shown] {
            return QApplication::focusWidget() != nullptr &&
                   QApplication::focusWidget()->window() == shown;
        })) << name
            << " never takes the focus";
    }
    // The editing controls are enabled by a timer of the main window: after
    // a change, the keys wait for its next turn, as a person's do.
    static void refreshed() {
        auto* timer = window("frmMain")->findChild<QTimer*>(QStringLiteral("tmrRules"));
        ASSERT_NE(timer, nullptr);
        QSignalSpy turn(timer, &QTimer::timeout);
        ASSERT_TRUE(turn.wait(1000));
    }
    // Keys that open a modal window; `inside` runs in it once it has the
    // keys, and the window must be gone when it is done.
    static void openModal(int code, Qt::KeyboardModifiers modifiers, const char* name,
                          const std::function<void()>& inside) {
        bool done = false;
        test::whenWindowShown(QString::fromLatin1(name), [&] {
            waitActive(name);
            inside();
            done = true;
        });
        key(code, modifiers);
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; })) << name << " never opened";
        ASSERT_TRUE(QTest::qWaitFor([&] { return !window(name)->isVisible(); }))
            << name << " stays open";
    }
    // Keys that open a modeless window, which then has the keys.
    static QWidget* openModeless(int code, Qt::KeyboardModifiers modifiers, const char* name) {
        key(code, modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return window(name) != nullptr && window(name)->isVisible();
        })) << name
            << " never opened";
        waitActive(name);
        return window(name);
    }
    // Keys that close a window, after which the main window has the keys.
    static void closeBy(QWidget* shown, int code,
                        Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        key(code, modifiers);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !shown->isVisible(); }))
            << shown->objectName().toStdString() << " stays open";
        waitActive("frmMain");
        refreshed();
    }
    static void expectFocus(const char* name) { EXPECT_EQ(focusName(), name); }
    static QString textOf(QWidget* window, const char* box) {
        return child<QLineEdit>(window, box)->text();
    }
    std::filesystem::path database() const { return dir_.path() / "made" / "users.db"; }
    std::string home(const char* name) const { return (dir_.path() / "ftp" / name).string(); }
};

TEST_F(KeyboardWalkTest, FirstRunToDeletedUserByKeysAlone) {
    std::filesystem::create_directories(database().parent_path());
    for (const char* name : {"dora", "dora/in", "dora/out"})
        std::filesystem::create_directories(home(name));
    program_ = makeProgram();
    boxes_.answer(Answer::OK);  // the welcome
    bool wizardDone = false;
    test::whenWindowShown("frmConfigure", [&] {
        QWidget* configure = window("frmConfigure");
        waitActive("frmConfigure");
        test::whenWindowShown("frmDatabaseWizard1", [&] {
            waitActive("frmDatabaseWizard1");
            // Create is chosen already; Enter goes on.
            key(Qt::Key_Return);
            // The engine is a choice: none is taken until the keys take one.
            tabTo("optAccess");
            key(Qt::Key_Space);
            key(Qt::Key_Return);
            files_.pick(database().string());
            key(Qt::Key_Return);  // create
            key(Qt::Key_Return);  // finish
            wizardDone = true;
        });
        // A mnemonic presses its button a moment later, as a click shows.
        key(Qt::Key_W, Qt::AltModifier);
        ASSERT_TRUE(QTest::qWaitFor([&] { return wizardDone; }));
        // The dialog the wizard came from has the keys back.
        waitActive("frmConfigure");
        EXPECT_NE(textOf(configure, "txtServuPath"), "");
        key(Qt::Key_O, Qt::AltModifier);  // Commit changes
    });
    boxes_.answer(Answer::OK);  // restart the server

    MainWindow& main = program_->mainWindow();
    showWindow(&main, 0);
    activate(&main);
    const std::string db = readConnectionString();
    EXPECT_NE(db.find(database().string()), std::string::npos) << db;
    ASSERT_TRUE(std::filesystem::is_regular_file(database()));
    UserPanel& users = main.users();
    auto rows = [&](const std::string& sql, const std::vector<std::string>& columns) {
        return test::rowsOn(db, sql, columns);
    };

    // New User: name and password twice, Enter.
    QWidget* newName = openModeless(Qt::Key_N, Qt::ControlModifier, "frmNewName");
    expectFocus("txtNewName");
    type("dora");
    key(Qt::Key_Tab);
    type("first");
    key(Qt::Key_Tab);
    expectFocus("txtConfirm");
    type("first");
    closeBy(newName, Qt::Key_Return);
    EXPECT_EQ(users.state().selectedUser, "dora");

    // Tab passes the name box, which offers a copy; No goes on to the notes.
    boxes_.answer(Answer::No);
    tabTo("txtNotes");
    type("our first user");
    // Back to a home of her own and another password over the placeholder.
    tabTo("txtHomeDir", true);
    key(Qt::Key_A, Qt::ControlModifier);
    type(home("dora").c_str());
    tabTo("txtPassword", true);
    type("second");
    key(Qt::Key_Tab);
    expectFocus("txtPasswordConfirm");
    type("second");

    // A rule for her upload folder, with Write ticked beside Read.
    openModal(Qt::Key_A, Qt::AltModifier, "frmAddEditDir", [&] {
        expectFocus("txtPath");
        key(Qt::Key_A, Qt::ControlModifier);
        type(home("dora/in").c_str());
        key(Qt::Key_Return);
    });
    refreshed();
    // The keys come back to the box they left; the rights lie ahead.
    expectFocus("txtPasswordConfirm");
    tabTo("chkWrite");
    key(Qt::Key_Space);
    tabTo("chkMake");
    key(Qt::Key_Space);
    key(Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !users.state().unsavedChanges; }));
    EXPECT_EQ(
        rows("SELECT username, homedir, comments FROM users", {"username", "homedir", "comments"}),
        (test::Rows{{"dora", home("dora"), "our first user"}}));
    EXPECT_EQ(rows("SELECT directory, dir_rights FROM dir_rights WHERE username='dora'",
                   {"directory", "dir_rights"}),
              (test::Rows{{home("dora/in"), "RWLC"}}));

    // IP Access: Enter in the box adds the address, then OK.
    QWidget* ip = openModeless(Qt::Key_C, Qt::AltModifier, "frmIPAccess");
    expectFocus("txtIPaddress");
    type("10.0.0.5");
    key(Qt::Key_Return);
    EXPECT_EQ(test::listEntries(child<QAbstractItemView>(ip, "lstRules")),
              std::vector<std::string>{"10.0.0.5"});
    closeBy(ip, Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user WHERE username='dora'", {"ip"}),
              test::Rows{{"10.0.0.5"}});
    // The log names the user, the database and the outcome of each write.
    const std::string log = programLog().text();
    for (const std::string& told :
         {std::string("user dora, "), "in database " + database().string() + ": done",
          std::string("10.0.0.5")})
        EXPECT_NE(log.find(told), std::string::npos) << told << "\n" << log;

    // Quota: switched on, a maximum typed, Enter.
    QWidget* quota = openModeless(Qt::Key_Q, Qt::AltModifier, "frmDiskQuota");
    tabTo("chkEnableQuota");
    key(Qt::Key_Space);
    tabTo("txtQuotaMaximum");
    key(Qt::Key_A, Qt::ControlModifier);
    type("250");
    closeBy(quota, Qt::Key_Return);
    EXPECT_EQ(rows("SELECT use_quota, quota_max FROM users WHERE username='dora'",
                   {"use_quota", "quota_max"}),
              (test::Rows{{"1", "262144000"}}));

    // Misc: an expiry date typed, then moved a month on in the calendar.
    QWidget* misc = openModeless(Qt::Key_M, Qt::AltModifier, "frmMiscSetup");
    tabTo("chkExpires");
    key(Qt::Key_Space);
    key(Qt::Key_Tab);
    expectFocus("txtExpDate");
    type("2031-05-06");
    key(Qt::Key_Tab);
    expectFocus("cmdExpiresDDD");
    key(Qt::Key_Space);
    auto* grid = child<MonthGrid>(misc, "picMonth");
    ASSERT_TRUE(QTest::qWaitFor([&] { return grid->hasFocus(); }));
    EXPECT_EQ(grid->currentDate(),
              (std::chrono::year_month_day{std::chrono::year{2031}, std::chrono::month{5},
                                           std::chrono::day{6}}));
    key(Qt::Key_PageDown);
    key(Qt::Key_Return);
    closeBy(misc, Qt::Key_Return);
    EXPECT_EQ(rows("SELECT Expires FROM users WHERE username='dora'", {"Expires"}),
              test::Rows{{"2031-06-06"}});

    // Ratios: on, two uploads for each download.
    QWidget* ratios = openModeless(Qt::Key_R, Qt::AltModifier, "frmUDRatios");
    tabTo("chkEnableUD");
    key(Qt::Key_Space);
    // Tab enters the choice of counting; the arrows choose within it.
    tabTo("optFPS");
    key(Qt::Key_Right);
    expectFocus("optBPS");
    key(Qt::Key_Space);
    for (const auto& [box, value] : {std::pair{"txtUpload", "2"}, std::pair{"txtDownload", "1"},
                                     std::pair{"txtUDCrd", "100"}}) {
        tabTo(box);
        key(Qt::Key_A, Qt::ControlModifier);
        type(value);
    }
    closeBy(ratios, Qt::Key_Return);
    EXPECT_EQ(rows("SELECT ratio_type, ratio_up, ratio_down FROM users WHERE username='dora'",
                   {"ratio_type", "ratio_up", "ratio_down"}),
              (test::Rows{{"BytesPerSession", "2", "1"}}));

    // Copy from the Tools menu: a new name and its password twice, then Save.
    boxes_.answer(Answer::Yes);
    inputs_.type("dorothy");
    inputs_.type("third");
    inputs_.type("third");
    key(Qt::Key_T, Qt::AltModifier);
    ASSERT_NE(QApplication::activePopupWidget(), nullptr) << "Alt+T opens no menu";
    key(Qt::Key_O);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().editMode == EditMode::Copy; }));
    key(Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().editMode == EditMode::Stored; }));
    // The copy takes the record and its rules, not the limits.
    EXPECT_EQ(rows("SELECT username, homedir, comments, quota_max FROM users ORDER BY username",
                   {"username", "homedir", "comments", "quota_max"}),
              (test::Rows{{"dora", home("dora"), "our first user", "262144000"},
                          {"dorothy", home("dora"), "our first user", std::nullopt}}));
    EXPECT_EQ(rows("SELECT directory, dir_rights FROM dir_rights WHERE username='dorothy'",
                   {"directory", "dir_rights"}),
              (test::Rows{{home("dora/in"), "RWLC"}}));

    // The list: Ctrl+F narrows it, Enter goes into it, the keys move in it.
    auto* list = child<QAbstractItemView>(&main, "lstUsers");
    key(Qt::Key_F, Qt::ControlModifier);
    expectFocus("txtFilter");
    type("THY");
    EXPECT_EQ(test::listEntries(list), std::vector<std::string>{"dorothy"});
    key(Qt::Key_A, Qt::ControlModifier);
    key(Qt::Key_Backspace);
    EXPECT_EQ(test::listEntries(list), (std::vector<std::string>{"dora", "dorothy"}));
    key(Qt::Key_Return);
    expectFocus("lstUsers");
    key(Qt::Key_Home);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().selectedUser == "dora"; }));
    key(Qt::Key_End);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().selectedUser == "dorothy"; }));
    key(Qt::Key_PageUp);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().selectedUser == "dora"; }));
    key(Qt::Key_PageDown);
    ASSERT_TRUE(QTest::qWaitFor([&] { return users.state().selectedUser == "dorothy"; }));

    // Delete, confirmed.
    boxes_.answer(Answer::Yes);
    key(Qt::Key_D, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::listEntries(list).size() == 1; }));
    EXPECT_EQ(rows("SELECT username FROM users", {"username"}), test::Rows{{"dora"}});
    EXPECT_TRUE(
        rows("SELECT ip FROM blocked_ips_by_user WHERE username='dorothy'", {"ip"}).empty());
    EXPECT_EQ(boxes_.unanswered(), 0u);
    EXPECT_EQ(inputs_.unanswered(), 0u);
}

}  // namespace
}  // namespace kestrix
