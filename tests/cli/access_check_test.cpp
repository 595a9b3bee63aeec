// The access explainer and `kestrix check` against the built plug-in's own
// answers, on a user with nested, inherited and overlapping rules and
// blocked addresses.
#include <QJsonObject>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "core/settings.h"
#include "plugin/client_event.h"
#include "tests/cli/cli_fixture.h"
#include "tests/plugin/loaded_plugin.h"
#include "users/access/access_explainer.h"

namespace kestrix::cli::test {
namespace {

namespace fs = std::filesystem;
namespace code = plugin::code;
using users::CheckAction;
using users::Decider;

class AccessCheck : public CliTest {
  protected:
    void SetUp() override {
        CliTest::SetUp();
        root_ = dir("t");
        for (const char* d : {"home/a/b/c", "home/d", "pub/x/y", "pub/z", "other"})
            dir("t/" + std::string(d));
        for (const char* f : {"home/f.txt", "home/a/f.txt", "home/a/b/f.txt", "home/a/b/c/f.txt",
                              "pub/f.txt", "pub/x/f.txt", "pub/x/y/f.txt", "other/f.txt"})
            std::ofstream(root_ + "/" + f) << "x";
        // Links whose ".." leads elsewhere than their text says.
        fs::create_directory_symlink("../pub/x", root_ + "/home/lnk");
        fs::create_directory_symlink(root_ + "/other", root_ + "/home/a/out");
        run({"user", "add", "kim", "--password", "pw", "--home", root_ + "/home"});
        run({"user", "add", "dis", "--password", "pw", "--home", root_ + "/home"});
        run({"user", "set", "dis", "--disabled", "on"});
        rule(root_ + "/home/a", "RL", true);
        rule(root_ + "/home/a/b", "RWAMLCD", false);
        rule(root_ + "/pub", "RL", true);
        rule(root_ + "/pub/x", "RWCD", true);
        rule(root_ + "/home/a", "W", false);
        rule(root_ + "/pub/x/y", "L", true);
        rule(root_ + "/home/d/", "", true);
        dir("t/pub/x/w");
        // A file rule that grants what the directory rules do not.
        sql("INSERT INTO file_rights (username, filename, file_rights) VALUES ('kim', '" + root_ +
            "/home/a/b/c/g.txt', 'RW')");
        run({"ip", "add", "10.1.1.1"});
        run({"user", "block", "add", "kim", "10.2.2.2"});
        // Blocked for every user.
        sql("INSERT INTO blocked_ips_by_user (ip, username) VALUES ('10.3.3.3', '*')");
    }

    static void run(const std::vector<std::string>& arguments) {
        const Ran done = runKestrix(arguments);
        ASSERT_EQ(done.status, 0) << done.err;
    }
    void rule(const std::string& directory, const std::string& rights, bool inherit) {
        run({"user", "rule", "add", "kim", directory, "--rights", rights,
             inherit ? "--inherit" : "--no-inherit"});
    }

    // The plug-in asked as the FTP server asks for the command: the path
    // resolved as the kernel resolves it, a file listed through its directory,
    // a rename asked about both names and never onto an existing one.
    bool serverAllows(const std::string& user, CheckAction action, const std::string& given,
                      const std::string& givenNew, const std::string& address) {
        if (!address.empty() && !ask(code::kAddressAllowed, "", address)) return false;
        if (!ask(code::kHomeDirectory, user, "")) return false;
        if (!address.empty() && !ask(code::kAddressAllowed, user, address)) return false;
        if (action == CheckAction::Login) return true;
        if (given.empty() || given.front() != '/') return false;
        const std::string path = plain(given);
        std::error_code ec;
        const bool directory = fs::is_directory(path, ec);
        switch (action) {
            case CheckAction::Login:
                return true;
            case CheckAction::List:
                return ask(code::kListDirectory, user,
                           directory ? path : fs::path(path).parent_path().string());
            case CheckAction::Download:
                return ask(code::kFileRead, user, path);
            case CheckAction::Upload:
                return ask(code::kFileWrite, user, path);
            case CheckAction::Append:
                return ask(code::kFileAppend, user, path);
            case CheckAction::Delete:
                return ask(code::kFileDelete, user, path);
            case CheckAction::Rename: {
                const std::string newPath = plain(givenNew);
                return ask(directory ? code::kRemoveDirectory : code::kFileDelete, user, path) &&
                       ask(directory ? code::kMakeDirectory : code::kFileWrite, user, newPath) &&
                       !fs::exists(fs::symlink_status(newPath, ec));
            }
            case CheckAction::Mkdir:
                return ask(code::kMakeDirectory, user, path);
            case CheckAction::Rmdir:
                return ask(code::kRemoveDirectory, user, path);
        }
        return false;
    }

    // The path as the server presents it: resolved as the kernel resolves
    // it, links followed where they stand; no doubled or trailing "/".
    static std::string plain(const std::string& given) {
        std::error_code ec;
        std::string path = fs::weakly_canonical(given, ec).string();
        while (path.size() > 1 && path.back() == '/')
            path.pop_back();
        return path;
    }

    bool ask(int32_t eventCode, const std::string& user, const std::string& data) {
        ClientEvent event{};
        event.code = eventCode;
        std::copy(user.begin(), user.end(), event.userName);
        std::copy(data.begin(), data.end(), event.data);
        EXPECT_EQ(plugin_.handle(&event), 1);
        return event.flag == 1;
    }

    std::string root_;
    plugin::test::LoadedPlugin plugin_;
};

TEST_P(AccessCheck, TheExplainerNeverDisagreesWithThePlugin) {
    std::vector<std::string> paths;
    for (const char* p : {"home",
                          "home/f.txt",
                          "home/new.txt",
                          "home/a",
                          "home/a/f.txt",
                          "home/a/new",
                          "home/a/b",
                          "home/a/b/f.txt",
                          "home/a/b/c",
                          "home/a/b/c/f.txt",
                          "home/a/b/c/new.txt",
                          "home/d",
                          "home/d/new",
                          "pub",
                          "pub/f.txt",
                          "pub/new",
                          "pub/x",
                          "pub/x/f.txt",
                          "pub/x/new.txt",
                          "pub/x/y",
                          "pub/x/y/f.txt",
                          "pub/x/y/new",
                          "pub/z",
                          "other",
                          "other/f.txt",
                          "other/new",
                          "home/../other",
                          "home/a/b/../../../pub/x",
                          "pubx",
                          "home/a/b/",
                          "home/lnk",
                          "home/lnk/f.txt",
                          "home/lnk/../f.txt",
                          "home/lnk/../x/new.txt",
                          "home/a/out/../f.txt",
                          "home/a/out/f.txt",
                          "home/a/./b//c/../f.txt",
                          "home/a/b/new",
                          "home/a/b/c/g.txt"})
        paths.push_back(root_ + "/" + p);
    paths.push_back("relative/path");
    paths.push_back("/");
    const std::vector<std::string> users = {"kim", "kim", "kim", "kim", "kim", "dis", "ghost"};
    const std::vector<std::string> addresses = {"",         "",         "",        "10.1.1.1",
                                                "10.2.2.2", "10.3.3.3", "10.9.9.9"};
    const std::vector<std::string_view>& actions = users::checkActionNames();

    users::AccessExplainer explainer(readConnectionString());
    std::mt19937 random(20261207);
    auto pick = [&](const auto& from) { return from[random() % from.size()]; };
    std::set<std::pair<Decider, bool>> seen;
    for (int i = 0; i < 3000; ++i) {
        const std::string user = pick(users);
        const CheckAction action = *users::parseCheckAction(pick(actions));
        const std::string path = pick(paths);
        const std::string newPath = action == CheckAction::Rename ? pick(paths) : std::string();
        const std::string address = pick(addresses);
        const users::AccessAnswer answer = explainer.explain(user, action, path, address, newPath);
        const std::string asked = user + " " + std::string(users::checkActionName(action)) + " " +
                                  path + " " + newPath + " from '" + address + "'";
        ASSERT_EQ(answer.allowed, serverAllows(user, action, path, newPath, address))
            << asked << ": " << answer.explanation;
        seen.insert({answer.decider, answer.allowed});
        if (answer.decider == Decider::DirectoryRule) {
            // The deciding rule is the one listed at its place, and its
            // letters say what the answer says.
            ASSERT_GE(answer.rule, 0);
            EXPECT_EQ(hasRight(answer.ruleShown.rights, answer.letter), answer.allowed) << asked;
        }
        if (i % 150 == 0) {
            std::vector<std::string> words = {"check", user, std::string(checkActionName(action)),
                                              path, "--json"};
            if (!newPath.empty()) words.insert(words.begin() + 4, newPath);
            if (!address.empty()) words.insert(words.end(), {"--from", address});
            const Ran checked = runKestrix(words);
            // The plug-in answers any text; the command takes full paths only.
            if (!path.starts_with('/') || (!newPath.empty() && !newPath.starts_with('/'))) {
                EXPECT_EQ(checked.status, 2) << asked << checked.err;
                continue;
            }
            ASSERT_EQ(checked.status, answer.allowed ? 0 : 3) << asked << checked.err;
            const QJsonObject json = jsonOf(checked).object();
            EXPECT_EQ(json["allowed"].toBool(), answer.allowed);
            EXPECT_EQ(json["rule"].isNull() ? 0 : json["rule"].toObject()["place"].toInt(),
                      answer.rule + 1);
        }
    }
    // The sample reached every kind of answer.
    for (const auto& kind :
         std::vector<std::pair<Decider, bool>>{{Decider::DirectoryRule, true},
                                               {Decider::DirectoryRule, false},
                                               {Decider::HomeDirectory, true},
                                               {Decider::NoRule, false},
                                               {Decider::ServerAddressList, false},
                                               {Decider::UserAddressList, false},
                                               {Decider::UserDisabled, false},
                                               {Decider::UserMissing, false},
                                               {Decider::FileRule, true},
                                               {Decider::DestinationExists, false},
                                               {Decider::LoginPassed, true}})
        EXPECT_TRUE(seen.contains(kind)) << static_cast<int>(kind.first) << kind.second;
}

TEST_P(AccessCheck, CheckNamesTheDecidingRuleAndExitsThreeOnARefusal) {
    Ran run = runKestrix({"check", "kim", "download", root_ + "/pub/x/y/f.txt"});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.out,
              "refused\nRefused: rule 6 (" + root_ + "/pub/x/y, L, inherited) does not grant R.\n");
    run = runKestrix({"check", "kim", "mkdir", root_ + "/pub/x/new", "--json"});
    EXPECT_EQ(run.status, 0);
    const QJsonObject json = jsonOf(run).object();
    EXPECT_EQ(json["right"].toString(), "C");
    EXPECT_EQ(json["decided_by"].toString(), "rule");
    EXPECT_EQ(json["rule"].toObject()["place"].toInt(), 4);
    EXPECT_EQ(json["rule"].toObject()["rights"].toString(), "RWCD");
    run = runKestrix({"check", "kim", "login", "--from", "10.2.2.2"});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("blocked address list of kim"), std::string::npos);
    // The entry that blocks an address is named, pattern or not.
    AccessCheck::run({"ip", "add", "10.5.0.0/16"});
    AccessCheck::run({"user", "block", "add", "kim", "10.6.*.1-9"});
    for (const auto& [from, why] : std::vector<std::pair<std::string, std::string>>{
             {"10.5.3.4", "matches 10.5.0.0/16, blocked for the whole server."},
             {"10.6.7.5", "matches 10.6.*.1-9, in the blocked address list of kim."},
             {"::ffff:10.2.2.2", "matches 10.2.2.2, in the blocked address list of kim."},
             {"10.3.3.3", "is blocked for every user."},
             {"10.1.1.1", "is blocked for the whole server."}}) {
        run = runKestrix({"check", "kim", "login", "--from", from});
        EXPECT_EQ(run.status, 3) << from;
        EXPECT_EQ(run.out, "refused\nRefused: the address " + from + " " + why + "\n");
    }
    EXPECT_EQ(runKestrix({"check", "kim", "login", "--from", "10.6.7.10"}).status, 0);
    run = runKestrix({"check", "kim", "fly", "/"});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(runKestrix({"check", "kim", "list"}).status, 2);
}

TEST_P(AccessCheck, CheckAsksWhatTheServerAsksForTheCommand) {
    // What decided, as the JSON tells it: allowed, decided_by, rule place.
    const auto checked = [&](std::vector<std::string> words) {
        words.insert(words.begin(), {"check", "kim"});
        words.push_back("--json");
        const Ran ran = runKestrix(words);
        const QJsonObject json = jsonOf(ran).object();
        EXPECT_EQ(ran.status, json["allowed"].toBool() ? 0 : 3) << ran.err;
        const int place = json["rule"].isNull() ? 0 : json["rule"].toObject()["place"].toInt();
        return std::to_string(json["allowed"].toBool()) + " " +
               json["decided_by"].toString().toStdString() + " " + std::to_string(place);
    };
    const std::string home = root_ + "/home";
    const std::string pub = root_ + "/pub";

    // Listing a file asks about its directory.
    EXPECT_EQ(checked({"list", pub + "/x/y/f.txt"}), "1 rule 6");
    EXPECT_EQ(checked({"list", pub + "/z/missing"}), "1 rule 3");
    const Ran listed = runKestrix({"check", "kim", "list", pub + "/x/y/f.txt"});
    EXPECT_NE(listed.out.find("asks about " + pub + "/x/y, the directory of " + pub + "/x/y/f.txt"),
              std::string::npos)
        << listed.out;

    // Files inside the home are decided by the rules of their directory,
    // and those rules are named, not the home.
    EXPECT_EQ(checked({"upload", home + "/a/f.txt"}), "1 rule 5");
    EXPECT_EQ(checked({"delete", home + "/a/f.txt"}), "0 rule 5");
    EXPECT_EQ(checked({"delete", home + "/a/b/f.txt"}), "1 rule 2");
    EXPECT_EQ(checked({"download", home + "/a/b/c/f.txt"}), "1 rule 1");
    EXPECT_EQ(checked({"append", home + "/a/b/c/f.txt"}), "0 rule 1");
    EXPECT_EQ(checked({"upload", home + "/a/b/c/f.txt"}), "0 rule 1");
    EXPECT_EQ(checked({"upload", home + "/a/b/c/g.txt"}), "1 file-rule 0");
    EXPECT_EQ(checked({"upload", home + "/f.txt"}), "1 home 0");

    // ".." after a link climbs from the link's target, as the kernel and the
    // server take it: through home/lnk (a link to pub/x) the file is
    // pub/f.txt, which rule 3 keeps read-only, never home/f.txt.
    EXPECT_EQ(checked({"upload", home + "/lnk/../f.txt"}), "0 rule 3");
    EXPECT_EQ(checked({"upload", home + "/a/out/../b/./new.txt"}), "0 no-rule 0");
    EXPECT_EQ(checked({"upload", home + "/a/out/../f.txt"}), checked({"upload", root_ + "/f.txt"}));
    EXPECT_FALSE(ask(code::kFileWrite, "kim", home + "/lnk/../f.txt"));

    // A rename asks about both names and never lands on an existing one.
    EXPECT_EQ(checked({"rename", home + "/a/b/f.txt", home + "/a/b/g.txt"}), "1 rule 2");
    EXPECT_EQ(checked({"rename", home + "/a/b/f.txt", home + "/a/b/c"}), "0 exists 0");
    EXPECT_EQ(checked({"rename", home + "/a/f.txt", home + "/a/b/g.txt"}), "0 rule 5");
    EXPECT_EQ(checked({"rename", home + "/a/b/f.txt", pub + "/g.txt"}), "0 rule 3");
    EXPECT_EQ(checked({"rename", pub + "/x/w", pub + "/x/w2"}), "1 rule 4");
    EXPECT_EQ(checked({"rename", pub + "/x/w", pub + "/x/y/w2"}), "0 rule 6");
    EXPECT_EQ(checked({"rename", home + "/a/b/c", home + "/a/b/c2"}), "0 rule 1");
    EXPECT_EQ(runKestrix({"check", "kim", "rename", home + "/a/b/f.txt"}).status, 2);
    EXPECT_EQ(runKestrix({"check", "kim", "delete", home + "/f.txt", home + "/g.txt"}).status, 2);
    // A name that is no full path is a usage error, not a refusal.
    EXPECT_EQ(runKestrix({"check", "kim", "rename", home + "/a/b/f.txt", "g.txt"}).status, 2);
    EXPECT_EQ(runKestrix({"check", "kim", "list", "a/b"}).status, 2);
}

KESTRIX_CLI_ON_BOTH_ENGINES(AccessCheck);

}  // namespace
}  // namespace kestrix::cli::test
