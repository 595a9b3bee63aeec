// Events per second of the built Quellin.so on SQLite and PostgreSQL, each
// beside its floor: the same SELECTs through the engine's own C API on the
// same data. Run through bench/run, which starts a PostgreSQL server.
#include <benchmark/benchmark.h>
#include <crypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "bench/bench_report.h"
#include "bench/bench_setup.h"
#include "bench/native_floor.h"

namespace kestrix::bench {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUser = "benchuser";
constexpr const char* kAddress = "127.0.0.1";

struct Event {
    int32_t code;
    std::string user;
    std::string data;
};

// What the FTP server stand-in asks for one connection and login, in its
// order (tools/ftphost/README.md).
std::vector<Event> loginEvents(const std::string& user = kUser) {
    return {
        {4, "", kAddress}, {25, "", kAddress},  {36, "", ""},   {3, user, BenchDatabase::kPassword},
        {2, user, ""},     {4, user, kAddress}, {29, user, ""}, {33, user, ""},
        {24, user, ""},    {23, user, ""},      {28, user, ""}, {39, user, ""},
        {26, user, ""},    {13, user, ""},      {14, user, ""}, {20, user, ""},
        {22, user, ""},    {15, user, ""},      {16, user, ""}, {17, user, ""},
        {18, user, "0"},   {1, user, ""},
    };
}

// The same reads, as the floor runs them: statement, parameter, first row only.
struct FloorRead {
    std::string sql;
    std::string parameter;
    bool firstOnly;
};

// The password check reads every row the name finds (names that differ
// only in case are possible) and takes the first by the exact name.
constexpr const char* kLoginRead = "select username,password from users where username=:u";

std::string userColumn(const char* column) {
    return std::string("select ") + column + " from users where username=:u";
}

std::vector<FloorRead> loginReads() {
    std::vector<FloorRead> reads = {
        {"select ip from blocked_ips", "", false},
        {"select ip from log_ips", "", false},
        {"select signon_msg_file from sign_files where ip=:u", kAddress, true},
        {kLoginRead, kUser, false},
        {"select homedir,disable_user from users where username=:u", kUser, true},
        {"select ip from blocked_ips_by_user where username=:u or username='*'", kUser, false},
    };
    for (const char* column :
         {"max_concurrent", "max_logins_per_ip", "one_login_per_ip", "always_login", "timeout",
          "session_timeout", "speed_limit_value", "hide_hidden_files", "rel_path", "use_quota",
          "quota_max", "ratio_type", "ratio_down", "ratio_up", "ratio_current_credit",
          "login_msg_file"}) {
        reads.push_back({userColumn(column), kUser, true});
    }
    return reads;
}

// The same facts in the fewest statements a program that keeps the
// server-wide lists needs: the sign-on file, the password, the home, the
// user's blocked addresses, the login limits, and the session settings with
// the message file.
std::vector<FloorRead> wholeLoginReads(const std::string& user) {
    return {
        {"select signon_msg_file from sign_files where ip=:u", kAddress, true},
        {kLoginRead, user, false},
        {"select homedir,disable_user from users where username=:u", user, true},
        {"select ip from blocked_ips_by_user where username=:u or username='*'", user, false},
        {"select max_concurrent,max_logins_per_ip,one_login_per_ip,always_login from users "
         "where username=:u",
         user, true},
        {"select timeout,session_timeout,speed_limit_value,hide_hidden_files,rel_path,use_quota,"
         "quota_max,ratio_type,ratio_down,ratio_up,ratio_current_credit,login_msg_file from users "
         "where username=:u",
         user, true},
    };
}

ClientEvent makeEvent(const Event& e) {
    ClientEvent event;
    std::memset(&event, 0, sizeof event);
    event.code = e.code;
    e.user.copy(event.userName, sizeof event.userName - 1);
    e.data.copy(event.data, sizeof event.data - 1);
    std::strncpy(event.address, kAddress, sizeof event.address - 1);
    return event;
}

// One engine: its data, the loaded library and the native connection.
struct EngineRun {
    std::string name;
    std::unique_ptr<BenchDatabase> database;
    std::unique_ptr<LoadedLibrary> library;
    std::unique_ptr<NativeFloor> floor;
};

std::vector<Pair> gPairs;

// The floor of a password check: one crypt_r of the password with the
// stored hash, its work area allocated once.
class CryptFloor {
  public:
    explicit CryptFloor(const std::string& stored)
        : setting_(stored.substr(std::string_view("{CRYPT}").size())),
          data_(std::make_unique<crypt_data>()) {
        std::memset(data_.get(), 0, sizeof(crypt_data));
    }
    bool run() {
        const char* hash = crypt_r(BenchDatabase::kPassword, setting_.c_str(), data_.get());
        return hash != nullptr && setting_ == hash;
    }

  private:
    std::string setting_;
    std::unique_ptr<crypt_data> data_;
};

// operations: what one iteration counts as (0: one per event).
void registerSequence(EngineRun& run, const std::string& label, std::vector<Event> events,
                      std::vector<FloorRead> reads, std::vector<int> expectedFlags,
                      bool floorHashes = false, const std::string* floorHash = nullptr,
                      int operations = 0) {
    if (operations == 0) operations = static_cast<int>(events.size());
    const std::string eventName = run.name + "/event/" + label;
    const std::string floorName = run.name + "/floor/" + label;
    std::vector<int> statements;
    for (const FloorRead& read : reads)
        statements.push_back(run.floor->prepare(read.sql));

    benchmark::RegisterBenchmark(eventName.c_str(), [&run, events, expectedFlags,
                                                     operations](benchmark::State& state) {
        // Check the answers once, outside the timing.
        for (std::size_t i = 0; i < events.size(); ++i) {
            ClientEvent event = makeEvent(events[i]);
            if ((*run.library)(&event) != 1 || (i < expectedFlags.size() && expectedFlags[i] >= 0 &&
                                                event.flag != expectedFlags[i])) {
                state.SkipWithError("the library answered wrongly");
                return;
            }
        }
        for (auto _ : state) {
            for (const Event& e : events) {
                ClientEvent event = makeEvent(e);
                benchmark::DoNotOptimize((*run.library)(&event));
                benchmark::DoNotOptimize(event);
            }
        }
        state.SetItemsProcessed(state.iterations() * operations);
    });
    benchmark::RegisterBenchmark(
        floorName.c_str(),
        [&run, reads, statements, floorHashes, floorHash, operations](benchmark::State& state) {
            auto crypt =
                std::make_shared<CryptFloor>(floorHash ? *floorHash : run.database->passwordHash());
            if (floorHashes && !crypt->run()) {
                state.SkipWithError("crypt_r does not verify the stored hash");
                return;
            }
            for (auto _ : state) {
                for (std::size_t i = 0; i < reads.size(); ++i)
                    benchmark::DoNotOptimize(
                        run.floor->run(statements[i], reads[i].parameter, reads[i].firstOnly));
                if (floorHashes) benchmark::DoNotOptimize(crypt->run());
            }
            state.SetItemsProcessed(state.iterations() * operations);
        });
    gPairs.push_back({run.name + " " + label, eventName, floorName, operations});
}

void registerEngine(EngineRun& run) {
    registerSequence(run, "max concurrent (29)", {{29, kUser, ""}},
                     {{userColumn("max_concurrent"), kUser, true}}, {1});
    // A yescrypt hash: the floor is one crypt_r call with it, which no check
    // of the password can go below.
    registerSequence(run, "password check (3), yescrypt", {{3, kUser, BenchDatabase::kPassword}},
                     {}, {1}, true);
    std::vector<int> loginFlags(loginEvents().size(), -1);
    registerSequence(run, "login (22 events)", loginEvents(), loginReads(), loginFlags, true);
    // A whole login, per login, with a password stored in a cheap form so
    // that the hash does not hide the rest; the floor checks the same form.
    registerSequence(run, "whole login, MD5-crypt (per login)",
                     loginEvents(BenchDatabase::kCheapUser),
                     wholeLoginReads(BenchDatabase::kCheapUser), {1, 0, -1, 1, 1, 1}, true,
                     &run.database->cheapPasswordHash(), 1);
    for (int rules : BenchDatabase::ruleCounts()) {
        const std::string user = "rules" + std::to_string(rules);
        registerSequence(
            run, "list check (9), " + std::to_string(rules) + " rules",
            {{9, user, run.database->checkedDirectory(rules)}},
            {{"select homedir,disable_user from users where username=:u", user, true},
             {"select directory,dir_rights,inherit_subdirs from dir_rights where username=:u", user,
              false}},
            {1});
    }
}

}  // namespace
}  // namespace kestrix::bench

int main(int argc, char** argv) {
    using namespace kestrix::bench;
    benchmark::Initialize(&argc, argv);
    return runBenchmarks(
        "quellin_bench",
        [](const fs::path& work) {
            auto runs = std::make_shared<std::vector<std::unique_ptr<EngineRun>>>();
            for (auto engine : {kestrix::Engine::SQLite, kestrix::Engine::PostgreSQL}) {
                auto run = std::make_unique<EngineRun>();
                run->name = engine == kestrix::Engine::SQLite ? "SQLite" : "Postgres";
                run->database = std::make_unique<BenchDatabase>(engine, work);
                run->library =
                    std::make_unique<LoadedLibrary>(work, run->database->connectionString());
                run->floor = engine == kestrix::Engine::SQLite
                                 ? openSqliteFloor(run->database->nativeTarget())
                                 : openPostgresFloor(run->database->nativeTarget());
                registerEngine(*run);
                runs->push_back(std::move(run));
            }
            return std::shared_ptr<void>(runs);
        },
        gPairs, "event");
}
