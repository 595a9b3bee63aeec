// One account, one identity: the password check hands back the stored name,
// invisible characters never log in, and the password change touches the
// one account that logged in.
#include <gtest/gtest.h>

#include "core/sql_literal.h"
#include "core/stored_password.h"
#include "tests/plugin/plugin_support.h"
#include "tests/support/older_schema.h"

namespace kestrix::plugin::test {
namespace {

class Identity : public EventTest {};

TEST_P(Identity, EverySpellingOfANameLogsInAsTheStoredNameLowerCased) {
    insertUser(db_, "Henry", "/srv/ftp/henry", "Secret");
    for (const char* typed : {"henry", "HENRY", "hEnRy"}) {
        auto reply = send(code::kPasswordCheck, typed, "Secret");
        EXPECT_EQ(reply.flag(), 1) << typed;
        EXPECT_EQ(reply.user(), "henry") << typed;
    }
    // Full-width letters: the PostgreSQL collation takes them for the
    // name, SQLite's does not; either way never a second identity.
    auto wide = send(code::kPasswordCheckToo,
                     "\xef\xbd\x88\xef\xbd\x85\xef\xbd\x8e\xef\xbd\x92\xef\xbd\x99", "Secret");
    if (GetParam() == Engine::PostgreSQL) {
        EXPECT_EQ(wide.flag(), 1);
        EXPECT_EQ(wide.user(), "henry");
    } else {
        EXPECT_EQ(wide.flag(), 0);
    }
    // Soft hyphen, zero-width space, a control character: never.
    for (const char* hidden : {"hen\xc2\xadry", "hen\xe2\x80\x8bry", "hen\x01ry"}) {
        EXPECT_EQ(send(code::kPasswordCheck, hidden, "Secret").flag(), 0) << hidden;
    }
}

TEST_P(Identity, AStoredNameThatCannotBeAnIdentityNeverLogsIn) {
    // Stored with a zero-width space: whoever typed what, no login.
    insertUser(db_, "ivy\xe2\x80\x8b", "/srv/ftp/ivy", "Secret");
    EXPECT_EQ(send(code::kPasswordCheck, "ivy\xe2\x80\x8b", "Secret").flag(), 0);
    // A stored name longer than the record's name field: 14 full-width
    // letters are 42 bytes, which the typed ASCII spelling finds on
    // PostgreSQL. Cut short, it would be someone else.
    std::string wide;
    for (int i = 0; i < 14; ++i)
        wide += "\xef\xbd\x8a";  // full-width j
    insertUser(db_, wide, "/srv/ftp/j", "Secret");
    EXPECT_EQ(send(code::kPasswordCheck, std::string(14, 'j'), "Secret").flag(), 0);
    insertUser(db_, "jj", "/srv/ftp/jj", "Secret");
    EXPECT_EQ(send(code::kPasswordCheck, "JJ", "Secret").user(), "jj");
}

TEST_P(Identity, PasswordChangeRefusesWhatTheColumnCannotHoldAndChangesOneAccount) {
    // Stored in the other order than the exact names sort.
    // A database made before names were unique may hold both spellings.
    kestrix::test::dropOwnerKeys(db_);
    exec(db_, "drop index users_username_idx");
    insertUser(db_, "dup", "/srv/ftp/dup", "two");
    insertUser(db_, "Dup", "/srv/ftp/Dup", "one");
    auto password = [&](const char* exactName) {
        auto rs = db_.query("select username, password from users");
        std::string found;
        for (; rs && !rs->eof(); rs->moveNext()) {
            if (rs->text("username") == exactName) found = rs->text("password");
        }
        return found;
    };
    // Of the rows the name finds, the first by the exact name logs in.
    EXPECT_EQ(send(code::kPasswordCheck, "DUP", "one").flag(), 1);
    EXPECT_EQ(send(code::kPasswordCheck, "dup", "two").flag(), 0);
    const std::string who = "Dup";
    const std::string other = "dup";
    const std::string otherPassword = "two";

    const std::string fifty(50, 'p');
    EXPECT_EQ(send(code::kPasswordChange, "dup", fifty + "q").flag(), 0);
    EXPECT_EQ(send(code::kPasswordChange, "dup", "caf\xe9").flag(), 0);  // Latin-1
    EXPECT_EQ(send(code::kPasswordChange, "dup", "\xc3\xa9" + std::string(49, 'x')).flag(), 1);
    EXPECT_TRUE(passwordMatches(password(who.c_str()), "\xc3\xa9" + std::string(49, 'x')));
    EXPECT_EQ(send(code::kPasswordChange, "dup", fifty).flag(), 1);
    EXPECT_TRUE(passwordMatches(password(who.c_str()), fifty));
    EXPECT_EQ(password(other.c_str()), otherPassword);
    EXPECT_EQ(send(code::kPasswordChange, "nobody", "x").flag(), 0);
}

KESTRIX_ON_BOTH_ENGINES(Identity);

}  // namespace
}  // namespace kestrix::plugin::test
