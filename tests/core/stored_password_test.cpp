// Password forms in users.password and their verification.
#include "core/stored_password.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

TEST(StoredPassword, AccountFileValuesAreTaggedByTheirForm) {
    EXPECT_EQ(saltedMd5("cb", "TestPassword"), "cb8EA58F0751BAA5AF391253F7DADD3D46");

    const std::string md5 = storedFromAccountFile("cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(md5, "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(storedPasswordForm(md5), PasswordForm::SaltedMd5);
    EXPECT_LE(md5.size(), 50u);

    const std::string des = storedFromAccountFile("xYSVpu6KN/ldI");
    EXPECT_EQ(des, "{CRYPT}xYSVpu6KN/ldI");
    EXPECT_EQ(storedPasswordForm(des), PasswordForm::DesCrypt);

    // Near misses stay plain text: a wrong length, a non-hex digit, a
    // character crypt never writes, a salt that is not two letters.
    for (const char* plain :
         {"", "secret", "cb8EA58F0751BAA5AF391253F7DADD3D4", "cb8EA58F0751BAA5AF391253F7DADD3D4G",
          "12345678901-3", "1b8EA58F0751BAA5AF391253F7DADD3D46", "{SMD5}short"}) {
        SCOPED_TRACE(plain);
        EXPECT_EQ(storedFromAccountFile(plain), plain);
        EXPECT_EQ(storedPasswordForm(plain), PasswordForm::Plain);
    }
}

TEST(StoredPassword, VerificationFollowsTheStoredForm) {
    const std::string md5 = "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46";
    EXPECT_TRUE(passwordMatches(md5, "TestPassword"));
    EXPECT_TRUE(passwordMatches("{SMD5}cb8ea58f0751baa5af391253f7dadd3d46", "TestPassword"));
    EXPECT_FALSE(passwordMatches(md5, "TestPassworD"));
    EXPECT_FALSE(passwordMatches(md5, ""));
    EXPECT_FALSE(passwordMatches(md5, md5));

    const std::string des = "{CRYPT}xYSVpu6KN/ldI";
    EXPECT_TRUE(passwordMatches(des, "Old!Pass"));
    EXPECT_FALSE(passwordMatches(des, "Old!Pas"));
    EXPECT_FALSE(passwordMatches(des, std::string("Old!Pass\0x", 10)));
    EXPECT_FALSE(passwordMatches("{CRYPT}xYSVpu6KN/ldJ", "Old!Pass"));

    EXPECT_TRUE(passwordMatches("Plain Text", "Plain Text"));
    EXPECT_FALSE(passwordMatches("Plain Text", "plain text"));
}

}  // namespace
}  // namespace kestrix
