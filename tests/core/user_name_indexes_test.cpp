#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/schema.h"
#include "core/settings.h"
#include "core/user_name_indexes.h"
#include "tests/support/older_schema.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

// Index name to its definition, for the user-name indexes.
std::map<std::string, std::string> userNameIndexes(Database& db) {
    const char* sql = db.engine() == Engine::SQLite
                          ? "SELECT name, sql AS def FROM sqlite_master WHERE type='index' AND "
                            "name LIKE '%username_idx'"
                          // The definition leaves out a collation that is the
                          // column's own: it is read from the index itself.
                          : "SELECT c.relname AS name, pg_get_indexdef(c.oid) || ' COLLATE ' || "
                            "co.collname AS def FROM pg_index i JOIN pg_class c ON c.oid = "
                            "i.indexrelid JOIN pg_collation co ON co.oid = i.indcollation[0] "
                            "WHERE c.relname LIKE '%username_idx'";
    std::map<std::string, std::string> found;
    auto rows = db.query(sql);
    EXPECT_TRUE(rows) << db.lastError();
    for (; rows && !rows->eof(); rows->moveNext())
        found[rows->text("name")] = rows->text("def");
    return found;
}

// The plan of a one-user read, as one text.
std::string planOfUserRead(Database& db, const std::string& table) {
    const bool lite = db.engine() == Engine::SQLite;
    // PostgreSQL would rather scan a table this small; forbid it to see
    // whether the index can serve the comparison at all.
    if (!lite) {
        EXPECT_TRUE(db.execute("SET enable_seqscan = off")) << db.lastError();
    }
    auto rows = db.query(std::string(lite ? "EXPLAIN QUERY PLAN " : "EXPLAIN ") + "SELECT * FROM " +
                         table + " WHERE username = 'Bob'");
    EXPECT_TRUE(rows) << db.lastError();
    std::string plan;
    for (; rows && !rows->eof(); rows->moveNext()) {
        for (const std::string& column : rows->columnNames())
            plan += rows->text(column) + " ";
    }
    return plan;
}

void dropUserNameIndexes(Database& db) {
    kestrix::test::dropOwnerKeys(db);
    for (const std::string& table : userNameTables())
        ASSERT_TRUE(db.execute("DROP INDEX " + table + "_username_idx")) << db.lastError();
}

class UserNameIndexesTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }
    std::string collation() const { return GetParam() == Engine::SQLite ? "NOCASE" : "nocase"; }

    test::ScopedRegistry registry_;
    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(UserNameIndexesTest, EveryUserNameColumnHasACaseBlindIndexThatLookupsUse) {
    const auto indexes = userNameIndexes(db_);
    ASSERT_EQ(indexes.size(), 5u);
    for (const std::string table :
         {"users", "dir_rights", "file_rights", "ratio_free_files", "blocked_ips_by_user"}) {
        const auto index = indexes.find(table + "_username_idx");
        ASSERT_NE(index, indexes.end()) << table;
        EXPECT_NE(index->second.find("COLLATE " + collation()), std::string::npos) << index->second;
        // A new database holds each name once; the other tables hold many
        // rows of one name.
        EXPECT_EQ(index->second.find("UNIQUE") != std::string::npos, table == std::string("users"))
            << index->second;
        EXPECT_NE(planOfUserRead(db_, table).find(table + "_username_idx"), std::string::npos)
            << table;
    }
    // One name in two spellings is refused, and the one stored is found
    // through the index in any spelling.
    const std::string insert =
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES ";
    ASSERT_TRUE(db_.execute(insert + "('bob', '/h', 1, 1)")) << db_.lastError();
    EXPECT_FALSE(db_.execute(insert + "('BOB', '/h', 1, 1)"));
    auto count = db_.query("SELECT COUNT(*) AS n FROM users WHERE username = 'Bob'");
    ASSERT_TRUE(count) << db_.lastError();
    EXPECT_EQ(count->integer("n"), 1);
}

TEST_P(UserNameIndexesTest, DatabaseMadeWithoutThemGetsThemOnceAndKeepsItsRows) {
    dropUserNameIndexes(db_);
    ASSERT_TRUE(db_.execute(
        "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
        "('ann', '/srv', 'RL', 1)"));
    // An older database may hold a name twice: it keeps both.
    for (const char* name : {"bob", "BOB"})
        ASSERT_TRUE(db_.execute(std::string("INSERT INTO users (username, homedir, max_concurrent, "
                                            "max_logins_per_ip) VALUES ('") +
                                name + "', '/h', 1, 1)"))
            << db_.lastError();
    ASSERT_TRUE(userNameIndexes(db_).empty());

    std::string log;
    const int listener = programLog().attach([&](const std::string& line) { log += line; });
    addUserNameIndexes();
    addUserNameIndexes();  // a second start finds them there
    programLog().detach(listener);

    EXPECT_EQ(userNameIndexes(db_).size(), 5u);
    EXPECT_EQ(log.find("could not add"), std::string::npos) << log;
    auto rows = db_.query("SELECT directory FROM dir_rights WHERE username = 'ANN'");
    ASSERT_TRUE(rows) << db_.lastError();
    EXPECT_EQ(rows->text("directory"), "/srv");
    auto twice = db_.query("SELECT COUNT(*) AS n FROM users WHERE username = 'Bob'");
    ASSERT_TRUE(twice) << db_.lastError();
    EXPECT_EQ(twice->integer("n"), 2);
}

INSTANTIATE_TEST_SUITE_P(Engines, UserNameIndexesTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

TEST(UserNameIndexesTemplateTest, TheBuiltTemplateCarriesThem) {
    Database db;
    ASSERT_TRUE(db.open(std::string("Provider=SQLite;Data Source=") + KESTRIX_TEMPLATE_DB))
        << db.lastError();
    const auto indexes = userNameIndexes(db);
    EXPECT_EQ(indexes.size(), 5u);
    ASSERT_TRUE(indexes.contains("users_username_idx"));
    EXPECT_NE(indexes.at("users_username_idx").find("UNIQUE"), std::string::npos);
}

TEST(UserNameIndexesReadOnlyTest, ReadOnlyFileIsLoggedAndStillReads) {
    test::TempDir dir;
    const std::string path = (dir.path() / "old.db").string();
    std::string error;
    ASSERT_TRUE(createSqliteDatabaseFile(path, &error)) << error;
    {
        Database db;
        ASSERT_TRUE(db.open("Provider=SQLite;Data Source=" + path)) << db.lastError();
        dropUserNameIndexes(db);
        ASSERT_TRUE(db.execute(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
            "('ann', '/h', 1, 1)"));
    }
    const std::string seen = test::inReadOnlyDirectory(dir.path(), [&] {
        std::string log;
        const int listener = programLog().attach([&](const std::string& line) { log += line; });
        Database db;
        if (!db.open("Provider=SQLite;Data Source=" + path)) return "open: " + db.lastError();
        const bool added = addUserNameIndexes(db);
        programLog().detach(listener);
        auto rows = db.query("SELECT homedir FROM users WHERE username = 'ANN'");
        const std::string home = rows ? rows->text("homedir") : db.lastError();
        return std::string(added ? "added" : "refused") + "|" +
               (log.find("could not add an index on user names") != std::string::npos ? "logged"
                                                                                      : log) +
               "|" + home;
    });
    EXPECT_EQ(seen, "refused|logged|/h");
    Database db;
    ASSERT_TRUE(db.open("Provider=SQLite;Data Source=" + path)) << db.lastError();
    EXPECT_TRUE(userNameIndexes(db).empty());
}

}  // namespace
}  // namespace kestrix
