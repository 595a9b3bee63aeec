// An account past its expiry or disable date no longer logs in, whether or
// not the daily run has deleted or disabled it yet.
#include <gtest/gtest.h>

#include <chrono>

#include "core/password_hash.h"
#include "core/short_date.h"
#include "plugin/account_store.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

using std::chrono::days;
using std::chrono::sys_days;

std::string dayFromToday(int offset) {
    return formatIsoDate(std::chrono::year_month_day(sys_days(today()) + days(offset)));
}

class AccountDateEvents : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        for (const char* name : {"due", "later"}) {
            insertUser(db_, name, "/srv/" + std::string(name), *hashPassword("pw"));
        }
    }
    void setDate(const char* column, const char* user, int offset) {
        exec(db_, std::string("update users set ") + column + "='" + dayFromToday(offset) +
                      "' where username='" + user + "'");
    }
    int32_t login(const char* user) { return send(code::kPasswordCheck, user, "pw").flag(); }
    int32_t home(const char* user) { return send(code::kHomeDirectory, user).flag(); }
};

TEST_P(AccountDateEvents, ADateThatCameRefusesTheLoginAndTheHome) {
    for (const char* column : {"Expires", "DisableOn"}) {
        SCOPED_TRACE(column);
        setDate(column, "due", 0);
        setDate(column, "later", 1);
        clock_.advance(AccountStore::kRowLifetime);
        EXPECT_EQ(login("due"), 0);
        EXPECT_EQ(home("due"), 0);
        EXPECT_EQ(login("later"), 1);
        EXPECT_EQ(home("later"), 1);
        exec(db_, std::string("update users set ") + column + "=NULL");
    }
    // A text that is not a date is never acted on.
    exec(db_, "update users set Expires='soon' where username='due'");
    clock_.advance(AccountStore::kRowLifetime);
    EXPECT_EQ(login("due"), 1);
}

KESTRIX_ON_BOTH_ENGINES(AccountDateEvents);

}  // namespace
}  // namespace kestrix::plugin::test
