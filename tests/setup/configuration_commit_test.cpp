// The commit of the configuration dialog, without the dialog: real paths,
// a real settings store, real databases.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/private_files.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "setup/configuration_commit.h"
#include "setup/designer_defaults.h"
#include "setup/embedded_plugin.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class ConfigurationCommitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir_.path() / "Serv-U");
        fs::create_directories(dir_.path() / "ftp");
        std::ofstream(dir_.path() / "Serv-U" / "ServUDaemon.ini").flush();
        fields_.servuPath = (dir_.path() / "Serv-U").string();
        fields_.ftpDirectory = (dir_.path() / "ftp").string();
        fields_.connectionString = sqlite_->connectionString();
        offered_ = "Provider=SQLite;Data Source=" + (dir_.path() / "data" / "servu.db").string();
    }
    CommitResult commit() { return ConfigurationCommit(boxes_, offered_).run(fields_); }
    Message warning(const std::string& text) const {
        return {text, "Tavix2", MessageIcon::Exclamation, MessageButtons::OK, 1};
    }
    static Message newDatabaseQuestion(const fs::path& file) {
        return {"The database file " + file.string() +
                    " does not exist. Create a new, empty database there?",
                "Tavix2", MessageIcon::Question, MessageButtons::YesNo, 2};
    }
    bool nothingStored() const {
        return openConnectionStringKey() == SettingsStore::kNotFound &&
               getRegSettings("servu_path").empty() && getRegSettings("ftp_directory").empty();
    }

    test::ScopedRegistry registry_;
    test::TempDir dir_;
    std::unique_ptr<test::ScratchDatabase> sqlite_ = test::makeScratchDatabase(Engine::SQLite);
    test::ScriptedMessageBoxes boxes_;
    ConfigureFields fields_;
    std::string offered_;  // the dialog's default connection string
};

TEST_F(ConfigurationCommitTest, StoresPathsWithTheirSlashAndTheConnectionString) {
    const std::size_t logStart = programLog().text().size();
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_TRUE(boxes_.shown().empty());
    const std::string servu = (dir_.path() / "Serv-U").string() + "/";
    const std::string ftp = (dir_.path() / "ftp").string() + "/";
    EXPECT_EQ(fields_.servuPath, servu);
    EXPECT_EQ(fields_.ftpDirectory, ftp);
    EXPECT_EQ(getRegSettings("servu_path"), servu);
    EXPECT_EQ(getRegSettings("ftp_directory"), ftp);
    EXPECT_EQ(readConnectionString(), sqlite_->connectionString());

    const std::string log = programLog().text().substr(logStart);
    std::size_t at = 0;
    for (const char* line :
         {"check for invalid entries", "check for trailing backslashes '\\'",
          "Save settings into registry", "save connection string", "attempt to open database"}) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found;
    }

    // A second commit keeps a slash that is already there.
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(getRegSettings("servu_path"), servu);
}

// The update server is a base address or nothing; anything else stops the
// commit before a setting is stored.
TEST_F(ConfigurationCommitTest, UpdateServerIsStoredTrimmedOrRefusedBeforeAnythingIsStored) {
    fields_.updateServer = "  https://updates.example.com:8443/ ";
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(fields_.updateServer, "https://updates.example.com:8443/");
    EXPECT_EQ(getRegSettings("update_server"), "https://updates.example.com:8443/");
    fields_.updateServer = "";
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(getRegSettings("update_server"), "");

    test::ScopedRegistry fresh;
    fields_.updateServer = "updates.example.com";
    boxes_.answer(Answer::OK);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown().back(),
              warning("The update server \"updates.example.com\" is not a web address.\r\nGive "
                      "its address as http://host or https://host, with :port when it needs one, "
                      "or leave the field empty."));
    EXPECT_TRUE(nothingStored());
    EXPECT_EQ(getRegSettings("update_server"), "");
}

TEST(UpdateServerAddress, OnlyABaseAddressOnTheWeb) {
    for (const char* good : {"http://127.0.0.1:8765", "https://updates.example.com",
                             "http://localhost/", "https://[::1]:8443", "http://my-host.example"})
        EXPECT_TRUE(isUpdateServerAddress(good)) << good;
    for (const char* bad : {"", "updates.example.com", "ftp://updates.example.com", "http://",
                            "http://:80", "http://host:", "http://host:99999", "http://host:80x",
                            "http://host/path", "https://host?x=1", "http://user@host",
                            "http://[::1", "http://[]:80", "http://ho st", "javascript:alert(1)"})
        EXPECT_FALSE(isUpdateServerAddress(bad)) << bad;
}

TEST_F(ConfigurationCommitTest, RefusesAProgramPathThatIsNoDirectory) {
    fields_.servuPath = (dir_.path() / "nowhere").string();
    boxes_.answer(Answer::OK);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{warning(
                  "The Serv-U path specified is not valid.\r\nPlease check your path and try "
                  "again.")});
    EXPECT_TRUE(nothingStored());
}

TEST_F(ConfigurationCommitTest, RefusesAnEmptyProgramDirectory) {
    fs::create_directories(dir_.path() / "empty");
    fields_.servuPath = (dir_.path() / "empty").string();
    boxes_.answer(Answer::OK);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{warning(
                  "The Serv-U path specified does not have any Serv-U program files in it.\r\n"
                  "Please check your path and try again.")});
    EXPECT_TRUE(nothingStored());
}

TEST_F(ConfigurationCommitTest, RefusesAnFtpRootThatIsNoDirectoryButAcceptsAnEmptyOne) {
    fields_.ftpDirectory = (dir_.path() / "ftp" / "missing").string();
    boxes_.answer(Answer::OK);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{warning(
                  "The FTP directory path specified is not valid.\r\nPlease check your path and "
                  "try again.")});
    EXPECT_TRUE(nothingStored());

    fields_.ftpDirectory = (dir_.path() / "ftp").string();  // exists, empty
    EXPECT_EQ(commit(), CommitResult::Committed);
}

TEST_F(ConfigurationCommitTest, RefusesPathsLongerThan32000Characters) {
    const std::string servu = fields_.servuPath;
    boxes_.answer(Answer::OK);
    boxes_.answer(Answer::OK);
    fields_.servuPath = "/" + std::string(32000, 'a');
    EXPECT_EQ(commit(), CommitResult::Stopped);
    fields_.servuPath = servu;
    fields_.ftpDirectory = "/" + std::string(32000, 'b');
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown(),
              (std::vector<Message>{
                  warning("The number of characters in the Serv-U program path field \r\nexceeds "
                          "the maximum number of characters allowed."),
                  warning("The number of characters in the FTP directory path field \r\nexceeds "
                          "the maximum number of characters allowed.")}));
    EXPECT_TRUE(nothingStored());
}

TEST_F(ConfigurationCommitTest, UnusableConnectionStringIsStoredAndReported) {
    fields_.connectionString = "Provider=SQLOLEDB;Data Source=mssql;Initial Catalog=servu";
    boxes_.answer(Answer::OK);
    EXPECT_EQ(commit(), CommitResult::DatabaseFailed);
    EXPECT_EQ(boxes_.shown(),
              std::vector<Message>{warning("The database could not be opened please recheck "
                                           "your connectionstring or use the database wizard.")});
    EXPECT_EQ(readConnectionString(), fields_.connectionString);
    EXPECT_FALSE(getRegSettings("servu_path").empty());
}

TEST_F(ConfigurationCommitTest, AMissingSqliteFileIsMadeFromTheTemplateOnlyAfterYes) {
    const fs::path file = dir_.path() / "new" / "place" / "servu.db";
    fields_.connectionString = "Provider=SQLite;Data Source=" + file.string();
    const std::size_t logStart = programLog().text().size();
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(boxes_.shown(), std::vector<Message>{newDatabaseQuestion(file)});
    ASSERT_TRUE(fs::is_regular_file(file));
    // Made its owner's alone (and the group kestrix's, which writes it,
    // where there is one), whatever the umask.
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              static_cast<fs::perms>(privateAccess(PrivateKind::Database).mode));
    EXPECT_EQ(readConnectionString(), fields_.connectionString);
    EXPECT_NE(programLog().text().find("create it from the template: " + file.string(), logStart),
              std::string::npos);
    Database db;
    ASSERT_TRUE(db.open(fields_.connectionString)) << db.lastError();
    for (const char* table : {"users", "dir_rights", "blocked_ips", "domains"}) {
        EXPECT_TRUE(db.query(std::string("SELECT * FROM ") + table).has_value())
            << table << ": " << db.lastError();
    }
    EXPECT_TRUE(
        db.execute("INSERT INTO users (username, homedir, max_concurrent, "
                   "max_logins_per_ip) VALUES ('w', '/', 1, 1)"))
        << "the copy must be writable: " << db.lastError();

    // An existing file is used as it is, without a question.
    const auto size = fs::file_size(file);
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(fs::file_size(file), size);
    EXPECT_EQ(boxes_.shown().size(), 1u);
}

TEST_F(ConfigurationCommitTest, OnlyTheDefaultOfAFirstRunIsMadeWithoutAQuestion) {
    const fs::path file = dir_.path() / "data" / "servu.db";
    fields_.connectionString = offered_;
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_TRUE(fs::is_regular_file(file));
    EXPECT_EQ(readConnectionString(), offered_);

    // Once configured, the same missing file is asked about; No makes nothing.
    fs::remove_all(file.parent_path());
    boxes_.answer(Answer::No);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    EXPECT_EQ(boxes_.shown(), std::vector<Message>{newDatabaseQuestion(file)});
    EXPECT_FALSE(fs::exists(file.parent_path()));
}

// Without the FTP server's configuration file the commit asks for another
// program path; what came before it stays done, the connection string waits.
TEST_F(ConfigurationCommitTest, NoServerConfigurationFileAsksForAnotherProgramPath) {
    const fs::path servu = dir_.path() / "Serv-U";
    fs::remove(servu / "ServUDaemon.ini");
    std::ofstream(servu / "Serv-U.exe").flush();
    const Message question{
        "The Serv-u.ini file was not found in the path specified.\r\n\r\nWould you like to "
        "try a different program path?",
        "Tavix2", MessageIcon::Exclamation, MessageButtons::YesNoCancel, 1};
    boxes_.answer(Answer::No);
    EXPECT_EQ(commit(), CommitResult::Stopped);
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(commit(), CommitResult::OtherProgramPath);
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{question, question}));
    EXPECT_TRUE(nothingStored());
    EXPECT_FALSE(fs::exists(servu / "Quellin.so"));
}

// A step that fails after others were done puts back what they stored: the
// paths, the configuration file's path and text, the plug-in file and the
// new database file. Then the commit's leftovers in the store are cleaned.
TEST_F(ConfigurationCommitTest, ACommitStoppedHalfWayLeavesEverythingAsItWas) {
    ASSERT_EQ(commit(), CommitResult::Committed);
    const std::string oldIni = getRegSettings("ini_path");
    const std::string oldServu = getRegSettings("servu_path");
    const fs::path other = dir_.path() / "Other";
    fs::create_directories(other);
    const std::string iniText = "[GLOBAL]\r\nVersion=6\r\n";
    std::ofstream(other / "serv-u.ini", std::ios::binary) << iniText;
    const fs::path newDatabase = dir_.path() / "new" / "servu.db";
    fields_ = {other.string(), (dir_.path() / "ftp").string(),
               "Provider=SQLite;Data Source=" + newDatabase.string()};
    // The connection string cannot be stored: its value's file is a folder.
    const SettingsStore store = SettingsStore::fromEnvironment();
    const fs::path value = store.valueFile(kConnectionStringKey, "");
    const std::string connection = readConnectionString();
    fs::remove(value);
    fs::create_directories(value / "in-the-way");
    boxes_.answer(Answer::Yes);  // create the new database file
    boxes_.answer(Answer::OK);   // the reason it was not stored

    EXPECT_EQ(commit(), CommitResult::NotStored);
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_NE(boxes_.shown()[1].text.find("The connection string could not be stored"),
              std::string::npos)
        << boxes_.shown()[1].text;
    EXPECT_EQ(getRegSettings("servu_path"), oldServu);
    EXPECT_EQ(getRegSettings("ftp_directory"), (dir_.path() / "ftp").string() + "/");
    EXPECT_EQ(getRegSettings("ini_path"), oldIni);
    EXPECT_FALSE(fs::exists(other / "Quellin.so"));
    std::ifstream in(other / "serv-u.ini", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), iniText);
    EXPECT_FALSE(fs::exists(newDatabase));
    EXPECT_TRUE(fs::exists(dir_.path() / "Serv-U" / "Quellin.so"));

    // The commit works again once the way is clear, and patches the file.
    fs::remove_all(value);
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_TRUE(fs::exists(newDatabase));
    EXPECT_EQ(getRegSettings("ini_path"), (other / "serv-u.ini").string());
    EXPECT_TRUE(fs::exists(other / "Quellin.so"));
    EXPECT_NE(readConnectionString(), connection);

    // A write killed before its rename left a temporary file; start-up
    // removes it once it is no longer young, and nothing else.
    const fs::path leftover = value.parent_path() / ".@.Ab12Cd";
    const fs::path young = store.valueFile(kSettingsKey, "").parent_path() / ".servu_path.Xy34Zw";
    std::ofstream(leftover).flush();
    std::ofstream(young).flush();
    fs::last_write_time(leftover, fs::file_time_type::clock::now() - std::chrono::hours(1));
    EXPECT_EQ(store.removeLeftoverWrites(std::chrono::minutes(1)), 1u);
    EXPECT_FALSE(fs::exists(leftover));
    EXPECT_TRUE(fs::exists(young));
    EXPECT_EQ(getRegSettings("ini_path"), (other / "serv-u.ini").string());
}

// With both files the administrator chooses; only that one is changed.
TEST_F(ConfigurationCommitTest, OfTwoServerConfigurationFilesOnlyTheChosenOneIsPatched) {
    const fs::path servu = dir_.path() / "Serv-U";
    std::ofstream(servu / "serv-u.ini") << "[GLOBAL]\r\n";
    boxes_.answer(Answer::Yes);
    EXPECT_EQ(commit(), CommitResult::Committed);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text,
              "There were two Serv-U INI files found.\r\n\r\nWould you like to use "
              "\"Serv-u.INI\"?\r\nPress \"No\" to use \"Servudaemon.ini\"");
    EXPECT_EQ(getRegSettings("ini_path"), (servu / "serv-u.ini").string());
    EXPECT_EQ(fs::file_size(servu / "ServUDaemon.ini"), 0u);
    std::ifstream patched(servu / "serv-u.ini", std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(patched), {}};
    EXPECT_EQ(text, "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n\r\n[GLOBAL]\r\n\r\n");
    std::ifstream plugin(servu / "Quellin.so", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(plugin), {}), embeddedPluginBytes());

    boxes_.answer(Answer::No);
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(getRegSettings("ini_path"), (servu / "ServUDaemon.ini").string());
    EXPECT_GT(fs::file_size(servu / "ServUDaemon.ini"), 0u);
}

TEST_F(ConfigurationCommitTest, PostgresConnectionStringIsProvenToo) {
    auto pg = test::makeScratchDatabase(Engine::PostgreSQL);
    fields_.connectionString = pg->connectionString();
    EXPECT_EQ(commit(), CommitResult::Committed);
    EXPECT_EQ(readConnectionString(), pg->connectionString());
}

TEST(DesignerDefaultsTest, RootAndOtherUsersGetTheirOwnPlaces) {
    EXPECT_EQ(designerDefaultsFor(true, "/home/x/.data", "/home/x"),
              (DesignerDefaults{"/opt/Serv-U/", "/srv/ftp/",
                                "Provider=SQLite;Data Source=/var/lib/kestrix/servu.db"}));
    EXPECT_EQ(designerDefaultsFor(false, "/home/x/.data", "/home/x"),
              (DesignerDefaults{"/home/x/.data/kestrix/Serv-U/", "/home/x/.data/kestrix/ftp/",
                                "Provider=SQLite;Data Source=/home/x/.data/kestrix/servu.db"}));
    // A relative or empty XDG_DATA_HOME is ignored.
    for (const char* xdg : {"relative/data", "", static_cast<const char*>(nullptr)}) {
        EXPECT_EQ(designerDefaultsFor(false, xdg, "/home/y").servuPath,
                  "/home/y/.local/share/kestrix/Serv-U/");
    }
}

}  // namespace
}  // namespace kestrix
