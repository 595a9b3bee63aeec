#include <gtest/gtest.h>

#include "database.h"
#include "scratch.h"
#include "sql_literal.h"

namespace kestrix {
namespace {

class DatabaseTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }
    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(DatabaseTest, ApostropheNameIsStoredAndFoundBySplicedStatement) {
    const std::string name = "o'brien";
    ASSERT_TRUE(
        db_.execute("INSERT INTO users (username, homedir, max_concurrent, "
                    "max_logins_per_ip) VALUES (" +
                    sqlText(name) + ", '/srv/ftp/o', 1, 1)"))
        << db_.lastError();
    auto rs = db_.query("SELECT username, password FROM users WHERE username=" + sqlText(name));
    ASSERT_TRUE(rs) << db_.lastError();
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->field("USERNAME"), name);
    EXPECT_EQ(rs->field("password"), std::nullopt);
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
}

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
