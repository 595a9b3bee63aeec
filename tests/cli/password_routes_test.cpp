// Every route that writes a password stores its hash: each kestrix command,
// the window's Save and New User, and the plug-in's password change.
#include "cli/cli_prompts.h"
#include "core/password_hash.h"
#include "core/stored_password.h"
#include "plugin/client_event.h"
#include "tests/cli/cli_fixture.h"
#include "tests/plugin/loaded_plugin.h"
#include "users/editing/user_save.h"

namespace kestrix::cli::test {
namespace {

class PasswordRoutes : public CliTest {
  protected:
    // The column as stored must be the current hash of the password.
    void expectHashOf(const std::string& user, const std::string& password,
                      const std::string& route) {
        const auto stored =
            rows("SELECT password FROM users WHERE username='" + user + "'", {"password"});
        ASSERT_EQ(stored.size(), 1u) << route;
        EXPECT_TRUE(stored[0][0].starts_with("{CRYPT}$y$")) << route << ": " << stored[0][0];
        EXPECT_TRUE(passwordMatches(stored[0][0], password)) << route;
    }
};

TEST_P(PasswordRoutes, NoRouteStoresAPasswordInClear) {
    const std::string home = dir("ftp/r");
    ASSERT_EQ(runKestrix({"user", "add", "r1", "--password-stdin", "--home", home}, "one\n").status,
              0);
    expectHashOf("r1", "one", "user add");
    ASSERT_EQ(runKestrix({"user", "copy", "r1", "r2", "--password-stdin", "--yes"}, "two\n").status,
              0);
    expectHashOf("r2", "two", "user copy");
    ASSERT_EQ(runKestrix({"user", "passwd", "r1", "--password-stdin"}, "three\n").status, 0);
    expectHashOf("r1", "three", "user passwd");
    Ran ran = runKestrix({"user", "set", "r1", "--password", "four"});
    ASSERT_EQ(ran.status, 0) << ran.err;
    expectHashOf("r1", "four", "user set --password");
    ran = runKestrix({"user", "set", "r1", "--password-stdin", "--notes", "n"}, "five\n");
    ASSERT_EQ(ran.status, 0) << ran.err;
    expectHashOf("r1", "five", "user set --password-stdin");
    ran = runKestrix({"user", "set", "r1", "--password", "x", "--password-stdin"}, "y\n");
    EXPECT_EQ(ran.status, 1);
    expectHashOf("r1", "five", "user set with both");

    // The window's New User and Save, through the logic its buttons call.
    CliPrompts prompts(true);
    ASSERT_EQ(users::saveUser({"r3", home, "six", ""}, {"", EditMode::NewUser, {}}, prompts),
              users::SaveOutcome::Written);
    expectHashOf("r3", "six", "New User");
    ASSERT_EQ(users::saveUser({"r3", home, "seven", ""}, {"r3", EditMode::Stored, {}}, prompts),
              users::SaveOutcome::Written);
    expectHashOf("r3", "seven", "Save");

    // The plug-in's password change, for the account that logged in.
    plugin::test::LoadedPlugin plugin;
    const auto send = [&](int32_t code, const std::string& data) {
        ClientEvent event{};
        event.code = code;
        std::copy_n("r2", 2, event.userName);
        std::copy(data.begin(), data.end(), event.data);
        EXPECT_EQ(plugin.handle(&event), 1);
        return event.flag;
    };
    EXPECT_EQ(send(plugin::code::kPasswordCheck, "two"), 1);
    EXPECT_EQ(send(plugin::code::kPasswordChange, "eight"), 1);
    expectHashOf("r2", "eight", "the plug-in's password change");
}

KESTRIX_CLI_ON_BOTH_ENGINES(PasswordRoutes);

}  // namespace
}  // namespace kestrix::cli::test
