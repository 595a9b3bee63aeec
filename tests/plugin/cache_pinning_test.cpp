// What the plug-in keeps between events, and when it lets it go: the
// server-wide lists, a login's row, and the resolved rule directories.
#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>

#include "core/list_changes.h"
#include "core/password_hash.h"
#include "plugin/account_store.h"
#include "plugin/rule_directory_cache.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

using namespace std::chrono_literals;

// A notice reaches the plug-in's connection a moment after the commit that
// sends it; the clock of the test never moves, so only the notice can
// change the answer. The wall-clock limit only ends a test that fails.
bool refusedOnceNoticed(const std::function<int32_t()>& flag) {
    const auto limit = std::chrono::steady_clock::now() + 5s;
    while (flag() != 0)
        if (std::chrono::steady_clock::now() > limit) return false;
    return true;
}

class ListCache : public EventTest {
  protected:
    int32_t connectFlag() { return send(code::kAddressAllowed, "", "10.0.0.9").flag(); }
    void blockAndAnnounce() {
        exec(db_, "insert into blocked_ips (ip) values ('10.0.0.9')");
        ASSERT_TRUE(announceListChange(db_)) << db_.lastError();
    }
};

TEST_P(ListCache, ANoticeDropsTheListsAtOnce) {
    ASSERT_EQ(connectFlag(), 1);
    blockAndAnnounce();
    EXPECT_TRUE(refusedOnceNoticed([&] { return connectFlag(); }));
}

// Without a notice, the lists live their time from their read: reading
// them does not lengthen it.
TEST_P(ListCache, TheListsLiveTheirTimeFromTheirRead) {
    ASSERT_EQ(connectFlag(), 1);
    clock_.advance(AccountStore::kListLifetime * 6 / 10);
    ASSERT_EQ(connectFlag(), 1);
    exec(db_, "insert into blocked_ips (ip) values ('10.0.0.9')");
    clock_.advance(AccountStore::kListLifetime * 6 / 10);
    EXPECT_EQ(connectFlag(), 0);
}

// A connection that was lost and opened again listens again.
TEST_P(ListCache, NoticesReachTheConnectionThatReplacedALostOne) {
    ASSERT_EQ(connectFlag(), 1);
    exec(db_,
         "select pg_terminate_backend(pid) from pg_stat_activity where "
         "datname=current_database() and pid<>pg_backend_pid()");
    clock_.advance(AccountStore::kListLifetime);
    ASSERT_EQ(connectFlag(), 1);  // read again on a new connection
    ASSERT_EQ(connectFlag(), 1);
    blockAndAnnounce();
    EXPECT_TRUE(refusedOnceNoticed([&] { return connectFlag(); }));
}

INSTANTIATE_TEST_SUITE_P(Engines, ListCache, ::testing::Values(Engine::PostgreSQL), engineTestName);

class RowCache : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        // A hash, which the login keeps: a weaker form would be replaced,
        // and the row read for it dropped.
        insertUser(db_, "bob", "/srv/a", *hashPassword("pw"));
    }
    std::string home() { return send(code::kHomeDirectory, "bob").data(); }
    void moveHome() { exec(db_, "update users set homedir='/srv/b' where username='bob'"); }
};

TEST_P(RowCache, OnlyAPasswordThatPassedKeepsTheRow) {
    ASSERT_EQ(send(code::kPasswordCheck, "bob", "wrong").flag(), 0);
    moveHome();
    EXPECT_EQ(home(), "/srv/b");
}

// The row is kept by the name the login left; the change comes with the
// name as the client wrote it.
TEST_P(RowCache, APasswordChangeDropsTheKeptRows) {
    ASSERT_EQ(send(code::kPasswordCheck, "Bob", "pw").flag(), 1);
    moveHome();
    ASSERT_EQ(home(), "/srv/a");  // the login's own row, within its time
    ASSERT_EQ(send(code::kPasswordChange, "Bob", "newpw").flag(), 1);
    EXPECT_EQ(home(), "/srv/b");
}

KESTRIX_ON_BOTH_ENGINES(RowCache);

class ResolvedDirectories : public ::testing::Test {
  protected:
    void check(RuleDirectoryCache::Rows rows, std::initializer_list<const char*> names) {
        RuleDirectoryCache::Check check(cache_, PathForm::FullPath, rows);
        for (const char* name : names)
            EXPECT_EQ(check.resolve(name), std::optional<std::string>(name));
    }
    ManualClock clock_;
    RuleDirectoryCache cache_{clock_.function()};
};

// Directory rules and file rules each keep their own order: checks that
// alternate between them still find every entry at its place.
TEST_F(ResolvedDirectories, DirectoryAndFileRulesKeepTheirOwnOrder) {
    using Rows = RuleDirectoryCache::Rows;
    check(Rows::Directories, {"/srv/a", "/srv/b", "/srv/c"});
    check(Rows::Files, {"/srv/x.txt", "/srv/y.txt"});
    const std::size_t before = cache_.lookups();
    check(Rows::Directories, {"/srv/a", "/srv/b", "/srv/c"});
    check(Rows::Files, {"/srv/x.txt", "/srv/y.txt"});
    EXPECT_EQ(cache_.lookups(), before);
}

// Starting again empty at the bound forgets the order too (the sanitizer
// build sees an order that outlived its entries).
TEST_F(ResolvedDirectories, TheBoundEmptiesTheOrderWithTheEntries) {
    using Rows = RuleDirectoryCache::Rows;
    check(Rows::Directories, {"/srv/keep"});
    {
        RuleDirectoryCache::Check many(cache_, PathForm::FullPath, Rows::Directories);
        for (std::size_t i = 0; i < RuleDirectoryCache::kMaxEntries + 10; ++i) {
            const std::string name = "/srv/d" + std::to_string(i);
            ASSERT_EQ(many.resolve(name), std::optional<std::string>(name));
        }
    }
    check(Rows::Directories, {"/srv/other", "/srv/d1"});
    check(Rows::Files, {"/srv/d2"});
}

}  // namespace
}  // namespace kestrix::plugin::test
