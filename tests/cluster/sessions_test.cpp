// Three answering services, standing in for three hosts, on one replicated
// PostgreSQL: an account's sessions are counted across all of them, a host
// that dies frees its sessions once its heartbeat is stale, and kestrix on
// any host lists and ends the sessions of every host.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonObject>

#include <array>
#include <chrono>
#include <filesystem>
#include <latch>
#include <memory>
#include <set>
#include <thread>
#include <vector>

#include "core/database.h"
#include "core/schema.h"
#include "core/settings.h"
#include "tests/cli/cli_fixture.h"
#include "tests/cluster/cluster_support.h"
#include "tests/plugin/plugin_support.h"
#include "tests/service/service_support.h"

namespace kestrix::service::test {
namespace {

using namespace std::chrono_literals;
using kestrix::cli::test::jsonOf;
using kestrix::cli::test::Ran;
using kestrix::cli::test::runKestrix;
using kestrix::plugin::test::exec;
using kestrix::plugin::test::insertUser;

constexpr const char* kDatabase = "kx_sessions";
constexpr int kHosts = 3;

std::string hostName(int host) {
    return std::string("host-") + static_cast<char>('a' + host % kHosts);
}

// A session's login: its address, its password, then its place among the
// account's sessions. No value when the password was not taken.
std::optional<ServiceClient::Reply> logIn(ServiceClient& session, const std::string& user,
                                          const std::string& address) {
    const auto connected = session.ask(4, "", address, address);
    const auto password = session.ask(3, user, user + "pass", address);
    if (!connected || !password || password->flag() != 1) return std::nullopt;
    return session.admit();
}

class SessionsAcrossHosts : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string connection = kestrix::test::clusterDatabase(kDatabase);
        Database admin;
        ASSERT_TRUE(admin.open(kestrix::test::clusterDatabase("postgres"))) << admin.lastError();
        exec(admin, std::string("drop database if exists ") + kDatabase + " with (force)");
        exec(admin, std::string("create database ") + kDatabase);
        ASSERT_TRUE(db_.open(connection)) << db_.lastError();
        ASSERT_TRUE(createSchema(db_)) << db_.lastError();
        for (const char* name : {"ann", "bob"}) {
            std::filesystem::create_directories(home_.path() / name);
            insertUser(db_, name, (home_.path() / name).string(), std::string(name) + "pass");
        }
        exec(db_,
             "update users set max_concurrent=1, max_logins_per_ip=0, one_login_per_ip=0 "
             "where username='ann'");
        exec(db_,
             "update users set max_concurrent=0, max_logins_per_ip=1, one_login_per_ip=0 "
             "where username='bob'");
        for (int host = 0; host < kHosts; ++host) {
            places_[host] = std::make_unique<ServicePlace>(connection);
            places_[host]->setValue("Software\\Kestrix\\Quellind", "HostName", hostName(host));
            // Five seconds rather than thirty: a stale heartbeat within the test.
            places_[host]->setValue("Software\\Kestrix\\Quellind", "SessionTimeout", "5");
            services_[host] = std::make_unique<RunningService>(*places_[host]);
        }
        ASSERT_TRUE(writeConnectionString(connection));
    }

    void TearDown() override {
        for (auto& service : services_)
            service.reset();
        db_.close();
        Database admin;
        if (admin.open(kestrix::test::clusterDatabase("postgres")))
            (void)admin.execute(std::string("drop database if exists ") + kDatabase +
                                " with (force)");
    }

    // kestrix session list --json: "host account address" of each, and ids.
    std::set<std::string> listed(std::map<std::string, std::string>* ids = nullptr) {
        const Ran ran = runKestrix({"session", "list", "--json"});
        EXPECT_EQ(ran.status, 0) << ran.err;
        std::set<std::string> sessions;
        for (const auto& value : jsonOf(ran).array()) {
            const QJsonObject row = value.toObject();
            const std::string key = row["host"].toString().toStdString() + " " +
                                    row["account"].toString().toStdString() + " " +
                                    row["address"].toString().toStdString();
            sessions.insert(key);
            if (ids) (*ids)[key] = std::to_string(row["id"].toInteger());
        }
        return sessions;
    }

    kestrix::test::ScopedRegistry registry_;
    kestrix::test::TempDir home_;
    Database db_;
    std::array<std::unique_ptr<ServicePlace>, kHosts> places_;
    std::array<std::unique_ptr<RunningService>, kHosts> services_;
};

TEST_F(SessionsAcrossHosts, OneOfSixteenLoginsOfAOneSessionAccountAndADeadHostFreesItsSessions) {
    constexpr int kLogins = 16;
    std::vector<std::unique_ptr<ServiceClient>> sessions;
    for (int i = 0; i < kLogins; ++i) {
        sessions.push_back(std::make_unique<ServiceClient>(places_[i % kHosts]->socket()));
        ASSERT_TRUE(sessions.back()->connected()) << i;
    }
    // Every password first: the sixteen then ask to be admitted at once.
    std::vector<std::optional<ServiceClient::Reply>> replies(kLogins);
    std::latch passwordsChecked(kLogins);
    std::vector<std::thread> logins;
    for (int i = 0; i < kLogins; ++i)
        logins.emplace_back([&, i] {
            ServiceClient& session = *sessions[i];
            const std::string address = "10.2.0." + std::to_string(i);
            const auto connected = session.ask(4, "", address, address);
            const auto password = session.ask(3, "ann", "annpass", address);
            passwordsChecked.arrive_and_wait();
            if (connected && password && password->flag() == 1) replies[i] = session.admit();
        });
    for (std::thread& login : logins)
        login.join();
    int holder = -1;
    int admitted = 0;
    for (int i = 0; i < kLogins; ++i) {
        ASSERT_TRUE(replies[i]) << "login " << i << " found no service or no password";
        ASSERT_EQ(replies[i]->status, QUELLIND_ANSWERED) << i;
        if (replies[i]->flag() == 1) {
            ++admitted;
            holder = i;
        } else {
            EXPECT_EQ(replies[i]->data(), "account") << i;
        }
    }
    ASSERT_EQ(admitted, 1);
    const int host = holder % kHosts;

    // The other two hosts: bob's limit is one session per address.
    ServiceClient bobHere(places_[(host + 1) % kHosts]->socket());
    ServiceClient bobAgain(places_[(host + 2) % kHosts]->socket());
    ServiceClient bobThere(places_[(host + 2) % kHosts]->socket());
    EXPECT_EQ(logIn(bobHere, "bob", "10.3.0.1")->flag(), 1);
    const auto again = logIn(bobAgain, "bob", "10.3.0.1");
    EXPECT_EQ(again->flag(), 0);
    EXPECT_EQ(again->data(), "address");
    EXPECT_EQ(logIn(bobThere, "bob", "10.3.0.2")->flag(), 1);

    // One host's kestrix lists the sessions of all three.
    std::map<std::string, std::string> ids;
    const std::string annOnHolder = hostName(host) + " ann 10.2.0." + std::to_string(holder);
    const std::string bobThereKey = hostName(host + 2) + " bob 10.3.0.2";
    EXPECT_EQ(listed(&ids), (std::set<std::string>{
                                annOnHolder, hostName(host + 1) + " bob 10.3.0.1", bobThereKey}));

    // Ended from here, a session ends on its host at its next command.
    const Ran ended = runKestrix({"session", "end", ids[bobThereKey]});
    EXPECT_EQ(ended.status, 0) << ended.err;
    EXPECT_EQ(bobThere.stillAllowed()->status, QUELLIND_SESSION_ENDS);
    EXPECT_EQ(bobHere.stillAllowed()->status, QUELLIND_ANSWERED);
    EXPECT_EQ(runKestrix({"session", "end", "nobody"}).status, 1);

    // The host holding ann's session dies without signing it off: the
    // session is listed and counted until its heartbeat is stale.
    services_[host]->kill();
    const auto died = std::chrono::steady_clock::now();
    ServiceClient early(places_[(host + 1) % kHosts]->socket());
    const auto refused = logIn(early, "ann", "10.2.1.1");
    EXPECT_EQ(refused->flag(), 0);
    EXPECT_TRUE(listed().contains(annOnHolder));

    // Then it frees itself, long before the default thirty seconds.
    bool freed = false;
    while (!freed && std::chrono::steady_clock::now() - died < 25s) {
        ServiceClient later(places_[(host + 1) % kHosts]->socket());
        const auto reply = logIn(later, "ann", "10.2.1.2");
        ASSERT_TRUE(reply);
        freed = reply->flag() == 1;
        if (freed) EXPECT_FALSE(listed().contains(annOnHolder));
    }
    EXPECT_TRUE(freed);
}

}  // namespace
}  // namespace kestrix::service::test
