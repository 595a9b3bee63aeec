// The configuration commit and the address lists through the kestrix
// program.
#include <QJsonArray>
#include <QJsonObject>

#include <filesystem>
#include <fstream>

#include "core/settings.h"
#include "tests/cli/cli_fixture.h"

namespace kestrix::cli::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

class SettingsCommands : public CliTest {
  protected:
    static std::string fileText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
};

TEST_P(SettingsCommands, ConfigSetCommitsInstallsThePluginAndAsksAsTheDialogDoes) {
    const std::string servu = dir("server");
    const std::string ftp = dir("root");
    std::ofstream(servu + "/ServUDaemon.ini") << "[GLOBAL]\r\nVersion=6\r\n";
    std::ofstream(servu + "/serv-u.ini") << "[GLOBAL]\r\n";
    const std::string connection = scratch_->connectionString();

    // Two server files: the flag must choose, and nothing is stored before.
    Ran run = runKestrix({"config", "set", "--servu-path", servu, "--ftp-dir", ftp,
                          "--connection-string", connection});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("--ini"), std::string::npos) << run.err;
    EXPECT_NE(getRegSettings(kServuPathValue), servu + "/");
    EXPECT_EQ(runKestrix({"config", "set", "--ini", "both"}).status, 2);

    run = runKestrix({"config", "set", "--servu-path", servu, "--ftp-dir", ftp,
                      "--connection-string", connection, "--update-server",
                      "https://updates.example.com", "--ini", "serv-u"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(fileText(servu + "/serv-u.ini"),
              "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n\r\n[GLOBAL]\r\n\r\n");
    EXPECT_EQ(fileText(servu + "/ServUDaemon.ini"), "[GLOBAL]\r\nVersion=6\r\n");
    EXPECT_EQ(fileText(servu + "/Quellin.so").substr(0, 4),
              "\x7f"
              "ELF");

    run = runKestrix({"config", "show", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject shown = jsonOf(run).object();
    EXPECT_EQ(shown["servu_path"].toString().toStdString(), servu + "/");
    EXPECT_EQ(shown["ftp_directory"].toString().toStdString(), ftp + "/");
    EXPECT_EQ(shown["ini_path"].toString().toStdString(), servu + "/serv-u.ini");
    EXPECT_EQ(shown["update_server"].toString().toStdString(), "https://updates.example.com");
    // A password never reaches the terminal.
    EXPECT_EQ(shown["connection_string"].toString().toStdString().find("Password=secret"),
              std::string::npos);

    // A SQLite file that is not there is made only when the question is
    // answered with --yes; without it nothing changes.
    const std::string newFile = dir("dbs") + "/new.db";
    const std::string newConnection = "Provider=SQLite;Data Source=" + newFile;
    run = runKestrix({"config", "set", "--connection-string", newConnection, "--ini", "serv-u"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("does not exist. Create a new, empty database there?"),
              std::string::npos);
    EXPECT_FALSE(fs::exists(newFile));
    EXPECT_EQ(readConnectionString(), connection);
    run = runKestrix(
        {"config", "set", "--connection-string", newConnection, "--ini", "serv-u", "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(fs::exists(newFile));
    EXPECT_EQ(readConnectionString(), newConnection);
    // A commit without the flag keeps the stored update server.
    EXPECT_EQ(getRegSettings(kUpdateServerValue), "https://updates.example.com");
    EXPECT_EQ(runKestrix({"user", "list"}).status, 0);

    run = runKestrix({"config", "set", "--servu-path", servu + "/none"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "The Serv-U path specified is not valid.\nPlease check your path and try "
              "again.\n");
}

TEST_P(SettingsCommands, AddressListsAreKeptServerWideAndPerUser) {
    Ran run = runKestrix({"user", "add", "bob", "--password", "p", "--home", dir("ftp/bob")});
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(runKestrix({"ip", "add", "10.0.0.1"}).status, 0);
    ASSERT_EQ(runKestrix({"ip", "add", "10.0.0.2"}).status, 0);
    run = runKestrix({"ip", "add", "10.0.0.1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "10.0.0.1 is already in the list.\n");
    run = runKestrix({"ip", "add", "10.0.0"});
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(runKestrix({"ip", "remove", "10.0.0.1"}).status, 0);
    EXPECT_EQ(runKestrix({"ip", "remove", "10.0.0.1"}).status, 1);
    run = runKestrix({"ip", "list", "--json"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(jsonOf(run).array(), QJsonArray({"10.0.0.2"}));

    ASSERT_EQ(runKestrix({"user", "block", "add", "bob", "192.168.1.9"}).status, 0);
    run = runKestrix({"user", "block", "add", "nobody", "192.168.1.9"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "There is no user nobody.\n");
    EXPECT_EQ(rows("SELECT ip, username FROM blocked_ips_by_user", {"ip", "username"}),
              (Rows{{"192.168.1.9", "bob"}}));
    run = runKestrix({"user", "block", "list", "bob"});
    EXPECT_EQ(run.out, "192.168.1.9\n");
    ASSERT_EQ(runKestrix({"user", "block", "remove", "bob", "192.168.1.9"}).status, 0);
    EXPECT_TRUE(rows("SELECT ip FROM blocked_ips_by_user", {"ip"}).empty());
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips", {"ip"}), (Rows{{"10.0.0.2"}}));
}

TEST_P(SettingsCommands, OnlyEntriesThePlugInMatchesAreAddedAndOthersAreNamed) {
    addUser("bob", dir("ftp/bob"));
    for (const char* entry : {"127.0.0.*", "192.168.1.0/24", "10.0-9.*.1"})
        ASSERT_EQ(runKestrix({"ip", "add", entry}).status, 0) << entry;
    ASSERT_EQ(runKestrix({"user", "block", "add", "bob", "172.16.0.0/12"}).status, 0);

    for (const char* entry : {"1..2.3", "", "1.2.3.4'--"}) {
        for (const auto& command :
             {std::vector<std::string>{"ip", "add", entry},
              std::vector<std::string>{"user", "block", "add", "bob", entry}}) {
            const Ran run = runKestrix(command);
            EXPECT_EQ(run.status, 1) << entry;
            EXPECT_EQ(run.err.rfind("\"" + std::string(entry) + "\" is not an address rule", 0), 0u)
                << run.err;
        }
    }
    // Valid, but longer than a stored rule holds.
    Ran run = runKestrix({"ip", "add", "100-200.1.10-19.1"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "\"100-200.1.10-19.1\" is longer than the 15 characters an address rule "
              "can hold.\n");
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips", {"ip"}),
              (Rows{{"127.0.0.*"}, {"192.168.1.0/24"}, {"10.0-9.*.1"}}));
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user", {"ip"}), (Rows{{"172.16.0.0/12"}}));

    // Rows stored before the check are listed as they are, with a warning each.
    sql("INSERT INTO blocked_ips (ip) VALUES ('1..2.3')");
    sql("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '')");
    run = runKestrix({"ip", "list"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "127.0.0.*\n192.168.1.0/24\n10.0-9.*.1\n1..2.3\n");
    EXPECT_EQ(run.err,
              "Warning: \"1..2.3\" is not an address, pattern or block: it blocks nobody.\n");
    run = runKestrix({"user", "block", "list", "bob", "--json"});
    ASSERT_EQ(run.status, 0);
    EXPECT_EQ(jsonOf(run).array(), QJsonArray({"172.16.0.0/12", ""}));
    EXPECT_EQ(run.err, "Warning: \"\" is not an address, pattern or block: it blocks nobody.\n");
    // Such a row can still be removed by its text.
    ASSERT_EQ(runKestrix({"ip", "remove", "1..2.3"}).status, 0);
    EXPECT_TRUE(runKestrix({"ip", "list"}).err.empty());
}

TEST_P(SettingsCommands, UsageErrorsAndAnUnreachableDatabaseAreTold) {
    Ran run = runKestrix({"user", "frobnicate"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("Usage: kestrix"), std::string::npos);
    EXPECT_EQ(runKestrix({}).status, 2);
    EXPECT_EQ(runKestrix({"user", "show"}).status, 2);
    EXPECT_EQ(runKestrix({"user", "rule", "add", "bob", "/x", "--rights"}).status, 2);
    run = runKestrix({"--help"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("kestrix check NAME"), std::string::npos);

    ASSERT_TRUE(writeConnectionString("Provider=SQLite;Data Source=" + dir("gone") + "/x/y.db"));
    run = runKestrix({"user", "list"});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("The database could not be opened"), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
}

KESTRIX_CLI_ON_BOTH_ENGINES(SettingsCommands);

}  // namespace
}  // namespace kestrix::cli::test
