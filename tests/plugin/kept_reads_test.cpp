// A login's users row read once and answering the login's later events; the
// statements a whole login costs on the server.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/password_hash.h"
#include "core/sql_literal.h"
#include "plugin/account_store.h"
#include "plugin/quota_ratio.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

struct LoginEvent {
    int32_t code;
    bool withUser;
    std::string_view data;
};

// What the FTP server asks for one connection and login, in its order.
constexpr LoginEvent kLoginEvents[] = {
    {code::kAddressAllowed, false, "127.0.0.1"},
    {code::kAddressListed, false, "127.0.0.1"},
    {code::kSignOnFile, false, ""},
    {code::kPasswordCheck, true, "pw"},
    {code::kHomeDirectory, true, ""},
    {code::kAddressAllowed, true, "127.0.0.1"},
    {code::kMaxConcurrent, true, ""},
    {code::kMaxLoginsPerAddress, true, ""},
    {code::kOneLoginPerAddress, true, ""},
    {code::kAlwaysLogin, true, ""},
    {code::kIdleTimeout, true, ""},
    {code::kSessionTimeout, true, ""},
    {code::kSpeedLimit, true, ""},
    {code::kHideHiddenFiles, true, ""},
    {code::kRelativePaths, true, ""},
    {code::kUseQuota, true, ""},
    {code::kQuotaMax, true, ""},
    {code::kRatioType, true, ""},
    {code::kRatioDown, true, ""},
    {code::kRatioUp, true, ""},
    {code::kRatioCredit, true, "0"},
    {code::kLoginMessageFile, true, ""},
};

class KeptReads : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        fs::create_directories(path("kay/pub"));
        for (const char* file : {"kay/a.txt", "kay/pub/a.txt"})
            std::ofstream(path(file)) << "x";
        // A hash, which the login keeps: a weaker form would be replaced.
        insertUser(db_, "kay", path("kay"), *hashPassword("pw"));
        exec(db_,
             "update users set max_concurrent=3, login_msg_file='/msg/a.txt', "
             "ratio_current_credit=10 where username='kay'");
    }
    std::string data(int32_t code, std::string_view dataText = {}) {
        const Reply reply = send(code, "kay", dataText);
        return std::to_string(reply.flag()) + ":" + reply.data();
    }
    void login() { ASSERT_EQ(send(code::kPasswordCheck, "kay", "pw").flag(), 1); }
};

TEST_P(KeptReads, ALoginAnswersFromTheRowItReadAndTheNextLoginReadsItAgain) {
    login();
    exec(db_,
         "update users set max_concurrent=5, login_msg_file='/msg/b.txt' where username='kay'");
    // The same login: the row as it was when the login began.
    EXPECT_EQ(data(code::kMaxConcurrent), "1:3");
    EXPECT_EQ(data(code::kLoginMessageFile), "1:/msg/a.txt");
    // The next login sees the change, however soon it comes.
    login();
    EXPECT_EQ(data(code::kMaxConcurrent), "1:5");
    EXPECT_EQ(data(code::kLoginMessageFile), "1:/msg/b.txt");

    exec(db_, "update users set disable_user=1, max_concurrent=6 where username='kay'");
    EXPECT_EQ(send(code::kHomeDirectory, "kay").flag(), 1);
    // Past the bound an event reads the row itself, login or not.
    clock_.advance(AccountStore::kRowLifetime);
    EXPECT_EQ(data(code::kMaxConcurrent), "1:6");
    EXPECT_EQ(send(code::kHomeDirectory, "kay").flag(), 0);
    EXPECT_EQ(send(code::kListDirectory, "kay", path("kay/pub")).flag(), 0);
}

TEST_P(KeptReads, RulesAndThePlugInsOwnWritesAreSeenAtOnce) {
    login();
    EXPECT_EQ(send(code::kListDirectory, "kay", path("kay/pub")).flag(), 1);
    // Rights read the rules at every check, kept home or not.
    insertDirRule(db_, "kay", path("kay/pub"), "", 0);
    EXPECT_EQ(send(code::kListDirectory, "kay", path("kay/pub")).flag(), 0);
    EXPECT_EQ(send(code::kFileRead, "kay", path("kay/pub/a.txt")).flag(), 0);
    EXPECT_EQ(send(code::kFileRead, "kay", path("kay/a.txt")).flag(), 1);

    EXPECT_EQ(data(code::kRatioCredit, "0"), "1:" + formatCredit(10));
    EXPECT_EQ(send(code::kRatioCredit, "kay", "2.5").flag(), 1);
    EXPECT_EQ(data(code::kRatioCredit, "0"), "1:" + formatCredit(12.5));
}

KESTRIX_ON_BOTH_ENGINES(KeptReads);

// The statements of the plug-in's connections, from the server's own log.
class StatementLog {
  public:
    explicit StatementLog(Database& db) : db_(db) {
        // New sessions of the database log every statement they run.
        exec(db_, "alter database " + currentDatabase() + " set log_statement='all'");
    }
    ~StatementLog() {
        try {
            exec(db_, "alter database " + currentDatabase() + " reset log_statement");
        } catch (const std::exception&) {
            // The database goes with the test anyway.
        }
    }

    // The logged statements of every session of the database but the
    // test's own, in order.
    std::vector<std::string> statements() {
        std::set<std::string> pids;
        auto rs = db_.query(
            "select pid from pg_stat_activity where datname=current_database() and "
            "pid<>pg_backend_pid()");
        for (; rs && !rs->eof(); rs->moveNext())
            pids.insert(std::to_string(rs->integer("pid").value_or(-1)));
        std::ifstream log(fs::path(kestrix::test::pgServer().dataDir).parent_path() / "server.log");
        EXPECT_TRUE(log) << "the server's log cannot be read";
        std::vector<std::string> found;
        std::string line;
        while (std::getline(log, line)) {
            const auto open = line.find(" [");
            const auto close = line.find("] ", open);
            if (open == std::string::npos || close == std::string::npos) continue;
            if (!pids.count(line.substr(open + 2, close - open - 2))) continue;
            const auto text = line.find("LOG:  ", close);
            if (text == std::string::npos) continue;
            const std::string what = line.substr(text + 6);
            if (what.starts_with("statement: ") || what.starts_with("execute "))
                found.push_back(what);
        }
        return found;
    }

  private:
    std::string currentDatabase() {
        auto rs = db_.query("select current_database() as name");
        if (!rs || rs->eof()) throw std::runtime_error(db_.lastError());
        return "\"" + rs->text("name") + "\"";
    }

    Database& db_;
};

TEST(PostgresStatements, AWholeLoginTakesAtMostEightAndTheListsAreNotReadAgain) {
    auto scratch = kestrix::test::makeScratchDatabase(Engine::PostgreSQL);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    insertUser(db, "kay", "/srv/ftp/kay", *hashPassword("pw"));
    exec(db, "insert into blocked_ips (ip) values ('10.9.9.9')");
    exec(db, "insert into log_ips (ip) values ('10.8.8.8')");
    StatementLog log(db);
    ManualClock clock;
    EventDispatcher dispatcher([&] { return scratch->connectionString(); }, clock.function());
    auto login = [&] {
        for (const LoginEvent& e : kLoginEvents) {
            ClientEvent event = makeEvent(e.code, e.withUser ? "kay" : "", e.data, "127.0.0.1");
            ASSERT_EQ(dispatcher.handle(&event), 1);
            // Every answer a login needs to pass.
            if (e.code == code::kPasswordCheck || e.code == code::kHomeDirectory ||
                e.code == code::kAddressAllowed)
                ASSERT_EQ(event.flag, 1) << e.code;
        }
    };
    login();
    const auto first = log.statements();
    EXPECT_LE(first.size(), 8u) << ::testing::PrintToString(first);
    // A whole table read ends with its name; the users row is read by name.
    const auto readsOf = [](const std::vector<std::string>& statements, std::string_view table) {
        return std::count_if(statements.begin(), statements.end(), [&](const std::string& s) {
            return s.ends_with("from " + std::string(table)) ||
                   s.find("from " + std::string(table) + " where") != std::string::npos;
        });
    };
    EXPECT_EQ(readsOf(first, "blocked_ips"), 1);
    EXPECT_EQ(readsOf(first, "log_ips"), 1);
    EXPECT_EQ(readsOf(first, "users"), 1);

    login();
    const auto both = log.statements();
    const std::vector<std::string> second(both.begin() + static_cast<long>(first.size()),
                                          both.end());
    EXPECT_LE(second.size(), 8u) << ::testing::PrintToString(second);
    EXPECT_EQ(readsOf(second, "blocked_ips"), 0);
    EXPECT_EQ(readsOf(second, "log_ips"), 0);
    EXPECT_EQ(readsOf(second, "users"), 1);
}

}  // namespace
}  // namespace kestrix::plugin::test
