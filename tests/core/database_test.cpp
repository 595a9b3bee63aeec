#include <soci/soci.h>

#include <gtest/gtest.h>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/settings.h"
#include "core/sql_literal.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

TEST(SqlLiteralTest, DoublesApostrophesAndChangesNothingElse) {
    EXPECT_EQ(sqlText(""), "''");
    EXPECT_EQ(sqlText("bob"), "'bob'");
    EXPECT_EQ(sqlText("o'brien"), "'o''brien'");
    EXPECT_EQ(sqlText("''"), "''''''");
    EXPECT_EQ(sqlText("a\\b\"c%d_e;--"), "'a\\b\"c%d_e;--'");
}

// Values that have broken hand-built SQL before.
std::vector<std::string> awkwardValues() {
    std::string longValue;
    for (int i = 0; longValue.size() < 10000; ++i)
        longValue += "ab'c\\\"%" + std::to_string(i);
    longValue.resize(10000);
    return {"o'brien",        "it''s",  "back\\slash\\",           "say \"hi\"", "100% _done_",
            "Grüße, Ærø, Øl", "日本語", "'; DROP TABLE users; --", longValue};
}

class DatabaseTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    }

    void insertUser(const std::string& name) {
        ASSERT_TRUE(db_.execute(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES (" +
            sqlText(name) + ", '/srv/ftp/x', 1, 1)"))
            << db_.lastError();
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(DatabaseTest, ApostropheNameIsStoredAndFoundBySplicedStatement) {
    insertUser("o'brien");
    auto rs =
        db_.query("SELECT username, password FROM users WHERE username=" + sqlText("o'brien"));
    ASSERT_TRUE(rs) << db_.lastError();
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->field("USERNAME"), "o'brien");
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
}

TEST_P(DatabaseTest, SplicedAndBoundValuesStoreTheSameText) {
    ASSERT_TRUE(db_.execute("CREATE TABLE probe (k INTEGER, spliced TEXT, bound TEXT)"));
    const auto values = awkwardValues();
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_TRUE(db_.execute("INSERT INTO probe (k, spliced) VALUES (" + std::to_string(i) +
                                ", " + sqlText(values[i]) + ")"))
            << db_.lastError();
        const int key = static_cast<int>(i);
        db_.session() << "UPDATE probe SET bound = :v WHERE k = :k", soci::use(values[i]),
            soci::use(key);
    }
    auto rs = db_.query("SELECT k, spliced, bound FROM probe ORDER BY k");
    ASSERT_TRUE(rs) << db_.lastError();
    size_t rows = 0;
    for (; !rs->eof(); rs->moveNext(), ++rows) {
        const auto k = rs->integer("k");
        ASSERT_TRUE(k);
        EXPECT_EQ(rs->field("spliced"), values[static_cast<size_t>(*k)]);
        EXPECT_EQ(rs->field("bound"), values[static_cast<size_t>(*k)]);
    }
    EXPECT_EQ(rows, values.size());

    // A spliced value finds its row again in a WHERE clause.
    for (const auto& value : values) {
        auto found = db_.query("SELECT k FROM probe WHERE spliced=" + sqlText(value));
        ASSERT_TRUE(found) << db_.lastError();
        EXPECT_FALSE(found->eof()) << value.substr(0, 40);
    }
}

TEST_P(DatabaseTest, ColumnNamesMatchWithoutRegardToCase) {
    ASSERT_TRUE(db_.execute(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, Expires, "
        "DisableOn) VALUES ('bob', '/srv/ftp/bob', 1, 1, '12/31/2027', '')"));
    ASSERT_TRUE(db_.execute("UPDATE users SET expires='01/15/2028' WHERE username='bob'"));
    auto rs = db_.query("SELECT EXPIRES, disableon FROM users WHERE username='bob'");
    ASSERT_TRUE(rs) << db_.lastError();
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->field("Expires"), "01/15/2028");
    EXPECT_EQ(rs->field("expires"), "01/15/2028");
    EXPECT_EQ(rs->field("DisableOn"), "");
}

TEST_P(DatabaseTest, UserNamesCompareWithoutRegardToCase) {
    insertUser("bob");
    ASSERT_TRUE(db_.execute(
        "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES "
        "('Bob', '/srv/ftp/Pub', 'RL', 1)"));
    for (const char* table : {"users", "dir_rights"}) {
        auto rs = db_.query(std::string("SELECT username FROM ") + table + " WHERE username='BOB'");
        ASSERT_TRUE(rs) << db_.lastError();
        EXPECT_FALSE(rs->eof()) << table;
    }
    // Other text columns compare as stored.
    auto rs = db_.query("SELECT username FROM dir_rights WHERE directory='/srv/ftp/pub'");
    ASSERT_TRUE(rs);
    EXPECT_TRUE(rs->eof());
}

TEST_P(DatabaseTest, NullIsDistinctFromEmptyTextAndNumbersReadAsText) {
    ASSERT_TRUE(db_.execute(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, comments, "
        "password, quota_max, quota_current, ratio_current_credit) VALUES ('bob', '/h', 1, 1, "
        "NULL, '', 10737418240, 0, 1.5)"));
    auto rs = db_.query(
        "SELECT comments, password, login_msg_file, max_concurrent, quota_max, quota_current, "
        "ratio_current_credit, disable_user FROM users");
    ASSERT_TRUE(rs) << db_.lastError();
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->field("comments"), std::nullopt);
    EXPECT_EQ(rs->field("login_msg_file"), std::nullopt);
    EXPECT_EQ(rs->field("password"), "");
    EXPECT_EQ(rs->text("comments"), "");
    EXPECT_EQ(rs->field("max_concurrent"), "1");
    EXPECT_EQ(rs->field("quota_max"), "10737418240");
    EXPECT_EQ(rs->integer("quota_max"), 10737418240LL);
    EXPECT_EQ(rs->integer("quota_current"), 0);
    EXPECT_EQ(rs->number("ratio_current_credit"), 1.5);
    EXPECT_EQ(rs->integer("disable_user"), std::nullopt);
    EXPECT_FALSE(rs->hasColumn("nosuch"));
}

// The many-rows read gives every column as the record set does: NULL apart
// from empty text, numbers as text, awkward text unchanged.
TEST_P(DatabaseTest, ReadTextGivesWhatTheRecordSetGives) {
    ASSERT_TRUE(db_.execute(
        "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, comments, "
        "password, quota_max, ratio_current_credit) VALUES ('bob', '/h', 1, 1, NULL, '', "
        "10737418240, 1.5)"));
    const auto values = awkwardValues();
    for (std::size_t i = 0; i < values.size(); ++i)
        insertUser("u" + std::to_string(i) + values[i].substr(0, 40));
    const char* columns[] = {
        "username",     "comments",      "password", "quota_max", "ratio_current_credit",
        "disable_user", "max_concurrent"};
    const std::string sql =
        "SELECT username, comments, password, quota_max, ratio_current_credit, disable_user, "
        "max_concurrent FROM users WHERE username <> :v1 ORDER BY username";
    std::vector<Database::TextRow> read;
    ASSERT_TRUE(db_.readText(sql, {std::string("nobody")}, 7, [&](const Database::TextRow& row) {
        read.push_back(row);
    })) << db_.lastError();
    ASSERT_EQ(read.size(), values.size() + 1);
    auto rs = db_.queryBound(sql, {std::string("nobody")});
    ASSERT_TRUE(rs) << db_.lastError();
    for (const Database::TextRow& row : read) {
        ASSERT_FALSE(rs->eof());
        for (std::size_t c = 0; c < std::size(columns); ++c)
            EXPECT_EQ(row[c], rs->field(columns[c])) << columns[c];
        rs->moveNext();
    }
    EXPECT_EQ(read.front()[0], "bob");
    EXPECT_EQ(read.front()[1], std::nullopt);
    EXPECT_EQ(read.front()[2], "");
    EXPECT_EQ(read.front()[3], "10737418240");

    // A NULL parameter matches nothing; a refused statement reads nothing
    // and is described.
    read.clear();
    ASSERT_TRUE(db_.readText(sql, {std::nullopt}, 7,
                             [&](const Database::TextRow& row) { read.push_back(row); }));
    EXPECT_TRUE(read.empty());
    EXPECT_FALSE(db_.readText("SELECT nosuchcolumn FROM users WHERE username = :v1",
                              {std::string("bob")}, 1,
                              [&](const Database::TextRow& row) { read.push_back(row); }));
    EXPECT_NE(db_.lastError().find("nosuchcolumn"), std::string::npos) << db_.lastError();
    EXPECT_TRUE(read.empty());
}

// A bound write run again and again: values as given (NULL apart from
// empty), the rows it changed counted, a refusal described without its
// values and leaving the statement usable for the next run.
TEST_P(DatabaseTest, BoundWritesCountTheirRowsAndSurviveARefusal) {
    ASSERT_TRUE(db_.execute("CREATE TABLE probe (k INTEGER, v VARCHAR(20) NOT NULL, w TEXT)"));
    const std::string insert = "INSERT INTO probe (k, v, w) VALUES (:v1, :v2, :v3)";
    long long changed = -1;
    for (int k = 0; k < 3; ++k) {
        ASSERT_TRUE(db_.executeBound(insert, {std::to_string(k), "it's", std::nullopt}, &changed))
            << db_.lastError();
        EXPECT_EQ(changed, 1);
    }
    EXPECT_FALSE(db_.executeBound(insert, {"9", std::nullopt, "s3cret"}, &changed));
    EXPECT_FALSE(db_.lastError().empty());
    EXPECT_EQ(db_.lastError().find("s3cret"), std::string::npos) << db_.lastError();
    ASSERT_TRUE(db_.executeBound(insert, {"3", "", "w"}, &changed)) << db_.lastError();

    ASSERT_TRUE(db_.executeBound("UPDATE probe SET w = :v1 WHERE k < :v2", {"x", "2"}, &changed));
    EXPECT_EQ(changed, 2);
    ASSERT_TRUE(db_.executeBound("UPDATE probe SET w = :v1 WHERE k < :v2", {"y", "0"}, &changed));
    EXPECT_EQ(changed, 0);

    std::vector<Database::TextRow> rows;
    ASSERT_TRUE(db_.readText("SELECT k, v, w FROM probe WHERE k >= :v1 ORDER BY k", {"0"}, 3,
                             [&](const Database::TextRow& row) { rows.push_back(row); }));
    const std::optional<std::string> none;
    EXPECT_EQ(rows,
              (std::vector<Database::TextRow>{
                  {"0", "it's", "x"}, {"1", "it's", "x"}, {"2", "it's", none}, {"3", "", "w"}}));

    // One column read without copies keeps NULL apart from the empty text.
    std::vector<std::optional<std::string>> column;
    ASSERT_TRUE(
        db_.readColumn("SELECT w FROM probe WHERE k >= :v1 ORDER BY k", {"1"},
                       [&](std::optional<std::string_view> value) { column.emplace_back(value); }));
    EXPECT_EQ(column, (std::vector<std::optional<std::string>>{"x", none, "w"}));
    column.clear();
    ASSERT_TRUE(
        db_.readColumn("SELECT v FROM probe WHERE k = 3", {},
                       [&](std::optional<std::string_view> value) { column.emplace_back(value); }));
    EXPECT_EQ(column, (std::vector<std::optional<std::string>>{""}));
    EXPECT_FALSE(db_.readColumn("SELECT nosuchcolumn FROM probe", {},
                                [](std::optional<std::string_view>) {}));
    EXPECT_FALSE(db_.lastError().empty());
}

TEST_P(DatabaseTest, RefusedStatementReportsProviderDescriptionAndKeepsEarlierWork) {
    insertUser("first");
    EXPECT_FALSE(db_.execute("INSERT INTO no_such_table VALUES ('s3cret')"));
    EXPECT_NE(db_.lastError().find("no_such_table"), std::string::npos) << db_.lastError();
    // The provider's words only: the statement may hold a password.
    EXPECT_EQ(db_.lastError().find("s3cret"), std::string::npos) << db_.lastError();
    EXPECT_FALSE(db_.query("SELECT nosuchcolumn FROM users"));
    EXPECT_FALSE(db_.lastError().empty());
    auto rs = db_.query("SELECT username FROM users");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->field("username"), "first");
}

TEST_P(DatabaseTest, RolledBackTransactionLeavesRowsAsTheyWere) {
    insertUser("keep");
    ASSERT_TRUE(db_.begin());
    ASSERT_TRUE(db_.execute("DELETE FROM users WHERE username='keep'"));
    insertUser("other");
    ASSERT_TRUE(db_.rollback());
    auto rs = db_.query("SELECT username FROM users");
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->eof());
    EXPECT_EQ(rs->field("username"), "keep");
    rs->moveNext();
    EXPECT_TRUE(rs->eof());
}

TEST_P(DatabaseTest, OpenDatabaseUsesTheStoredConnectionString) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
    insertUser("stored");
    Database session;
    ASSERT_TRUE(openDatabase(session, 1)) << session.lastError();
    auto rs = session.query("SELECT username FROM users");
    ASSERT_TRUE(rs);
    EXPECT_EQ(rs->field("username"), "stored");
    closeDatabase(session);
    EXPECT_FALSE(session.isOpen());
}

TEST_P(DatabaseTest, RecordSetOutlivingItsClosedSessionEndsQuietly) {
    insertUser("a");
    insertUser("b");
    auto rs = db_.query("SELECT username FROM users");
    ASSERT_TRUE(rs);
    ASSERT_FALSE(rs->eof());
    closeDatabase(db_);
    EXPECT_TRUE(rs->eof());
    rs->moveNext();
    EXPECT_EQ(rs->field("username"), std::nullopt);

    // Replacing an open session by assignment ends its sets the same way.
    ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
    auto second = db_.query("SELECT username FROM users");
    ASSERT_TRUE(second);
    ASSERT_FALSE(second->eof());
    db_ = Database();
    EXPECT_TRUE(second->eof());
    second->moveNext();
    EXPECT_EQ(second->field("username"), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Engines, DatabaseTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

// The server ends a session's connection, as a primary that stops does:
// the session carries on on a new connection, but a transaction under way
// ends there, none of it stored. A session not opened from the stored
// connection string (the plug-in's) is left to its owner.
TEST(DatabaseReconnectTest, EndedConnectionIsOpenedAgainButNoTransactionGoesOnOnTheNewOne) {
    const auto scratch = test::makeScratchDatabase(Engine::PostgreSQL);
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(scratch->connectionString()));
    Database admin;
    ASSERT_TRUE(admin.open(scratch->connectionString())) << admin.lastError();
    const auto endConnection = [&](Database& db) {
        std::optional<std::string> pid;
        ASSERT_TRUE(db.readColumn("select pg_backend_pid()::text", {},
                                  [&](Database::ValueView v) { pid = std::string(*v); }));
        // Waits until the server process is gone.
        ASSERT_TRUE(admin.readColumn("select pg_terminate_backend(:v1::int, 10000)::text", {pid},
                                     [](Database::ValueView) {}))
            << admin.lastError();
    };
    const auto insert = [](Database& db, const std::string& name) {
        return db.execute(
            "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES (" +
            sqlText(name) + ", '/srv/ftp/x', 1, 1)");
    };
    Database idle;
    Database writing;
    Database plain;
    ASSERT_TRUE(openDatabase(idle, 1)) << idle.lastError();
    ASSERT_TRUE(openDatabase(writing, 1)) << writing.lastError();
    ASSERT_TRUE(plain.open(scratch->connectionString())) << plain.lastError();
    ASSERT_TRUE(writing.begin());
    ASSERT_TRUE(insert(writing, "lost"));
    endConnection(idle);
    endConnection(writing);
    endConnection(plain);

    EXPECT_TRUE(insert(idle, "kept")) << idle.lastError();
    EXPECT_FALSE(insert(writing, "lost too"));
    EXPECT_NE(writing.lastError().find("none of them was stored"), std::string::npos)
        << writing.lastError();
    EXPECT_FALSE(writing.commit());
    EXPECT_FALSE(insert(plain, "plain"));

    std::vector<std::string> names;
    ASSERT_TRUE(writing.readColumn("select username from users order by username", {},
                                   [&](Database::ValueView v) { names.emplace_back(*v); }))
        << writing.lastError();
    EXPECT_EQ(names, std::vector<std::string>{"kept"});
}

// Records what the interactive seam was told.
class RecordingHandler : public OpenFailureHandler {
  public:
    void interactiveOpenFailed(const std::string& description) override {
        descriptions.push_back(description);
    }
    std::vector<std::string> descriptions;
};

struct FailingOpen {
    const char* name;
    std::string connectionString;
    const char* descriptionPart;
};

void PrintTo(const FailingOpen& open, std::ostream* out) {
    *out << open.name;
}

class OpenFailureTest : public ::testing::TestWithParam<FailingOpen> {};

TEST_P(OpenFailureTest, SilentModeLogsOnceAndInteractiveModeAsks) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(GetParam().connectionString));
    RecordingHandler handler;
    setOpenFailureHandler(&handler);

    const size_t mark = programLog().text().size();
    Database db;
    EXPECT_FALSE(openDatabase(db, 1));
    const std::string logged = programLog().text().substr(mark);
    EXPECT_EQ(std::count(logged.begin(), logged.end(), '\n'), 1) << logged;
    // The line names the outcome with the provider's reason, on one line.
    EXPECT_NE(logged.find(":  attempt to open database "), std::string::npos) << logged;
    EXPECT_NE(logged.find(": failed, "), std::string::npos) << logged;
    EXPECT_TRUE(handler.descriptions.empty());
    EXPECT_NE(db.lastError().find(GetParam().descriptionPart), std::string::npos) << db.lastError();

    EXPECT_FALSE(openDatabase(db, 0));
    ASSERT_EQ(handler.descriptions.size(), 1u);
    EXPECT_EQ(handler.descriptions[0], db.lastError());
    setOpenFailureHandler(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, OpenFailureTest,
    ::testing::Values(
        FailingOpen{"SQLiteWrongPath", "Provider=SQLite;Data Source=/nonexistent/dir/servu.db",
                    "/nonexistent/dir/servu.db"},
        FailingOpen{"SQLiteMissingFile", "Provider=SQLite;Data Source=/tmp/kestrix-none.db",
                    "does not exist"},
        FailingOpen{"PostgresUnreachable",
                    "Provider=PostgreSQL;Data Source=127.0.0.1:1;Initial Catalog=servu;"
                    "User ID=u;Password=p",
                    "127.0.0.1"},
        FailingOpen{"UnknownProvider", "Provider=SQLOLEDB.1;Data Source=srv", "SQLOLEDB.1"},
        FailingOpen{"EmptyString", "", "provider"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrix
