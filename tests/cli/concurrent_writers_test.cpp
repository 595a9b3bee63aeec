// Two administrators at once through the kestrix program: each command runs
// in its own process on its own connection, as two shells would run them.
#include <QJsonArray>

#include <set>
#include <thread>

#include "core/database.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/older_schema.h"

namespace kestrix::cli::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

// Runs both writers at the same time and waits for them; each writer's
// commands run one after another.
void together(const std::function<void(int)>& writer) {
    std::thread first(writer, 0);
    std::thread second(writer, 1);
    first.join();
    second.join();
}

class ConcurrentWriters : public CliTest {
  protected:
    std::set<std::string> distinct(const Rows& rows) {
        std::set<std::string> values;
        for (const auto& row : rows)
            values.insert(row.at(0));
        return values;
    }
};

TEST_P(ConcurrentWriters, TwoWritersOfOneAddressListKeepEveryEntryOnce) {
    addUser("bob", dir("ftp/bob"));
    constexpr int kEach = 40;
    together([](int writer) {
        for (int i = 0; i < kEach; ++i) {
            const Ran ran = runKestrix(
                {"ip", "add", "10." + std::to_string(writer) + ".0." + std::to_string(i)});
            EXPECT_EQ(ran.status, 0) << ran.err;
        }
    });
    const Rows server = rows("SELECT ip FROM blocked_ips", {"ip"});
    EXPECT_EQ(server.size(), 2u * kEach);
    EXPECT_EQ(distinct(server).size(), 2u * kEach);

    // A user's list, with removals racing additions.
    constexpr int kUserEach = 20;
    together([](int writer) {
        for (int i = 0; i < kUserEach; ++i) {
            const std::string address = "192.0." + std::to_string(writer) + "." + std::to_string(i);
            Ran ran = runKestrix({"user", "block", "add", "bob", address});
            EXPECT_EQ(ran.status, 0) << ran.err;
            if (i % 2 == 1) {
                ran = runKestrix({"user", "block", "remove", "bob", address});
                EXPECT_EQ(ran.status, 0) << ran.err;
            }
        }
    });
    const Rows blocked = rows("SELECT ip FROM blocked_ips_by_user WHERE username='bob'", {"ip"});
    EXPECT_EQ(blocked.size(), kUserEach);
    const std::set<std::string> kept = distinct(blocked);
    EXPECT_EQ(kept.size(), static_cast<std::size_t>(kUserEach));
    EXPECT_TRUE(kept.contains("192.0.1.18"));
    EXPECT_FALSE(kept.contains("192.0.0.19"));
}

TEST_P(ConcurrentWriters, TwoWritersAddingRulesToOneUserLoseNone) {
    addUser("bob", dir("ftp/bob"));
    const std::size_t initial =
        rows("SELECT directory FROM dir_rights WHERE username='bob'", {"directory"}).size();
    constexpr int kEach = 50;
    std::vector<std::string> dirs[2];
    for (int writer = 0; writer < 2; ++writer)
        for (int i = 0; i < kEach; ++i)
            dirs[writer].push_back(
                dir("ftp/bob/w" + std::to_string(writer) + "/" + std::to_string(i)));
    together([&](int writer) {
        for (const std::string& directory : dirs[writer]) {
            const Ran ran = runKestrix({"user", "rule", "add", "bob", directory, "--rights", "RL"});
            EXPECT_EQ(ran.status, 0) << ran.err;
        }
    });
    const Rows stored =
        rows("SELECT directory FROM dir_rights WHERE username='bob'", {"directory"});
    const std::set<std::string> directories = distinct(stored);
    EXPECT_EQ(stored.size(), initial + 2u * kEach);
    for (const auto& list : dirs)
        for (const std::string& directory : list)
            EXPECT_TRUE(directories.contains(directory)) << directory;
}

TEST_P(ConcurrentWriters, ACopyRacingACopyStoresTheNameOnce) {
    addUser("src", dir("ftp/src"));
    constexpr int kPairs = 8;
    int done[2] = {0, 0};
    together([&](int writer) {
        for (int i = 0; i < kPairs; ++i) {
            const std::string name = (writer == 0 ? "dup" : "DUP") + std::to_string(i);
            const Ran ran =
                runKestrix({"user", "copy", "src", name, "--password", "p" + name, "--yes"});
            if (ran.status == 0) {
                ++done[writer];
            } else {
                EXPECT_EQ(ran.status, 1);
                EXPECT_NE(ran.err.find("That username is already in use."), std::string::npos)
                    << ran.err;
            }
        }
    });
    EXPECT_EQ(done[0] + done[1], kPairs);
    for (int i = 0; i < kPairs; ++i)
        EXPECT_EQ(rows("SELECT username FROM users WHERE username='dup" + std::to_string(i) + "'",
                       {"username"})
                      .size(),
                  1u)
            << i;

    // The new database's index refuses a second spelling outright.
    Database db;
    ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
    EXPECT_FALSE(
        db.execute("INSERT INTO users (username, homedir, max_concurrent, "
                   "max_logins_per_ip) VALUES ('SRC', '/x', 1, 1)"));
    Ran listed = runKestrix({"user", "list", "--duplicates"});
    EXPECT_EQ(listed.status, 0) << listed.err;
    EXPECT_EQ(listed.out, "");

    // An older database, whose index is not unique, may hold one twice.
    kestrix::test::dropOwnerKeys(db);
    ASSERT_TRUE(db.execute("DROP INDEX users_username_idx")) << db.lastError();
    ASSERT_TRUE(
        db.execute("INSERT INTO users (username, homedir, max_concurrent, "
                   "max_logins_per_ip) VALUES ('SRC', '/x', 1, 1)"))
        << db.lastError();
    listed = runKestrix({"user", "list", "--duplicates", "--json"});
    ASSERT_EQ(listed.status, 0) << listed.err;
    std::set<std::string> spellings;
    for (const QJsonValue& name : jsonOf(listed).array())
        spellings.insert(name.toString().toStdString());
    EXPECT_EQ(spellings, (std::set<std::string>{"src", "SRC"}));
}

TEST_P(ConcurrentWriters, UserSetWritesAllOfItsChangesOrNone) {
    addUser("bob", dir("ftp/bob"));
    sql("UPDATE users SET comments='before' WHERE username='bob'");
    Ran ran = runKestrix({"user", "set", "bob", "--notes", "after", "--max-users", "4", "--quota",
                          "on", "--quota-max", "500"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(rows("SELECT comments, max_concurrent, use_quota FROM users",
                   {"comments", "max_concurrent", "use_quota"}),
              (Rows{{"after", "4", "1"}}));
    const Rows before = rows("SELECT comments, password, max_concurrent, quota_max FROM users",
                             {"comments", "password", "max_concurrent", "quota_max"});
    sql(GetParam() == Engine::SQLite
            ? "CREATE TRIGGER refuse_quota BEFORE UPDATE OF quota_max ON users BEGIN SELECT "
              "RAISE(ABORT, 'quota refused'); END"
            : "CREATE FUNCTION refuse_quota() RETURNS trigger LANGUAGE plpgsql AS $$ BEGIN IF "
              "NEW.quota_max IS DISTINCT FROM OLD.quota_max THEN RAISE EXCEPTION 'quota "
              "refused'; END IF; RETURN NEW; END $$");
    if (GetParam() == Engine::PostgreSQL)
        sql("CREATE TRIGGER refuse_quota BEFORE UPDATE ON users FOR EACH ROW EXECUTE FUNCTION "
            "refuse_quota()");
    // The notes, the password and the limit come before the quota.
    ran = runKestrix({"user", "set", "bob", "--notes", "lost", "--password", "new-secret",
                      "--max-users", "9", "--quota-max", "700"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("quota refused"), std::string::npos) << ran.err;
    EXPECT_EQ(rows("SELECT comments, password, max_concurrent, quota_max FROM users",
                   {"comments", "password", "max_concurrent", "quota_max"}),
              before);
}

// Two administrators setting different fields of one user at once: each
// command writes only what it names over what the other has just stored,
// so both go through and neither undoes the other.
TEST_P(ConcurrentWriters, UserSetOfDifferentFieldsKeepsBoth) {
    addUser("bob", dir("ftp/bob"));
    constexpr int kEach = 12;
    together([](int writer) {
        for (int i = 0; i < kEach; ++i) {
            const std::string value = std::to_string(i + 1);
            const Ran ran = writer == 0
                                ? runKestrix({"user", "set", "bob", "--notes", "note " + value})
                                : runKestrix({"user", "set", "bob", "--max-users", value});
            EXPECT_EQ(ran.status, 0) << ran.err;
        }
    });
    EXPECT_EQ(rows("SELECT comments, max_concurrent FROM users", {"comments", "max_concurrent"}),
              (Rows{{"note " + std::to_string(kEach), std::to_string(kEach)}}));
}

KESTRIX_CLI_ON_BOTH_ENGINES(ConcurrentWriters);

}  // namespace
}  // namespace kestrix::cli::test
