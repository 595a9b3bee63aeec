#include "tests/cli/cli_fixture.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/database.h"
#include "core/settings.h"

extern char** environ;

namespace kestrix::cli::test {

namespace {

std::string contentOf(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

Ran runKestrix(const std::vector<std::string>& arguments, const std::optional<std::string>& input,
               const std::optional<std::string>& output) {
    TempDir outputs;
    const std::string out = output.value_or((outputs.path() / "out").string());
    const std::string err = (outputs.path() / "err").string();
    const std::string in = (outputs.path() / "in").string();
    {
        std::ofstream file(in, std::ios::binary);
        file << input.value_or("");
    }
    std::vector<std::string> words{KESTRIX_CLI};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t child = 0;
    // A session of its own: no terminal to ask for a password on.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const int spawned = posix_spawn(&child, argv[0], &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    Ran run;
    if (spawned != 0) {
        ADD_FAILURE() << "kestrix could not be started: " << spawned;
        return run;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (!output) run.out = contentOf(out);
    run.err = contentOf(err);
    return run;
}

QJsonDocument jsonOf(const Ran& run) {
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(run.out), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError)
        << error.errorString().toStdString() << " in: " << run.out;
    return document;
}

void CliTest::SetUp() {
    scratch_ = kestrix::test::makeScratchDatabase(GetParam());
    ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
    ASSERT_TRUE(writeSetting(kServuPathValue, dir("servu") + "/"));
    ASSERT_TRUE(writeSetting(kFtpDirectoryValue, dir("ftp") + "/"));
}

std::string CliTest::dir(const std::string& relative) {
    const std::filesystem::path path = disk_.path() / relative;
    std::filesystem::create_directories(path);
    return path.string();
}

void CliTest::sql(const std::string& statement) {
    Database db;
    ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
    ASSERT_TRUE(db.execute(statement)) << statement << ": " << db.lastError();
}

std::vector<std::vector<std::string>> CliTest::rows(const std::string& query,
                                                    const std::vector<std::string>& columns) {
    std::vector<std::vector<std::string>> result;
    Database db;
    EXPECT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
    auto set = db.query(query);
    EXPECT_TRUE(set) << query << ": " << db.lastError();
    if (!set) return result;
    for (; !set->eof(); set->moveNext()) {
        std::vector<std::string> row;
        for (const std::string& column : columns)
            row.push_back(set->field(column).value_or("<null>"));
        result.push_back(std::move(row));
    }
    return result;
}

void CliTest::addUser(const std::string& name, const std::string& home) {
    const Ran run = runKestrix({"user", "add", name, "--password", "pw-" + name, "--home", home});
    ASSERT_EQ(run.status, 0) << run.err;
}

Ran runKestrixOnTerminal(const std::vector<std::string>& arguments,
                         const std::vector<std::pair<std::string, std::string>>& prompts) {
    std::vector<std::string> words{KESTRIX_CLI};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    Ran run;
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    if (child < 0) {
        ADD_FAILURE() << "no pseudo-terminal: " << std::strerror(errno);
        return run;
    }
    if (child == 0) {
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    // Reads what the terminal shows until `until` has appeared (or the end).
    auto readUntil = [&](const std::string& until) {
        while (until.empty() || run.out.find(until) == std::string::npos) {
            pollfd ready{terminal, POLLIN, 0};
            // A generous guard against a program that never asks.
            if (::poll(&ready, 1, 60000) <= 0) return false;
            char buffer[256];
            const ssize_t got = ::read(terminal, buffer, sizeof buffer);
            if (got <= 0) return until.empty();
            run.out.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    };
    for (const auto& [prompt, answer] : prompts) {
        if (!readUntil(prompt)) {
            ADD_FAILURE() << "the terminal never showed " << prompt << ": " << run.out;
            break;
        }
        const std::string line = answer + "\n";
        EXPECT_EQ(::write(terminal, line.data(), line.size()), static_cast<ssize_t>(line.size()));
    }
    readUntil("");
    ::close(terminal);
    int status = 0;
    ::waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

std::string engineParamName(const ::testing::TestParamInfo<Engine>& info) {
    return kestrix::test::engineName(info.param);
}

}  // namespace kestrix::cli::test
