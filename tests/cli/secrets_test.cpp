// Secrets stay off the command line and out of core dumps.
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "core/schema.h"
#include "tests/cli/cli_fixture.h"

extern char** environ;

namespace kestrix::cli::test {
namespace {

// Starts the program on a terminal of its own, in `dir`, allowed to dump
// core; once the terminal shows `prompt`, aborts it. True when it left a
// core dump.
bool dumpsCoreWhenAborted(std::vector<std::string> words, const std::string& prompt,
                          const std::filesystem::path& dir) {
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        ADD_FAILURE() << "no pseudo-terminal";
        return false;
    }
    if (child == 0) {
        const rlimit any{RLIM_INFINITY, RLIM_INFINITY};
        if (::setrlimit(RLIMIT_CORE, &any) != 0 || ::chdir(dir.c_str()) != 0) ::_exit(126);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    std::string shown;
    while (shown.find(prompt) == std::string::npos) {
        pollfd ready{terminal, POLLIN, 0};
        char buffer[256];
        const ssize_t got = ::poll(&ready, 1, 60000) > 0 ? ::read(terminal, buffer, 256) : -1;
        if (got <= 0) break;
        shown.append(buffer, static_cast<std::size_t>(got));
    }
    EXPECT_NE(shown.find(prompt), std::string::npos) << shown;
    ::kill(child, SIGABRT);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(terminal);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGABRT) << status;
    bool file = false;
    for (const auto& entry : std::filesystem::directory_iterator(dir))
        file = file || entry.path().filename().string().starts_with("core");
    EXPECT_EQ(file, WCOREDUMP(status) != 0);
    return WCOREDUMP(status) != 0;
}

class Secrets : public CliTest {};

TEST_P(Secrets, AConnectionStringComesFromStandardInputAndNoCoreDumpHoldsIt) {
    // Given on standard input, the password appears in no argument.
    const std::string servu = dir("servu");
    std::ofstream(servu + "/ServUDaemon.ini") << "[GLOBAL]\r\nVersion=6\r\n";
    ASSERT_EQ(runKestrix({"config", "set", "--servu-path", servu, "--ftp-dir", dir("ftp")}).status,
              0);
    TempDir other;
    const std::string file = (other.path() / "other.db").string();
    ASSERT_TRUE(createSqliteDatabaseFile(file, nullptr));
    Ran ran = runKestrix({"config", "set", "--connection-string-stdin"},
                         "Provider=SQLite;Data Source=" + file + "\n");
    ASSERT_EQ(ran.status, 0) << ran.err;
    EXPECT_NE(runKestrix({"config", "show"}).out.find("Data Source=" + file), std::string::npos);
    ran = runKestrix({"config", "set", "--connection-string-stdin"},
                     scratch_->connectionString() + "\n");
    ASSERT_EQ(ran.status, 0) << ran.err;
    ran = runKestrix({"config", "set", "--connection-string-stdin"}, "");
    EXPECT_EQ(ran.status, 1);
    EXPECT_EQ(ran.err, "Standard input holds no connection string.\n");
    addUser("amy", dir("ftp/amy"));

    // This machine writes core dumps: a shell aborted at the same point
    // leaves one; kestrix, asked for the connection string, leaves none.
    TempDir shellDir;
    EXPECT_TRUE(dumpsCoreWhenAborted({"/bin/sh", "-c", "printf 'Connection string: '; read line"},
                                     "Connection string: ", shellDir.path()));
    TempDir kestrixDir;
    EXPECT_FALSE(dumpsCoreWhenAborted({KESTRIX_CLI, "config", "set", "--connection-string-stdin"},
                                      "Connection string: ", kestrixDir.path()));
}

KESTRIX_CLI_ON_BOTH_ENGINES(Secrets);

}  // namespace
}  // namespace kestrix::cli::test
