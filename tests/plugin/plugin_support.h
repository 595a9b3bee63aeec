#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "core/database.h"
#include "plugin/client_event.h"
#include "plugin/event_dispatcher.h"
#include "tests/support/scratch.h"

namespace kestrix::plugin::test {

using kestrix::test::TempDir;

// The flag value a record carries in before an event; an answer that leaves
// the flag as the server set it keeps it.
inline constexpr int32_t kServerFlag = 7;

// A record as the server fills it: zeroes, then the code, the preset flag
// and the texts.
ClientEvent makeEvent(int32_t code, std::string_view user = {}, std::string_view data = {},
                      std::string_view address = {});

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

// Runs a statement on the test's own connection; throws on failure.
void exec(Database& db, const std::string& sql);
// A user row with the columns the program writes for a new user.
void insertUser(Database& db, std::string_view name, std::string_view homedir,
                std::string_view password);
// A directory access rule row.
void insertDirRule(Database& db, std::string_view user, std::string_view directory,
                   std::string_view rights, int inherit);

// A clock the test moves by hand.
class ManualClock {
  public:
    std::chrono::steady_clock::time_point now() const { return now_; }
    void advance(std::chrono::milliseconds by) { now_ += by; }
    Clock function() {
        return [this] { return now_; };
    }

  private:
    std::chrono::steady_clock::time_point now_{std::chrono::hours(1000)};
};

// The fixture of the event tests: a scratch database of the engine, a
// temporary directory tree, and a dispatcher that reads the database's
// connection string at its first event.
class EventTest : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override;

    struct Reply {
        int result;
        ClientEvent event;
        int32_t flag() const { return event.flag; }
        std::string data() const { return fieldText(event.data); }
        std::string user() const { return fieldText(event.userName); }
    };
    Reply send(int32_t code, std::string_view user = {}, std::string_view data = {},
               std::string_view address = {});
    // The directory tree path of a relative name.
    std::string path(std::string_view relative) const;

    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
    Database db_;
    TempDir files_;
    ManualClock clock_;
    int connectionStringReads_ = 0;
    std::unique_ptr<EventDispatcher> dispatcher_;
};

std::string engineTestName(const ::testing::TestParamInfo<Engine>& info);

}  // namespace kestrix::plugin::test

#define KESTRIX_ON_BOTH_ENGINES(suite)                                                           \
    INSTANTIATE_TEST_SUITE_P(                                                                    \
        Engines, suite, ::testing::Values(kestrix::Engine::SQLite, kestrix::Engine::PostgreSQL), \
        kestrix::plugin::test::engineTestName)
