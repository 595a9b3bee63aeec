#pragma once

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/connection_string.h"
#include "tests/support/scratch.h"

namespace kestrix::cli::test {

using kestrix::test::TempDir;

// What one run of the kestrix program did.
struct Ran {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built kestrix program with the arguments, in this process's
// environment (its KESTRIX_REGISTRY), and waits for it.
// Without a controlling terminal; standard input is `input`, or empty.
// With `output`, standard output goes to that file (such as /dev/full)
// and `out` stays empty.
Ran runKestrix(const std::vector<std::string>& arguments,
               const std::optional<std::string>& input = std::nullopt,
               const std::optional<std::string>& output = std::nullopt);

// Runs it on a pseudo-terminal of its own: each time the terminal shows
// the next prompt, the answer is typed (a line). `out` is everything the
// terminal showed, standard error included.
Ran runKestrixOnTerminal(const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& prompts);

// Standard output parsed as JSON; fails the test when it does not parse.
QJsonDocument jsonOf(const Ran& run);

// A private settings store pointing at a scratch database of the engine,
// and an FTP root of real directories.
class CliTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override;

    // A directory under the FTP root, made on the disk.
    std::string dir(const std::string& relative);
    void sql(const std::string& statement);
    // The named columns of every row of a query, NULL as "<null>".
    std::vector<std::vector<std::string>> rows(const std::string& query,
                                               const std::vector<std::string>& columns);
    // Adds a user through the program; the run must succeed.
    void addUser(const std::string& name, const std::string& home);

    kestrix::test::ScopedRegistry registry_;
    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    TempDir disk_;
};

std::string engineParamName(const ::testing::TestParamInfo<Engine>& info);

}  // namespace kestrix::cli::test

#define KESTRIX_CLI_ON_BOTH_ENGINES(suite)                                                       \
    INSTANTIATE_TEST_SUITE_P(                                                                    \
        Engines, suite, ::testing::Values(kestrix::Engine::SQLite, kestrix::Engine::PostgreSQL), \
        kestrix::cli::test::engineParamName)
