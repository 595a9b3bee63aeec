// Random records through the built library's entry point: random codes,
// user names, data and addresses, fields without their NUL, numbers at the
// ends of their range, paths through links and out of homes. The record
// count is bounded (KESTRIX_FUZZ_RECORDS, default 1500 per engine) and the
// seed fixed unless KESTRIX_FUZZ_SEED names one. Under the sanitizers
// (tools/sanitizer-tests) any memory fault, leak or undefined behaviour
// fails the run; here the record's bounds and the stored values are checked.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "core/schema.h"
#include "core/settings.h"
#include "core/sql_literal.h"
#include "core/unicode_text.h"
#include "tests/plugin/loaded_plugin.h"
#include "tests/plugin/plugin_support.h"
#include "tests/support/older_schema.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

// More characters than any column holds: a value that is not UTF-8.
constexpr std::size_t kNoFit = 100000;

unsigned long environmentNumber(const char* name, unsigned long fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? std::strtoul(value, nullptr, 10) : fallback;
}

class Generator {
  public:
    Generator(unsigned long seed, std::string home) : random_(seed), home_(std::move(home)) {}

    int32_t code() {
        if (pick(10) == 0) return static_cast<int32_t>(random_());
        return static_cast<int32_t>(pick(46)) - 3;
    }
    std::string user() {
        static const char* const kNames[] = {
            "bob", "BOB",           "Bob",    "quinn", "\xef\xbd\x88",
            "",    "hen\xc2\xadry", "o'hara", "*",     "nobody"};
        return pick(4) == 0 ? bytes(48) : kNames[pick(std::size(kNames))];
    }
    std::string data() {
        switch (pick(6)) {
            case 0:
                return std::to_string(static_cast<long long>(random_() << 32 | random_()));
            case 1: {
                static const char* const kNumbers[] = {
                    "0",   "-1", "1e308",      "-1e308", "nan", "inf",
                    "+50", " 7", "2147483647", "1.5",    "-0",  "99999999999999999999"};
                return kNumbers[pick(std::size(kNumbers))];
            }
            case 2:
            case 3: {
                static const char* const kParts[] = {"",          "/out",        "/out/x",
                                                     "/sub",      "/sub/f.txt",  "/../..",
                                                     "/dangling", "/new/deeper", "/."};
                return home_ + kParts[pick(std::size(kParts))];
            }
            case 4:
                return "relative/" + bytes(8);
            default:
                return bytes(520);
        }
    }
    std::string bytes(std::size_t most) {
        std::string text(pick(most + 1), '\0');
        for (char& c : text)
            c = static_cast<char>(pick(255) + 1);
        return text;
    }
    std::size_t pick(std::size_t below) { return random_() % below; }

  private:
    std::mt19937 random_;
    std::string home_;
};

template <std::size_t N>
void fill(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N));
}

class Fuzz : public ::testing::TestWithParam<Engine> {};

TEST_P(Fuzz, RandomRecordsStayInsideTheirFieldsAndTheStoredLimits) {
    auto scratch = kestrix::test::makeScratchDatabase(GetParam());
    Database db;
    ASSERT_TRUE(db.open(scratch->connectionString())) << db.lastError();
    TempDir files;
    const fs::path home = fs::canonical(files.path()) / "bob";
    fs::create_directories(home / "sub");
    fs::create_directories(files.path() / "elsewhere");
    fs::create_directory_symlink(files.path() / "elsewhere", home / "out");
    fs::create_symlink(files.path() / "missing", home / "dangling");
    // "bob" and "Bob" both stored, as a database made before names were
    // unique may hold them.
    kestrix::test::dropOwnerKeys(db);
    exec(db, "drop index users_username_idx");
    for (const char* name : {"bob", "Bob", "quinn"}) {
        insertUser(db, name, home.string(), "secret");
        insertDirRule(db, name, (home / "sub").string(), "RL", 1);
        insertDirRule(db, name, (files.path() / "elsewhere").string(), "RWLCD", 1);
    }
    exec(db,
         "update users set use_quota=1, quota_max=1000, quota_current=500, "
         "ratio_current_credit=10, ratio_type='BytesOverall', ratio_up=1, ratio_down=2");
    exec(db, "update users set quota_current=null where username='quinn'");
    exec(db, "insert into blocked_ips (ip) values ('10.0.0.1')");
    exec(db, "insert into ratio_free_files (username, filename) values ('*', " +
                 sqlText((home / "sub" / "f.txt").string()) + ")");

    kestrix::test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString(scratch->connectionString()));
    LoadedPlugin plugin;
    const unsigned long seed = environmentNumber("KESTRIX_FUZZ_SEED", 9);
    const unsigned long records = environmentNumber("KESTRIX_FUZZ_RECORDS", 1500);
    Generator generate(seed, home.string());
    // The library reads this database: a known login passes.
    ClientEvent login = makeEvent(code::kPasswordCheck, "bob", "secret");
    ASSERT_EQ(plugin.handle(&login), 1);
    ASSERT_EQ(login.flag, 1);
    int faults = 0;
    unsigned long granted = 0;
    for (unsigned long i = 0; i < records && faults < 10; ++i) {
        ClientEvent event;
        std::memset(&event, 0, sizeof event);
        event.code = generate.code();
        event.flag = static_cast<int32_t>(generate.pick(3));
        fill(event.userName, generate.user());
        fill(event.data, generate.data());
        fill(event.address, generate.pick(2) == 0 ? "10.0.0.1" : generate.bytes(70));
        const ClientEvent before = event;
        const int result = plugin.handle(&event);
        const bool answered = result == 1;
        if (answered && event.flag == 1) ++granted;
        const bool renames =
            event.code == code::kPasswordCheck || event.code == code::kPasswordCheckToo;
        // Only the flag, the data and (after a password check) the name are
        // answers; the rest of the record is the server's.
        const bool kept =
            event.code == before.code &&
            std::memcmp(event.address, before.address, sizeof event.address) == 0 &&
            (renames || std::memcmp(event.userName, before.userName, sizeof event.userName) == 0) &&
            (answered || std::memcmp(&event, &before, sizeof event) == 0);
        if ((result != 0 && result != 1) || !kept ||
            (answered && event.flag != 0 && event.flag != 1 && event.flag != before.flag)) {
            ADD_FAILURE() << "record " << i << " (seed " << seed << ", code " << before.code
                          << ") answered out of its fields";
            ++faults;
        }
    }

    // Enough records reached the database to say something.
    EXPECT_GT(granted, records / 20);

    // Whatever came in, the stored values stay within what the columns mean.
    auto rs = db.query("select username, quota_current, quota_max, password from users");
    ASSERT_TRUE(rs) << db.lastError();
    for (; !rs->eof(); rs->moveNext()) {
        const auto current = rs->number("quota_current");
        if (current) {
            EXPECT_GE(*current, 0) << rs->text("username");
            EXPECT_LE(*current, *rs->number("quota_max")) << rs->text("username");
        }
        // Within the column's characters, in UTF-8.
        EXPECT_LE(utf8Length(rs->text("password")).value_or(kNoFit),
                  columnCharacters("users", "password"))
            << rs->text("username");
    }
}

KESTRIX_ON_BOTH_ENGINES(Fuzz);

}  // namespace
}  // namespace kestrix::plugin::test
