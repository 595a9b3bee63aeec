#include <gtest/gtest.h>
#include <filesystem>
#include <set>

#include "core/database.h"
#include "core/schema.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

std::set<std::string> tableNames(Database& db) {
    const char* sql = db.engine() == Engine::SQLite
                          ? "SELECT name FROM sqlite_master WHERE type='table' AND name NOT LIKE "
                            "'sqlite_%'"
                          : "SELECT table_name AS name FROM information_schema.tables WHERE "
                            "table_schema='public'";
    std::set<std::string> names;
    auto rs = db.query(sql);
    for (; rs && !rs->eof(); rs->moveNext())
        names.insert(rs->text("name"));
    return names;
}

const std::set<std::string> kUserTables = {"blocked_ips", "dir_rights",         "file_rights",
                                           "log_ips",     "ratio_free_files",   "sign_files",
                                           "users",       "blocked_ips_by_user"};

TEST(SchemaTest, TemplateFileHoldsTheEmptyFileForm) {
    test::TempDir dir;
    const std::string path = (dir.path() / "servu.db").string();
    std::string error;
    ASSERT_TRUE(createSqliteDatabaseFile(path, &error)) << error;

    Database db;
    ASSERT_TRUE(db.open("Provider=SQLite;Data Source=" + path)) << db.lastError();
    std::set<std::string> expected = kUserTables;
    expected.insert({"domains", "domainDetails"});
    EXPECT_EQ(tableNames(db), expected);

    // Every column may be NULL; rid numbers the users by itself.
    ASSERT_TRUE(db.execute("INSERT INTO users (username) VALUES ('a')")) << db.lastError();
    ASSERT_TRUE(db.execute("INSERT INTO users (username) VALUES ('b')"));
    ASSERT_TRUE(db.execute("INSERT INTO dir_rights (username) VALUES ('a')"));
    auto rs = db.query("SELECT rid, domainID, homedir FROM users ORDER BY rid");
    ASSERT_TRUE(rs) << db.lastError();
    EXPECT_EQ(rs->integer("rid"), 1);
    EXPECT_EQ(rs->field("domainID"), std::nullopt);
    rs->moveNext();
    EXPECT_EQ(rs->integer("rid"), 2);

    for (const char* table : {"users", "dir_rights"}) {
        auto count = db.query(std::string("SELECT COUNT(*) AS n FROM ") + table);
        ASSERT_TRUE(count);
        EXPECT_GT(count->integer("n").value_or(0), 0);
    }
    db.close();

    EXPECT_FALSE(createSqliteDatabaseFile(path, &error));
    EXPECT_NE(error.find("already exists"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(path));
}

TEST(SchemaTest, BuiltTemplateIsEmpty) {
    Database db;
    ASSERT_TRUE(db.open(std::string("Provider=SQLite;Data Source=") + KESTRIX_TEMPLATE_DB))
        << db.lastError();
    for (const auto& table : tableNames(db)) {
        auto rs = db.query("SELECT COUNT(*) AS n FROM " + table);
        ASSERT_TRUE(rs) << table;
        EXPECT_EQ(rs->integer("n"), 0) << table;
    }
    EXPECT_EQ(tableNames(db).size(), 10u);
}

TEST(SchemaTest, PostgresServerFormKeepsTheNullRulesAndHasNoKeys) {
    auto scratch = test::makeScratchDatabase(Engine::PostgreSQL);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    std::set<std::string> expected = kUserTables;
    expected.insert("sessions");
    EXPECT_EQ(tableNames(db), expected);

    // homedir, max_concurrent and max_logins_per_ip may not be NULL.
    EXPECT_FALSE(db.execute("INSERT INTO users (username) VALUES ('a')"));
    ASSERT_TRUE(db.execute(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/h', 1, 1)"));
    // No key constraints but the foreign keys of the per-user tables; the
    // unique name index alone stops a second bob in another spelling.
    EXPECT_FALSE(db.execute(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('BOB', '/h', 1, 1)"));
    auto keys = db.query(
        "SELECT COUNT(*) AS n FROM information_schema.table_constraints WHERE "
        "table_schema='public' AND table_name <> 'sessions' AND constraint_type IN ('PRIMARY "
        "KEY','UNIQUE')");
    ASSERT_TRUE(keys) << db.lastError();
    EXPECT_EQ(keys->integer("n"), 0);
    auto foreign = db.query(
        "SELECT COUNT(*) AS n FROM information_schema.table_constraints WHERE "
        "table_schema='public' AND constraint_type='FOREIGN KEY'");
    ASSERT_TRUE(foreign) << db.lastError();
    EXPECT_EQ(foreign->integer("n"), 4);

    // A 513-character directory does not fit the server's column.
    EXPECT_FALSE(db.execute(
        "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES ('b', '" +
        std::string(513, 'd') + "', 'RL', 1)"));
}

}  // namespace
}  // namespace kestrix
