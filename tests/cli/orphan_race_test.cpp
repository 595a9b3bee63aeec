// A user deleted while another administrator adds a row for it, each from
// a process and connection of its own: nothing of the user may remain.
#include <thread>

#include "core/database.h"
#include "core/owner_keys.h"
#include "core/schema.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/older_schema.h"

namespace kestrix::cli::test {
namespace {

using Rows = std::vector<std::vector<std::string>>;

constexpr int kRounds = 50;

struct Addition {
    const char* kind;
    std::function<std::vector<std::string>(const std::string& user, const std::string& dir)> args;
};

const std::vector<Addition>& additions() {
    static const std::vector<Addition> all = {
        {"directory rule",
         [](const std::string& user, const std::string& dir) {
             return std::vector<std::string>{"user", "rule", "add", user, dir, "--rights", "RL"};
         }},
        {"blocked address",
         [](const std::string& user, const std::string&) {
             return std::vector<std::string>{"user", "block", "add", user, "10.1.2.3"};
         }},
        {"file rule",
         [](const std::string& user, const std::string&) {
             return std::vector<std::string>{"user",   "file-rule", "add", user,
                                             "/f.txt", "--rights",  "R"};
         }},
        {"ratio-free file",
         [](const std::string& user, const std::string&) {
             return std::vector<std::string>{"user", "ratio-free", "add", user, "/f.txt"};
         }},
    };
    return all;
}

class OrphanRace : public CliTest {
  protected:
    // Rows of the per-user tables whose user is not stored.
    Rows orphans() {
        Rows all;
        for (const OwnedTable& owned : ownedTables()) {
            const Rows found = rows(std::string("SELECT username FROM ") + owned.table +
                                        " WHERE username<>'*' AND NOT EXISTS (SELECT 1 FROM "
                                        "users WHERE users.username=" +
                                        owned.table + ".username)",
                                    {"username"});
            for (const auto& row : found)
                all.push_back({owned.table, row[0]});
        }
        return all;
    }
    // Key columns no index starts with: a delete would read their whole table.
    std::vector<std::string> unindexedKeys() {
        std::vector<std::string> missing;
        for (const OwnedTable& owned : ownedTables()) {
            const std::string table = owned.table, column = owned.keyColumn;
            const std::string query =
                GetParam() == Engine::SQLite
                    ? "SELECT il.name AS n FROM pragma_index_list('" + table +
                          "') il, pragma_index_info(il.name) ii WHERE ii.seqno=0 AND ii.name='" +
                          column + "'"
                    : "SELECT i.indexrelid::regclass::text AS n FROM pg_index i JOIN pg_attribute "
                      "a ON a.attrelid=i.indrelid AND a.attnum=i.indkey[0] WHERE "
                      "i.indrelid='" +
                          table + "'::regclass AND a.attname='" + column + "'";
            if (rows(query, {"n"}).empty()) missing.push_back(table + "." + column);
        }
        return missing;
    }

    // Each round stores a user, then deletes it (by kestrix user delete or
    // by the daily run, in turn) while the addition runs.
    void race(const Addition& addition, const std::string& prefix) {
        const std::string home = dir("ftp/" + prefix);
        for (int round = 0; round < kRounds; ++round) {
            const std::string name = prefix + std::to_string(round);
            sql("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, "
                "Expires) VALUES ('" +
                name + "', '" + home + "', 1, 1, '2001-02-03')");
            const bool daily = round % 2 == 1;
            Ran added;
            Ran deleted;
            std::thread adder([&] { added = runKestrix(addition.args(name, home)); });
            deleted =
                daily ? runKestrix({"apply-dates"}) : runKestrix({"user", "delete", name, "--yes"});
            adder.join();
            EXPECT_EQ(deleted.status, 0) << deleted.err;
            // Either the row went in before the delete looked, or the add
            // found the user gone; never a refusal of another kind.
            if (added.status != 0) {
                EXPECT_TRUE(added.err.find("no longer exists") != std::string::npos ||
                            added.err.find("There is no user " + name) != std::string::npos)
                    << addition.kind << ", round " << round << ": " << added.err;
            }
            EXPECT_EQ(orphans(), Rows{}) << addition.kind << ", round " << round
                                         << (daily ? " (daily run)" : " (user delete)");
        }
        // A new account of an old name starts with nothing.
        const std::string again = prefix + std::to_string(kRounds - 1);
        addUser(again, home);
        for (const OwnedTable& owned : ownedTables()) {
            if (std::string_view(owned.table) == "dir_rights") continue;
            EXPECT_EQ(rows(std::string("SELECT username FROM ") + owned.table +
                               " WHERE username='" + again + "'",
                           {"username"}),
                      Rows{})
                << owned.table;
        }
        runKestrix({"user", "delete", again, "--yes"});
    }
};

TEST_P(OrphanRace, ADeleteRacingEveryAdditionLeavesNoRowBehind) {
    EXPECT_EQ(unindexedKeys(), std::vector<std::string>{});
    // An older database first: only the lock keeps the rows whole.
    for (const char* table : {"blocked_ips_by_user", "dir_rights", "file_rights",
                              "ratio_free_files", "blocked_ips", "log_ips", "sign_files", "users"})
        sql(std::string("DROP TABLE ") + table);
    if (GetParam() == Engine::SQLite) sql("DROP TABLE domains"), sql("DROP TABLE domainDetails");
    for (const std::string& statement : kestrix::test::olderSchemaStatements(GetParam()))
        if (!statement.starts_with("CREATE COLLATION")) sql(statement);
    for (std::size_t i = 0; i < additions().size(); ++i)
        race(additions()[i], "old" + std::to_string(i) + "v");

    // A row left by an older program: db check names it, and db upgrade
    // adds no key while it is there.
    sql("INSERT INTO file_rights (username, filename, file_rights) VALUES ('gone', '/x', 'R')");
    Ran ran = runKestrix({"db", "check"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.out, "file_rights\tgone\t/x\n");
    ran = runKestrix({"db", "upgrade"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("1 rows without their user"), std::string::npos) << ran.err;
    ran = runKestrix({"db", "check", "--repair"});
    EXPECT_EQ(ran.status, 0) << ran.err;
    EXPECT_EQ(runKestrix({"db", "check"}).status, 0);
    ran = runKestrix({"db", "upgrade"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(ran.out.find("Foreign keys added"), std::string::npos) << ran.out;
    EXPECT_EQ(unindexedKeys(), std::vector<std::string>{});

    // The keys now delete a user's rows with the user, whoever deletes it,
    // and refuse a row for a user that is not stored.
    addUser("keyed", dir("ftp/keyed"));
    sql("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('KEYED', '10.9.9.9')");
    sql("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('*', '10.8.8.8')");
    sql("DELETE FROM users WHERE username='keyed'");
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user", {"ip"}), (Rows{{"10.8.8.8"}}));
    Database db;
    ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
    EXPECT_FALSE(
        db.execute("INSERT INTO dir_rights (username, directory, dir_rights, "
                   "inherit_subdirs) VALUES ('nobody', '/d', 'R', 1)"));
    for (std::size_t i = 0; i < additions().size(); ++i)
        race(additions()[i], "new" + std::to_string(i) + "v");
    EXPECT_EQ(runKestrix({"db", "check"}).out, "No rows without their user.\n");
}

KESTRIX_CLI_ON_BOTH_ENGINES(OrphanRace);

}  // namespace
}  // namespace kestrix::cli::test
