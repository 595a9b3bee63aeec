// The built library as the server loads it: its entry points, the record's
// bounds, the settings store, and many threads at once.
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "core/sql_literal.h"
#include "tests/plugin/loaded_plugin.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

TEST(LibrarySymbols, OnlyTheEntryPointsAreExported) {
    const std::string command = "nm -D --defined-only '" + LoadedPlugin::libraryPath() + "'";
    FILE* pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<std::string> names;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream fields(line);
        std::string address, type, name;
        fields >> address >> type >> name;
        names.push_back(name);
    }
    ASSERT_EQ(::pclose(pipe), 0);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"HandleClientEvent", "QuellinAnswerEvent"}));
}

// A record placed so that its last byte is the last readable byte before
// an inaccessible page: reading past the address field faults.
class GuardedRecord {
  public:
    GuardedRecord() : page_(static_cast<std::size_t>(::sysconf(_SC_PAGESIZE))) {
        memory_ = static_cast<char*>(
            ::mmap(nullptr, 2 * page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        if (memory_ == MAP_FAILED) throw std::runtime_error("mmap failed");
        ::mprotect(memory_ + page_, page_, PROT_NONE);
        event_ = reinterpret_cast<ClientEvent*>(memory_ + page_ - sizeof(ClientEvent));
    }
    ~GuardedRecord() { ::munmap(memory_, 2 * page_); }
    ClientEvent& event() { return *event_; }

    // Every text field full, without a NUL.
    void fill(int32_t code, char user, char data, char address) {
        event_->code = code;
        event_->flag = kServerFlag;
        std::memset(event_->userName, user, sizeof event_->userName);
        std::memset(event_->data, data, sizeof event_->data);
        std::memset(event_->address, address, sizeof event_->address);
    }

  private:
    std::size_t page_;
    char* memory_ = nullptr;
    ClientEvent* event_ = nullptr;
};

class Library : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = kestrix::test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString())) << db_.lastError();
        ASSERT_TRUE(writeConnectionString(scratch_->connectionString()));
    }

    kestrix::test::ScopedRegistry registry_;
    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(Library, FieldsFilledToTheLastByteAreReadAndWrittenWithinBounds) {
    const std::string fortyName(40, 'u');
    insertUser(db_, fortyName, "/" + std::string(600 / 2, 'h'), "p");
    exec(db_, "update users set max_concurrent=12");
    LoadedPlugin plugin;
    GuardedRecord guarded;
    ClientEvent& event = guarded.event();

    // The name is exactly its 40 bytes: reading on would take the data.
    guarded.fill(code::kMaxConcurrent, 'u', 'x', 'a');
    EXPECT_EQ(plugin.handle(&event), 1);
    EXPECT_EQ(event.flag, 1);
    EXPECT_EQ(fieldText(event.data), "12");
    EXPECT_EQ(event.data[3], 'x');
    EXPECT_EQ(std::string(event.address, sizeof event.address), std::string(64, 'a'));

    // Lower-casing stays inside the name.
    guarded.fill(code::kPasswordCheck, 'U', 'X', 'A');
    EXPECT_EQ(plugin.handle(&event), 1);
    EXPECT_EQ(event.flag, 0);
    EXPECT_EQ(std::string(event.userName, sizeof event.userName), fortyName);
    EXPECT_EQ(std::string(event.data, sizeof event.data), std::string(512, 'X'));

    // A long answer ends with its NUL in the data's last byte.
    guarded.fill(code::kHomeDirectory, 'u', 'x', 'a');
    EXPECT_EQ(plugin.handle(&event), 1);
    EXPECT_EQ(event.flag, 1);
    EXPECT_EQ(fieldText(event.data), "/" + std::string(300, 'h'));
    exec(db_, "update users set homedir=" + sqlText("/" + std::string(510, 'h')));
    EXPECT_EQ(plugin.handle(&event), 1);
    EXPECT_EQ(std::string(event.data, 511), "/" + std::string(510, 'h'));
    EXPECT_EQ(event.data[511], '\0');
    // One byte more does not fit: refused, the data left as it was.
    exec(db_, "update users set homedir=" + sqlText("/" + std::string(511, 'h')));
    guarded.fill(code::kHomeDirectory, 'u', 'x', 'a');
    EXPECT_EQ(plugin.handle(&event), 1);
    EXPECT_EQ(event.flag, 0);
    EXPECT_EQ(std::string(event.data, sizeof event.data), std::string(512, 'x'));
    EXPECT_EQ(std::string(event.address, sizeof event.address), std::string(64, 'a'));

    // The address field is the record's last: reading it whole is safe.
    for (int32_t code : {code::kSignOnFile, code::kSignOffFile, code::kAddressAllowed,
                         code::kAddressListed, code::kFileWrite, code::kListDirectory,
                         code::kRatioFree, code::kRatioCredit, code::kQuotaCurrent}) {
        SCOPED_TRACE(code);
        guarded.fill(code, 'u', '9', '9');
        EXPECT_EQ(plugin.handle(&event), 1);
    }
    guarded.fill(code::kSignOnFile, 'u', 'x', '9');
    plugin.handle(&event);
    EXPECT_EQ(event.flag, kServerFlag);
    EXPECT_EQ(std::string(event.data, sizeof event.data), std::string(512, 'x'));
}

TEST_P(Library, CodesNotAnsweredReturnZeroAndLeaveTheRecord) {
    insertUser(db_, "bob", "/srv/ftp/bob", "p");
    LoadedPlugin plugin;
    for (int32_t code : {0, 8, 30, 31, 32, 40, 99, -5}) {
        const ClientEvent before = makeEvent(code, "BOB", "p", "127.0.0.1");
        ClientEvent event = before;
        EXPECT_EQ(plugin.handle(&event), 0) << code;
        EXPECT_EQ(std::memcmp(&event, &before, sizeof event), 0) << code;
    }
    EXPECT_EQ(plugin.handle(nullptr), 0);
    ClientEvent login = makeEvent(code::kPasswordCheck, "BOB", "p");
    EXPECT_EQ(plugin.handle(&login), 1);
    EXPECT_EQ(login.flag, 1);
}

TEST_P(Library, ReadsTheConnectionStringOncePerLoad) {
    insertUser(db_, "bob", "/first", "p");
    auto other = kestrix::test::makeScratchDatabase(GetParam());
    Database otherDb;
    ASSERT_TRUE(otherDb.open(other->connectionString())) << otherDb.lastError();
    insertUser(otherDb, "bob", "/second", "p");

    auto home = [](const LoadedPlugin& plugin) {
        ClientEvent event = makeEvent(code::kHomeDirectory, "bob");
        plugin.handle(&event);
        return fieldText(event.data);
    };
    LoadedPlugin running;
    EXPECT_EQ(home(running), "/first");
    ASSERT_TRUE(writeConnectionString(other->connectionString()));
    EXPECT_EQ(home(running), "/first");
    LoadedPlugin restarted;
    EXPECT_EQ(home(restarted), "/second");
}

TEST_P(Library, ALongConnectionStringIsReadWhole) {
    insertUser(db_, "bob", "/srv/ftp/bob", "p");
    // Padding pairs the parser ignores, well past 255 characters.
    std::string padded = scratch_->connectionString();
    for (int i = 0; i < 40; ++i)
        padded += ";Persist Security Info=False";
    padded += ";";
    ASSERT_GT(padded.size(), 1100u);
    ASSERT_TRUE(writeConnectionString(padded));
    LoadedPlugin plugin;
    ClientEvent event = makeEvent(code::kPasswordCheck, "bob", "p");
    plugin.handle(&event);
    EXPECT_EQ(event.flag, 1);
}

TEST_P(Library, SixteenThreadsAtOnce) {
    constexpr int kThreads = 16;
    constexpr int kRounds = 25;
    TempDir homes;
    for (int i = 0; i < kThreads; ++i) {
        const std::string name = "user" + std::to_string(i);
        fs::create_directories(homes.path() / name / "sub");
        insertUser(db_, name, (homes.path() / name).string(), "pw" + std::to_string(i));
        exec(db_, "update users set quota_max=1000000, ratio_current_credit=0 where username=" +
                      sqlText(name));
        insertDirRule(db_, name, (homes.path() / name / "sub").string(), "R", 1);
    }
    exec(db_, "insert into blocked_ips (ip) values ('10.6.6.6')");

    LoadedPlugin plugin;
    std::atomic<int> wrong{0};
    std::atomic<bool> go{false};
    auto worker = [&](int i) {
        const std::string name = "USER" + std::to_string(i);
        const std::string password = "pw" + std::to_string(i);
        const std::string home = (homes.path() / ("user" + std::to_string(i))).string();
        const std::string otherHome =
            (homes.path() / ("user" + std::to_string((i + 1) % kThreads))).string();
        auto ask = [&](int32_t code, const std::string& user, const std::string& data, int32_t flag,
                       const char* answer = nullptr) {
            ClientEvent event = makeEvent(code, user, data);
            if (plugin.handle(&event) != 1 || event.flag != flag ||
                (answer != nullptr && fieldText(event.data) != answer)) {
                ++wrong;
            }
        };
        while (!go.load())
            std::this_thread::yield();
        for (int round = 0; round < kRounds; ++round) {
            ask(code::kAddressAllowed, "", "10.0.0.1", 1);
            ask(code::kAddressAllowed, "", "10.6.6.6", 0);
            ask(code::kPasswordCheck, name, password, 1);
            ask(code::kPasswordCheck, name, password + "x", 0);
            ask(code::kHomeDirectory, name, "", 1, home.c_str());
            ask(code::kListDirectory, name, home, 1);
            ask(code::kListDirectory, name, home + "/sub", 0);
            ask(code::kListDirectory, name, otherHome, 0);
            ask(code::kQuotaCurrent, name, "-1", 1);
            ask(code::kRatioCredit, name, "1", 1);
            ask(code::kMaxConcurrent, name, "", 1, "1");
        }
    };
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back(worker, i);
    go = true;
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);

    // Every read-modify-write of every thread landed.
    for (int i = 0; i < kThreads; ++i) {
        auto rs = db_.query(
            "select quota_current, ratio_current_credit from users where "
            "username='user" +
            std::to_string(i) + "'");
        ASSERT_TRUE(rs && !rs->eof()) << db_.lastError();
        EXPECT_EQ(rs->number("quota_current"), kRounds) << i;
        EXPECT_EQ(rs->number("ratio_current_credit"), kRounds) << i;
    }
}

KESTRIX_ON_BOTH_ENGINES(Library);

}  // namespace
}  // namespace kestrix::plugin::test
