// The user area of the main window, driven through its controls.
#include <QAbstractItemView>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "core/database.h"
#include "core/short_date.h"
#include "core/sql_literal.h"
#include "tests/ui_support/list_entries.h"
#include "tests/ui_support/shell_fixture.h"
#include "users/user_panel.h"

namespace kestrix {
namespace {

class UserPanelTest : public test::ShellFixture, public ::testing::WithParamInterface<Engine> {
  protected:
    void SetUp() override {
        test::ShellFixture::SetUp();
        scratch_ = test::makeScratchDatabase(GetParam());
        configureStore(scratch_->connectionString());
        panel_ = std::make_unique<UserPanel>();
    }
    void TearDown() override {
        panel_.reset();
        test::ShellFixture::TearDown();
    }

    void run(const std::string& sql) { test::executeOn(scratch_->connectionString(), sql); }
    void addUser(const std::string& name, const std::string& columns = "",
                 const std::string& values = "") {
        run("INSERT INTO users (username, homedir, comments, max_concurrent, max_logins_per_ip" +
            columns + ") VALUES (" + sqlText(name) + ", " + sqlText("/srv/ftp/" + name) +
            ", 'notes of " + name + "', 1, 1" + values + ")");
    }
    void addRule(const std::string& name, const std::string& directory, const std::string& rights,
                 int inherit) {
        run("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
            sqlText(name) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", " +
            std::to_string(inherit) + ")");
    }

    template <typename T>
    T* child(const char* name) {
        T* found = panel_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* box(const char* name) { return child<QLineEdit>(name); }

    // Waits for the next refresh of the editing state.
    void nextRefresh() {
        QSignalSpy tick(panel_->rulesTimer(), &QTimer::timeout);
        ASSERT_TRUE(tick.wait(5000));
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    std::unique_ptr<UserPanel> panel_;
};

TEST_P(UserPanelTest, PasswordPlaceholderLeavesOnEntryAndReturnsWhenEmpty) {
    addUser("bob");
    panel_->popMain();
    activate(panel_.get());
    QLineEdit* password = box("txtPassword");
    QLineEdit* home = box("txtHomeDir");
    EXPECT_EQ(password->text(), "[Click Here to Change]");

    password->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(password->text(), "");
    home->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(password->text(), "[Click Here to Change]");

    password->setFocus(Qt::MouseFocusReason);
    QTest::keyClicks(password, "s3cret");
    home->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(password->text(), "s3cret");
    // Entering again keeps a typed password.
    password->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(password->text(), "s3cret");
}

TEST_P(UserPanelTest, OnlyAChangedBoxMarksUnsavedAndSaveTurnsBold) {
    addUser("bob");
    panel_->popMain();
    activate(panel_.get());
    QPushButton* save = child<QPushButton>("cmdStore");
    nextRefresh();
    EXPECT_FALSE(panel_->state().unsavedChanges);
    EXPECT_FALSE(save->font().bold());

    // Tabbing through every box (the password's placeholder comes and goes)
    // and the rule boxes changes nothing.
    auto* notes = child<QPlainTextEdit>("txtNotes");
    for (QWidget* widget :
         {static_cast<QWidget*>(notes), static_cast<QWidget*>(box("txtPassword")),
          static_cast<QWidget*>(box("txtHomeDir")),
          static_cast<QWidget*>(child<QCheckBox>("chkRead")), static_cast<QWidget*>(notes)}) {
        widget->setFocus(Qt::TabFocusReason);
    }
    box("txtHomeDir")->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(panel_->state().unsavedChanges);
    nextRefresh();
    EXPECT_FALSE(save->font().bold());
    // Typing and typing back leaves the text as it was: still unchanged.
    QTest::keyClick(box("txtHomeDir"), Qt::Key_End);  // tabbing in selected it all
    QTest::keyClicks(box("txtHomeDir"), "x");
    QTest::keyClick(box("txtHomeDir"), Qt::Key_Backspace);
    notes->setFocus(Qt::TabFocusReason);
    EXPECT_FALSE(panel_->state().unsavedChanges);

    QTest::keyClicks(notes, "n");
    box("txtHomeDir")->setFocus(Qt::TabFocusReason);  // leaving the notes, changed
    EXPECT_TRUE(panel_->state().unsavedChanges);
    nextRefresh();
    EXPECT_TRUE(save->font().bold());

    // Refilling the list asks first; No drops the changes and Save is plain.
    addUser("carol");
    boxes_.answer(Answer::No);
    panel_->popMain();
    panel_->selectUserRow(1);
    EXPECT_EQ(box("txtUsername")->text(), "carol");
    nextRefresh();
    EXPECT_FALSE(save->font().bold());
}

TEST_P(UserPanelTest, SelectingARuleShowsItsBoxesAndClickingABoxClearsIt) {
    addUser("bob");
    addRule("bob", "/srv/ftp/bob", "rwx", 1);
    addRule("bob", "/srv/ftp/bob/in", "DLR", 0);
    panel_->popMain();
    activate(panel_.get());
    auto* rules = child<QListWidget>("lstAccess");
    ASSERT_EQ(rules->count(), 2);

    rules->setCurrentRow(0);
    const char* names[] = {"chkRead", "chkWrite", "chkAppend", "chkDelete", "chkExecute",
                           "chkList", "chkMake",  "chkRemove", "chkInherit"};
    auto ticked = [&] {
        std::string marks;
        for (const char* name : names)
            marks += child<QCheckBox>(name)->isChecked() ? '1' : '0';
        return marks;
    };
    EXPECT_EQ(ticked(), "110000001");
    rules->setCurrentRow(1);
    EXPECT_EQ(ticked(), "100001010");

    nextRefresh();
    EXPECT_TRUE(child<QCheckBox>("chkRead")->isEnabled());
    EXPECT_TRUE(child<QPushButton>("cmdEdit")->isEnabled());

    QTest::mouseClick(box("txtHomeDir"), Qt::LeftButton);
    EXPECT_EQ(panel_->selectedRuleRow(), -1);
    nextRefresh();
    for (const char* name : names)
        EXPECT_FALSE(child<QCheckBox>(name)->isEnabled()) << name;
    for (const char* name : {"cmdDirDelete", "cmdUp", "cmdDown", "cmdEdit"})
        EXPECT_FALSE(child<QPushButton>(name)->isEnabled()) << name;
    EXPECT_TRUE(child<QPushButton>("cmdAdd")->isEnabled());
}

TEST_P(UserPanelTest, EmptyUserTableDisablesThePerUserControlsAtTheNextRefresh) {
    addUser("bob");
    addRule("bob", "/srv/ftp/bob", "RL", 1);
    panel_->popMain();
    nextRefresh();
    const char* perUser[] = {"cmdUpDownRatios", "cmdMisc", "cmdIPAccess", "cmdQuota", "cmdAdd"};
    for (const char* name : perUser)
        EXPECT_TRUE(child<QPushButton>(name)->isEnabled()) << name;

    run("DELETE FROM dir_rights");
    run("DELETE FROM users");
    panel_->popMain();
    EXPECT_TRUE(test::listEntries(child<QAbstractItemView>("lstUsers")).empty());
    EXPECT_EQ(panel_->selectedUserRow(), -1);
    // The refresh runs every 75 ms; the next one disables them.
    EXPECT_EQ(panel_->rulesTimer()->interval(), 75);
    EXPECT_TRUE(panel_->rulesTimer()->isActive());
    nextRefresh();
    for (const char* name : perUser)
        EXPECT_FALSE(child<QPushButton>(name)->isEnabled()) << name;
    EXPECT_FALSE(child<QCheckBox>("chkInherit")->isEnabled());
    // The editing area keeps what it showed.
    EXPECT_EQ(box("txtUsername")->text(), "bob");
    EXPECT_EQ(box("txtHomeDir")->text(), "/srv/ftp/bob");
    for (const char* name : {"cmdStore", "cmdNew", "cmdDelete"})
        EXPECT_TRUE(child<QPushButton>(name)->isEnabled()) << name;
}

// Accounts the daily rules removed leave the list; the user being looked
// at stays selected; unsaved changes keep the list as it is.
TEST_P(UserPanelTest, TheListFollowsTheDailyRulesUnlessChangesAreUnsaved) {
    for (const char* name : {"ann", "bob", "gone"})
        addUser(name);
    panel_->popMain();
    activate(panel_.get());
    panel_->selectUserRow(1);
    run("DELETE FROM users WHERE username='gone'");
    panel_->refreshAfterAccountRules();
    auto* list = child<QAbstractItemView>("lstUsers");
    EXPECT_EQ(test::listEntries(list), (std::vector<std::string>{"ann", "bob"}));
    EXPECT_EQ(panel_->selectedUserRow(), 1);
    EXPECT_EQ(box("txtUsername")->text(), "bob");

    auto* notes = child<QPlainTextEdit>("txtNotes");
    notes->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(notes, "n");
    box("txtHomeDir")->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(panel_->state().unsavedChanges);
    run("DELETE FROM users WHERE username='ann'");
    panel_->refreshAfterAccountRules();
    EXPECT_EQ(test::listEntries(list), (std::vector<std::string>{"ann", "bob"}));
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_NE(notes->toPlainText(), "notes of bob");
}

TEST_P(UserPanelTest, StatusLinesShowTextsInTheirColours) {
    addUser("bob", ", Expires, DisableOn, disable_user", ", '12/31/2030', '01/15/2031', 1");
    addUser("carol");
    auto* expires = child<QLabel>("lblExpires");
    auto* disabled = child<QLabel>("lblDisabled");
    EXPECT_EQ(expires->text(), "This user's account will expire on");
    EXPECT_EQ(disabled->text(), "This user's account will be disabled on");

    panel_->popMain();
    const QColor red(255, 0, 0);
    EXPECT_EQ(expires->text(), "This user's account will expire on 12/31/2030");
    EXPECT_EQ(expires->palette().color(QPalette::WindowText), red);
    EXPECT_EQ(disabled->text(), "This user's account has been disabled");
    EXPECT_EQ(disabled->palette().color(QPalette::WindowText), red);

    panel_->selectUserRow(1);
    const QColor buttonText = panel_->palette().color(QPalette::ButtonText);
    EXPECT_EQ(expires->text(), "This account is not set to expire. Click Here to set date.");
    EXPECT_EQ(expires->palette().color(QPalette::WindowText), buttonText);
    EXPECT_EQ(disabled->text(), "This account is not set to be disabled. Click Here to set date.");
    EXPECT_EQ(disabled->palette().color(QPalette::WindowText), buttonText);
    EXPECT_EQ(panel_->state().selectedUser, "carol");
}

TEST_P(UserPanelTest, BrowseFillsTheHomeDirectoryUnlessCancelled) {
    addUser("bob");
    panel_->popMain();
    QLineEdit* home = box("txtHomeDir");
    auto* browse = child<QPushButton>("cmdBrowse");

    folders_.pick("/srv/ftp/elsewhere");
    QTest::mouseClick(browse, Qt::LeftButton);
    EXPECT_EQ(home->text(), "/srv/ftp/elsewhere");
    ASSERT_EQ(folders_.calls().size(), 1u);
    EXPECT_EQ(folders_.calls()[0].title, "Select directory path");
    EXPECT_EQ(folders_.calls()[0].owner, panel_->window());

    folders_.pick(std::nullopt);
    QTest::mouseClick(browse, Qt::LeftButton);
    EXPECT_EQ(home->text(), "/srv/ftp/elsewhere");

    // A folder without a file-system path empties the box.
    folders_.pick("");
    QTest::mouseClick(browse, Qt::LeftButton);
    EXPECT_EQ(home->text(), "");
    // Choosing another folder is a change of the record like typing it.
    EXPECT_TRUE(panel_->state().unsavedChanges);
}

// Tab goes through the rules and their buttons before it reaches Save, and
// every button can be pressed with Alt and its underlined letter.
TEST_P(UserPanelTest, SaveFollowsTheRuleButtonsAndEveryButtonHasAMnemonic) {
    std::vector<QString> chain;
    QWidget* first = panel_->nextInFocusChain();
    for (QWidget* w = first; w != nullptr; w = w->nextInFocusChain()) {
        if (auto* button = qobject_cast<QPushButton*>(w)) chain.push_back(button->objectName());
        if (w->nextInFocusChain() == first) break;
    }
    const auto at = [&](const char* name) {
        return std::find(chain.begin(), chain.end(), QString::fromLatin1(name)) - chain.begin();
    };
    EXPECT_EQ(at("cmdStore"), at("cmdDown") + 1);
    for (const char* rule : {"cmdAdd", "cmdEdit", "cmdDirDelete", "cmdUp"})
        EXPECT_LT(at(rule), at("cmdStore")) << rule;

    std::vector<QChar> letters;
    for (QPushButton* button : panel_->findChildren<QPushButton*>()) {
        const QString text = button->text();
        if (text == "...") continue;  // a caption with no letter
        const auto amp = text.indexOf(QLatin1Char('&'));
        ASSERT_GE(amp, 0) << button->objectName().toStdString();
        letters.push_back(text.at(amp + 1).toLower());
    }
    std::sort(letters.begin(), letters.end());
    EXPECT_EQ(std::adjacent_find(letters.begin(), letters.end()), letters.end());
}

TEST_P(UserPanelTest, StatusLinesOpenTheAccountLimitsAsMiscDoes) {
    addUser("bob");
    panel_->popMain();
    QSignalSpy misc(panel_.get(), &UserPanel::miscRequested);
    QTest::mouseClick(child<QLabel>("lblExpires"), Qt::LeftButton);
    QTest::mouseClick(child<QLabel>("lblDisabled"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("cmdMisc"), Qt::LeftButton);
    EXPECT_EQ(misc.count(), 3);
}

// Two main windows on one user: the second Save is told and writes
// nothing; after Reload it shows the first one's change, and its own Save
// then keeps both.
TEST_P(UserPanelTest, TheSecondOfTwoWindowsSavingOneUserIsToldAndLosesNothingOfTheFirst) {
    test::TempDir home;
    const std::string firstHome = (home.path() / "first").string();
    std::filesystem::create_directories(firstHome);
    addUser("bob");
    run("UPDATE users SET homedir=" + sqlText(home.path().string()));
    UserPanel other;
    for (UserPanel* window : {panel_.get(), &other}) {
        window->popMain();
        window->selectUserRow(0);
    }
    auto field = [](UserPanel& window, const char* name) {
        return window.findChild<QWidget*>(QString::fromLatin1(name));
    };
    auto save = [&](UserPanel& window) {
        static_cast<QPushButton*>(field(window, "cmdStore"))->click();
    };
    auto stored = [&] {
        Database db;
        EXPECT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
        std::vector<std::string> row;
        EXPECT_TRUE(db.readViews("SELECT homedir, comments FROM users", {}, 2,
                                 [&](Database::RowView values) {
                                     for (const auto& value : values)
                                         row.emplace_back(value.value_or("<null>"));
                                 }))
            << db.lastError();
        return row;
    };

    static_cast<QLineEdit*>(field(*panel_, "txtHomeDir"))
        ->setText(QString::fromStdString(firstHome));
    save(*panel_);
    EXPECT_TRUE(boxes_.shown().empty());
    ASSERT_EQ(stored(), (std::vector<std::string>{firstHome, "notes of bob"}));

    auto* notes = static_cast<QPlainTextEdit*>(field(other, "txtNotes"));
    notes->setPlainText("second");
    boxes_.answer(Answer::Reload);
    save(other);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_TRUE(boxes_.shown()[0].text.starts_with(
        "User bob was changed by someone else since you opened it"));
    EXPECT_EQ(boxes_.shown()[0].buttons, MessageButtons::ReloadKeepBothOverwriteCancel);
    EXPECT_EQ(stored(), (std::vector<std::string>{firstHome, "notes of bob"}));
    EXPECT_EQ(static_cast<QLineEdit*>(field(other, "txtHomeDir"))->text().toStdString(), firstHome);

    notes->setPlainText("second");
    save(other);
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(stored(), (std::vector<std::string>{firstHome, "second"}));
}

// 100,000 users and a few more: the filter narrows the list as typed,
// without regard to case, and the selection follows it.
TEST_P(UserPanelTest, TheFilterNarrowsAHundredThousandUsersAndTheSelectionFollows) {
    run(GetParam() == Engine::SQLite
            ? "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
              "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) "
              "SELECT printf('user%06d', i), '/srv/ftp', 1, 1 FROM n"
            : "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) "
              "SELECT 'user' || lpad(i::text, 6, '0'), '/srv/ftp', 1, 1 "
              "FROM generate_series(1, 100000) AS i");
    for (const char* name : {"alice", "Malice", "bob"})
        addUser(name);
    panel_->popMain();
    activate(panel_.get());
    auto* list = child<QAbstractItemView>("lstUsers");
    auto* filter = box("txtFilter");
    auto* count = child<QLabel>("lblUserCount");
    ASSERT_EQ(list->model()->rowCount(), 100003);
    EXPECT_EQ(count->text(), QStringLiteral("%L1 users").arg(100003));
    auto shownName = [&] {
        return list->currentIndex().isValid()
                   ? list->model()->index(list->currentIndex().row(), 0).data().toString()
                   : QString();
    };
    auto loaded = [&](const QString& name) {
        return QTest::qWaitFor([&] { return box("txtUsername")->text() == name; }, 5000);
    };

    // Ctrl+F reaches the filter from anywhere in the window.
    // The engines order upper and lower case apart differently.
    for (int row = 0; row < 3; ++row)
        if (list->model()->index(row, 0).data().toString() == "bob") panel_->selectUserRow(row);
    ASSERT_EQ(box("txtUsername")->text(), "bob");
    QTest::keyClick(list, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(filter->hasFocus());

    // bob is filtered out: the first user shown is selected and loaded.
    QTest::keyClicks(filter, "ALI");
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(count->text(), QStringLiteral("2 of %L1 users").arg(100003));
    const QString first = shownName();
    EXPECT_TRUE(first == "alice" || first == "Malice") << first.toStdString();
    EXPECT_TRUE(loaded(first));
    // Still shown, the selected user stays selected.
    QTest::keyClicks(filter, "ce");
    EXPECT_EQ(list->model()->rowCount(), 2);
    EXPECT_EQ(shownName(), first);
    filter->clear();
    QTest::keyClicks(filter, "SER00999");  // user009990 to user009999
    EXPECT_EQ(list->model()->rowCount(), 10);
    EXPECT_TRUE(loaded("user009990"));

    // From the filter into the list; End and Home go to the last and the
    // first user shown, and only where the keys stop is loaded.
    QTest::keyClick(filter, Qt::Key_Down);
    ASSERT_TRUE(list->hasFocus());
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(shownName(), "user009999");
    QTest::keyClick(list, Qt::Key_Home);
    QTest::keyClick(list, Qt::Key_Down);
    EXPECT_EQ(shownName(), "user009991");
    EXPECT_TRUE(loaded("user009991"));
    EXPECT_EQ(panel_->state().selectedUser, "user009991");

    // Emptied, the filter shows everyone again around the same user.
    filter->clear();
    EXPECT_EQ(list->model()->rowCount(), 100003);
    EXPECT_EQ(shownName(), "user009991");
    const int before = list->currentIndex().row();
    QTest::keyClick(list, Qt::Key_PageDown);
    EXPECT_GT(list->currentIndex().row(), before + 1);
    QTest::keyClick(list, Qt::Key_End);
    EXPECT_EQ(list->currentIndex().row(), 100002);
    EXPECT_TRUE(loaded(list->model()->index(100002, 0).data().toString()));
}

TEST_P(UserPanelTest, TheListMarksDisabledExpiringAndExpiredAccounts) {
    const auto day = [](int offset) {
        return formatIsoDate(std::chrono::year_month_day(std::chrono::sys_days(today()) +
                                                         std::chrono::days(offset)));
    };
    addUser("a-plain", ", Expires", ", " + sqlText(day(30)));
    addUser("b-disabled", ", disable_user", ", 1");
    addUser("c-soon", ", Expires", ", " + sqlText(day(7)));
    addUser("d-expired", ", Expires, disable_user", ", " + sqlText(day(0)) + ", 1");
    addUser("e-not-a-date", ", Expires", ", 'soon'");
    panel_->popMain();
    const QAbstractItemModel* model = child<QAbstractItemView>("lstUsers")->model();
    std::vector<std::string> marks;
    for (int row = 0; row < model->rowCount(); ++row)
        marks.push_back(model->index(row, 1).data().toString().toStdString());
    EXPECT_EQ(marks, (std::vector<std::string>{"", "disabled", "expires soon", "expired", ""}));
    EXPECT_EQ(model->index(2, 1).data(Qt::ToolTipRole).toString().toStdString(),
              "This account expires on " + day(7) + ", within 7 days.");
}

INSTANTIATE_TEST_SUITE_P(Engines, UserPanelTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
