// The audit lines of the migration program, read back from a syslog socket
// the test owns.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>

#include "core/settings.h"
#include "tests/support/scratch.h"
#include "tests/support/syslog_socket.h"

extern char** environ;

namespace kestrix {
namespace {

using test::auditField;

class MigrationRecord : public ::testing::TestWithParam<Engine> {};

// Runs the migration program's batch form; its exit status.
int runBatch() {
    std::string program = KESTRIX_MIGRATION_PROGRAM;
    std::string batch = "--batch";
    char* argv[] = {program.data(), batch.data(), nullptr};
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], nullptr, nullptr, argv, environ) != 0) return -1;
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_P(MigrationRecord, EachAccountAndTheRunLeaveALine) {
    test::ScopedRegistry registry;
    const auto scratch = test::makeScratchDatabase(GetParam());
    ASSERT_TRUE(writeConnectionString(scratch->connectionString()));
    const std::string file = std::string(KESTRIX_MIGRATION_DATA) + "/twice_in_file.ini";
    ASSERT_TRUE(writeSetting(kIniPathValue, file));
    test::SyslogSocket socket;

    ASSERT_EQ(runBatch(), 0);
    const auto lines = socket.take();
    ASSERT_EQ(lines.size(), 5u) << ::testing::PrintToString(lines);
    std::vector<std::string> migrated;
    std::vector<std::string> skipped;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        const std::string& line = lines[i];
        EXPECT_EQ(auditField(line, "origin"), "migration") << line;
        const std::string outcome = auditField(line, "outcome");
        if (outcome == "done") {
            EXPECT_EQ(auditField(line, "change"), "migrated from " + file) << line;
            migrated.push_back(auditField(line, "ftp_user"));
        } else {
            EXPECT_EQ(auditField(line, "change"), "not migrated from " + file) << line;
            EXPECT_TRUE(outcome.starts_with("refused: ") &&
                        outcome.find("twice in the file") != std::string::npos)
                << line;
            skipped.push_back(auditField(line, "ftp_user"));
        }
        // No password of the file reaches the trail.
        for (const char* password : {"one", "two", "three", "four"})
            EXPECT_EQ(line.find(std::string("=\"") + password), std::string::npos) << line;
    }
    std::sort(migrated.begin(), migrated.end());
    std::sort(skipped.begin(), skipped.end());
    EXPECT_EQ(migrated, (std::vector<std::string>{"Carla", "dora"}));
    EXPECT_EQ(skipped, (std::vector<std::string>{"CARLA", "dora"}));
    EXPECT_EQ(auditField(lines.back(), "change"), "4 users in " + file + ": 2 migrated, 2 skipped");
    EXPECT_EQ(auditField(lines.back(), "outcome"), "done");
}

INSTANTIATE_TEST_SUITE_P(Engines, MigrationRecord,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
