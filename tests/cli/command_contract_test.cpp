// What every command promises a script: its exit status, that a refusal
// writes nothing, JSON types, failed output, and usage texts that all come
// from the one command table.
#include <QJsonArray>
#include <QJsonObject>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "cli/command_table.h"
#include "core/database.h"
#include "core/settings.h"
#include "tests/cli/cli_fixture.h"

namespace kestrix::cli::test {
namespace {

namespace fs = std::filesystem;
using Rows = std::vector<std::vector<std::string>>;

std::string fileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs of blanks and line ends as one blank.
std::string oneLine(const std::string& text) {
    return std::regex_replace(text, std::regex("\\s+"), " ");
}

// The manual page's text without its font changes and escapes.
std::string plainRoff(const std::string& page) {
    std::string text = std::regex_replace(page, std::regex("\\\\f[BIR]"), "");
    text = std::regex_replace(text, std::regex("\\\\-"), "-");
    text = std::regex_replace(text, std::regex("\\\\:"), "");
    return oneLine(text);
}

class CommandContract : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        home_ = dir("ftp/bob");
        addUser("bob", home_);
    }
    // Everything a command could write, as text.
    std::string snapshot() {
        std::string all;
        for (const char* query :
             {"SELECT * FROM users", "SELECT * FROM dir_rights", "SELECT * FROM file_rights",
              "SELECT * FROM ratio_free_files", "SELECT * FROM blocked_ips_by_user",
              "SELECT * FROM blocked_ips"}) {
            Database db;
            EXPECT_TRUE(db.open(scratch_->connectionString()));
            auto set = db.query(query);
            EXPECT_TRUE(set) << query;
            for (; set && !set->eof(); set->moveNext())
                for (const std::string& column : set->columnNames())
                    all += column + "=" + set->field(column).value_or("<null>") + ";";
            all += "\n";
        }
        return all + readConnectionString();
    }
    std::string home_;
};

struct Case {
    std::vector<std::string> words;
    int status;
    std::string err;  // a part of standard error, when it matters
};

TEST_P(CommandContract, EveryCommandAnswersWithItsStatusAndARefusalWritesNothing) {
    const std::string h = home_;
    const std::vector<Case> cases = {
        {{}, 2, "Usage: kestrix COMMAND"},
        {{"bogus"}, 2, "Unknown command."},
        {{"user"}, 2, "Unknown command."},
        {{"--version"}, 0, ""},
        {{"--help"}, 0, ""},
        {{"user", "rule", "--help"}, 0, ""},
        {{"user", "rul", "--help"}, 2, "Unknown command."},
        {{"user", "show", "bob", "--json"}, 0, ""},
        {{"user", "show", "nobody"}, 1, "There is no user nobody."},
        {{"user", "list", "--json"}, 0, ""},
        {{"user", "list", "extra"}, 2, "Unexpected argument extra."},
        {{"user", "set", "bob", "--yes=no", "--notes", "x"}, 2, "takes no value"},
        {{"user", "set", "bob", "--notes"}, 2, "needs a value"},
        {{"user", "set", "bob", "--notes", "--yes"}, 2, "needs a value"},
        {{"user", "set", "bob", "--disabled", "maybe"}, 2, "--disabled takes on or off."},
        {{"user", "set", "bob", "--quota", "on"}, 1, "needs a maximum"},
        {{"user", "set", "bob", "--max-speed", "fast"}, 1, ""},
        {{"user", "add", "carl", "--password"}, 2, "needs a value"},
        {{"user", "add", "carl", "--password", "--home", h}, 2, "needs a value"},
        {{"user", "passwd", "bob", "--password", "x", "--password-stdin"}, 2, "not both"},
        {{"user", "delete", "bob"}, 1, "--yes"},
        {{"user", "rule", "add", "bob", h, "--inherit", "--no-inherit"}, 2, "not both"},
        {{"user", "rule", "add", "bob", h, "--rights", "RZ"}, 1, "Rights are letters"},
        {{"user", "rule", "move", "bob", "1", "sideways"}, 2, ""},
        {{"user", "file-rule", "add", "bob", h + "/a.txt"}, 2, "--rights is needed"},
        {{"user", "file-rule", "add", "bob", "a.txt", "--rights", "R"}, 1, "full path"},
        {{"user", "file-rule", "add", "bob", h + "/a", "--rights", "RWAMLC"}, 1, "at most 5"},
        {{"user", "file-rule", "add", "ghost", h + "/a", "--rights", "R"}, 1, "no user ghost"},
        {{"user", "ratio-free", "remove", "bob", h + "/a"}, 1, "is not in the list"},
        {{"user", "block", "add", "bob", "999.1.1.1"}, 1, "is not an address rule"},
        {{"check", "bob", "login", "--from", "999.9.9.9"}, 2, "IP address"},
        {{"check", "bob", "list", "ftp/bob"}, 2, "full paths"},
        {{"check", "bob", "list", h}, 0, ""},
        {{"check", "bob", "list", "/"}, 3, ""},
        {{"check", "bob", "fly", h}, 2, "Unknown action"},
        {{"config", "set", "--connection-string", "Provider=SQLite;Data Source=rel.db"},
         1,
         "not a full path"},
        {{"config", "set", "--connection-string", "Provider=Oracle;Data Source=/x.db"},
         1,
         "is not available"},
        {{"db", "init"}, 1, "already"},
        {{"db", "init", "--force"}, 2, "Unknown flag --force."},
        {{"session", "list", "bob"}, 2, "Unexpected argument bob."},
        {{"session", "end"}, 2, ""},
        // No session is open: with SQLite none is ever registered.
        {{"session", "end", "bob"}, 1, "session"},
    };
    for (const Case& c : cases) {
        const std::string before = snapshot();
        const Ran run = runKestrix(c.words);
        std::string shown;
        for (const std::string& word : c.words)
            shown += word + " ";
        EXPECT_EQ(run.status, c.status) << shown << run.err;
        EXPECT_NE(run.err.find(c.err), std::string::npos) << shown << run.err;
        // Standard output is for data only: a refusal or usage error has none.
        if (c.status == 1 || c.status == 2) EXPECT_EQ(run.out, "") << shown;
        if (c.status != 0 && c.status != 3) EXPECT_EQ(snapshot(), before) << shown;
    }
    // "--" ends the options: a name that looks like one is a name.
    Ran run = runKestrix({"user", "add", "--password", "pw", "--home", h, "--", "--dash"});
    EXPECT_EQ(run.status, 0) << run.err;
    run = runKestrix({"user", "list", "--json"});
    EXPECT_EQ(jsonOf(run).array(), (QJsonArray{"--dash", "bob"}));
    EXPECT_EQ(runKestrix({"--version"}).out, "kestrix " + std::string(KESTRIX_VERSION) + "\n");
    // A group's help lists its commands and no other.
    run = runKestrix({"user", "block", "--help"});
    EXPECT_EQ(run.out,
              "Usage:\n  kestrix user block list NAME [--json]\n  kestrix user block add NAME "
              "ADDRESS\n  kestrix user block remove NAME ADDRESS\n");
}

TEST_P(CommandContract, ShowReadsWithoutWritingAndGivesNumbersAndSwitchesTheirJsonTypes) {
    Ran run = runKestrix({"user",
                          "set",
                          "bob",
                          "--max-speed",
                          "250",
                          "--idle-timeout",
                          "15",
                          "--ratio",
                          "files-overall",
                          "--ratio-upload",
                          "1",
                          "--ratio-download",
                          "3",
                          "--ratio-credit",
                          "7",
                          "--quota",
                          "on",
                          "--quota-max",
                          "1.5",
                          "--one-login-per-ip",
                          "on"});
    ASSERT_EQ(run.status, 0) << run.err;
    runKestrix({"user", "rule", "add", "bob", home_, "--rights", "RL", "--inherit"});
    run = runKestrix({"user", "show", "bob", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    const QJsonObject shown = jsonOf(run).object();
    EXPECT_EQ(shown["max_speed"].toVariant(), QVariant(250.0));
    EXPECT_EQ(shown["idle_timeout"].toDouble(-1), 15);
    EXPECT_EQ(shown["ratio_upload"].toDouble(-1), 1);
    EXPECT_EQ(shown["ratio_download"].toDouble(-1), 3);
    EXPECT_EQ(shown["ratio_credit"].toDouble(-1), 7);
    EXPECT_EQ(shown["quota_max_mb"].toDouble(-1), 1.5);
    EXPECT_TRUE(shown["quota_current_mb"].isDouble());
    EXPECT_TRUE(shown["max_users"].isDouble());
    // One login per address leaves no count of logins: no number at all.
    EXPECT_TRUE(shown["max_logins_per_ip"].isNull());
    EXPECT_EQ(shown["quota"], QJsonValue(true));
    EXPECT_EQ(shown["one_login_per_ip"], QJsonValue(true));
    EXPECT_EQ(shown["disabled"], QJsonValue(false));
    EXPECT_EQ(shown["rule"].toArray()[0].toObject()["place"], QJsonValue(1));
    EXPECT_EQ(shown["rule"].toArray()[0].toObject()["inherit"], QJsonValue(true));

    // A row the window would repair on loading stays as it is here.
    sql("UPDATE users SET use_quota=NULL, quota_max=NULL");
    const std::string before = snapshot();
    EXPECT_EQ(runKestrix({"user", "show", "bob"}).status, 0);
    EXPECT_EQ(runKestrix({"user", "show", "bob", "--json"}).status, 0);
    EXPECT_EQ(runKestrix({"user", "set", "bob", "--quota", "on"}).status, 1);
    EXPECT_EQ(runKestrix({"user", "set", "bob", "--notes", "n", "--max-users", "x"}).status, 1);
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(rows("SELECT use_quota FROM users", {"use_quota"}), (Rows{{"<null>"}}));
    // With a maximum given the quota goes on.
    EXPECT_EQ(runKestrix({"user", "set", "bob", "--quota", "on", "--quota-max", "2"}).status, 0);
    EXPECT_EQ(rows("SELECT use_quota FROM users", {"use_quota"}), (Rows{{"1"}}));
}

TEST_P(CommandContract, OutputThatCannotBeWrittenFailsTheCommand) {
    for (const std::vector<std::string>& words :
         std::vector<std::vector<std::string>>{{"user", "list"},
                                               {"user", "list", "--json"},
                                               {"user", "show", "bob", "--json"},
                                               {"config", "show"},
                                               {"check", "bob", "list", home_},
                                               {"--help"},
                                               {"user", "set", "--help"}}) {
        const Ran run = runKestrix(words, std::nullopt, "/dev/full");
        EXPECT_EQ(run.status, 1) << words[0] << " " << words[1];
        EXPECT_NE(run.err.find("could not be written"), std::string::npos) << run.err;
    }
}

TEST_P(CommandContract, FileRulesDecideForTheirFileAndRatioFreeFilesAreKeptPerUser) {
    const std::string file = home_ + "/report.txt";
    std::ofstream(file) << "x";
    ASSERT_EQ(
        runKestrix({"user", "rule", "add", "bob", home_, "--rights", "L", "--inherit"}).status, 0);
    EXPECT_EQ(runKestrix({"check", "bob", "download", file}).status, 3);
    Ran run = runKestrix({"user", "file-rule", "add", "bob", file, "--rights", "rl", "--log"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("add file rule " + file + " RL for bob"), std::string::npos) << run.err;
    // The plug-in's decision code reads the row as written.
    EXPECT_EQ(runKestrix({"check", "bob", "download", file}).status, 0);
    EXPECT_EQ(runKestrix({"check", "bob", "upload", file}).status, 3);
    EXPECT_EQ(runKestrix({"user", "file-rule", "add", "bob", file, "--rights", "W"}).status, 1);
    run = runKestrix({"user", "file-rule", "list", "bob", "--json"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(jsonOf(run).array(),
              (QJsonArray{QJsonObject{{"file", QString::fromStdString(file)}, {"rights", "RL"}}}));

    const std::string other = dir("ftp/pub") + "/free.zip";
    EXPECT_EQ(runKestrix({"user", "ratio-free", "add", "bob", file}).status, 0);
    EXPECT_EQ(runKestrix({"user", "ratio-free", "add", "*", other}).status, 0);
    EXPECT_EQ(runKestrix({"user", "ratio-free", "add", "*", other}).status, 1);
    EXPECT_EQ(rows("SELECT username, filename FROM ratio_free_files ORDER BY username",
                   {"username", "filename"}),
              (Rows{{"*", other}, {"bob", file}}));
    run = runKestrix({"user", "ratio-free", "list", "*"});
    EXPECT_EQ(run.out, other + "\n");
    EXPECT_EQ(runKestrix({"user", "ratio-free", "remove", "*", other}).status, 0);
    EXPECT_EQ(runKestrix({"user", "file-rule", "remove", "bob", file}).status, 0);
    EXPECT_EQ(runKestrix({"user", "file-rule", "remove", "bob", file}).status, 1);
    EXPECT_EQ(runKestrix({"check", "bob", "download", file}).status, 3);
    // Deleting the user takes its rows along.
    EXPECT_EQ(runKestrix({"user", "delete", "bob", "--yes"}).status, 0);
    EXPECT_EQ(rows("SELECT filename FROM ratio_free_files", {"filename"}), Rows{});
}

TEST_P(CommandContract, ConfigSetNamesAnEmptyDatabaseAndDbInitMakesItsTables) {
    const auto empty = kestrix::test::makeScratchDatabase(GetParam(), false);
    const std::string servu = dir("server");
    std::ofstream(servu + "/ServUDaemon.ini") << "[EXTERNAL]\r\nClientCheckDLL1=Other.so\r\n";
    Ran run = runKestrix({"config", "set", "--servu-path", servu, "--connection-string",
                          empty->connectionString(), "--yes"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("no user tables yet: create them with kestrix db init"),
              std::string::npos)
        << run.err;
    // The other library keeps its number; the plug-in takes the next.
    EXPECT_EQ(fileText(servu + "/ServUDaemon.ini"),
              "[EXTERNAL]\r\nClientCheckDLL2=Quellin.so\r\nClientCheckDLL1=Other.so\r\n\r\n\r\n");
    EXPECT_EQ(runKestrix({"user", "list"}).status, 1);
    // Two administrators at once: one makes the tables, the other is told
    // they are there.
    Ran inits[2];
    std::thread second([&] { inits[1] = runKestrix({"db", "init"}); });
    inits[0] = runKestrix({"db", "init"});
    second.join();
    ASSERT_EQ(inits[0].status + inits[1].status, 1) << inits[0].err << inits[1].err;
    EXPECT_NE((inits[0].err + inits[1].err).find("already: nothing was created."),
              std::string::npos)
        << inits[0].err << inits[1].err;
    addUser("dora", dir("ftp/dora"));
    EXPECT_EQ(runKestrix({"user", "list"}).out, "dora\n");
    run = runKestrix({"config", "set", "--connection-string", empty->connectionString()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err.find("no user tables"), std::string::npos) << run.err;
}

KESTRIX_CLI_ON_BOTH_ENGINES(CommandContract);

// The usage texts, the manual page and the completions are made from one
// table: every command's synopsis is the same in each.
TEST(CommandTable, HelpTheManualPageAndTheCompletionsShowTheSameCommands) {
    const std::string page = fileText(KESTRIX_CLI_MANPAGE);
    ASSERT_FALSE(page.empty());
    const std::string plainPage = plainRoff(page);
    EXPECT_EQ(page.find("@SYNOPSIS@"), std::string::npos);
    EXPECT_EQ(page.find("@COMMANDS@"), std::string::npos);
    const std::string usage = oneLine(runKestrix({"--help"}).out);
    const std::string bash = fileText(std::string(KESTRIX_CLI_COMPLETIONS) + "/kestrix");
    const std::string zsh = fileText(std::string(KESTRIX_CLI_COMPLETIONS) + "/_kestrix");
    const std::string fish = fileText(std::string(KESTRIX_CLI_COMPLETIONS) + "/kestrix.fish");
    for (const CommandEntry& command : commandTable()) {
        std::vector<std::string> words = command.words;
        words.push_back("--help");
        const Ran help = runKestrix(words);
        EXPECT_EQ(help.status, 0) << commandName(command);
        const std::string synopsis = synopsisOf(command);
        const std::string helpUsage = oneLine(help.out.substr(0, help.out.find("\n\n")));
        EXPECT_EQ(helpUsage, "Usage: " + synopsis);
        EXPECT_NE(usage.find(" " + synopsis + " "), std::string::npos) << synopsis;
        EXPECT_NE(plainPage.find(" " + synopsis + " "), std::string::npos) << synopsis;
        EXPECT_NE(help.out.find(oneLine(command.summary).substr(0, 30)), std::string::npos);
        for (const OptionEntry& option : command.options) {
            EXPECT_NE(help.out.find("  " + option.name), std::string::npos) << option.name;
            EXPECT_NE(bash.find(option.name), std::string::npos) << option.name;
            EXPECT_NE(zsh.find("'" + option.name + ":"), std::string::npos) << option.name;
            EXPECT_NE(fish.find("-l " + option.name.substr(2)), std::string::npos) << option.name;
        }
    }
}

// What a shell prints running the script, which must succeed.
std::string shellOutput(const std::string& shell, const std::string& script) {
    kestrix::test::TempDir dir;
    const std::string file = (dir.path() / "script").string();
    std::ofstream(file) << script << '\n';
    const std::string command = shell + " " + file;
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string out;
    char buffer[512];
    while (pipe && std::fgets(buffer, sizeof buffer, pipe))
        out += buffer;
    EXPECT_EQ(pipe ? ::pclose(pipe) : -1, 0) << shell << ": " << script;
    return out;
}

// The bash completion, sourced and asked as bash asks it.
std::string bashCompleted(const std::vector<std::string>& line) {
    std::string words;
    for (const std::string& word : line)
        words += "'" + word + "' ";
    return shellOutput("bash", "source '" + std::string(KESTRIX_CLI_COMPLETIONS) +
                                   "/kestrix'; COMP_WORDS=(" + words +
                                   "); COMP_CWORD=" + std::to_string(line.size() - 1) +
                                   "; _kestrix; echo \"${COMPREPLY[*]}\"");
}

// The fish completion's candidates for a command line, without descriptions
// (string join answers 1 for a single word).
std::string fishCompleted(const std::string& line) {
    return shellOutput("fish", "source '" + std::string(KESTRIX_CLI_COMPLETIONS) +
                                   "/kestrix.fish'; complete -C '" + line +
                                   "' | string replace -r '\\t.*' '' | string join ' '; true");
}

TEST(CommandTable, TheShellCompletionsOfferTheWordsTheProgramTakes) {
    EXPECT_EQ(bashCompleted({"kestrix", "user", "rule", ""}), "list add edit remove move --help\n");
    EXPECT_EQ(bashCompleted({"kestrix", "user", "f"}), "file-rule\n");
    EXPECT_EQ(bashCompleted({"kestrix", "user", "set", "bob", "--quota", ""}), "on off\n");
    EXPECT_EQ(bashCompleted({"kestrix", "user", "rule", "add", "bob", "/srv", "--no"}),
              "--no-inherit\n");
    EXPECT_EQ(bashCompleted({"kestrix", "--v"}), "--version\n");

    EXPECT_EQ(fishCompleted("kestrix user ratio-free "), "add list remove\n");
    EXPECT_EQ(fishCompleted("kestrix user set bob --quota "), "off on\n");
    EXPECT_EQ(fishCompleted("kestrix user file-rule add bob /f --ri"), "--rights\n");
    // zsh reads its script without a syntax error.
    shellOutput("zsh", "zsh -n '" + std::string(KESTRIX_CLI_COMPLETIONS) + "/_kestrix'");
}

}  // namespace
}  // namespace kestrix::cli::test
