// A committed configuration is a working FTP server set-up: the stand-in
// started on the committed program directory answers a real FTP client from
// the database, with no file copied by hand.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/database.h"
#include "core/settings.h"
#include "setup/configuration_commit.h"
#include "setup/database_creation.h"
#include "shell/shell.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"
#include "tests/ui_support/shell_fixture.h"

extern char** environ;

namespace kestrix {
namespace {

namespace fs = std::filesystem;

// The output and exit status of a shell command.
std::pair<std::string, int> runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return {"", -1};
    char buffer[4096];
    while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, n);
    const int status = ::pclose(pipe);
    return {output, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

class FtpHost {
  public:
    FtpHost(const fs::path& programDirectory, const fs::path& portFile) {
        const std::string dir = programDirectory.string();
        const std::string port = portFile.string();
        const char* argv[] = {KESTRIX_SYSTEM_PYTHON,
                              KESTRIX_FTPHOST,
                              "--serv-u-dir",
                              dir.c_str(),
                              "--port",
                              "0",
                              "--port-file",
                              port.c_str(),
                              "--login-failure-delay",
                              "0",
                              nullptr};
        // The settings store of this test reaches the plug-in through the
        // environment, as the README's start command passes it.
        if (::posix_spawn(&pid_, argv[0], nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = 0;
    }
    ~FtpHost() {
        if (pid_ == 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool started() const { return pid_ != 0; }

  private:
    pid_t pid_ = 0;
};

// The stand-in started on the program directory lets bob list his home
// with his password and refuses a wrong one.
void expectLoginsAnswered(const fs::path& servu, const fs::path& dir) {
    const fs::path portFile = dir / "port";
    FtpHost host(servu, portFile);
    ASSERT_TRUE(host.started());
    std::string port;
    for (int i = 0; i < 1200 && port.empty(); ++i) {  // two minutes: only a hung start
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::ifstream(portFile) >> port;
    }
    ASSERT_FALSE(port.empty()) << "the stand-in wrote no port file";

    const std::string url = "ftp://127.0.0.1:" + port + "/";
    const auto [listing, status] =
        runCommand("curl -s --max-time 20 --list-only -u bob:secret " + url);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(listing, "hello.txt\n");
    const auto [refused, refusedStatus] =
        runCommand("curl -s --max-time 20 --list-only -u bob:wrong " + url);
    EXPECT_EQ(refusedStatus, 67);  // curl: the login was denied
}

// bob, with reading rights on his home, in the stored database.
void addBob(const fs::path& home) {
    Database db;
    ASSERT_TRUE(db.open(readConnectionString())) << db.lastError();
    ASSERT_TRUE(db.execute(
        "INSERT INTO users (username, homedir, password, max_concurrent, max_logins_per_ip) "
        "VALUES ('bob', '" +
        home.string() + "', 'secret', 2, 2)"));
    ASSERT_TRUE(
        db.execute("INSERT INTO dir_rights (username, directory, dir_rights, "
                   "inherit_subdirs) VALUES ('bob', '" +
                   home.string() + "', 'RL', 1)"));
}

// A committed set-up on a SQLite database holding bob.
class CommitEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(servu_);
        fs::create_directories(home_);
        std::ofstream(servu_ / "ServUDaemon.ini", std::ios::binary) << "[GLOBAL]\r\n";
        std::ofstream(home_ / "hello.txt") << "hello\n";
        ASSERT_EQ(ConfigurationCommit(boxes_, "").run(fields_), CommitResult::Committed);
        ASSERT_TRUE(boxes_.shown().empty());
        addBob(home_);
    }

    test::ScopedRegistry registry_;
    test::TempDir dir_;
    const fs::path servu_ = dir_.path() / "Serv-U";
    const fs::path home_ = dir_.path() / "ftp" / "bob";
    std::unique_ptr<test::ScratchDatabase> database_ = test::makeScratchDatabase(Engine::SQLite);
    test::ScriptedMessageBoxes boxes_;
    ConfigureFields fields_{servu_.string(), (dir_.path() / "ftp").string(),
                            database_->connectionString()};
};

TEST_F(CommitEndToEnd, CommittedServerDirectoryAnswersLoginsOnSQLite) {
    expectLoginsAnswered(servu_, dir_.path());
}

TEST_F(CommitEndToEnd, UsersMovedByTheWizardToANewServerDatabaseAnswerLogins_SQLite_Postgres) {
    // The wizard: a new database on the test server, the users copied over.
    test::ScriptedInputBoxes inputs;
    Shell::instance().setMessageBoxes(&boxes_);
    Shell::instance().setInputBoxes(&inputs);
    const std::string server = test::pgServer().host + ":" + test::pgServer().port;
    inputs.type(server);
    inputs.type("kxmoved");
    boxes_.answer(Answer::Yes);
    const auto created = DatabaseCreation(CreationLinks{}).create(true);
    Shell::instance().reset();
    ASSERT_TRUE(created.has_value());
    fields_.connectionString = *created;
    ASSERT_EQ(ConfigurationCommit(boxes_, "").run(fields_), CommitResult::Committed);
    EXPECT_EQ(readConnectionString(), *created);

    expectLoginsAnswered(servu_, dir_.path());
    test::executeOn("Provider=PostgreSQL;Data Source=" + server +
                        ";Initial Catalog=postgres;User ID=postgres;Password=unused",
                    "DROP DATABASE kxmoved WITH (FORCE)");
}

}  // namespace
}  // namespace kestrix
