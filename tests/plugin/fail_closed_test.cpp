// Rows the plug-in cannot read refuse what they would have decided, and a
// write the database refuses answers flag 0.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <fstream>

#include "core/schema.h"
#include "core/sql_literal.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

class FailClosed : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        fs::create_directories(path("ann/pub"));
        std::ofstream(path("ann/pub/a.txt")) << "a";
        insertUser(db_, "ann", path("ann"), "pw");
        insertDirRule(db_, "ann", path("ann/pub"), "RLCD", 1);
        exec(db_, "insert into file_rights (username, filename, file_rights) values ('ann', " +
                      sqlText(path("ann/pub/a.txt")) + ", 'R')");
        exec(db_,
             "update users set max_concurrent=3, max_logins_per_ip=2, quota_current=500, "
             "quota_max=1000, ratio_current_credit=3");
    }
    void renameTable(const std::string& from, const std::string& to) {
        exec(db_, "alter table " + from + " rename to " + to);
    }
    void renameColumn(const std::string& from, const std::string& to) {
        exec(db_, "alter table users rename column " + from + " to " + to);
    }
    std::string flagAndData(int32_t code, std::string_view data = {}) {
        const Reply reply = send(code, "ann", data);
        return std::to_string(reply.flag()) + ":" + reply.data();
    }
    std::optional<double> stored(const std::string& column) {
        auto rs = db_.query("select " + column + " from users where username='ann'");
        if (!rs || rs->eof()) return std::nullopt;
        return rs->number(column);
    }
    // The directory codes on the rule's directory and in the home.
    std::vector<int32_t> directoryFlags() {
        return {send(code::kListDirectory, "ann", path("ann/pub")).flag(),
                send(code::kListDirectoryToo, "ann", path("ann")).flag(),
                send(code::kMakeDirectory, "ann", path("ann/pub/new")).flag(),
                send(code::kRemoveDirectory, "ann", path("ann/pub")).flag()};
    }
};

TEST_P(FailClosed, RightsWhoseRulesCannotBeReadAreRefused) {
    const std::vector<int32_t> allowed{1, 1, 1, 1};
    const std::vector<int32_t> refused{0, 0, 0, 0};
    EXPECT_EQ(directoryFlags(), allowed);
    EXPECT_EQ(send(code::kFileRead, "ann", path("ann/pub/a.txt")).flag(), 1);

    renameTable("dir_rights", "dir_rights_gone");
    EXPECT_EQ(directoryFlags(), refused);
    renameTable("dir_rights_gone", "dir_rights");
    EXPECT_EQ(directoryFlags(), allowed);

    renameTable("file_rights", "file_rights_gone");
    for (int32_t code : {code::kFileRead, code::kFileWrite, code::kFileDelete, code::kFileAppend}) {
        EXPECT_EQ(send(code, "ann", path("ann/pub/a.txt")).flag(), 0) << code;
        EXPECT_EQ(send(code, "ann", path("ann/other.txt")).flag(), 0) << code;
    }
    renameTable("file_rights_gone", "file_rights");
    EXPECT_EQ(send(code::kFileRead, "ann", path("ann/pub/a.txt")).flag(), 1);
}

TEST_P(FailClosed, LoginLimitsThatCannotBeReadRefuseTheLogin) {
    EXPECT_EQ(flagAndData(code::kMaxConcurrent), "1:3");
    EXPECT_EQ(flagAndData(code::kMaxLoginsPerAddress), "1:2");
    // A user without a row has no limit: that is no value, not a failure.
    EXPECT_EQ(send(code::kMaxConcurrent, "nobody").data(), "-1");
    EXPECT_EQ(send(code::kMaxConcurrent, "nobody").flag(), 1);

    renameColumn("max_concurrent", "max_concurrent_gone");
    EXPECT_EQ(flagAndData(code::kMaxConcurrent), "0:1");
    EXPECT_EQ(flagAndData(code::kMaxLoginsPerAddress), "1:2");
    EXPECT_EQ(send(code::kPasswordCheck, "ann", "pw").flag(), 1);
    renameColumn("max_concurrent_gone", "max_concurrent");

    renameColumn("max_logins_per_ip", "max_logins_per_ip_gone");
    EXPECT_EQ(flagAndData(code::kMaxConcurrent), "1:3");
    EXPECT_EQ(flagAndData(code::kMaxLoginsPerAddress), "0:1");
    renameColumn("max_logins_per_ip_gone", "max_logins_per_ip");
    EXPECT_EQ(flagAndData(code::kMaxLoginsPerAddress), "1:2");
}

TEST_P(FailClosed, RefusedWritesAnswerZeroAndAnUnreadableQuotaHasNoRoom) {
    renameColumn("quota_current", "quota_current_gone");
    // No number would be no limit: the remaining quota is 0.
    EXPECT_EQ(flagAndData(code::kQuotaCurrent, "0"), "1:0");
    EXPECT_EQ(send(code::kQuotaCurrent, "ann", "100").flag(), 0);
    EXPECT_EQ(send(code::kQuotaCurrent, "ann", "-100").flag(), 0);
    renameColumn("quota_current_gone", "quota_current");
    EXPECT_EQ(flagAndData(code::kQuotaCurrent, "0"), "1:500");
    EXPECT_EQ(send(code::kQuotaCurrent, "ann", "100").flag(), 1);
    EXPECT_EQ(stored("quota_current"), 400);

    renameColumn("ratio_current_credit", "credit_gone");
    EXPECT_EQ(send(code::kRatioCredit, "ann", "5").flag(), 0);
    EXPECT_EQ(send(code::kRatioCredit, "ann", "0").flag(), 0);
    renameColumn("credit_gone", "ratio_current_credit");
    EXPECT_EQ(send(code::kRatioCredit, "ann", "5").flag(), 1);
    EXPECT_EQ(stored("ratio_current_credit"), 8);
    // A credit that is empty is not refused: there is nothing to add to.
    exec(db_, "update users set ratio_current_credit=null");
    EXPECT_EQ(send(code::kRatioCredit, "ann", "5").flag(), 1);
    EXPECT_EQ(stored("ratio_current_credit"), std::nullopt);

    renameColumn("password", "password_gone");
    EXPECT_EQ(send(code::kPasswordChange, "ann", "new").flag(), 0);
    renameColumn("password_gone", "password");
    EXPECT_EQ(send(code::kPasswordChange, "ann", "new").flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "ann", "new").flag(), 1);
}

KESTRIX_ON_BOTH_ENGINES(FailClosed);

// The plug-in's role is refused rows and writes on PostgreSQL, as an
// administrator may do by mistake.
TEST(PostgresPrivileges, WhatTheRoleMayNotReadOrWriteIsRefused) {
    auto scratch = kestrix::test::makeScratchDatabase(Engine::PostgreSQL);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    TempDir files;
    const std::string home = (files.path() / "ann").string();
    fs::create_directories(home + "/pub");
    insertUser(db, "ann", home, "pw");
    insertDirRule(db, "ann", home + "/pub", "RL", 1);
    exec(db, "update users set quota_current=500, quota_max=1000, ratio_current_credit=3");

    const std::string role = "kx_plugin_" + std::to_string(::getpid());
    exec(db, "create role " + role + " login");
    struct DropRole {
        Database& db;
        std::string role;
        ~DropRole() {
            (void)db.execute("drop owned by " + role);
            (void)db.execute("drop role " + role);
        }
    } dropRole{db, role};
    exec(db, "grant select, update on all tables in schema public to " + role);

    std::string connectionString = scratch->connectionString();
    const std::string superuser = "User ID=postgres";
    ASSERT_NE(connectionString.find(superuser), std::string::npos);
    connectionString.replace(connectionString.find(superuser), superuser.size(), "User ID=" + role);
    ManualClock clock;
    auto dispatcher =
        std::make_unique<EventDispatcher>([&] { return connectionString; }, clock.function());
    auto send = [&](int32_t code, const std::string& data) {
        ClientEvent event = makeEvent(code, "ann", data);
        EXPECT_EQ(dispatcher->handle(&event), 1);
        return std::to_string(event.flag) + ":" + fieldText(event.data);
    };
    auto stored = [&](const char* column) {
        auto rs = db.query(std::string("select ") + column + " from users");
        return rs && !rs->eof() ? rs->number(column) : std::nullopt;
    };
    EXPECT_EQ(send(code::kPasswordCheck, "pw"), "1:pw");
    EXPECT_EQ(send(code::kListDirectory, home + "/pub").substr(0, 1), "1");

    exec(db, "revoke select on dir_rights from " + role);
    EXPECT_EQ(send(code::kListDirectory, home + "/pub").substr(0, 1), "0");
    EXPECT_EQ(send(code::kListDirectory, home).substr(0, 1), "0");
    exec(db, "grant select on dir_rights to " + role);
    EXPECT_EQ(send(code::kListDirectory, home + "/pub").substr(0, 1), "1");

    // Every column of users but max_concurrent.
    std::string columns;
    for (const TableDef& table : userTables()) {
        if (std::string_view(table.name) != "users") continue;
        for (const ColumnDef& column : table.columns) {
            if (std::string_view(column.name) == "max_concurrent") continue;
            // Created unquoted: PostgreSQL keeps the names in lower case.
            std::string name = column.name;
            for (char& c : name)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            columns += (columns.empty() ? "" : ", ") + name;
        }
    }
    exec(db, "revoke select on users from " + role);
    exec(db, "grant select (" + columns + ") on users to " + role);
    EXPECT_EQ(send(code::kMaxConcurrent, ""), "0:1");
    EXPECT_EQ(send(code::kMaxLoginsPerAddress, ""), "1:1");
    exec(db, "grant select on users to " + role);
    EXPECT_EQ(send(code::kMaxConcurrent, ""), "1:1");

    exec(db, "revoke update on users from " + role);
    EXPECT_EQ(send(code::kQuotaCurrent, "100").substr(0, 1), "0");
    EXPECT_EQ(send(code::kRatioCredit, "5").substr(0, 1), "0");
    EXPECT_EQ(send(code::kPasswordChange, "changed").substr(0, 1), "0");
    EXPECT_EQ(stored("quota_current"), 500);
    EXPECT_EQ(stored("ratio_current_credit"), 3);
    EXPECT_EQ(send(code::kPasswordCheck, "pw").substr(0, 1), "1");
    exec(db, "grant update on users to " + role);
    EXPECT_EQ(send(code::kQuotaCurrent, "100").substr(0, 1), "1");
    EXPECT_EQ(stored("quota_current"), 400);
    // The role's sessions end before it is dropped.
    dispatcher.reset();
}

}  // namespace
}  // namespace kestrix::plugin::test
