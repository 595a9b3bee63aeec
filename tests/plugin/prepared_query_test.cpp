#include "plugin/prepared_query.h"

#include <gtest/gtest.h>

#include "core/database.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

class PreparedQueryTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = kestrix::test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        exec(db_,
             "insert into users (username, homedir, max_concurrent, max_logins_per_ip, "
             "comments, password) values ('a:b', '/h', 2, 1, NULL, '')");
        exec(db_,
             "insert into users (username, homedir, max_concurrent, max_logins_per_ip, "
             "comments, password) values ('c', '', 3, 1, 'x', NULL)");
    }

    // The statements prepared on the test's connection.
    long long preparedCount() {
        auto count = db_.query("select count(*) as n from pg_prepared_statements");
        EXPECT_TRUE(count) << db_.lastError();
        return count ? count->integer("n").value_or(-1) : -1;
    }

    using Rows = std::vector<std::vector<std::optional<std::string>>>;
    Rows read(PreparedQuery& query, std::string_view parameter, std::size_t columns) {
        Rows rows;
        query.run(parameter, [&] {
            auto& row = rows.emplace_back();
            for (std::size_t i = 0; i < columns; ++i)
                row.push_back(query.column(i));
            EXPECT_EQ(query.text(columns), nullptr);
            return true;
        });
        return rows;
    }

    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
};

// NULL apart from the empty text, every row of a list, a literal with a
// colon left alone, and the same statement run again with other values.
TEST_P(PreparedQueryTest, ReadsEveryRowAsStored) {
    const std::optional<std::string> none;
    PreparedQuery list(db_.session(), GetParam(),
                       "select username, homedir, comments, password, ':u' from users where "
                       "username <> :u order by username",
                       5, true);
    EXPECT_EQ(read(list, "nobody", 5),
              (Rows{{"a:b", "/h", none, "", ":u"}, {"c", "", "x", none, ":u"}}));
    EXPECT_EQ(read(list, "c", 5), (Rows{{"a:b", "/h", none, "", ":u"}}));
    // A reader that stops early leaves the query ready for the next run.
    int seen = 0;
    list.run("", [&] { return ++seen < 1; });
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(read(list, "a:b", 5).size(), 1u);

    PreparedQuery all(db_.session(), GetParam(), "select max_concurrent from users order by 1", 1,
                      false);
    EXPECT_EQ(read(all, "", 1), (Rows{{"2"}, {"3"}}));

    // Columns are read when asked for, in any order and more than once,
    // whole numbers written as the engine writes them; after the run
    // nothing is left to read.
    PreparedQuery numbers(db_.session(), GetParam(),
                          "select -9223372036854775807 - 1, max_concurrent * 1000000007000, "
                          "homedir from users where username = :u",
                          3, true);
    std::vector<std::optional<std::string>> columns;
    numbers.run("c", [&] {
        columns = {numbers.column(2), numbers.column(1), numbers.column(0)};
        EXPECT_EQ(numbers.column(1), columns[1]);
        EXPECT_EQ(numbers.view(2), "");
        return true;
    });
    EXPECT_EQ(columns,
              (std::vector<std::optional<std::string>>{"", "3000000021000", "-9223372036854775808"}));
    EXPECT_EQ(numbers.text(0), nullptr);
}

// Text PostgreSQL cannot take is refused before it is sent; SQLite reads it.
TEST_P(PreparedQueryTest, TextThatIsNotUtf8) {
    PreparedQuery query(db_.session(), GetParam(), "select username from users where username=:u",
                        1, true);
    const std::string latin1 = "caf\xe9";
    if (GetParam() == Engine::PostgreSQL) {
        EXPECT_THROW(read(query, latin1, 1), UnsendableText);
    } else {
        EXPECT_TRUE(read(query, latin1, 1).empty());
    }
    EXPECT_EQ(read(query, "c", 1), (Rows{{"c"}}));
}

// The variables are read at each run; the count is of the rows changed;
// a number beyond 32 bits goes whole.
TEST_P(PreparedQueryTest, UpdatesReadTheirVariablesAtEachRun) {
    std::string user = "c";
    long long value = 10737418240LL;
    long long expected = -1;
    PreparedUpdate quota(db_.session(), GetParam(),
                         "update users set quota_current=:v where username=:u and "
                         "coalesce(quota_current,-1)=:old",
                         {&value, &user, &expected});
    EXPECT_EQ(quota.run(), 1);
    EXPECT_EQ(quota.run(), 0);  // no longer empty
    expected = value;
    value = 7;
    EXPECT_EQ(quota.run(), 1);
    user = "a:b";
    EXPECT_EQ(quota.run(), 0);

    std::string name = "nobody";
    PreparedUpdate comment(db_.session(), GetParam(),
                           "update users set comments=':c' where username <> :u", {&name});
    EXPECT_EQ(comment.run(), 2);

    PreparedQuery read(
        db_.session(), GetParam(),
        "select username, cast(quota_current as bigint), comments from users order by "
        "username",
        3, false);
    const std::optional<std::string> none;
    EXPECT_EQ(this->read(read, "", 3), (Rows{{"a:b", none, ":c"}, {"c", "7", ":c"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, PreparedQueryTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return kestrix::test::engineName(info.param); });

class PgPreparedQueryTest : public PreparedQueryTest {};

// A refusal throws PostgreSQL's words without the statement; a refused run
// leaves the query usable; a query gone frees its statement on the server,
// except where the connection cannot take it, and never throws there.
TEST_P(PgPreparedQueryTest, RefusalsAndTheStatementsLeftOnTheServer) {
    try {
        PreparedQuery missing(db_.session(), Engine::PostgreSQL,
                              "select nosuchcolumn from users where username=:u", 1, true);
        ADD_FAILURE() << "a missing column was prepared";
    } catch (const std::runtime_error& e) {
        const std::string what = e.what();
        EXPECT_TRUE(what.starts_with("Cannot prepare statement. Fatal error. ERROR:")) << what;
        EXPECT_NE(what.find("nosuchcolumn"), std::string::npos) << what;
        EXPECT_EQ(what.find("LINE"), std::string::npos) << what;
    }
    const long long before = preparedCount();
    {
        PreparedQuery number(db_.session(), Engine::PostgreSQL,
                             "select username from users where max_concurrent=:v", 1, true);
        EXPECT_EQ(preparedCount(), before + 1);
        EXPECT_THROW(read(number, "two", 1), std::runtime_error);
        EXPECT_EQ(read(number, "3", 1), (Rows{{"c"}}));
    }
    EXPECT_EQ(preparedCount(), before);

    // In a transaction that failed, the statement stays until the connection ends.
    ASSERT_TRUE(db_.begin());
    {
        PreparedQuery number(db_.session(), Engine::PostgreSQL,
                             "select username from users where max_concurrent=:v", 1, true);
        EXPECT_THROW(read(number, "two", 1), std::runtime_error);
    }
    ASSERT_TRUE(db_.rollback());
    EXPECT_EQ(preparedCount(), before + 1);
}

INSTANTIATE_TEST_SUITE_P(Engines, PgPreparedQueryTest, ::testing::Values(Engine::PostgreSQL),
                         [](const auto& info) { return kestrix::test::engineName(info.param); });

}  // namespace
}  // namespace kestrix::plugin::test
