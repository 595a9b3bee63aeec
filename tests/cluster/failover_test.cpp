// The kestrix program and the database session on a primary with a
// synchronous standby (tools/pgcluster): before the primary fails, while no
// server accepts writes, and once the standby is promoted.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/database.h"
#include "core/settings.h"
#include "tests/cli/cli_fixture.h"
#include "tests/cluster/cluster_support.h"

namespace kestrix::cli::test {
namespace {

using Clock = std::chrono::steady_clock;

using kestrix::test::clusterValues;

void pgcluster(const std::string& command) {
    const std::string line = std::string(KESTRIX_PGCLUSTER) + " " + command + " '" +
                             std::getenv("KESTRIX_PGCLUSTER_ENV") + "' >/dev/null";
    ASSERT_EQ(std::system(line.c_str()), 0) << line;
}

std::string serverAt(const std::string& servers, const std::string& extra = {}) {
    return "Provider=PostgreSQL;Data Source=" + servers +
           ";Initial Catalog=kestrix;User ID=postgres" + extra;
}

// The users and their settings as one server holds them.
std::set<std::string> usersOn(const std::string& server) {
    Database db;
    EXPECT_TRUE(db.open(serverAt(server))) << db.lastError();
    std::set<std::string> users;
    EXPECT_TRUE(db.readText(
        "select u.username, u.max_concurrent, count(r.directory) from users u left join "
        "dir_rights r on r.username = u.username group by u.username, u.max_concurrent",
        {}, 3,
        [&](const Database::TextRow& row) {
            users.insert(row[0].value_or("") + " max " + row[1].value_or("") + " rules " +
                         row[2].value_or(""));
        }))
        << db.lastError();
    return users;
}

class ClusterFailoverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(writeSetting(kServuPathValue, dir("servu") + "/"));
        ASSERT_TRUE(writeSetting(kFtpDirectoryValue, dir("ftp") + "/"));
    }

    std::string dir(const std::string& relative) {
        const std::filesystem::path path = disk_.path() / relative;
        std::filesystem::create_directories(path);
        return path.string();
    }

    // A user with a session limit and a rule, each command acknowledged.
    void addUser(const std::string& name) {
        const std::string home = dir("ftp/" + name);
        Ran ran = runKestrix({"user", "add", name, "--password-stdin", "--home", home},
                             "pw-" + name + "\n");
        ASSERT_EQ(ran.status, 0) << name << ": " << ran.err;
        ran = runKestrix({"user", "set", name, "--max-users", "3"});
        ASSERT_EQ(ran.status, 0) << name << ": " << ran.err;
        ran = runKestrix({"user", "rule", "add", name, home, "--rights", "RL"});
        ASSERT_EQ(ran.status, 0) << name << ": " << ran.err;
        acknowledged_.insert(name + " max 3 rules 1");
    }

    kestrix::test::ScopedRegistry registry_;
    TempDir disk_;
    std::set<std::string> acknowledged_;
};

TEST_F(ClusterFailoverTest, AcknowledgedWritesReachThePromotedStandbyAndNoneGoWithoutAPrimary) {
    const auto cluster = clusterValues();
    const std::string primary = cluster.at("KESTRIX_PGCLUSTER_PRIMARY_HOST") + ":" +
                                cluster.at("KESTRIX_PGCLUSTER_PRIMARY_PORT");
    const std::string standby = cluster.at("KESTRIX_PGCLUSTER_STANDBY_HOST") + ":" +
                                cluster.at("KESTRIX_PGCLUSTER_STANDBY_PORT");
    const std::string both = cluster.at("KESTRIX_PGCLUSTER_CONNECTION_STRING");

    {
        // What the acknowledged writes below rely on.
        Database onPrimary;
        ASSERT_TRUE(onPrimary.open(serverAt(primary))) << onPrimary.lastError();
        std::string state;
        ASSERT_TRUE(onPrimary.readColumn("select sync_state from pg_stat_replication", {},
                                         [&](Database::ValueView v) { state = *v; }));
        ASSERT_EQ(state, "sync");
    }
    ASSERT_TRUE(writeConnectionString(both));
    const Ran shown = runKestrix({"config", "show"});
    EXPECT_NE(shown.out.find("Data Source=" + primary + "," + standby), std::string::npos)
        << shown.out;
    Ran ran = runKestrix({"db", "init"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    addUser("ann");

    // Named first, the standby is passed over for the server that writes.
    ASSERT_TRUE(writeConnectionString(serverAt(standby + "," + primary)));
    addUser("bob");
    // Named alone, it is refused with the reason, not written to.
    ASSERT_TRUE(writeConnectionString(serverAt(standby, ";target_session_attrs=read-write")));
    ran = runKestrix({"user", "set", "ann", "--max-users", "7"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("read-only standbys"), std::string::npos) << ran.err;

    ASSERT_TRUE(writeConnectionString(both));
    addUser("cy");
    // Two sessions of the kind every command opens: one between statements,
    // one inside a transaction when the primary goes.
    Database idle;
    ASSERT_TRUE(openDatabase(idle, 1)) << idle.lastError();
    ASSERT_TRUE(idle.query("select username from users")) << idle.lastError();
    Database writing;
    ASSERT_TRUE(openDatabase(writing, 1)) << writing.lastError();
    ASSERT_TRUE(writing.begin());
    ASSERT_TRUE(writing.execute("update users set max_concurrent = 9 where username = 'ann'"))
        << writing.lastError();

    // A writer that never stops on its own: the primary goes in the middle
    // of its commits, and every one it was told was done must survive.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> acknowledgedIps;
    bool writerStopped = false;
    std::string whyStopped;
    std::thread writer([&] {
        Database db;
        const bool opened = openDatabase(db, 1);
        for (int n = 0; opened; ++n) {
            const std::string ip =
                "10.0." + std::to_string(n / 250) + "." + std::to_string(n % 250);
            if (!db.executeBound("insert into blocked_ips (ip) values (:v1)", {ip})) break;
            const std::lock_guard<std::mutex> lock(mutex);
            acknowledgedIps.push_back(ip);
            changed.notify_all();
        }
        const std::lock_guard<std::mutex> lock(mutex);
        writerStopped = true;
        whyStopped = db.lastError();
        changed.notify_all();
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return writerStopped || acknowledgedIps.size() >= 200; });
    }
    if (writerStopped) {
        writer.join();
        FAIL() << "the writer stopped while the primary ran: " << whyStopped;
    }

    pgcluster("fail");
    writer.join();
    // The primary went either during a statement, which may or may not have
    // been stored, or between two, noticed before the next was sent.
    EXPECT_TRUE(whyStopped.find("may or may not be stored") != std::string::npos ||
                whyStopped.starts_with("The connection to the database server broke ("))
        << whyStopped;
    // No primary: every write is refused naming the cause.
    ran = runKestrix({"user", "add", "ghost", "--password-stdin", "--home", dir("ftp/ghost")},
                     "pw\n");
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("No database server accepts writes at " + primary + "," + standby),
              std::string::npos)
        << ran.err;
    ran = runKestrix({"user", "rule", "add", "bob", dir("ftp/other"), "--rights", "RWL"});
    EXPECT_EQ(ran.status, 1);
    EXPECT_NE(ran.err.find("read-only standbys"), std::string::npos) << ran.err;
    EXPECT_FALSE(idle.query("select username from users"));
    EXPECT_NE(idle.lastError().find("connection to the database server broke"), std::string::npos)
        << idle.lastError();
    EXPECT_NE(idle.lastError().find("read-only standbys"), std::string::npos) << idle.lastError();
    // The broken transaction's later statements never run on their own.
    EXPECT_FALSE(writing.execute("update users set max_concurrent = 9 where username = 'bob'"));
    EXPECT_NE(writing.lastError().find("none of them was stored"), std::string::npos)
        << writing.lastError();
    EXPECT_FALSE(writing.commit());

    pgcluster("promote");
    const auto promoted = Clock::now();
    addUser("dee");
    const auto firstCommand = Clock::now() - promoted;
    EXPECT_LT(firstCommand, std::chrono::seconds(5));
    std::cout << "user add, set and rule add after the promotion done in "
              << std::chrono::duration_cast<std::chrono::milliseconds>(firstCommand).count()
              << " ms\n";
    // The sessions of before carry on on the new primary.
    EXPECT_TRUE(idle.query("select username from users")) << idle.lastError();
    EXPECT_TRUE(writing.execute("update users set max_concurrent = 4 where username = 'dee'"))
        << writing.lastError();
    acknowledged_.erase("dee max 3 rules 1");
    acknowledged_.insert("dee max 4 rules 1");

    EXPECT_EQ(usersOn(standby), acknowledged_);
    Database promotedServer;
    ASSERT_TRUE(promotedServer.open(serverAt(standby))) << promotedServer.lastError();
    std::set<std::string> stored;
    ASSERT_TRUE(promotedServer.readColumn("select ip from blocked_ips", {},
                                          [&](Database::ValueView ip) { stored.emplace(*ip); }));
    for (const std::string& ip : acknowledgedIps)
        EXPECT_TRUE(stored.contains(ip)) << ip << " was acknowledged, then lost";
    std::cout << acknowledgedIps.size() << " writes acknowledged before the primary failed, "
              << stored.size() - acknowledgedIps.size() << " more stored unacknowledged\n";
}

}  // namespace
}  // namespace kestrix::cli::test
