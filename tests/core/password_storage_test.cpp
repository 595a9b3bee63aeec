// Password hashes at rest, the column they need, and the files that carry
// secrets.
#include <crypt.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

#include "core/connection_string.h"
#include "core/database.h"
#include "core/password_storage.h"
#include "core/private_files.h"
#include "core/schema.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "core/stored_password.h"
#include "tests/support/older_schema.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

using test::TempDir;

std::string sha512Crypt(const std::string& password) {
    char* setting = crypt_gensalt_ra("$6$", 0, nullptr, 0);
    EXPECT_NE(setting, nullptr);
    auto data = std::make_unique<crypt_data>();
    const std::string hash = crypt_r(password.c_str(), setting, data.get());
    std::free(setting);
    return "{CRYPT}" + hash;
}

mode_t modeOf(const std::filesystem::path& file) {
    struct stat info {};
    EXPECT_EQ(::stat(file.c_str(), &info), 0) << file;
    return info.st_mode & 0777;
}

TEST(PasswordHash, FreshHashesAreSaltedYescryptAndVerifyOnlyTheirPassword) {
    const auto first = hashPassword("pässword 1");
    const auto second = hashPassword("pässword 1");
    ASSERT_TRUE(first && second);
    EXPECT_TRUE(first->starts_with("{CRYPT}$y$")) << *first;
    EXPECT_EQ(first->size(), hashedPasswordCharacters());
    EXPECT_NE(*first, *second);  // salted
    EXPECT_EQ(storedPasswordForm(*first), PasswordForm::SlowCrypt);
    EXPECT_FALSE(isWeakPasswordForm(*first));
    EXPECT_TRUE(passwordMatches(*first, "pässword 1"));
    EXPECT_TRUE(passwordMatches(*second, "pässword 1"));
    EXPECT_FALSE(passwordMatches(*first, "pässword 2"));
    EXPECT_FALSE(passwordMatches(*first, "pässword"));
    EXPECT_FALSE(passwordMatches(*first, std::string("pässword 1\0x", 13)));
    // The tag alone or a hash cut short never matches.
    EXPECT_FALSE(passwordMatches("{CRYPT}$y$", ""));
    EXPECT_FALSE(passwordMatches(first->substr(0, first->size() - 1), "pässword 1"));

    const std::string sha = sha512Crypt("other");
    EXPECT_EQ(storedPasswordForm(sha), PasswordForm::SlowCrypt);
    EXPECT_TRUE(passwordMatches(sha, "other"));
    EXPECT_FALSE(passwordMatches(sha, "Other"));
    // Any hash but the current one is replaced at the next good login.
    EXPECT_TRUE(isWeakPasswordForm(sha));

    for (const char* weak :
         {"plain", "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46", "{CRYPT}xYSVpu6KN/ldI"}) {
        SCOPED_TRACE(weak);
        EXPECT_TRUE(isWeakPasswordForm(weak));
    }
    EXPECT_TRUE(equalInConstantTime("same", "same"));
    EXPECT_FALSE(equalInConstantTime("same", "Same"));
    EXPECT_FALSE(equalInConstantTime("same", "same "));
    EXPECT_FALSE(equalInConstantTime("", "x"));
}

TEST(PasswordHash, TheStoredFormFollowsTheColumnWidth) {
    const auto narrow = passwordToStore("secret", 50);
    ASSERT_TRUE(narrow);
    EXPECT_FALSE(narrow->hashed);
    EXPECT_EQ(narrow->text, "secret");
    const auto wide = passwordToStore("secret", passwordColumnTarget());
    ASSERT_TRUE(wide);
    EXPECT_TRUE(wide->hashed);
    EXPECT_TRUE(passwordMatches(wide->text, "secret"));
    EXPECT_GE(passwordColumnTarget(), hashedPasswordCharacters());
}

TEST(ConnectionStringMask, PasswordsAreMaskedAndComeBackUnderTheMask) {
    const std::string text =
        "Provider=PostgreSQL;Data Source=db:5432;Initial Catalog=ftp;User ID=ftp;"
        "Password=\"s;e\"\"cret\";Integrated Security=no";
    const std::string masked = maskedConnectionString(text);
    EXPECT_EQ(masked,
              "Provider=PostgreSQL;Data Source=db:5432;Initial Catalog=ftp;User ID=ftp;"
              "Password=***;Integrated Security=no");
    EXPECT_EQ(maskedConnectionString("Provider=SQLite;Data Source=/x.db"),
              "Provider=SQLite;Data Source=/x.db");
    EXPECT_EQ(maskedConnectionString("pwd = abc ;User ID=u"), "pwd =***;User ID=u");

    // Unedited, the text comes back as it was written.
    EXPECT_EQ(unmaskedConnectionString(masked, text), text);
    EXPECT_EQ(unmaskedConnectionString("User ID=u;Password=***", "Password=plain ;User ID=u"),
              "User ID=u;Password=plain ");
    // Edited under the mask: the real password again, the edit kept.
    const std::string edited = unmaskedConnectionString(
        "Provider=PostgreSQL;Data Source=other;Initial Catalog=ftp;User ID=ftp;Password=***", text);
    const auto target = parseConnectionString(edited).target;
    ASSERT_TRUE(target);
    EXPECT_EQ(target->host, "other");
    EXPECT_EQ(target->password, "s;e\"cret");
    // A password typed in place of the mask is the new one.
    EXPECT_EQ(unmaskedConnectionString("User ID=ftp;Password=new", text),
              "User ID=ftp;Password=new");
}

class PasswordColumn : public ::testing::TestWithParam<Engine> {
  protected:
    void SetUp() override {
        scratch_ = test::makeScratchDatabase(GetParam());
        ASSERT_TRUE(db_.open(scratch_->connectionString()));
    }
    // The users table as the old schema made it: a 50-wide password.
    void narrowColumn() {
        for (std::string statement : dialectFor(GetParam()).schemaStatements()) {
            const auto at = statement.find("password VARCHAR(255)");
            if (at == std::string::npos) continue;
            statement.replace(at, 21, "password VARCHAR(50)");
            kestrix::test::dropOwnerKeys(db_);
            ASSERT_TRUE(db_.execute("drop table users")) << db_.lastError();
            ASSERT_TRUE(db_.execute(statement)) << db_.lastError();
            return;
        }
        FAIL() << "no users table with a 255-wide password";
    }
    void addUser(const std::string& name, const std::optional<std::string>& password) {
        ASSERT_TRUE(
            db_.executeBound("insert into users (username, homedir, password, max_concurrent, "
                             "max_logins_per_ip) values (:v1, '/srv', :v2, 1, 1)",
                             {name, password}))
            << db_.lastError();
    }
    std::string passwordOf(const std::string& name) {
        auto rows = db_.queryBound("select password from users where username=:v1", {name});
        EXPECT_TRUE(rows && !rows->eof());
        return rows ? rows->text("password") : std::string();
    }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    Database db_;
};

TEST_P(PasswordColumn, NewDatabasesTakeHashesAndAnUpgradeWidensAndHashesOldOnes) {
    EXPECT_EQ(passwordColumnWidth(db_), passwordColumnTarget());
    narrowColumn();
    EXPECT_EQ(passwordColumnWidth(db_), 50u);
    const std::string sha = sha512Crypt("sha");
    addUser("plain1", "first secret");
    addUser("Plain2", "it's");
    addUser("md5", "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    addUser("des", "{CRYPT}xYSVpu6KN/ldI");
    addUser("none", std::nullopt);
    addUser("empty", "");

    // Without --hash-passwords: the column only.
    const PasswordUpgrade widened = upgradePasswordColumn(db_, false);
    EXPECT_EQ(widened.failure, "");
    EXPECT_TRUE(widened.widened);
    EXPECT_EQ(widened.widthBefore, 50u);
    EXPECT_EQ(widened.hashed, 0u);
    EXPECT_EQ(passwordColumnWidth(db_), passwordColumnTarget());
    EXPECT_EQ(passwordOf("plain1"), "first secret");
    // A hash fits now; the table kept its rows.
    addUser("sha", sha);
    EXPECT_EQ(passwordOf("sha"), sha);

    const PasswordUpgrade hashed = upgradePasswordColumn(db_, true);
    EXPECT_EQ(hashed.failure, "");
    EXPECT_FALSE(hashed.widened);
    EXPECT_EQ(hashed.hashed, 2u);
    EXPECT_EQ(hashed.strong, 0u);
    EXPECT_EQ(hashed.olderHashes, 3u);  // {SMD5}, DES and SHA-crypt
    EXPECT_EQ(hashed.empty, 2u);
    EXPECT_TRUE(passwordOf("plain1").starts_with("{CRYPT}$y$"));
    EXPECT_TRUE(passwordMatches(passwordOf("plain1"), "first secret"));
    EXPECT_TRUE(passwordMatches(passwordOf("Plain2"), "it's"));
    EXPECT_EQ(passwordOf("md5"), "{SMD5}cb8EA58F0751BAA5AF391253F7DADD3D46");
    EXPECT_EQ(passwordOf("sha"), sha);

    // Again: nothing left to do.
    const PasswordUpgrade again = upgradePasswordColumn(db_, true);
    EXPECT_EQ(again.failure, "");
    EXPECT_EQ(again.hashed, 0u);
    EXPECT_EQ(again.strong, 2u);
}

TEST_P(PasswordColumn, ANarrowColumnKeepsPlainTextAndSaysSoOnce) {
    narrowColumn();
    std::vector<std::string> said;
    forgetClearTextNotice();
    setClearTextNoticeHandler([&said](const std::string& text) { said.push_back(text); });
    const auto first = passwordToStore(db_, "secret");
    const auto second = passwordToStore(db_, "other");
    setClearTextNoticeHandler(nullptr);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->text, "secret");
    EXPECT_EQ(second->text, "other");
    // Once per run of the program (and database).
    EXPECT_EQ(said, std::vector<std::string>{"Passwords are stored in clear text in this "
                                             "database: run kestrix db upgrade --hash-passwords"});
}

std::string engineParamName(const ::testing::TestParamInfo<Engine>& info) {
    return test::engineName(info.param);
}

INSTANTIATE_TEST_SUITE_P(Engines, PasswordColumn,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL), engineParamName);

TEST(PrivateFiles, DatabaseFilesAndTheConnectionStringAreTheOwnersAlone) {
    TempDir dir;
    test::ScopedRegistry registry;
    // Whatever the umask lets through.
    const mode_t old = ::umask(0);
    const auto database = dir.path() / "servu.db";
    std::string error;
    const bool created = createSqliteDatabaseFile(database, &error);
    const WriteResult stored =
        writeConnectionString("Provider=SQLite;Data Source=" + database.string());
    ::umask(old);
    ASSERT_TRUE(created) << error;
    ASSERT_TRUE(stored) << stored.error();
    const mode_t expected = privateAccess(PrivateKind::Database).mode;
    EXPECT_EQ(modeOf(database), expected);
    // The group kestrix, where there is one, writes the database and only
    // reads the connection string.
    EXPECT_EQ(expected, privateAccess().owner ? 0660 : 0600);
    const auto storeFile = SettingsStore::fromEnvironment().valueFile(kConnectionStringKey, {});
    EXPECT_EQ(modeOf(storeFile), privateAccess().mode);
    EXPECT_FALSE(readableByEveryone(database));
    EXPECT_TRUE(startupSecurityNotices().empty());

    // Opened up, both are named at start-up.
    ASSERT_EQ(::chmod(database.c_str(), 0644), 0);
    ASSERT_EQ(::chmod(storeFile.c_str(), 0644), 0);
    EXPECT_TRUE(readableByEveryone(database));
    const auto notices = startupSecurityNotices();
    ASSERT_EQ(notices.size(), 2u);
    EXPECT_NE(notices[0].find(storeFile.string()), std::string::npos) << notices[0];
    EXPECT_NE(notices[1].find(database.string()), std::string::npos) << notices[1];
    EXPECT_TRUE(makePrivate(database, PrivateKind::Database));
    EXPECT_EQ(modeOf(database), expected);
}

}  // namespace
}  // namespace kestrix
