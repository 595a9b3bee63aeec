// The database wizard's create and select steps on real SQLite files and the
// real PostgreSQL test server, answered through the scripted shell.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/activity_log.h"
#include "core/private_files.h"
#include "core/settings.h"
#include "setup/connection_dialog.h"
#include "setup/database_creation.h"
#include "setup/database_template.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

std::string server() {
    return test::pgServer().host + ":" + test::pgServer().port;
}
std::string postgresLogin(const std::string& catalog = "postgres") {
    return "Provider=PostgreSQL;Data Source=" + server() + ";Initial Catalog=" + catalog +
           ";User ID=postgres;Password=unused";
}
std::string readAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}
std::string sqlText(const std::string& text) {
    std::string out = "'";
    for (char c : text)
        out += c == '\'' ? std::string("''") : std::string(1, c);
    return out + "'";
}
bool databaseExists(const std::string& name) {
    return !test::rowsOn(postgresLogin(),
                         "SELECT datname FROM pg_database WHERE datname = " + sqlText(name),
                         {"datname"})
                .empty();
}

// A database with the tables and one user, "keep".
std::unique_ptr<test::ScratchDatabase> databaseWithUserKeep(Engine engine) {
    auto database = test::makeScratchDatabase(engine);
    test::executeOn(database->connectionString(),
                    "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) "
                    "VALUES ('keep', '/srv', 0, 0)");
    return database;
}

class DatabaseCreationTest : public test::ShellFixture {
  protected:
    void TearDown() override {
        for (const std::string& name : made_) {
            test::executeOn(postgresLogin(),
                            "DROP DATABASE IF EXISTS \"" + name + "\" WITH (FORCE)");
        }
        test::ShellFixture::TearDown();
    }
    // The wizard as the window sets it up; for a refused login the
    // connection dialog gives the test server's own login.
    DatabaseCreation creation() {
        CreationLinks links;
        links.askLogin = [this](const std::string& asked) -> std::optional<std::string> {
            loginAskedFor_.push_back(asked);
            return "Provider=PostgreSQL;Data Source=" + asked + ";User ID=postgres;Password=unused";
        };
        links.startDirectory = dir_.path().string();
        return DatabaseCreation(links);
    }
    std::string logSince(std::size_t from) const { return wizardLog().text().substr(from); }

    test::TempDir dir_;
    std::vector<std::string> made_;
    std::vector<std::string> loginAskedFor_;
};

TEST_F(DatabaseCreationTest, NameWithDashAndBlankIsCleanedAndCreatedWithAllTables_Postgres) {
    made_.push_back("kxwizardclean");
    inputs_.type(server());
    inputs_.type("kx-wizard clean");
    boxes_.answer(Answer::No);  // retype? No: offered without them
    boxes_.answer(Answer::No);  // not this name: asked again
    inputs_.type("kx-wizard clean");
    boxes_.answer(Answer::No);
    boxes_.answer(Answer::Yes);

    const auto stored = creation().create(true);

    ASSERT_TRUE(stored.has_value());
    // This computer's login: the test server has a role for it.
    const std::string expected =
        "Provider=PostgreSQL;Integrated Security=SSPI;Persist Security Info=False;Data Source=" +
        server() + ";Initial Catalog=kxwizardclean;";
    EXPECT_EQ(*stored, expected);
    EXPECT_EQ(readConnectionString(), "");  // the configuration commit stores it
    EXPECT_TRUE(loginAskedFor_.empty());
    ASSERT_EQ(inputs_.shown().size(), 3u);
    EXPECT_EQ(inputs_.shown()[0].defaultText, "LOCALHOST");
    EXPECT_EQ(inputs_.shown()[1].defaultText, inputs_.shown()[2].defaultText);
    EXPECT_NE(boxes_.shown()[1].text.find("\"kxwizardclean\""), std::string::npos);
    EXPECT_EQ(boxes_.shown()[1].buttons, MessageButtons::YesNoCancel);
    const auto tables = test::rowsOn(
        *stored,
        "SELECT table_name FROM information_schema.tables WHERE table_schema = 'public' "
        "ORDER BY table_name",
        {"table_name"});
    // The eight user tables and the sessions of every host.
    EXPECT_EQ(tables.size(), 9u);
}

TEST_F(DatabaseCreationTest, NameWithQuoteAndSemicolonReachesTheServerExactly_Postgres) {
    made_.push_back("kx\"\"odd;DROPx");
    inputs_.type(server());
    inputs_.type("kx\"odd;DROP x");
    boxes_.answer(Answer::No);
    boxes_.answer(Answer::Yes);  // blank removed: kx"odd;DROPx

    const auto stored = creation().create(true);

    ASSERT_TRUE(stored.has_value());
    EXPECT_TRUE(databaseExists("kx\"odd;DROPx"));
    EXPECT_NE(stored->find("Initial Catalog=\"kx\"\"odd;DROPx\";"), std::string::npos) << *stored;
    // The stored string names that database: its tables are there.
    EXPECT_TRUE(test::rowsOn(*stored, "SELECT username FROM users", {"username"}).empty());
}

TEST_F(DatabaseCreationTest, ExistingNameEndsWithTheMessageAndDropsNothing_Postgres) {
    auto existing = databaseWithUserKeep(Engine::PostgreSQL);
    const std::string name = parseConnectionString(existing->connectionString()).target->database;
    inputs_.type(server());
    inputs_.type(name);
    boxes_.answer(Answer::OK);

    EXPECT_FALSE(creation().create(true).has_value());

    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].caption, "Error: Commands Failed");
    EXPECT_EQ(boxes_.shown()[0].icon, MessageIcon::Critical);
    EXPECT_TRUE(databaseExists(name));
    EXPECT_EQ(
        test::rowsOn(existing->connectionString(), "SELECT username FROM users", {"username"}),
        (test::Rows{{std::string("keep")}}));
    EXPECT_EQ(readConnectionString(), "");
}

TEST_F(DatabaseCreationTest, RefusedConnectionIsReportedAtOnce_Postgres) {
    inputs_.type("127.0.0.1:1");  // nothing listens there
    inputs_.type("kxnever");
    boxes_.answer(Answer::OK);
    const std::size_t logStart = wizardLog().text().size();
    EXPECT_FALSE(creation().create(true).has_value());
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].caption, "Error: Database unreachable");
    EXPECT_EQ(boxes_.shown()[0].text,
              "There was an error while connecting to your database. \r\nPlease Try again");
    EXPECT_NE(logSince(logStart).find("refused"), std::string::npos) << logSince(logStart);
    EXPECT_TRUE(loginAskedFor_.empty());
    EXPECT_FALSE(databaseExists("kxnever"));
}

TEST_F(DatabaseCreationTest, CancelledNameEndsWithNothingMade_Postgres) {
    inputs_.type(server());
    inputs_.type(std::nullopt);
    EXPECT_FALSE(creation().create(true).has_value());
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(readConnectionString(), "");
}

TEST_F(DatabaseCreationTest, NewFileIsTheTemplateAndIsStored_SQLite) {
    const fs::path file = dir_.path() / "fresh.DB";
    files_.pick(" " + file.string() + " ");

    const auto stored = creation().create(false);

    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored,
              "Provider=SQLite;Data Source=" + file.string() + ";Persist Security Info=False");
    EXPECT_EQ(readConnectionString(), "");  // the configuration commit stores it
    EXPECT_EQ(readAll(file), templateDatabaseBytes());
    // Its owner's alone (with the group kestrix, which writes it, where
    // there is one).
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              static_cast<fs::perms>(privateAccess(PrivateKind::Database).mode));
    ASSERT_EQ(files_.requests().size(), 1u);
    EXPECT_TRUE(files_.saving()[0]);
    EXPECT_EQ(files_.requests()[0], (FileRequest{"Save SQLite Database", "SQLite DB (*.db)",
                                                 "servu.db", dir_.path().string()}));
}

TEST_F(DatabaseCreationTest, FileHoldingUsersIsNeverReplaced_SQLite) {
    auto existing = databaseWithUserKeep(Engine::SQLite);
    const std::string path = parseConnectionString(existing->connectionString()).target->path;
    const std::string before = readAll(path);
    files_.pick(path);
    boxes_.answer(Answer::OK);

    EXPECT_FALSE(creation().create(false).has_value());

    EXPECT_NE(boxes_.shown()[0].text.find("already holds users"), std::string::npos);
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(readConnectionString(), "");
}

TEST_F(DatabaseCreationTest, OtherExtensionIsRefused_SQLite) {
    files_.pick((dir_.path() / "users.sqlite").string());
    boxes_.answer(Answer::OK);
    EXPECT_FALSE(creation().create(false).has_value());
    EXPECT_EQ(boxes_.shown()[0].text, "The database file \"" +
                                          (dir_.path() / "users.sqlite").string() +
                                          "\" was not created: its name must end in \".db\"."
                                          "\r\nPlease choose the file again.");
    EXPECT_FALSE(fs::exists(dir_.path() / "users.sqlite"));
}

TEST_F(DatabaseCreationTest, UsersAreCopiedFromTheFileToTheNewServerDatabase_SQLite_Postgres) {
    auto old = test::makeScratchDatabase(Engine::SQLite);
    test::executeOn(old->connectionString(),
                    "INSERT INTO users (username, homedir, password, ratio_current_credit, "
                    "quota_max, max_concurrent, max_logins_per_ip, Expires) VALUES "
                    "('ann', '/srv/ann', 'pw''1', 2.5, 1048576, 1, 2, '12/31/2030')");
    test::executeOn(old->connectionString(),
                    "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) "
                    "VALUES ('bob', '/srv/bob', 0, 0)");
    // Short dates of an earlier version: one that reads one way only, one
    // that reads two ways (12 October or 10 December).
    test::executeOn(old->connectionString(),
                    "INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, "
                    "Expires, DisableOn) VALUES ('cy', '/srv/cy', 0, 0, '12/10/2030', "
                    "'24.12.2030')");
    test::executeOn(old->connectionString(),
                    "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                    "VALUES ('ann', '/srv/ann', 'RWAMLCDP', 1)");
    test::executeOn(old->connectionString(), "INSERT INTO blocked_ips (ip) VALUES ('10.0.0.1')");
    configureStore(old->connectionString());
    const std::string before = readAll(parseConnectionString(old->connectionString()).target->path);
    made_.push_back("kxwizardcopy");
    // A server text with a login of its own that the server has no role for.
    inputs_.type(server() + ";Integrated Security=false;User ID=kx_no_such_role");
    inputs_.type("kxwizardcopy");
    boxes_.answer(Answer::Yes);
    boxes_.answer(Answer::OK);
    const std::size_t logStart = wizardLog().text().size();

    const auto stored = creation().create(true);

    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(loginAskedFor_, std::vector<std::string>{server()});
    EXPECT_EQ(*stored, "Provider=PostgreSQL;Data Source=" + server() +
                           ";User ID=postgres;Password=unused;Initial Catalog=kxwizardcopy;");
    EXPECT_EQ(boxes_.shown()[0].text, "Copy the users of the current database into the new one?");
    const std::string log = logSince(logStart);
    EXPECT_NE(log.find("kx_no_such_role"), std::string::npos) << log;
    EXPECT_NE(log.find("users: 3 rows copied"), std::string::npos) << log;
    EXPECT_NE(log.find("dir_rights: 1 rows copied"), std::string::npos) << log;
    EXPECT_NE(log.find("blocked_ips: 1 rows copied"), std::string::npos) << log;
    EXPECT_EQ(test::rowsOn(*stored,
                           "SELECT username, password, ratio_current_credit, quota_max, Expires, "
                           "DisableOn FROM users ORDER BY username",
                           {"username", "password", "ratio_current_credit", "quota_max", "expires",
                            "disableon"}),
              (test::Rows{{std::string("ann"), std::string("pw'1"), std::string("2.5"),
                           std::string("1048576"), std::string("2030-12-31"), std::nullopt},
                          {std::string("bob"), std::nullopt, std::nullopt, std::nullopt,
                           std::nullopt, std::nullopt},
                          {std::string("cy"), std::nullopt, std::nullopt, std::nullopt,
                           std::string("12/10/2030"), std::string("2030-12-24")}}));
    // The one left as it was is told, with both readings, never guessed.
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1].text,
              "These account dates could be read more than one way (or not at all), so they "
              "were copied as they stood. Set each of them again:\r\n"
              "cy Expires \"12/10/2030\": could be 2030-12-10 or 2030-10-12 (kestrix user set "
              "cy --expires YYYY-MM-DD)");
    EXPECT_NE(log.find("date copied as it stood: cy Expires"), std::string::npos) << log;
    EXPECT_EQ(readAll(parseConnectionString(old->connectionString()).target->path), before);
    EXPECT_EQ(readConnectionString(), old->connectionString());
}

TEST_F(DatabaseCreationTest, SelectExistingFileStoresOnlyAUserDatabase_SQLite) {
    files_.pick(std::nullopt);
    EXPECT_FALSE(creation().selectExistingFile().has_value());
    EXPECT_EQ(readConnectionString(), "");

    const fs::path junk = dir_.path() / "notes.db";
    std::ofstream(junk) << "not a database";
    files_.pick(junk.string());
    boxes_.answer(Answer::OK);
    EXPECT_FALSE(creation().selectExistingFile().has_value());
    EXPECT_EQ(readConnectionString(), "");

    auto existing = test::makeScratchDatabase(Engine::SQLite);
    const std::string path = parseConnectionString(existing->connectionString()).target->path;
    const std::string before = readAll(path);
    files_.pick(path);
    const auto stored = creation().selectExistingFile();
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(*stored, "Provider=SQLite;Data Source=" + path + ";Persist Security Info=False");
    EXPECT_EQ(readConnectionString(), "");  // the configuration commit stores it
    EXPECT_EQ(readAll(path), before);
}

TEST(DatabaseCreationStrings, CatalogIsAddedOrReplacedAndQuotedWhenNeeded) {
    EXPECT_EQ(withInitialCatalog("Provider=PostgreSQL;Data Source=h", "db"),
              "Provider=PostgreSQL;Data Source=h;Initial Catalog=db;");
    EXPECT_EQ(withInitialCatalog("Provider=PostgreSQL;Data Source=h; ", "db"),
              "Provider=PostgreSQL;Data Source=h; Initial Catalog=db;");
    EXPECT_EQ(withInitialCatalog("Provider=PostgreSQL;initial catalog=old;User ID=u", "new"),
              "Provider=PostgreSQL;initial catalog=new;User ID=u");
    const std::string odd = withInitialCatalog("Provider=PostgreSQL;Data Source=h", "a\";b");
    EXPECT_EQ(parseConnectionString(odd).target->database, "a\";b");
    EXPECT_EQ(withoutSpacesAndDashes(" a-b c- "), "abc");
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST_F(DatabaseCreationTest, ConnectionDialogBuildsAndTestsTheConnectionString_Postgres) {
    ConnectionDialog dialog;
    dialog.setServer(server());
    dialog.setDatabase("postgres");
    dialog.findChild<QLineEdit*>("txtUser")->setText("postgres");
    dialog.findChild<QLineEdit*>("txtPassword")->setText("a;b");
    const auto text = dialog.connectionString();
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, "Provider=PostgreSQL;Data Source=" + server() +
                         ";Initial Catalog=postgres;User ID=postgres;Password=\"a;b\"");
    EXPECT_EQ(parseConnectionString(*text).target->password, "a;b");
    boxes_.answer(Answer::OK);
    QTest::mouseClick(dialog.findChild<QPushButton*>("cmdTest"), Qt::LeftButton);
    EXPECT_EQ(boxes_.shown().back().text, "Test connection succeeded.");

    dialog.findChild<QCheckBox*>("chkIntegrated")->setChecked(true);
    EXPECT_FALSE(dialog.findChild<QLineEdit*>("txtUser")->isEnabled());
    EXPECT_EQ(*dialog.connectionString(), "Provider=PostgreSQL;Data Source=" + server() +
                                              ";Initial Catalog=postgres;Integrated Security=SSPI");
    dialog.setServer("127.0.0.1:1");
    boxes_.answer(Answer::OK);
    QTest::mouseClick(dialog.findChild<QPushButton*>("cmdTest"), Qt::LeftButton);
    EXPECT_EQ(boxes_.shown().back().text.rfind("Test connection failed:", 0), 0u);
    dialog.findChild<QLineEdit*>("txtDatabase")->clear();
    EXPECT_FALSE(dialog.connectionString().has_value());
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST_F(DatabaseCreationTest, TablesThatFailLeaveNoNewDatabaseBehind_Postgres) {
    // A login that may create databases but finds no schema to make tables
    // in: CREATE DATABASE succeeds, the first table statement fails.
    const std::string role = "kx_wizard_noschema";
    test::executeOn(postgresLogin(), "DROP ROLE IF EXISTS " + role);
    test::executeOn(postgresLogin(), "CREATE ROLE " + role + " LOGIN CREATEDB; ALTER ROLE " + role +
                                         " SET search_path = kx_no_such_schema");
    made_.push_back("kxwizardhalf");
    inputs_.type(server() + ";Integrated Security=false;User ID=" + role);
    inputs_.type("kxwizardhalf");
    boxes_.answer(Answer::OK);
    const std::size_t logStart = wizardLog().text().size();

    const auto stored = DatabaseCreation(CreationLinks{}).create(true);

    EXPECT_FALSE(stored.has_value());
    EXPECT_EQ(boxes_.shown().back().text,
              "There was an error creating database structure.\r\nPlease check your connection "
              "string and try again.");
    EXPECT_NE(logSince(logStart).find("remove the new database again"), std::string::npos);
    EXPECT_FALSE(databaseExists("kxwizardhalf"));
    EXPECT_EQ(readConnectionString(), "");
    test::executeOn(postgresLogin(), "DROP ROLE " + role);
}

}  // namespace
}  // namespace kestrix
