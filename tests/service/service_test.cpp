// quellind as the FTP server's sessions meet it: the built program, the
// built plug-in and a real database.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "core/database.h"
#include "core/schema.h"
#include "tests/plugin/plugin_support.h"
#include "tests/service/service_support.h"
#include "tests/support/private_postgres.h"

namespace kestrix::service::test {
namespace {

using namespace std::chrono_literals;
using kestrix::plugin::test::exec;
using kestrix::plugin::test::insertUser;

std::optional<long long> quotaOf(Database& db, const std::string& user) {
    auto rows = db.query("select quota_current from users where username='" + user + "'");
    if (!rows || rows->eof()) return std::nullopt;
    return rows->integer("quota_current");
}

class ServiceOnEngine : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = kestrix::test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        std::filesystem::create_directories(home_.path() / "bob");
        insertUser(db_, "bob", (home_.path() / "bob").string(), "bobpass");
        insertUser(db_, "ann", (home_.path() / "ann").string(), "annpass");
        exec(db_, "update users set quota_current=1000, quota_max=5000");
        place_ = std::make_unique<ServicePlace>(scratch_->connectionString());
        service_ = std::make_unique<RunningService>(*place_);
    }

    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
    kestrix::test::TempDir home_;
    std::unique_ptr<ServicePlace> place_;
    std::unique_ptr<RunningService> service_;
};

// Before its login a connection asks only about itself; after it, only
// about its own account, whatever names it sends.
TEST_P(ServiceOnEngine, AConnectionIsBoundToTheAccountThatLoggedIn) {
    ServiceClient session(place_->socket());
    ASSERT_TRUE(session.connected());
    EXPECT_EQ(session.ask(4, "", "10.0.0.1")->status, QUELLIND_ANSWERED);
    EXPECT_EQ(session.ask(2, "bob")->status, QUELLIND_REFUSED);
    EXPECT_EQ(session.ask(21, "bob", "100")->status, QUELLIND_REFUSED);
    EXPECT_EQ(session.stillAllowed()->status, QUELLIND_REFUSED);

    auto wrong = session.ask(3, "bob", "nope");
    EXPECT_EQ(wrong->status, QUELLIND_ANSWERED);
    EXPECT_EQ(wrong->flag(), 0);
    EXPECT_EQ(session.ask(2, "bob")->status, QUELLIND_REFUSED);

    auto login = session.ask(3, "BOB", "bobpass");
    EXPECT_EQ(login->status, QUELLIND_ANSWERED);
    EXPECT_EQ(login->flag(), 1);
    EXPECT_EQ(login->user(), "bob");

    // Another account: neither asked about, charged, nor logged in.
    EXPECT_EQ(session.ask(21, "ann", "300")->status, QUELLIND_REFUSED);
    EXPECT_EQ(session.ask(2, "ann")->status, QUELLIND_REFUSED);
    EXPECT_EQ(session.ask(3, "ann", "annpass")->status, QUELLIND_REFUSED);
    EXPECT_EQ(quotaOf(db_, "ann"), 1000);

    // No name is the bound account's.
    auto charge = session.ask(21, "", "300");
    EXPECT_EQ(charge->status, QUELLIND_ANSWERED);
    EXPECT_EQ(charge->flag(), 1);
    EXPECT_EQ(quotaOf(db_, "bob"), 700);
    auto home = session.ask(2, "");
    EXPECT_EQ(home->data(), (home_.path() / "bob").string());
}

// The address of the first request is the session's: a later request that
// names another is asked about the first.
TEST_P(ServiceOnEngine, TheFirstAddressHoldsAndABlockEndsTheSession) {
    ServiceClient session(place_->socket());
    ASSERT_EQ(session.ask(4, "", "10.0.0.1", "10.0.0.1")->flag(), 1);
    ASSERT_EQ(session.ask(3, "bob", "bobpass", "10.0.0.1")->flag(), 1);
    EXPECT_EQ(session.stillAllowed()->status, QUELLIND_ANSWERED);

    exec(db_, "insert into blocked_ips_by_user (username, ip) values ('bob', '10.0.0.1')");
    auto asked = session.ask(4, "bob", "10.9.9.9", "10.9.9.9");
    EXPECT_EQ(asked->status, QUELLIND_ANSWERED);
    EXPECT_EQ(asked->flag(), 0);
    auto still = session.stillAllowed();
    EXPECT_EQ(still->status, QUELLIND_SESSION_ENDS);
    EXPECT_EQ(still->flag(), 0);

    // Another session from elsewhere is not concerned.
    ServiceClient other(place_->socket());
    ASSERT_EQ(other.ask(3, "bob", "bobpass", "10.0.0.2")->flag(), 1);
    EXPECT_EQ(other.stillAllowed()->status, QUELLIND_ANSWERED);
}

// Only the processes of the configured users may talk to the service.
TEST_P(ServiceOnEngine, AProcessOfAnotherUserIsRefused) {
    ASSERT_EQ(::geteuid(), 0u) << "the test changes its user";
    // The path is open to the stranger: only its credentials keep it out.
    std::filesystem::permissions(place_->socket().parent_path(),
                                 std::filesystem::perms::owner_all |
                                     std::filesystem::perms::others_exec |
                                     std::filesystem::perms::group_exec);
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        ServiceClient stranger(place_->socket());
        if (!stranger.connected()) ::_exit(2);
        ::_exit(stranger.ask(4, "", "10.0.0.1") ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: answered, 2: could not connect, 3: setuid failed";
    EXPECT_TRUE(service_->logs("refused a connection"));

    ServiceClient root(place_->socket());
    EXPECT_EQ(root.ask(4, "", "10.0.0.1")->flag(), 1);
}

// A login is counted while its connection stays open and signed off when it
// closes; with SQLite the FTP server counts its own sessions.
TEST_P(ServiceOnEngine, ALoginIsCountedWhileItsConnectionStaysOpen) {
    exec(db_, "update users set max_concurrent=1 where username='bob'");
    ServiceClient stranger(place_->socket());
    EXPECT_EQ(stranger.admit()->status, QUELLIND_REFUSED);
    auto first = std::make_unique<ServiceClient>(place_->socket());
    ASSERT_EQ(first->ask(3, "bob", "bobpass")->flag(), 1);
    const auto admitted = first->admit();
    if (GetParam() == Engine::SQLite) {
        EXPECT_EQ(admitted->status, QUELLIND_NO_ANSWER);
        return;
    }
    EXPECT_EQ(admitted->status, QUELLIND_ANSWERED);
    EXPECT_EQ(admitted->flag(), 1);
    // Asked again, the connection is still its one session.
    EXPECT_EQ(first->admit()->flag(), 1);
    const auto registered = [&] {
        auto rows = db_.query(
            "select count(*) as n from sessions where account='bob' and "
            "process=" +
            std::to_string(::getpid()));
        return rows && !rows->eof() ? rows->integer("n").value_or(-1) : -1;
    };
    EXPECT_EQ(registered(), 1);

    ServiceClient second(place_->socket());
    ASSERT_EQ(second.ask(3, "bob", "bobpass", "10.0.0.2")->flag(), 1);
    const auto refused = second.admit();
    EXPECT_EQ(refused->status, QUELLIND_ANSWERED);
    EXPECT_EQ(refused->flag(), 0);
    EXPECT_EQ(refused->data(), "account");

    // Signed off at once, not when its heartbeat (30 s) goes stale.
    first.reset();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (registered() != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(registered(), 0);
    EXPECT_EQ(second.admit()->flag(), 1);

    // One session per address, where the account's switch says so.
    exec(db_,
         "update users set max_concurrent=0, one_login_per_ip=0, max_logins_per_ip=0 where "
         "username='ann'");
    std::vector<std::unique_ptr<ServiceClient>> ann;
    const auto annFrom = [&](const std::string& address) {
        ann.push_back(std::make_unique<ServiceClient>(place_->socket()));
        EXPECT_EQ(ann.back()->ask(3, "ann", "annpass", address)->flag(), 1);
        return ann.back()->admit();
    };
    EXPECT_EQ(annFrom("10.0.0.5")->flag(), 1);
    EXPECT_EQ(annFrom("10.0.0.5")->flag(), 1);
    exec(db_, "update users set one_login_per_ip=1 where username='ann'");
    EXPECT_EQ(annFrom("10.0.0.5")->data(), "address");
    EXPECT_EQ(annFrom("10.0.0.6")->flag(), 1);
}

KESTRIX_ON_BOTH_ENGINES(ServiceOnEngine);

// The database stops under the service and comes back.
class ServiceAndStoppedDatabase : public ::testing::Test {
  protected:
    void SetUp() override {
        Database admin;
        ASSERT_TRUE(admin.open(server_.connectionString("postgres"))) << admin.lastError();
        for (const auto& statement :
             dialectFor(Engine::PostgreSQL).createDatabaseStatements("kx_service"))
            exec(admin, statement);
        Database db;
        ASSERT_TRUE(db.open(connectionString())) << db.lastError();
        ASSERT_TRUE(createSchema(db)) << db.lastError();
        std::filesystem::create_directories(home_.path() / "bob");
        insertUser(db, "bob", (home_.path() / "bob").string(), "bobpass");
        exec(db, "update users set quota_current=1000, quota_max=5000");
        place_ = std::make_unique<ServicePlace>(connectionString());
    }
    std::string connectionString() { return server_.connectionString("kx_service"); }
    std::optional<long long> storedQuota() {
        Database db;
        if (!db.open(connectionString())) return std::nullopt;
        return quotaOf(db, "bob");
    }

    kestrix::test::PrivatePostgres server_;
    kestrix::test::TempDir home_;
    std::unique_ptr<ServicePlace> place_;
};

// No answer while the database is down is taken for the account's: the
// session is told to try again, a quota change is kept until it is
// written, even across a restart of the service, and answers return as
// soon as the database does.
TEST_F(ServiceAndStoppedDatabase, FailsClosedKeepsChargesAndReturnsWithTheDatabase) {
    auto service = std::make_unique<RunningService>(*place_);
    ServiceClient session(place_->socket());
    ASSERT_EQ(session.ask(3, "bob", "bobpass")->flag(), 1);
    const std::string file = (home_.path() / "bob" / "f.txt").string();
    ASSERT_EQ(session.ask(5, "bob", file)->flag(), 1);

    server_.stop();
    EXPECT_EQ(session.ask(5, "bob", file)->status, QUELLIND_NOT_ANSWERING);
    ServiceClient arriving(place_->socket());
    EXPECT_EQ(arriving.ask(4, "", "10.0.0.2")->status, QUELLIND_NOT_ANSWERING);
    EXPECT_EQ(arriving.ask(3, "bob", "bobpass")->status, QUELLIND_NOT_ANSWERING);
    auto charge = session.ask(21, "bob", "300");
    EXPECT_EQ(charge->status, QUELLIND_QUEUED);
    EXPECT_EQ(charge->flag(), 1);

    // Killed with the change unwritten: the next run writes it.
    service->kill();
    EXPECT_FALSE(session.ask(5, "bob", file));
    service = std::make_unique<RunningService>(*place_);
    ServiceClient again(place_->socket());
    EXPECT_EQ(again.ask(4, "", "10.0.0.2")->status, QUELLIND_NOT_ANSWERING);

    server_.start();
    const auto back = std::chrono::steady_clock::now();
    std::optional<ServiceClient::Reply> reply;
    do {
        reply = again.ask(4, "", "10.0.0.2");
    } while (reply && reply->status == QUELLIND_NOT_ANSWERING &&
             std::chrono::steady_clock::now() - back < 1500ms);
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->status, QUELLIND_ANSWERED);
    EXPECT_EQ(reply->flag(), 1);
    EXPECT_EQ(again.ask(3, "bob", "bobpass")->flag(), 1);

    // The kept change is written once, soon after.
    std::optional<long long> quota;
    do {
        quota = storedQuota();
    } while (quota != 700 && std::chrono::steady_clock::now() - back < 10s);
    EXPECT_EQ(quota, 700);
    EXPECT_EQ(again.ask(21, "bob", "0")->data(), "700");
}

// Many sessions at once share the pool: none is refused, and the database
// never sees more connections than the pool holds.
TEST(ServiceSessions, FiveHundredSessionsShareAPoolOfFour) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    auto scratch = kestrix::test::makeScratchDatabase(Engine::PostgreSQL);
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    kestrix::test::TempDir home;
    constexpr int kSessions = 500;
    constexpr int kAccounts = 20;
    for (int i = 0; i < kAccounts; ++i) {
        std::filesystem::create_directories(home.path() / std::to_string(i));
        std::ofstream(home.path() / std::to_string(i) / "a") << "a";
        insertUser(db, "user" + std::to_string(i), (home.path() / std::to_string(i)).string(),
                   "pw");
    }
    ServicePlace place(scratch->connectionString());
    place.setValue("Software\\Kestrix\\Quellin", "DatabaseConnections", "4");
    RunningService service(place);

    std::vector<std::unique_ptr<ServiceClient>> sessions;
    for (int i = 0; i < kSessions; ++i) {
        sessions.push_back(std::make_unique<ServiceClient>(place.socket()));
        ASSERT_TRUE(sessions.back()->connected()) << i;
    }
    std::atomic<int> admitted{0};
    std::vector<std::thread> threads;
    // Logins as many at once as the pool has connections, twice over: a
    // password check costs a hash, and the test shares its machine.
    constexpr int kThreads = 8;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = t; i < kSessions; i += kThreads) {
                ServiceClient& session = *sessions[i];
                const std::string user = "user" + std::to_string(i % kAccounts);
                const std::string file =
                    (home.path() / std::to_string(i % kAccounts) / "a").string();
                auto connect = session.ask(4, "", "10.1.0.1");
                auto login = session.ask(3, user, "pw");
                auto right = session.ask(6, user, file);
                if (connect && connect->flag() == 1 && login && login->flag() == 1 && right &&
                    right->status == QUELLIND_ANSWERED)
                    ++admitted;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(admitted.load(), kSessions);

    auto count = db.query(
        "select count(*) as n from pg_stat_activity where datname=current_database() and "
        "pid<>pg_backend_pid()");
    ASSERT_TRUE(count && !count->eof()) << db.lastError();
    EXPECT_GE(count->integer("n").value_or(-1), 1);
    EXPECT_LE(count->integer("n").value_or(99), 4);
    // Every session still gets its answers.
    EXPECT_EQ(sessions.front()->stillAllowed()->status, QUELLIND_ANSWERED);
    EXPECT_EQ(sessions.back()->stillAllowed()->status, QUELLIND_ANSWERED);
}

}  // namespace
}  // namespace kestrix::service::test
