// A check reads a user's directory rules row by row and resolves their
// directories through the connection's cache; its answers and the rule it
// names must be those of the rule list applied as a whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "plugin/access_checks.h"
#include "plugin/account_store.h"
#include "plugin/deadline_watch.h"
#include "plugin/path_rules.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

class RulesAsRead : public EventTest {};

TEST_P(RulesAsRead, ChecksAnswerAndNameTheRuleAsTheWholeListDoes) {
    for (const char* dir : {"bob/a/b/deep", "bob/A", "bob/c", "pub/x"})
        fs::create_directories(path(dir));
    fs::create_directory_symlink(path("bob/a/b"), path("bob/l"));
    insertUser(db_, "bob", path("bob"), "p");
    const std::vector<std::string> directories = {
        path("bob/a"),      path("bob/a/"),   path("bob/A"),       path("bob/a/b"),
        path("bob/a/../c"), path("bob/l"),    path("bob/missing"), path("pub"),
        "relative/a",       path("bob/a//b"), path("BOB/a"),       path("bob")};
    const std::vector<std::string> rights = {"", "L", "RWL", "DC", "lc", "LCD"};
    std::mt19937 random(20261207);
    for (int i = 0; i < 60; ++i) {
        insertDirRule(db_, "bob", directories[random() % directories.size()],
                      rights[random() % rights.size()], static_cast<int>(random() % 2));
    }

    DeadlineWatch watch;
    AccountStore store(clock_.function(), watch);
    store.start(scratch_->connectionString());
    AccessChecks checks(store);
    auto rows = store.directoryRules("bob").rows;
    ASSERT_EQ(rows.size(), 60u);

    int decided = 0;
    int allowed = 0;
    int refused = 0;
    // The second round answers from the cache; before the third the rules
    // are written again in another order, which the cache must not hide.
    for (int round = 0; round < 3; ++round) {
        if (round == 2) {
            exec(db_, "delete from dir_rights");
            std::shuffle(rows.begin(), rows.end(), random);
            for (const DirRuleRow& row : rows)
                insertDirRule(db_, "bob", *row.directory, *row.rights, *row.inherit == "1");
            rows = store.directoryRules("bob").rows;
        }
        for (const char* relative : {"bob", "bob/a", "bob/a/", "bob/a/b", "bob/a/b/deep", "bob/A",
                                     "bob/c", "bob/l", "bob/l/deep", "pub", "pub/x", "bob/new"}) {
            for (const char letter : {'L', 'C', 'D', 'l', 'c'}) {
                const std::string checked = path(relative);
                SCOPED_TRACE(checked + " " + letter);
                AccessTrace trace;
                const bool answer = checks.directoryCheck("bob", checked, letter, &trace);

                const PathForm form = formForLetter(letter);
                const auto target = normalizePath(checked, form);
                int deciding = -1;
                bool expected = false;
                if (target) {
                    const auto home = normalizePath(path("bob"), form);
                    expected = applyDirectoryRules(home && atOrBelow(*target, *home), *target, rows,
                                                   letter, &deciding);
                }
                EXPECT_EQ(answer, expected);
                EXPECT_EQ(trace.directoryRule, deciding);
                decided += deciding >= 0;
                (answer ? allowed : refused) += 1;
            }
        }
        clock_.advance(RuleDirectoryCache::kLifetime / 2);
    }
    // The paths reach rules and both answers.
    EXPECT_GT(decided, 20);
    EXPECT_GT(allowed, 10);
    EXPECT_GT(refused, 10);
}

KESTRIX_ON_BOTH_ENGINES(RulesAsRead);

}  // namespace
}  // namespace kestrix::plugin::test
