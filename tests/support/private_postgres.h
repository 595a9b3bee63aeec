#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/scratch.h"

namespace kestrix::test {

// A PostgreSQL server of the test's own (tools/pgtest), so that stopping it
// disturbs no other test.
class PrivatePostgres {
  public:
    static const char* pgtestTool() { return KESTRIX_SOURCE_DIR "/tools/pgtest"; }
    PrivatePostgres() : envFile_((dir_.path() / "pg.env").string()) {
        run(std::string(pgtestTool()) + " start " + envFile_);
        std::ifstream in(envFile_);
        std::string line;
        while (std::getline(in, line)) {
            const auto eq = line.find('=');
            if (eq != std::string::npos) env_[line.substr(0, eq)] = line.substr(eq + 1);
        }
        if (env_["KESTRIX_PG_PORT"].empty())
            throw std::runtime_error("the private PostgreSQL server did not start");
    }
    ~PrivatePostgres() {
        std::system((std::string(pgtestTool()) + " stop " + envFile_ + " >/dev/null").c_str());
    }

    std::string connectionString(const std::string& database) {
        return "Provider=PostgreSQL;Data Source=127.0.0.1:" + env_["KESTRIX_PG_PORT"] +
               ";Initial Catalog=" + database + ";User ID=postgres";
    }
    void stop() { pgCtl("-m fast -w stop"); }
    // A plain start does not take the first start's options: give them again.
    void start() {
        pgCtl("-w -t 60 -o '-p " + env_["KESTRIX_PG_PORT"] + " -k " + env_["KESTRIX_PG_DIR"] +
              " -c listen_addresses=127.0.0.1 -c fsync=off' start");
    }
    void restart() { pgCtl("-m fast -w -t 60 restart"); }
    // Stops (SIGSTOP) or continues every process of the server: it then
    // neither answers nor refuses anything.
    void signalAll(int signal) {
        std::ifstream pidFile(env_["KESTRIX_PG_DIR"] + "/data/postmaster.pid");
        pid_t postmaster = 0;
        pidFile >> postmaster;
        if (postmaster <= 0) throw std::runtime_error("no postmaster.pid");
        std::vector<pid_t> pids;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            std::ifstream stat(entry.path() / "stat");
            std::string line;
            if (!std::getline(stat, line)) continue;
            // pid (comm) state ppid ...: the name may hold blanks.
            std::istringstream rest(line.substr(line.rfind(')') + 2));
            char state = 0;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent == postmaster) pids.push_back(std::stoi(entry.path().filename()));
        }
        pids.push_back(postmaster);
        for (pid_t pid : pids)
            ::kill(pid, signal);
    }

  private:
    static void run(const std::string& command) {
        if (std::system((command + " >/dev/null").c_str()) != 0)
            throw std::runtime_error("failed: " + command);
    }
    // pg_ctl runs as the server's owner; a restart takes the options the
    // server was first started with.
    void pgCtl(const std::string& action) {
        const std::string dir = env_["KESTRIX_PG_DIR"];
        const std::string runas = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
        run(runas + env_["KESTRIX_PG_BIN"] + "/pg_ctl -D " + dir + "/data -l " + dir +
            "/server.log " + action);
    }

    TempDir dir_;
    std::string envFile_;
    std::map<std::string, std::string> env_;
};

}  // namespace kestrix::test
