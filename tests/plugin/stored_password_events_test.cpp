// The password check against every stored form, the upgrade of weak forms
// on login, and the stored form of a changed password.
#include <crypt.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "core/password_hash.h"
#include "core/schema.h"
#include "core/stored_password.h"
#include "tests/plugin/plugin_support.h"
#include "tests/support/older_schema.h"

namespace kestrix::plugin::test {
namespace {

class StoredPasswordEvents : public EventTest {
  protected:
    std::string stored(const std::string& name) {
        auto rows = db_.queryBound("select password from users where username=:v1", {name});
        EXPECT_TRUE(rows && !rows->eof()) << name;
        return rows && !rows->eof() ? rows->text("password") : std::string();
    }
    // The users table as older databases have it: 50 characters of password.
    void narrowColumn() {
        for (std::string statement : dialectFor(GetParam()).schemaStatements()) {
            const auto at = statement.find("password VARCHAR(255)");
            if (at == std::string::npos) continue;
            statement.replace(at, 21, "password VARCHAR(50)");
            kestrix::test::dropOwnerKeys(db_);
            exec(db_, "drop table users");
            exec(db_, statement);
            return;
        }
        FAIL() << "no users table with a 255-wide password";
    }
};

std::string cryptOf(const char* prefix, const std::string& password) {
    char* setting = crypt_gensalt_ra(prefix, 0, nullptr, 0);
    auto data = std::make_unique<crypt_data>();
    std::string hash = setting ? crypt_r(password.c_str(), setting, data.get()) : "";
    std::free(setting);
    return "{CRYPT}" + hash;
}

TEST_P(StoredPasswordEvents, EveryFormLogsInAndWeakFormsBecomeAHashOnTheFirstGoodLogin) {
    struct Form {
        const char* user;
        std::string stored;
        const char* password;
        bool weak;
    };
    const std::vector<Form> forms = {
        {"yes", *hashPassword("yes pass"), "yes pass", false},
        {"sha", cryptOf("$6$", "sha pass"), "sha pass", true},
        {"md5crypt", cryptOf("$1$", "md5c pass"), "md5c pass", true},
        {"des", "{CRYPT}xYSVpu6KN/ldI", "Old!Pass", true},
        {"md5", "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46", "TestPassword", true},
        {"plain", "plain pass", "plain pass", true},
    };
    for (const Form& f : forms)
        insertUser(db_, f.user, "/srv/ftp/x", f.stored);
    for (const Form& f : forms) {
        SCOPED_TRACE(f.user);
        // A refusal changes nothing.
        EXPECT_EQ(send(code::kPasswordCheck, f.user, "wrong").flag(), 0);
        EXPECT_EQ(stored(f.user), f.stored);
        EXPECT_EQ(send(code::kPasswordCheck, f.user, f.password).flag(), 1);
        const std::string after = stored(f.user);
        if (f.weak) {
            EXPECT_TRUE(after.starts_with("{CRYPT}$y$")) << after;
            EXPECT_TRUE(passwordMatches(after, f.password));
        } else {
            EXPECT_EQ(after, f.stored);
        }
        // Once: the next login finds the hash and leaves it.
        EXPECT_EQ(send(code::kPasswordCheckToo, f.user, f.password).flag(), 1);
        EXPECT_EQ(stored(f.user), after);
        EXPECT_EQ(send(code::kPasswordCheck, f.user, "wrong").flag(), 0);
    }
    EXPECT_EQ(send(code::kPasswordCheck, "missing", "yes pass").flag(), 0);
}

TEST_P(StoredPasswordEvents, AChangedPasswordIsStoredAsAHashWithinItsOwnLimit) {
    insertUser(db_, "carol", "/srv/ftp/carol", "old");
    EXPECT_EQ(send(code::kPasswordChange, "carol", "new one").flag(), 1);
    const std::string hash = stored("carol");
    EXPECT_TRUE(hash.starts_with("{CRYPT}$y$")) << hash;
    EXPECT_EQ(send(code::kPasswordCheck, "carol", "new one").flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "carol", "old").flag(), 0);
    // The password itself keeps its limit of 50 characters.
    EXPECT_EQ(send(code::kPasswordChange, "carol", std::string(51, 'p')).flag(), 0);
    EXPECT_EQ(stored("carol"), hash);
    EXPECT_EQ(send(code::kPasswordChange, "carol", std::string(50, 'p')).flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "carol", std::string(50, 'p')).flag(), 1);
}

TEST_P(StoredPasswordEvents, ANarrowColumnKeepsPlainTextThroughLoginsAndChanges) {
    narrowColumn();
    insertUser(db_, "bob", "/srv/ftp/bob", "secret");
    EXPECT_EQ(send(code::kPasswordCheck, "bob", "secret").flag(), 1);
    EXPECT_EQ(stored("bob"), "secret");
    EXPECT_EQ(send(code::kPasswordChange, "bob", std::string(50, 'q')).flag(), 1);
    EXPECT_EQ(stored("bob"), std::string(50, 'q'));
    EXPECT_EQ(send(code::kPasswordCheck, "bob", std::string(50, 'q')).flag(), 1);
}

KESTRIX_ON_BOTH_ENGINES(StoredPasswordEvents);

}  // namespace
}  // namespace kestrix::plugin::test
