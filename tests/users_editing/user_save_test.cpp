#include <gtest/gtest.h>

#include <future>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/owner_keys.h"
#include "core/settings.h"
#include "core/stored_password.h"
#include "core/write_lock.h"
#include "tests/support/older_schema.h"
#include "tests/support/scratch.h"
#include "tests/users_editing/scripted_prompts.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/user_lifecycle.h"
#include "users/editing/user_save.h"

namespace kestrix::users {
namespace {

using Rows = std::vector<std::vector<std::optional<std::string>>>;

// A database with the user tables that the settings store points at.
class SaveTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = kestrix::test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        home_ = home.path().string();
    }

    void exec(const std::string& sql) { ASSERT_TRUE(db_.execute(sql)) << db_.lastError() << sql; }

    Rows rows(const std::string& sql, std::vector<std::string> columns) {
        Rows out;
        auto rs = db_.query(sql);
        EXPECT_TRUE(rs) << db_.lastError();
        for (; rs && !rs->eof(); rs->moveNext()) {
            std::vector<std::optional<std::string>> row;
            for (const auto& c : columns)
                row.push_back(rs->field(c));
            out.push_back(row);
        }
        return out;
    }

    Rows rules(const std::string& user) {
        return rows(
            "SELECT username, directory, dir_rights, inherit_subdirs FROM dir_rights WHERE "
            "username='" +
                user + "'",
            {"username", "directory", "dir_rights", "inherit_subdirs"});
    }

    void storeBob() {
        exec(
            "INSERT INTO users (username, homedir, password, comments, max_concurrent, "
            "max_logins_per_ip) VALUES ('bob', '" +
            home_ + "', 'secret', 'old notes', 3, 2)");
        exec(
            "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
            "('bob', '" +
            home_ + "', 'RL', 1)");
        exec(
            "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
            "('bob', '" +
            home_ + "/in', 'RL', 0)");
    }

    SaveForm bobForm() {
        SaveForm form;
        form.username = "bob";
        form.homeDir = home_;
        form.password = kPasswordPlaceholder;
        form.notes = "   ";
        return form;
    }

    SaveContext bobContext() {
        return {"bob", EditMode::Stored, {{home_, "RL", "1"}, {home_ + "/in", "RL", "0"}}};
    }

    kestrix::test::ScopedRegistry registry_;
    kestrix::test::TempDir home;
    std::string home_;
    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(SaveTest, StoredUserExampleProducesExactlyThoseRows) {
    storeBob();
    SaveForm form = bobForm();
    // The boxes ticked Read, Write and Inherit on the second rule.
    SaveContext context = bobContext();
    context.ruleSet[1] = {home_ + "/in", "RW", "1"};

    test::ScriptedPrompts prompts;
    const auto checked = checkForSave(form, prompts);
    ASSERT_TRUE(checked);
    const auto steps = saveSteps(*checked, context);
    std::vector<std::string> sql;
    for (const auto& s : steps)
        sql.push_back(s.sql);
    EXPECT_EQ(sql,
              (std::vector<std::string>{
                  "UPDATE users SET homedir='" + home_ + "', comments=NULL WHERE username='bob'",
                  "DELETE FROM dir_rights WHERE username='bob'",
                  "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                  "VALUES ('bob', '" +
                      home_ + "', 'RL', 1)",
                  "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                  "VALUES ('bob', '" +
                      home_ + "/in', 'RW', 1)"}));

    EXPECT_EQ(saveUser(form, context, prompts), SaveOutcome::Written);
    EXPECT_EQ(rules("bob"), (Rows{{"bob", home_, "RL", "1"}, {"bob", home_ + "/in", "RW", "1"}}));
    // Placeholder: the stored password stays; blank notes become NULL.
    EXPECT_EQ(rows("SELECT password, comments, max_concurrent FROM users",
                   {"password", "comments", "max_concurrent"}),
              (Rows{{"secret", std::nullopt, "3"}}));
}

TEST_P(SaveTest, TypedTextsAreStoredAsTyped) {
    storeBob();
    SaveForm form = bobForm();
    form.password = "[click here to change]";  // not the placeholder: a new password
    form.notes = "  O'Neil said \"hi\" \\o/  ";
    test::ScriptedPrompts prompts;
    ASSERT_EQ(saveUser(form, bobContext(), prompts), SaveOutcome::Written);
    const Rows stored =
        rows("SELECT password, comments FROM users WHERE username='bob'", {"password", "comments"});
    ASSERT_EQ(stored.size(), 1u);
    EXPECT_EQ(stored[0][1], "  O'Neil said \"hi\" \\o/  ");
    // The password as its hash, never as typed.
    EXPECT_TRUE(stored[0][0]->starts_with("{CRYPT}$y$")) << *stored[0][0];
    EXPECT_TRUE(passwordMatches(*stored[0][0], "[click here to change]"));
}

// Save's own limit for notes is 40000 characters; the server's column holds
// 256 and the file's any length. A rule directory wider than its column is
// named the same way. Nothing is written before the check.
TEST_P(SaveTest, TextsAreHeldAgainstTheOpenDatabasesColumns) {
    storeBob();
    const bool server = GetParam() == Engine::PostgreSQL;
    SaveForm form = bobForm();
    form.notes = std::string(300, 'n');
    test::ScriptedPrompts prompts;
    const SaveOutcome outcome = saveUser(form, bobContext(), prompts);
    const Rows stored = rows("SELECT comments FROM users WHERE username='bob'", {"comments"});
    if (server) {
        EXPECT_EQ(outcome, SaveOutcome::Stopped);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text,
                  "The Notes field holds 300 characters, but the database can store only 256 "
                  "there.\r\nPlease shorten it.");
        EXPECT_EQ(stored, (Rows{{"old notes"}}));
    } else {
        EXPECT_EQ(outcome, SaveOutcome::Written);
        EXPECT_TRUE(prompts.shown.empty());
        EXPECT_EQ(stored, (Rows{{form.notes}}));
    }

    SaveContext context = bobContext();
    context.ruleSet.push_back({"/srv/" + std::string(600, 'd'), "RL", "1"});
    const Rows before = rules("bob");
    test::ScriptedPrompts more;
    form.notes = "short";
    EXPECT_EQ(saveUser(form, context, more), server ? SaveOutcome::Stopped : SaveOutcome::Written);
    if (server) {
        ASSERT_EQ(more.shown.size(), 1u);
        EXPECT_EQ(more.shown[0].text,
                  "The directory of the access rule field holds 605 characters, but the "
                  "database can store only 512 there.\r\nPlease shorten it.");
        EXPECT_EQ(rules("bob"), before);
    }
}

TEST_P(SaveTest, NewUserIsInsertedWithItsDefaults) {
    SaveForm form;
    form.username = "o'hara";
    form.homeDir = home_;
    form.password = "pw";
    SaveContext context{"", EditMode::NewUser, {}};
    test::ScriptedPrompts prompts;
    ASSERT_EQ(saveUser(form, context, prompts), SaveOutcome::Written);
    EXPECT_EQ(rows("SELECT username, homedir, comments, max_concurrent, max_logins_per_ip, "
                   "quota_current, disable_user, Expires FROM users",
                   {"username", "homedir", "comments", "max_concurrent", "max_logins_per_ip",
                    "quota_current", "disable_user", "Expires"}),
              (Rows{{"o'hara", home_, std::nullopt, "1", "1", "0", std::nullopt, std::nullopt}}));
    const Rows password = rows("SELECT password FROM users", {"password"});
    ASSERT_EQ(password.size(), 1u);
    EXPECT_TRUE(password[0][0]->starts_with("{CRYPT}$y$"));
    EXPECT_TRUE(passwordMatches(*password[0][0], "pw"));
    EXPECT_TRUE(rules("o''hara").empty());
}

// A new user that stayed pending may have been given rules: all of them are
// stored under the new name, each with its own rights.
TEST_P(SaveTest, NewUserTakesEveryRuleOfTheList) {
    // Rows an earlier account left in a database older than its keys.
    kestrix::test::dropOwnerKeys(db_);
    exec(
        "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
        "('dora', '/left/over', 'RWAMELCD', 1)");
    exec("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('DORA', '10.0.0.1')");
    SaveForm form;
    form.username = "dora";
    form.homeDir = home_;
    form.password = "pw";
    SaveContext context{
        "", EditMode::NewUser, {{home_ + "/a", "RL", "1"}, {home_ + "/b", "R", "0"}}};
    test::ScriptedPrompts prompts;
    ASSERT_EQ(saveUser(form, context, prompts), SaveOutcome::Written);
    EXPECT_EQ(rules("dora"),
              (Rows{{"dora", home_ + "/a", "RL", "1"}, {"dora", home_ + "/b", "R", "0"}}));
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user", {"ip"}), Rows{});
}

TEST_P(SaveTest, CopyOfAUserWithThreeRules) {
    storeBob();
    exec(
        "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
        "('bob', '/srv/ftp/pub', 'RWAMELCD', 1)");
    SaveContext context = bobContext();
    context.ruleSet.push_back({"/srv/ftp/pub", "RWAMELCD", "1"});

    test::ScriptedPrompts prompts;
    prompts.answer(Answer::Yes).type("carol").type("carols-pw").type("carols-pw");
    const CopyResult copy = runCopyFlow({"bob", "bob"}, prompts);
    ASSERT_TRUE(copy.copyStarted);
    EXPECT_EQ(copy.nameBox, "carol");
    EXPECT_EQ(prompts.inputDefaults[0], "bob");

    SaveForm form = bobForm();
    form.username = copy.nameBox;
    form.password = copy.password;
    form.notes = "shared notes";
    context.selectedUser = copy.nameBox;
    context.editMode = EditMode::Copy;
    ASSERT_EQ(saveUser(form, context, prompts), SaveOutcome::Written);

    EXPECT_EQ(rows("SELECT homedir, comments, max_concurrent, max_logins_per_ip, "
                   "quota_current FROM users WHERE username='carol'",
                   {"homedir", "comments", "max_concurrent", "max_logins_per_ip", "quota_current"}),
              (Rows{{home_, "shared notes", "1", "1", "0"}}));
    const Rows carols = rows("SELECT password FROM users WHERE username='carol'", {"password"});
    ASSERT_EQ(carols.size(), 1u);
    EXPECT_TRUE(passwordMatches(*carols[0][0], "carols-pw"));
    EXPECT_NE(*carols[0][0], "carols-pw");
    EXPECT_EQ(rules("carol"), (Rows{{"carol", home_, "RL", "1"},
                                    {"carol", home_ + "/in", "RL", "0"},
                                    {"carol", "/srv/ftp/pub", "RWAMELCD", "1"}}));
    EXPECT_EQ(rules("bob").size(), 3u);  // the original keeps its rules
    EXPECT_EQ(rows("SELECT password FROM users WHERE username='bob'", {"password"}),
              (Rows{{"secret"}}));
}

TEST_P(SaveTest, FailureHalfWayLeavesUserAndRulesAsTheyWere) {
    storeBob();
    if (GetParam() == Engine::SQLite) {
        exec(
            "CREATE TRIGGER boom BEFORE INSERT ON dir_rights WHEN NEW.directory='/boom' "
            "BEGIN SELECT RAISE(ABORT, 'injected failure'); END");
    } else {
        exec(
            "CREATE FUNCTION boom() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
            "NEW.directory = '/boom' THEN RAISE EXCEPTION 'injected failure'; END IF; RETURN "
            "NEW; END $$");
        exec(
            "CREATE TRIGGER boom BEFORE INSERT ON dir_rights FOR EACH ROW EXECUTE FUNCTION boom()");
    }
    const Rows before = rules("bob");
    SaveForm form = bobForm();
    form.password = "changed";
    form.notes = "new notes";
    SaveContext context = bobContext();
    context.ruleSet = {{home_, "R", "0"}, {"/boom", "RL", "1"}, {"/after", "RL", "1"}};

    test::ScriptedPrompts prompts;
    EXPECT_EQ(saveUser(form, context, prompts), SaveOutcome::Failed);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_NE(prompts.shown[0].text.find("injected failure"), std::string::npos);
    EXPECT_EQ(rules("bob"), before);
    EXPECT_EQ(rows("SELECT password, comments FROM users", {"password", "comments"}),
              (Rows{{"secret", "old notes"}}));
}

// Someone else removed bob while he was being edited: his Save writes
// nothing, not even his rules, and says so.
TEST_P(SaveTest, SaveOfAUserWhoVanishedWritesNothing) {
    storeBob();
    exec("DELETE FROM users WHERE username='bob'");
    const Rows before = rules("bob");
    SaveContext context = bobContext();
    context.ruleSet.push_back({"/srv/new", "RWL", "1"});
    test::ScriptedPrompts prompts;
    EXPECT_EQ(saveUser(bobForm(), context, prompts), SaveOutcome::Vanished);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_NE(prompts.shown[0].text.find("The user bob no longer exists in the database."),
              std::string::npos);
    EXPECT_EQ(rules("bob"), before);
    EXPECT_TRUE(rows("SELECT username FROM users", {"username"}).empty());
}

// A refused statement is shown as what was being done and the provider's
// words; the log names the statement, with the password masked.
TEST_P(SaveTest, RefusedInsertShowsNoStatementAndLogsNoPassword) {
    if (GetParam() == Engine::SQLite) {
        exec(
            "CREATE TRIGGER boom BEFORE INSERT ON users BEGIN SELECT RAISE(ABORT, 'injected "
            "failure'); END");
    } else {
        exec(
            "CREATE FUNCTION boom() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN RAISE "
            "EXCEPTION 'injected failure'; END $$");
        exec("CREATE TRIGGER boom BEFORE INSERT ON users FOR EACH ROW EXECUTE FUNCTION boom()");
    }
    std::string log;
    const int listener = programLog().attach([&](const std::string& line) { log += line; });
    SaveForm form;
    form.username = "carol";
    form.homeDir = home_;
    form.password = "Sw0rdfish!";
    test::ScriptedPrompts prompts;
    const SaveOutcome outcome = saveUser(form, {"", EditMode::NewUser, {}}, prompts);
    programLog().detach(listener);

    EXPECT_EQ(outcome, SaveOutcome::Failed);
    ASSERT_EQ(prompts.shown.size(), 1u);
    const std::string& shown = prompts.shown[0].text;
    EXPECT_EQ(shown.rfind("Saving user carol failed:\r\n\r\n", 0), 0u) << shown;
    EXPECT_NE(shown.find("injected failure"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("INSERT"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("Sw0rdfish!"), std::string::npos) << shown;
    EXPECT_NE(log.find("statement refused: INSERT INTO users"), std::string::npos) << log;
    EXPECT_NE(log.find("'***'"), std::string::npos) << log;
    EXPECT_EQ(log.find("Sw0rdfish!"), std::string::npos) << log;
}

// A name check the database cannot answer stops the flow; it never counts
// as a free name.
TEST_P(SaveTest, NameCheckThatFailsStopsTheNewUser) {
    kestrix::test::dropOwnerKeys(db_);
    exec("DROP TABLE users");
    test::ScriptedPrompts prompts;
    EXPECT_EQ(checkNewName("carol", "pw", prompts), NewNameVerdict::DatabaseUnavailable);
    ASSERT_EQ(prompts.shown.size(), 1u);
    EXPECT_EQ(
        prompts.shown[0].text.rfind("Checking whether the username carol is in use failed:", 0), 0u)
        << prompts.shown[0].text;
}

TEST_P(SaveTest, NewNameChecksAgainstTheDatabase) {
    storeBob();
    for (const char* taken : {"bob", "BOB", "Bob"}) {
        test::ScriptedPrompts prompts;
        EXPECT_EQ(checkNewName(taken, "pw", prompts), NewNameVerdict::Refused) << taken;
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].caption, "Username in use");
        EXPECT_EQ(prompts.shown[0].text, "That username is already in use. Please choose another.");
    }
    test::ScriptedPrompts prompts;
    EXPECT_EQ(checkNewName("bobby", "pw", prompts), NewNameVerdict::Accepted);
    EXPECT_EQ(checkNewName("o'brien", "pw", prompts), NewNameVerdict::Accepted);
    EXPECT_TRUE(prompts.shown.empty());
}

TEST_P(SaveTest, CopyUnderATakenNameIsRefusedAndWritesNothing) {
    storeBob();
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('carol', '/c', 1, 1)");
    test::ScriptedPrompts prompts;
    prompts.answer(Answer::Yes).type("CAROL");
    const CopyResult copy = runCopyFlow({"bob", "bob"}, prompts);
    EXPECT_FALSE(copy.copyStarted);
    EXPECT_EQ(copy.nameBox, "bob");
    ASSERT_EQ(prompts.shown.size(), 2u);
    EXPECT_EQ(prompts.shown[1].caption, "Username in use");
    EXPECT_TRUE(prompts.allAnswered());
}

// A stored user saved under a typed-in new name keeps every row of its own,
// and may not take the name of another user.
TEST_P(SaveTest, RenamedUserTakesItsRowsAlongAndMayNotTakeAnotherName) {
    storeBob();
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('carol', '/c', 1, 1)");
    exec("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.9')");
    exec("INSERT INTO file_rights (username, filename, file_rights) VALUES ('bob', 'f', 'R')");
    exec("INSERT INTO ratio_free_files (username, filename) VALUES ('bob', 'g')");

    SaveForm form = bobForm();
    form.username = "Carol";
    {
        test::ScriptedPrompts prompts;
        EXPECT_EQ(saveUser(form, bobContext(), prompts), SaveOutcome::Stopped);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].caption, "Username in use");
        EXPECT_EQ(rules("bob").size(), 2u);
    }

    form.username = "robert";
    test::ScriptedPrompts prompts;
    EXPECT_EQ(saveUser(form, bobContext(), prompts), SaveOutcome::Written);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(rules("robert").size(), 2u);
    for (const char* table :
         {"users", "dir_rights", "blocked_ips_by_user", "file_rights", "ratio_free_files"}) {
        EXPECT_TRUE(rows(std::string("SELECT username FROM ") + table + " WHERE username='bob'",
                         {"username"})
                        .empty())
            << table;
    }
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user WHERE username='robert'", {"ip"}).size(),
              1u);

    // Only the letter case changes: the user itself does not count as taken.
    form.username = "Robert";
    SaveContext context = bobContext();
    context.selectedUser = "robert";
    EXPECT_EQ(saveUser(form, context, prompts), SaveOutcome::Written);
    EXPECT_EQ(rows("SELECT username FROM users WHERE username='Robert'", {"username"}),
              Rows{{std::string("Robert")}});
}

// Two administrators on one user: the second Save finds the record and
// rules no longer as it loaded them, writes nothing and says so; Overwrite
// then writes, Reload asks for the stored user.
TEST_P(SaveTest, ASaveAgainstAChangedUserWritesNothingUntilOverwriteIsChosen) {
    storeBob();
    const auto loaded = readUserVersion(db_, "bob", savedParts());
    ASSERT_TRUE(loaded) << db_.lastError();
    // A version that is not the stored one when only the rules changed, nor
    // when only a column changed.
    exec("UPDATE dir_rights SET dir_rights='RWL' WHERE directory='" + home_ + "'");
    const auto rulesChanged = readUserVersion(db_, "bob", savedParts());
    ASSERT_TRUE(rulesChanged);
    EXPECT_NE(*rulesChanged, *loaded);
    exec("UPDATE users SET comments='their notes' WHERE username='bob'");
    const Rows theirs = rules("bob");

    SaveForm mine = bobForm();
    mine.notes = "my notes";
    SaveContext context = bobContext();
    context.loadedVersion = loaded;
    context.ruleSet.push_back({home_ + "/mine", "RL", "0"});

    context.onChange = OnChange::Tell;
    test::ScriptedPrompts told;
    EXPECT_EQ(saveUser(mine, context, told), SaveOutcome::Changed);
    EXPECT_EQ(
        told.texts(),
        (std::vector<std::string>{"User bob was changed by someone else since you opened it"}));
    EXPECT_EQ(rules("bob"), theirs);
    EXPECT_EQ(rows("SELECT comments FROM users", {"comments"}), (Rows{{"their notes"}}));

    context.onChange = OnChange::Ask;
    test::ScriptedPrompts reload;
    reload.answer(Answer::Reload);
    EXPECT_EQ(saveUser(mine, context, reload), SaveOutcome::Reload);
    ASSERT_EQ(reload.shown.size(), 1u);
    EXPECT_EQ(reload.shown[0].buttons, MessageButtons::ReloadKeepBothOverwriteCancel);
    EXPECT_EQ(reload.shown[0].defaultButton, 2);  // Keep both
    EXPECT_EQ(rules("bob"), theirs);

    test::ScriptedPrompts cancel;
    cancel.answer(Answer::Cancel);
    EXPECT_EQ(saveUser(mine, context, cancel), SaveOutcome::Stopped);
    EXPECT_EQ(rows("SELECT comments FROM users", {"comments"}), (Rows{{"their notes"}}));

    test::ScriptedPrompts overwrite;
    overwrite.answer(Answer::Overwrite);
    EXPECT_EQ(saveUser(mine, context, overwrite), SaveOutcome::Written);
    EXPECT_EQ(rows("SELECT comments FROM users", {"comments"}), (Rows{{"my notes"}}));
    EXPECT_EQ(rules("bob").size(), 3u);

    // Loaded afresh, the next Save goes through without a question.
    context.loadedVersion = readUserVersion(db_, "bob", savedParts());
    mine.notes = "again";
    test::ScriptedPrompts quiet;
    EXPECT_EQ(saveUser(mine, context, quiet), SaveOutcome::Written);
    EXPECT_TRUE(quiet.shown.empty());
}

// Another administrator's write of bob is under way when Save starts: Save
// waits for it, then finds bob changed and writes nothing over it.
TEST_P(SaveTest, ASaveWaitsForAWriterOfTheSameUserAndFindsItsChange) {
    storeBob();
    SaveContext context = bobContext();
    context.loadedVersion = readUserVersion(db_, "bob", savedParts());
    ASSERT_TRUE(context.loadedVersion) << db_.lastError();
    context.onChange = OnChange::Tell;
    Database other;
    ASSERT_TRUE(other.open(scratch_->connectionString())) << other.lastError();
    ASSERT_TRUE(beginLocked(other, WriteLock::user("bob"))) << lockFailure(other);
    ASSERT_TRUE(other.execute("UPDATE users SET comments='their notes' WHERE username='bob'"))
        << other.lastError();

    SaveForm mine = bobForm();
    mine.notes = "my notes";
    auto save = std::async(std::launch::async, [&] {
        test::ScriptedPrompts told;
        return saveUser(mine, context, told);
    });
    // The other write commits only once Save waits for it (PostgreSQL shows
    // the wait; SQLite's file lock makes Save wait wherever it stands).
    const auto saveWaits = [&] {
        if (GetParam() == Engine::SQLite) return true;
        bool waiting = false;
        EXPECT_TRUE(db_.readColumn("SELECT pid FROM pg_stat_activity WHERE wait_event_type='Lock'",
                                   {}, [&](Database::ValueView) { waiting = true; }));
        return waiting;
    };
    while (!saveWaits())
        ASSERT_EQ(save.wait_for(std::chrono::milliseconds(10)), std::future_status::timeout)
            << static_cast<int>(save.get());
    ASSERT_TRUE(other.commit()) << other.lastError();
    EXPECT_EQ(save.get(), SaveOutcome::Changed);
    EXPECT_EQ(rows("SELECT comments FROM users", {"comments"}), (Rows{{"their notes"}}));
}

// Keep both: another administrator changed the home and a rule since this
// window loaded bob; this window changed the notes and added a rule. Only
// this window's changes are written over theirs; where both changed the
// notes, the administrator chooses.
TEST_P(SaveTest, KeepBothWritesOnlyThisWindowsChangesOverTheOthers) {
    storeBob();
    SaveContext context = bobContext();
    context.loadedVersion = readUserVersion(db_, "bob", savedParts());
    context.loadedFields = recordFields("bob", home_, "old notes", context.ruleSet);
    exec("UPDATE users SET homedir='/srv/theirs' WHERE username='bob'");
    exec("UPDATE dir_rights SET dir_rights='RWL' WHERE directory='" + home_ + "'");
    SaveForm mine = bobForm();
    mine.notes = "my notes";
    context.ruleSet.push_back({home_ + "/mine", "RL", "0"});

    test::ScriptedPrompts keep;
    keep.answer(Answer::KeepBoth);
    EXPECT_EQ(saveUser(mine, context, keep), SaveOutcome::Written);
    EXPECT_EQ(keep.shown.size(), 1u);  // no fields in common: no second question
    EXPECT_EQ(rows("SELECT homedir, comments FROM users", {"homedir", "comments"}),
              (Rows{{"/srv/theirs", "my notes"}}));
    EXPECT_EQ(rules("bob"), (Rows{{"bob", home_, "RWL", "1"},
                                  {"bob", home_ + "/in", "RL", "0"},
                                  {"bob", home_ + "/mine", "RL", "0"}}));

    // Both change the notes (and they the home again): the notes are asked
    // for, the home is theirs without a question.
    context.loadedVersion = readUserVersion(db_, "bob", savedParts());
    exec("UPDATE users SET homedir='/srv/again', comments='their notes' WHERE username='bob'");
    // As loaded (the home as this window shows it, unchanged here).
    context.loadedFields = recordFields("bob", home_, "my notes", context.ruleSet);
    mine.notes = "mine again";
    test::ScriptedPrompts theirs;
    theirs.answer(Answer::KeepBoth).answer(Answer::No);
    EXPECT_EQ(saveUser(mine, context, theirs), SaveOutcome::Written);
    ASSERT_EQ(theirs.shown.size(), 2u);
    EXPECT_NE(theirs.shown[1].text.find("notes: yours mine again, theirs their notes"),
              std::string::npos)
        << theirs.shown[1].text;
    EXPECT_EQ(theirs.shown[1].text.find("home"), std::string::npos) << theirs.shown[1].text;
    EXPECT_EQ(rows("SELECT homedir, comments FROM users", {"homedir", "comments"}),
              (Rows{{"/srv/again", "their notes"}}));

    context.loadedVersion = readUserVersion(db_, "bob", savedParts());
    exec("UPDATE users SET comments='theirs once more' WHERE username='bob'");
    context.loadedFields = recordFields("bob", home_, "their notes", context.ruleSet);
    test::ScriptedPrompts yours;
    yours.answer(Answer::KeepBoth).answer(Answer::Yes);
    EXPECT_EQ(saveUser(mine, context, yours), SaveOutcome::Written);
    EXPECT_EQ(rows("SELECT homedir, comments FROM users", {"homedir", "comments"}),
              (Rows{{"/srv/again", "mine again"}}));
}

TEST_P(SaveTest, DeleteRemovesEveryTraceOfTheUserOnly) {
    storeBob();
    exec(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('carol', '/c', 1, 1)");
    for (const char* table : {"blocked_ips_by_user", "ratio_free_files", "file_rights"}) {
        const std::string cols = std::string(table) == "blocked_ips_by_user" ? "(username, ip)"
                                 : std::string(table) == "file_rights"
                                     ? "(username, filename, file_rights)"
                                     : "(username, filename)";
        const std::string vals = std::string(table) == "file_rights" ? ", 'RWMDA')" : ")";
        exec(std::string("INSERT INTO ") + table + " " + cols + " VALUES ('BOB', 'x'" + vals);
        exec(std::string("INSERT INTO ") + table + " " + cols + " VALUES ('carol', 'x'" + vals);
    }
    {
        test::ScriptedPrompts prompts;
        prompts.answer(Answer::No);
        EXPECT_EQ(deleteUser("bob", prompts), DeleteOutcome::Declined);
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text,
                  "Warning: You cannot undo or restore from this action.\r\nAre you sure you want "
                  "to delete bob?\r\n");
        EXPECT_EQ(prompts.shown[0].defaultButton, 2);
        EXPECT_EQ(rules("bob").size(), 2u);
    }
    test::ScriptedPrompts prompts;
    prompts.answer(Answer::Yes);
    EXPECT_EQ(deleteUser("bob", prompts), DeleteOutcome::Deleted);
    for (const char* table :
         {"users", "dir_rights", "blocked_ips_by_user", "ratio_free_files", "file_rights"}) {
        EXPECT_EQ(rows(std::string("SELECT username FROM ") + table, {"username"}).size(),
                  std::string(table) == "dir_rights" ? 0u : 1u)
            << table;
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, SaveTest, ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return kestrix::test::engineName(info.param); });

}  // namespace
}  // namespace kestrix::users
