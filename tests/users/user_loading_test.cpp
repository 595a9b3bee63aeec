// Loading the user list and one user's record from real databases, through
// the views the main window implements.
#include <gtest/gtest.h>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/short_date.h"
#include "core/sql_literal.h"
#include "core/stored_password.h"
#include "tests/support/scratch.h"
#include "tests/users_editing/scripted_prompts.h"
#include "users/editing/user_save.h"
#include "users/user_list_loader.h"
#include "users/user_record_loader.h"

namespace kestrix {
namespace {

// Everything loading told the view, in order.
class RecordingView final : public UserRecordView, public UserListView {
  public:
    std::vector<std::string> calls;
    std::vector<std::string> users;
    int selectedFirst = 0;
    StatusLine disable;
    StatusLine expiry;

    void clearRules() override { calls.push_back("clearRules"); }
    void showRecord(const std::string& username, const std::string& homedir,
                    const std::string& comments) override {
        calls.push_back("record " + username + "|" + homedir + "|" + comments);
    }
    void addRule(const std::string& directory) override { calls.push_back("rule " + directory); }
    void showDisableLine(const StatusLine& line) override {
        disable = line;
        calls.push_back("disable " + line.text);
    }
    void showExpiryLine(const StatusLine& line) override {
        expiry = line;
        calls.push_back("expiry " + line.text);
    }
    void statementFailed(const std::string& description) override {
        calls.push_back("failed " + description);
    }
    void clearUsers() override {
        users.clear();
        calls.push_back("clearUsers");
    }
    void addUsers(std::vector<ListedUser> listed) override {
        for (ListedUser& user : listed)
            users.push_back(std::move(user.name));
    }
    void selectFirstUser() override { ++selectedFirst; }
    int userCount() const override { return static_cast<int>(users.size()); }
};

// Counts the interactive open failures instead of asking anybody.
class CountingFailures final : public OpenFailureHandler {
  public:
    void interactiveOpenFailed(const std::string&) override { ++failures; }
    int failures = 0;
};

class UserLoadingTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
        setOpenFailureHandler(&failures_);
    }
    void TearDown() override { setOpenFailureHandler(nullptr); }

    void run(const std::string& sql) {
        Database db;
        ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
        ASSERT_TRUE(db.execute(sql)) << db.lastError() << "\n" << sql;
    }
    void addUser(const std::string& name, const std::string& extraColumns = "",
                 const std::string& extraValues = "") {
        run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip" +
            extraColumns + ") VALUES (" + sqlText(name) + ", " + sqlText("/srv/ftp/" + name) +
            ", 1, 1" + extraValues + ")");
    }
    void addRule(const std::string& name, const std::string& directory, const std::string& rights,
                 int inherit) {
        run("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
            sqlText(name) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", " +
            std::to_string(inherit) + ")");
    }

    test::ScopedRegistry registry_;
    std::unique_ptr<test::ScratchDatabase> scratch_;
    CountingFailures failures_;
    RecordingView view_;
    EditingState state_;
};

TEST_P(UserLoadingTest, FiveHundredRulesGoThroughSaveAndComeBackAsWritten) {
    test::TempDir home;
    addUser("bob");
    addRule("bob", "/old", "R", 1);
    addUser("bobby");
    addRule("bobby", "/bobby", "RL", 1);
    // Texts that would break a statement they were written into.
    std::vector<DirRule> written;
    for (int i = 0; i < 500; ++i) {
        const std::string n = std::to_string(i);
        switch (i % 4) {
            case 0:
                written.push_back({"/srv/it's/" + n, "RL", "1"});
                break;
            case 1:
                written.push_back({"/srv/:v1 ?/" + n, "RWAMELCD", "0"});
                break;
            case 2:
                written.push_back({"/srv/é \\ \"x\"/" + n, "", " 2 "});
                break;
            default:
                written.push_back({"/srv/'); DELETE FROM users; --/" + n, "L", "yes"});
        }
    }
    users::SaveForm form{"Bob", home.path().string(), "n3w'pass", "notes: 'quoted'"};
    users::SaveContext context{"bob", EditMode::Stored, written};
    users::test::ScriptedPrompts prompts;
    // Twice: the second Save replaces the rows of the first.
    for (int round = 0; round < 2; ++round)
        ASSERT_EQ(users::saveUser(form, context, prompts), users::SaveOutcome::Written);

    ASSERT_TRUE(loadUserData("Bob", state_, view_));
    ASSERT_EQ(state_.ruleSet.size(), 500u);
    for (std::size_t i = 0; i < written.size(); ++i) {
        const std::string inherit = i % 4 == 2 ? "2" : (i % 4 == 0 ? "1" : "0");
        EXPECT_EQ(state_.ruleSet[i], (DirRule{written[i].directory, written[i].rights, inherit}))
            << i;
    }
    EXPECT_EQ(view_.calls[1], "record Bob|" + home.path().string() + "|notes: 'quoted'");
    // The other user and his rule are untouched.
    EditingState other;
    RecordingView otherView;
    ASSERT_TRUE(loadUserData("bobby", other, otherView));
    EXPECT_EQ(other.ruleSet, (std::vector<DirRule>{{"/bobby", "RL", "1"}}));
    Database db;
    ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
    auto stored = db.query("SELECT password FROM users WHERE username='bob'");
    ASSERT_TRUE(stored) << db.lastError();
    EXPECT_TRUE(passwordMatches(stored->text("password"), "n3w'pass"));
    EXPECT_NE(stored->text("password"), "n3w'pass");
}

TEST_P(UserLoadingTest, LoadsRecordRulesAndStatusLinesInOrder) {
    addUser("bob", ", comments, Expires, DisableOn", ", 'likes ''quotes''', '12/31/2030', ''");
    addRule("bob", "/srv/ftp/bob", "RL", 1);
    addRule("bob", "/srv/ftp/bob/in", "RWAMELCD", 0);
    addUser("alice");
    addRule("alice", "/srv/ftp/alice", "R", 1);

    EXPECT_TRUE(loadUserData("bob", state_, view_));

    EXPECT_EQ(view_.calls,
              (std::vector<std::string>{
                  "clearRules",
                  "record bob|/srv/ftp/bob|likes 'quotes'",
                  "rule /srv/ftp/bob",
                  "rule /srv/ftp/bob/in",
                  "disable This account is not set to be disabled. Click Here to set date.",
                  "expiry This user's account will expire on 12/31/2030",
              }));
    EXPECT_EQ(state_.ruleSet, (std::vector<DirRule>{{"/srv/ftp/bob", "RL", "1"},
                                                    {"/srv/ftp/bob/in", "RWAMELCD", "0"}}));
    EXPECT_EQ(view_.expiry.colour, LineColour::Red);
    EXPECT_EQ(view_.disable.colour, LineColour::ButtonText);
    EXPECT_EQ(failures_.failures, 0);
}

TEST_P(UserLoadingTest, DisableLineFollowsDateAndFlag) {
    addUser("dated", ", DisableOn", ", '2031-01-15'");
    addUser("flagged", ", DisableOn, disable_user", ", '2031-01-15', 1");
    addUser("two", ", DisableOn, disable_user", ", '2031-01-15', 2");
    addUser("nulls");
    addUser("plain", ", disable_user", ", 2");

    const auto disableOf = [&](const std::string& name) {
        RecordingView view;
        loadUserData(name, state_, view);
        return view.disable;
    };
    // The stored date is shown in the person's own short form.
    const std::string shown = "This user's account has been set to disable on " +
                              formatShortDate(std::chrono::year{2031} / std::chrono::January / 15);
    EXPECT_EQ(disableOf("dated"), (StatusLine{shown, LineColour::Red}));
    // disable_user 1 overrides the date.
    EXPECT_EQ(disableOf("flagged"),
              (StatusLine{"This user's account has been disabled", LineColour::Red}));
    EXPECT_EQ(disableOf("two"), (StatusLine{shown, LineColour::Red}));
    const StatusLine noDate{"This account is not set to be disabled. Click Here to set date.",
                            LineColour::ButtonText};
    EXPECT_EQ(disableOf("nulls"), noDate);
    EXPECT_EQ(disableOf("plain"), noDate);
}

TEST_P(UserLoadingTest, AnyExpiryTextIsShownUnchanged) {
    addUser("odd", ", Expires", ", 'next tuesday, maybe'");
    loadUserData("odd", state_, view_);
    EXPECT_EQ(view_.expiry, (StatusLine{"This user's account will expire on next tuesday, maybe",
                                        LineColour::Red}));
    RecordingView none;
    addUser("never");
    loadUserData("never", state_, none);
    EXPECT_EQ(none.expiry, (StatusLine{"This account is not set to expire. Click Here to set date.",
                                       LineColour::ButtonText}));
}

TEST_P(UserLoadingTest, NullTextsShowEmptyAndApostropheNamesAreFound) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('o''brien', '', 1, 1)");
    addRule("o'brien", "/srv/ftp/o'brien", "RL", 1);
    loadUserData("o'brien", state_, view_);
    ASSERT_GE(view_.calls.size(), 3u);
    EXPECT_EQ(view_.calls[1], "record o'brien||");
    EXPECT_EQ(view_.calls[2], "rule /srv/ftp/o'brien");
}

TEST_P(UserLoadingTest, UnknownUserKeepsTheBoxesAndEmptiesTheRules) {
    addUser("bob");
    addRule("bob", "/srv/ftp/bob", "RL", 1);
    loadUserData("bob", state_, view_);
    ASSERT_EQ(state_.ruleSet.size(), 1u);

    RecordingView view;
    loadUserData("nobody", state_, view);
    EXPECT_TRUE(state_.ruleSet.empty());
    EXPECT_EQ(view.calls,
              (std::vector<std::string>{
                  "clearRules",
                  "disable This account is not set to be disabled. Click Here to set date.",
                  "expiry This account is not set to expire. Click Here to set date.",
              }));
}

TEST_P(UserLoadingTest, UnreachableDatabaseStopsAfterEmptyingTheRules) {
    addUser("bob");
    addRule("bob", "/srv/ftp/bob", "RL", 1);
    loadUserData("bob", state_, view_);
    ASSERT_FALSE(state_.ruleSet.empty());

    ASSERT_TRUE(writeConnectionString("Provider=SQLite;Data Source=/nonexistent/servu.db"));
    RecordingView view;
    loadUserData("bob", state_, view);
    EXPECT_EQ(view.calls, std::vector<std::string>{"clearRules"});
    EXPECT_TRUE(state_.ruleSet.empty());
    EXPECT_EQ(failures_.failures, 1);
}

TEST_P(UserLoadingTest, LogsBetweenTheRecordAndTheRules) {
    addUser("bob");
    const std::size_t before = programLog().text().size();
    loadUserData("bob", state_, view_);
    const std::string written = programLog().text().substr(before);
    const auto first = written.find("attempt to open database");
    const auto data = written.find("getdata for this page");
    ASSERT_NE(first, std::string::npos);
    ASSERT_NE(data, std::string::npos);
    // Connection B opens after the rules were read.
    EXPECT_NE(written.find("attempt to open database", data), std::string::npos);
    EXPECT_LT(first, data);
}

TEST_P(UserLoadingTest, ListHoldsNamesInNameOrderAndSelectsTheFirst) {
    for (const char* name : {"carol", "alice", "bob"})
        addUser(name);
    fillUserList(view_);
    EXPECT_EQ(view_.users, (std::vector<std::string>{"alice", "bob", "carol"}));
    EXPECT_EQ(view_.selectedFirst, 1);
}

TEST_P(UserLoadingTest, EmptyOrUnreachableListSelectsNothing) {
    fillUserList(view_);
    EXPECT_TRUE(view_.users.empty());
    EXPECT_EQ(view_.selectedFirst, 0);

    ASSERT_TRUE(writeConnectionString(""));
    RecordingView view;
    view.users = {"stale"};
    fillUserList(view);
    EXPECT_TRUE(view.users.empty());
    EXPECT_EQ(view.calls, std::vector<std::string>{"clearUsers"});
    EXPECT_EQ(failures_.failures, 1);
}

TEST_P(UserLoadingTest, RefusedStatementIsReported) {
    run("DROP TABLE dir_rights");
    addUser("bob");
    EXPECT_FALSE(loadUserData("bob", state_, view_));
    ASSERT_FALSE(view_.calls.empty());
    EXPECT_EQ(view_.calls.back().rfind("failed ", 0), 0u) << view_.calls.back();
    // The record was shown before the refused statement; nothing after it.
    EXPECT_EQ(view_.calls[1], "record bob|/srv/ftp/bob|");
    EXPECT_EQ(view_.calls.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(Engines, UserLoadingTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
