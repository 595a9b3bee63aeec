#include "core/pg_native.h"

#include <gtest/gtest.h>

#include "core/database.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

TEST(PlaceholderNumbering, NamesBecomeNumbersAndQuotedTextAndCastsStay) {
    const pg::NumberedSql numbered = pg::numberPlaceholders(
        "select ':v9 it''s', \"a:b\", x::text, :v1::integer, y := 1 from t where u=:u or "
        "v=(:v_2)");
    EXPECT_EQ(numbered.sql,
              "select ':v9 it''s', \"a:b\", x::text, $1::integer, y := 1 from t where u=$2 or "
              "v=($3)");
    EXPECT_EQ(numbered.parameters, 3);
    // An unclosed quote runs to the end; a colon at the end is no name.
    EXPECT_EQ(pg::numberPlaceholders("a=:x and b=':y").sql, "a=$1 and b=':y");
    EXPECT_EQ(pg::numberPlaceholders("a:").sql, "a:");
}

class PgNative : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(Engine::PostgreSQL);
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        ASSERT_TRUE(db_.execute(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, comments, "
            "password) VALUES ('a:b', '/h', 2, 1, NULL, '')"));
    }

    // The error readText leaves, and the one the record set leaves for the
    // same statement and values.
    std::pair<std::string, std::string> errors(const std::string& sql,
                                               const Database::BoundValues& values) {
        EXPECT_FALSE(db_.readText(sql, values, 1, [](const Database::TextRow&) {
            ADD_FAILURE() << "a refused statement handed on a row";
        }));
        const std::string read = db_.lastError();
        EXPECT_FALSE(db_.queryBound(sql, values));
        return {read, db_.lastError()};
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

// The literal with a colon, the cast and the NULL parameter reach the
// server as written; NULL stays apart from the empty text.
TEST_F(PgNative, CastsLiteralsAndNullsComeBackAsSent) {
    std::vector<Database::TextRow> rows;
    ASSERT_TRUE(db_.readText(
        "SELECT username, ':v1', max_concurrent::text || :v1, comments, password, :v2 FROM users "
        "WHERE username = :v3",
        {std::string("x"), std::nullopt, std::string("a:b")}, 6,
        [&](const Database::TextRow& row) { rows.push_back(row); }))
        << db_.lastError();
    const std::optional<std::string> none;
    EXPECT_EQ(rows, (std::vector<Database::TextRow>{{"a:b", ":v1", "2x", none, "", none}}));
}

// A refusal is told in the same words as through the record set, whether
// the server refuses the statement or the value, without quoting the
// statement; inside a transaction the failure ends the transaction's work
// as it always did.
TEST_F(PgNative, RefusalsAreToldAsTheRecordSetTellsThem) {
    auto [read, set] = errors("SELECT nosuchcolumn FROM users WHERE username = :v1", {"s3cret"});
    EXPECT_EQ(read, set);
    EXPECT_TRUE(read.starts_with("Cannot prepare statement. Fatal error. ERROR:")) << read;
    EXPECT_NE(read.find("nosuchcolumn"), std::string::npos) << read;
    EXPECT_EQ(read.find("LINE"), std::string::npos) << read;

    std::tie(read, set) = errors("SELECT username FROM users WHERE max_concurrent = :v1", {"two"});
    EXPECT_EQ(read, set);
    EXPECT_TRUE(read.starts_with("Cannot execute query. Fatal error. ERROR:")) << read;

    ASSERT_TRUE(db_.begin());
    ASSERT_TRUE(db_.execute("DELETE FROM users"));
    std::tie(read, set) = errors("SELECT nosuchcolumn FROM users", {});
    std::tie(read, set) = errors("SELECT username FROM users", {});
    EXPECT_EQ(read, set);
    EXPECT_NE(read.find("current transaction is aborted"), std::string::npos) << read;
    ASSERT_TRUE(db_.rollback());
    std::vector<Database::TextRow> rows;
    ASSERT_TRUE(db_.readText("SELECT username FROM users", {}, 1,
                             [&](const Database::TextRow& row) { rows.push_back(row); }));
    EXPECT_EQ(rows, (std::vector<Database::TextRow>{{"a:b"}}));
}

// A refused write is told as SOCI tells it, without the row it quoted, and
// the statement is prepared again for the next run, in a new transaction
// after the failed one.
TEST_F(PgNative, RefusedWritesAreToldInTheUsualWords) {
    ASSERT_TRUE(db_.execute("CREATE TABLE probe (k INTEGER PRIMARY KEY, v TEXT NOT NULL, w TEXT)"));
    const std::string insert = "INSERT INTO probe (k, v, w) VALUES (:v1, :v2, :v3)";
    ASSERT_TRUE(db_.begin());
    long long changed = -1;
    ASSERT_TRUE(db_.executeBound(insert, {"1", "a:b", "s3cret"}, &changed)) << db_.lastError();
    EXPECT_EQ(changed, 1);
    EXPECT_FALSE(db_.executeBound(insert, {"2", std::nullopt, "s3cret"}, &changed));
    const std::string refused = db_.lastError();
    EXPECT_TRUE(refused.starts_with("Cannot execute query. Fatal error. ERROR:")) << refused;
    EXPECT_NE(refused.find("null value"), std::string::npos) << refused;
    EXPECT_EQ(refused.find("s3cret"), std::string::npos) << refused;
    EXPECT_FALSE(db_.executeBound(insert, {"3", "x", "y"}, &changed));
    EXPECT_NE(db_.lastError().find("current transaction is aborted"), std::string::npos)
        << db_.lastError();
    ASSERT_TRUE(db_.rollback());

    ASSERT_TRUE(db_.executeBound(insert, {"1", "", std::nullopt}, &changed)) << db_.lastError();
    ASSERT_TRUE(db_.executeBound(insert, {"2", "b", "c"}, &changed)) << db_.lastError();
    ASSERT_TRUE(db_.executeBound("UPDATE probe SET w = :v1 WHERE k > :v2", {"z", "1"}, &changed));
    EXPECT_EQ(changed, 1);
    std::vector<Database::TextRow> rows;
    ASSERT_TRUE(db_.readText("SELECT k, v, w FROM probe ORDER BY k", {}, 3,
                             [&](const Database::TextRow& row) { rows.push_back(row); }));
    const std::optional<std::string> none;
    EXPECT_EQ(rows, (std::vector<Database::TextRow>{{"1", "", none}, {"2", "b", "z"}}));
}

}  // namespace
}  // namespace kestrix
