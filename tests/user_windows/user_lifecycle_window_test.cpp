// New User, copying by entering the name box, and Delete, through the real
// windows.
#include <QAbstractItemView>
#include <QAction>
#include <QKeySequence>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

#include "app/main_window.h"
#include "setup/configure_window.h"
#include "shell/shell.h"
#include "tests/user_windows/user_window_fixture.h"

namespace kestrix {
namespace {

using test::appMessage;
using test::Rows;

class UserLifecycleTest : public test::UserWindowTest {
  protected:
    QWidget* openNewName() {
        click("cmdNew");
        QWidget* dialog = window("frmNewName");
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    static void fillNewName(QWidget* dialog, const std::string& name, const std::string& password) {
        childOf<QLineEdit>(dialog, "txtNewName")->setText(QString::fromStdString(name));
        childOf<QLineEdit>(dialog, "txtPassword")->setText(QString::fromStdString(password));
        childOf<QLineEdit>(dialog, "txtConfirm")->setText(QString::fromStdString(password));
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    }
    std::string text(const char* box) { return child<QLineEdit>(box)->text().toStdString(); }
};

TEST_P(UserLifecycleTest, NewUserIsStoredSelectedAndShownWithThePlaceholder) {
    addUser("carol", dir("ftp/carol"));
    addRule("carol", dir("ftp/carol"), "RL", 1);
    panel_->popMain();
    activate(panel_.get());

    QWidget* dialog = openNewName();
    EXPECT_EQ(dialog->windowTitle(), "New User Name");
    EXPECT_TRUE(dialog->isVisible());
    // Shown modeless: the main window stays usable.
    EXPECT_FALSE(dialog->isModal());
    EXPECT_TRUE(Shell::instance().openDialogs().empty());
    EXPECT_EQ(childOf<QLineEdit>(dialog, "txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(childOf<QLineEdit>(dialog, "txtConfirm")->echoMode(), QLineEdit::Password);
    // A second entry that differs stores nothing.
    childOf<QLineEdit>(dialog, "txtNewName")->setText("Dave");
    childOf<QLineEdit>(dialog, "txtPassword")->setText("pw1");
    childOf<QLineEdit>(dialog, "txtConfirm")->setText("pw2");
    boxes_.answer(Answer::OK);
    QTest::mouseClick(childOf<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{appMessage("The two passwords differ: nothing was changed.")});
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);

    boxes_.answer(Answer::OK);
    fillNewName(dialog, " ** ANONYMOUS ** ", "pw");
    // A name in use in another case is taken on both engines.
    boxes_.answer(Answer::OK);
    fillNewName(dialog, "CAROL", "pw");
    EXPECT_EQ(boxes_.shown(),
              (std::vector<Message>{
                  appMessage("The two passwords differ: nothing was changed."),
                  appMessage("Those are forbidden usernames. \r\n\r\nPlease enter another name"),
                  Message{"That username is already in use. Please choose another.",
                          "Username in use", MessageIcon::Exclamation, MessageButtons::OK, 1}}));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    EXPECT_EQ(text("txtUsername"), "carol");

    fillNewName(dialog, "Dave", "pw1");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(userRowsHashing("Dave", "pw1"),
              (Rows{{"Dave", ftpRoot(), "pw1", std::nullopt, "1", "1", "0"}}));
    EXPECT_TRUE(rulesOf("Dave").empty());

    EXPECT_EQ(userEntries(), (std::vector<std::string>{"carol", "Dave"}));
    EXPECT_EQ(panel_->selectedUserRow(), 1);
    EXPECT_EQ(panel_->state().selectedUser, "Dave");
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    EXPECT_EQ(text("txtUsername"), "Dave");
    EXPECT_EQ(text("txtHomeDir"), ftpRoot());
    EXPECT_EQ(text("txtPassword"), "[Click Here to Change]");
    EXPECT_EQ(child<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Normal);
    EXPECT_TRUE(ruleEntries().empty());
    EXPECT_TRUE(panel_->state().ruleSet.empty());

    // The same dialog opens again, emptied; Cancel only hides it.
    childOf<QLineEdit>(dialog, "txtNewName")->setText("left over");
    EXPECT_EQ(openNewName(), dialog);
    EXPECT_EQ(childOf<QLineEdit>(dialog, "txtNewName")->text(), "");
    QTest::mouseClick(childOf<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(userEntries().size(), 2u);
}

TEST_P(UserLifecycleTest, ANewPasswordIsSavedOnlyWhenTypedTwiceAlike) {
    addUser("bob", dir("ftp/bob"));
    panel_->popMain();
    activate(panel_.get());
    auto* password = child<QLineEdit>("txtPassword");
    auto* confirm = child<QLineEdit>("txtPasswordConfirm");
    EXPECT_EQ(confirm->echoMode(), QLineEdit::Password);
    // Keeping the stored password needs no second entry.
    EXPECT_FALSE(confirm->isEnabled());

    password->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(password, "New-pw1");
    EXPECT_TRUE(confirm->isEnabled());
    confirm->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(confirm, "New-pw2");
    boxes_.answer(Answer::OK);
    click("cmdStore");
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{appMessage("The Password and Confirm password fields differ."
                                              "\r\n\r\nType the new password in both; nothing "
                                              "was saved.")});
    EXPECT_EQ(userRows("bob")[0][2], "secret");
    EXPECT_TRUE(panel_->state().unsavedChanges);

    confirm->setText("New-pw1");
    click("cmdStore");
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(userRowsHashing("bob", "New-pw1")[0][2], "New-pw1");
    // Reloaded: the placeholder again, and the second box emptied.
    EXPECT_EQ(text("txtPassword"), "[Click Here to Change]");
    EXPECT_EQ(confirm->text(), "");
    EXPECT_FALSE(confirm->isEnabled());
}

TEST_P(UserLifecycleTest, NewUserThatSaveRefusesStaysPendingUntilAnotherUserIsSelected) {
    addUser("bob", dir("ftp/bob"));
    addUser("zed", dir("ftp/zed"));
    // The FTP root the new user starts from does not exist.
    configureStore(scratch_->connectionString(), "/", ftpRoot() + "/gone/");
    panel_->popMain();
    activate(panel_.get());

    QWidget* dialog = openNewName();
    boxes_.answer(Answer::Cancel);  // the home directory is not valid: edit
    fillNewName(dialog, "erin", "pw");
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(userRows("erin").empty());
    EXPECT_EQ(panel_->state().editMode, EditMode::NewUser);
    EXPECT_EQ(panel_->state().selectedUser, "");
    EXPECT_EQ(text("txtUsername"), "erin");
    EXPECT_EQ(text("txtHomeDir"), ftpRoot() + "/gone");
    EXPECT_EQ(text("txtPassword"), "pw");

    // Selecting a stored user, the changes dropped, ends the pending one:
    // Save updates zed and inserts nobody.
    boxes_.answer(Answer::No);
    panel_->selectUserRow(1);
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    EXPECT_EQ(text("txtUsername"), "zed");
    click("cmdStore");
    EXPECT_EQ(rows("SELECT username FROM users ORDER BY username", {"username"}),
              (Rows{{"bob"}, {"zed"}}));
}

TEST_P(UserLifecycleTest, RulesGivenToAPendingNewUserAreStoredWithIt) {
    addUser("bob", dir("ftp/bob"));
    configureStore(scratch_->connectionString(), "/", ftpRoot() + "/gone/");
    panel_->popMain();
    activate(panel_.get());
    QWidget* dialog = openNewName();
    boxes_.answer(Answer::Cancel);  // the home directory is not valid: edit
    fillNewName(dialog, "nina", "pw");
    ASSERT_EQ(panel_->state().editMode, EditMode::NewUser);

    const std::string upload = dir("ftp/upload");
    const std::string pub = dir("ftp/pub");
    for (const std::string& path : {upload, pub}) {
        test::whenWindowShown("frmAddEditDir", [&] {
            QWidget* rules = window("frmAddEditDir");
            childOf<QLineEdit>(rules, "txtPath")->setText(QString::fromStdString(path));
            QTest::mouseClick(childOf<QPushButton>(rules, "cmdOK"), Qt::LeftButton);
        });
        click("cmdAdd");
    }
    child<QLineEdit>("txtHomeDir")->setText(QString::fromStdString(ftpRoot()));
    click("cmdStore");
    EXPECT_EQ(userRows("nina").size(), 1u);
    EXPECT_EQ(rulesOf("nina"), (Rows{{"nina", upload, "RL", "1"}, {"nina", pub, "RL", "1"}}));
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
}

TEST_P(UserLifecycleTest, EnteringTheNameBoxCopiesAUserWithItsThreeRules) {
    const std::string home = dir("ftp/bob");
    addUser("bob", home);
    addRule("bob", home, "RL", 1);
    addRule("bob", home + "/in", "RWL", 1);
    addRule("bob", home + "/out", "R", 0);
    panel_->popMain();
    activate(panel_.get());
    auto* nameBox = child<QLineEdit>("txtUsername");

    // The box takes no typing.
    QTest::keyClicks(nameBox, "xyz");
    EXPECT_EQ(nameBox->text(), "bob");

    // Declining moves on to the notes.
    boxes_.answer(Answer::No);
    enterNameBox();
    EXPECT_TRUE(child<QPlainTextEdit>("txtNotes")->hasFocus());
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);

    // Two entries of the password that differ start no copy.
    boxes_.answer(Answer::Yes);
    inputs_.type("carol");
    inputs_.type("pw2");
    inputs_.type("pw3");
    boxes_.answer(Answer::OK);
    enterNameBox();
    EXPECT_EQ(boxes_.shown().back().text, "The two passwords differ: nothing was changed.");
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    EXPECT_EQ(nameBox->text(), "bob");
    child<QPlainTextEdit>("txtNotes")->setFocus(Qt::MouseFocusReason);

    boxes_.answer(Answer::Yes);
    inputs_.type("carol");
    inputs_.type("pw2");
    inputs_.type("pw2");
    enterNameBox();
    EXPECT_EQ(boxes_.shown().back(),
              appMessage("Changing the username will create another \r\n"
                         "user with the same credentials. \r\n\r\n"
                         "This action will not modify the current user's username.\r\n\r\n"
                         "Do you want to continue",
                         MessageIcon::Question, MessageButtons::YesNoCancel, 2));
    ASSERT_EQ(inputs_.shown().size(), 6u);
    EXPECT_EQ(std::vector<InputRequest>(inputs_.shown().begin() + 3, inputs_.shown().end()),
              (std::vector<InputRequest>{
                  {"Enter the new username", "Tavix2", "bob"},
                  {"The new user needs to have a password.\r\nPlease Enter a password", "Tavix2",
                   "", true},
                  {"Please enter the password again", "Tavix2", "", true}}));
    EXPECT_EQ(nameBox->text(), "carol");
    EXPECT_EQ(text("txtPassword"), "pw2");
    EXPECT_EQ(child<QLineEdit>("txtPassword")->echoMode(), QLineEdit::Password);
    EXPECT_EQ(panel_->state().selectedUser, "carol");
    EXPECT_EQ(panel_->state().editMode, EditMode::Copy);
    EXPECT_TRUE(panel_->state().unsavedChanges);

    click("cmdStore");
    EXPECT_EQ(userRowsHashing("carol", "pw2"),
              (Rows{{"carol", home, "pw2", "notes of bob", "1", "1", "0"}}));
    EXPECT_EQ(rulesOf("carol"), (Rows{{"carol", home, "RL", "1"},
                                      {"carol", home + "/in", "RWL", "1"},
                                      {"carol", home + "/out", "R", "0"}}));
    // The copied-from user is as it was.
    EXPECT_EQ(userRows("bob"),
              (Rows{{"bob", home, "secret", "notes of bob", "3", "2", std::nullopt}}));
    EXPECT_EQ(rulesOf("bob").size(), 3u);
    // Back on the entry selected before: bob.
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"bob", "carol"}));
    EXPECT_EQ(panel_->state().selectedUser, "bob");
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
}

TEST_P(UserLifecycleTest, CopyUnderATakenNameIsRefusedAndSaveThenOnlyUpdates) {
    addUser("bob", dir("ftp/bob"));
    addUser("carol", dir("ftp/carol"));
    addRule("carol", dir("ftp/carol"), "RWAMELCD", 1);
    panel_->popMain();
    activate(panel_.get());
    boxes_.answer(Answer::Yes);
    inputs_.type("CAROL");
    boxes_.answer(Answer::OK);
    enterNameBox();
    EXPECT_EQ(boxes_.shown().back().caption, "Username in use");
    EXPECT_NE(boxes_.shown().back().text.find("The database holds it as carol."),
              std::string::npos);
    EXPECT_EQ(text("txtUsername"), "bob");
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    click("cmdStore");
    EXPECT_EQ(userRows("carol").size(), 1u);
    EXPECT_EQ(rulesOf("carol"), (Rows{{"carol", dir("ftp/carol"), "RWAMELCD", "1"}}));

    // The source's own name in other letters is taken too, and Save then
    // leaves the source as it is.
    child<QPlainTextEdit>("txtNotes")->setFocus(Qt::MouseFocusReason);
    boxes_.answer(Answer::Yes);
    inputs_.type("BOB");
    boxes_.answer(Answer::OK);
    enterNameBox();
    EXPECT_NE(boxes_.shown().back().text.find("The database holds it as bob."), std::string::npos);
    EXPECT_EQ(text("txtUsername"), "bob");
    click("cmdStore");
    EXPECT_EQ(rows("SELECT username FROM users ORDER BY username", {"username"}),
              (Rows{{"bob"}, {"carol"}}));
}

TEST_P(UserLifecycleTest, CopyIsReachedByTheKeyboard) {
    addUser("bob", dir("ftp/bob"));
    MainWindow& main = startMainWindow();
    UserPanel& users = main.users();
    // Tab from the user list enters the name box, which offers the copy.
    auto* list = users.findChild<QWidget*>("lstUsers");
    list->setFocus(Qt::OtherFocusReason);
    boxes_.answer(Answer::No);
    QTest::keyClick(list, Qt::Key_Tab);
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown().back().buttons, MessageButtons::YesNoCancel);

    // The menu's Copy User, with its shortcut, starts it too.
    auto* copy = main.findChild<QAction*>("tools1_copyUser");
    ASSERT_NE(copy, nullptr);
    EXPECT_EQ(copy->shortcut(), QKeySequence("Ctrl+Shift+C"));
    boxes_.answer(Answer::Yes);
    inputs_.type("bobby");
    inputs_.type("pw");
    inputs_.type("pw");
    copy->trigger();
    QCoreApplication::processEvents();
    EXPECT_EQ(users.state().editMode, EditMode::Copy);
    EXPECT_EQ(users.state().selectedUser, "bobby");
}

TEST_P(UserLifecycleTest, PendingCopyEndsOnRestore) {
    addUser("bob", dir("ftp/bob"));
    MainWindow& main = startMainWindow();
    UserPanel& users = main.users();
    ASSERT_EQ(users.state().selectedUser, "bob");

    boxes_.answer(Answer::Yes);
    inputs_.type("bobby");
    inputs_.type("pw");
    inputs_.type("pw");
    users.findChild<QWidget*>("txtUsername")->setFocus(Qt::TabFocusReason);
    QCoreApplication::processEvents();
    ASSERT_EQ(users.state().editMode, EditMode::Copy);

    boxes_.answer(Answer::No);  // the copy is not saved
    QTest::mouseClick(main.findChild<QPushButton*>("cmdRestore"), Qt::LeftButton);
    EXPECT_EQ(users.state().editMode, EditMode::Stored);
    EXPECT_EQ(users.state().selectedUser, "bob");
    EXPECT_EQ(users.findChild<QLineEdit*>("txtUsername")->text(), "bob");
    users.cmdStore_Click();
    EXPECT_EQ(rows("SELECT username FROM users", {"username"}), (Rows{{"bob"}}));
}

// Leaving a user with unsaved changes asks first: Cancel stays with the
// edits, Yes saves them, No drops them. Exit asks too.
TEST_P(UserLifecycleTest, UnsavedChangesAreSavedDroppedOrKeptAsAnswered) {
    addUser("bob", dir("ftp/bob"));
    addUser("carol", dir("ftp/carol"));
    MainWindow& main = startMainWindow();
    UserPanel& users = main.users();
    auto* notes = users.findChild<QPlainTextEdit*>("txtNotes");
    auto* list = users.findChild<QAbstractItemView*>("lstUsers");
    const auto edit = [&](const char* text) {
        notes->setFocus(Qt::MouseFocusReason);
        notes->setPlainText(QString::fromLatin1(text));
        list->setFocus(Qt::MouseFocusReason);  // leaving the notes marks them unsaved
        ASSERT_TRUE(users.state().unsavedChanges);
    };
    const Message question = appMessage("Save the changes to user bob?", MessageIcon::Question,
                                        MessageButtons::YesNoCancel);

    edit("bob's new notes");
    boxes_.answer(Answer::Cancel);
    users.selectUserRow(1);
    EXPECT_EQ(boxes_.shown().back(), question);
    EXPECT_EQ(users.selectedUserRow(), 0);
    EXPECT_EQ(users.state().selectedUser, "bob");
    EXPECT_EQ(notes->toPlainText(), "bob's new notes");
    EXPECT_TRUE(users.state().unsavedChanges);

    // New User and Exit offer the same question; Cancel stays.
    boxes_.answer(Answer::Cancel);
    QTest::mouseClick(users.findChild<QPushButton*>("cmdNew"), Qt::LeftButton);
    EXPECT_EQ(window("frmNewName"), nullptr);
    boxes_.answer(Answer::Yes);  // exit
    boxes_.answer(Answer::Cancel);
    QTest::mouseClick(main.findChild<QPushButton*>("cmdExit"), Qt::LeftButton);
    EXPECT_EQ(end_.ends, 0);
    EXPECT_EQ(boxes_.shown().back(), question);

    boxes_.answer(Answer::Yes);
    users.selectUserRow(1);
    EXPECT_EQ(userRows("bob")[0][3], "bob's new notes");
    EXPECT_EQ(users.state().selectedUser, "carol");
    EXPECT_EQ(notes->toPlainText(), "notes of carol");
    EXPECT_FALSE(users.state().unsavedChanges);

    edit("carol's lost notes");
    boxes_.answer(Answer::No);
    users.selectUserRow(0);
    EXPECT_EQ(userRows("carol")[0][3], "notes of carol");
    EXPECT_EQ(users.state().selectedUser, "bob");
    EXPECT_EQ(notes->toPlainText(), "bob's new notes");
    EXPECT_EQ(boxes_.shown().size(), 6u);
}

// Save puts the one saved entry in its place; the other names are not read
// again, and the row that was selected is selected and loaded again.
TEST_P(UserLifecycleTest, SaveMovesTheSavedEntryToItsPlaceWithoutReadingTheList) {
    for (const char* name : {"alice", "bob", "carol", "dave"})
        addUser(name, dir(std::string("ftp/") + name));
    addRule("bob", dir("ftp/bob"), "RL", 1);
    panel_->popMain();
    activate(panel_.get());
    panel_->selectUserRow(1);
    ASSERT_EQ(panel_->state().selectedUser, "bob");
    // Added behind the program's back: only a full read would show it.
    addUser("bert", dir("ftp/bert"));

    child<QLineEdit>("txtUsername")->setText("Zack");
    click("cmdStore");
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"alice", "carol", "dave", "Zack"}));
    EXPECT_EQ(userRows("Zack").size(), 1u);
    EXPECT_TRUE(userRows("bob").empty());
    EXPECT_EQ(panel_->selectedUserRow(), 1);
    EXPECT_EQ(panel_->state().selectedUser, "carol");
    EXPECT_EQ(text("txtUsername"), "carol");

    // Saved under the same name, the entry stays where it is and is loaded
    // again from the rows just written.
    panel_->selectUserRow(0);
    child<QLineEdit>("txtHomeDir")->setText(QString::fromStdString(dir("ftp/elsewhere")));
    click("cmdStore");
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"alice", "carol", "dave", "Zack"}));
    EXPECT_EQ(panel_->state().selectedUser, "alice");
    EXPECT_EQ(text("txtHomeDir"), dir("ftp/elsewhere"));

    // A new user goes in its place among the others.
    QWidget* dialog = openNewName();
    fillNewName(dialog, "Bea", "pw");
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"alice", "Bea", "carol", "dave", "Zack"}));
    EXPECT_EQ(panel_->state().selectedUser, "Bea");
    panel_->popMain();
    EXPECT_EQ(userEntries(),
              (std::vector<std::string>{"alice", "Bea", "bert", "carol", "dave", "Zack"}));
}

// Someone else removed the user being edited: Save writes nothing, says
// so, and the list shows who is left.
TEST_P(UserLifecycleTest, SaveOfAVanishedUserRefillsTheList) {
    addUser("bob", dir("ftp/bob"));
    addRule("bob", dir("ftp/bob"), "RL", 1);
    addUser("carol", dir("ftp/carol"));
    panel_->popMain();
    activate(panel_.get());
    run("DELETE FROM users WHERE username='bob'");
    boxes_.answer(Answer::OK);
    click("cmdStore");
    EXPECT_NE(boxes_.shown().back().text.find("The user bob no longer exists in the database."),
              std::string::npos);
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"carol"}));
    EXPECT_EQ(panel_->state().selectedUser, "carol");
    // Nothing was written for bob: his rules went with his row.
    EXPECT_EQ(rulesOf("bob"), Rows{});
}

TEST_P(UserLifecycleTest, DeleteAsksAndRefillsTheListWhateverTheAnswer) {
    addUser("alice", dir("ftp/alice"));
    addUser("bob", dir("ftp/bob"));
    addRule("bob", dir("ftp/bob"), "RL", 1);
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.1')");
    panel_->popMain();
    activate(panel_.get());
    panel_->selectUserRow(1);
    const Message warning{
        "Warning: You cannot undo or restore from this action.\r\n"
        "Are you sure you want to delete bob?\r\n",
        "Warning: Deleting a user is permanent.", MessageIcon::Exclamation,
        MessageButtons::YesNoCancel, 2};

    boxes_.answer(Answer::No);
    click("cmdDelete");
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{warning}));
    EXPECT_EQ(userRows("bob").size(), 1u);
    EXPECT_EQ(panel_->selectedUserRow(), 0);
    EXPECT_EQ(text("txtUsername"), "alice");

    panel_->selectUserRow(1);
    boxes_.answer(Answer::Yes);
    click("cmdDelete");
    EXPECT_TRUE(userRows("bob").empty());
    EXPECT_TRUE(rulesOf("bob").empty());
    EXPECT_TRUE(rows("SELECT ip FROM blocked_ips_by_user WHERE username='bob'", {"ip"}).empty());
    EXPECT_EQ(userEntries(), (std::vector<std::string>{"alice"}));
    EXPECT_EQ(panel_->state().selectedUser, "alice");
}

TEST_P(UserLifecycleTest, DeletingTheOnlyUserEmptiesTheEditingArea) {
    addUser("alice", dir("ftp/alice"));
    addRule("alice", dir("ftp/alice"), "RL", 1);
    panel_->popMain();
    activate(panel_.get());
    ASSERT_EQ(ruleEntries().size(), 1u);
    boxes_.answer(Answer::Yes);
    click("cmdDelete");
    EXPECT_TRUE(userRows("alice").empty());
    EXPECT_TRUE(userEntries().empty());
    EXPECT_EQ(panel_->selectedUserRow(), -1);
    for (const char* box : {"txtUsername", "txtPassword", "txtHomeDir"})
        EXPECT_EQ(text(box), "") << box;
    EXPECT_EQ(child<QPlainTextEdit>("txtNotes")->toPlainText(), "");
    EXPECT_TRUE(ruleEntries().empty());
    EXPECT_TRUE(panel_->state().ruleSet.empty());
    EXPECT_EQ(panel_->state().selectedUser, "");
}

INSTANTIATE_TEST_SUITE_P(Engines, UserLifecycleTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
