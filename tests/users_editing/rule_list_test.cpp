#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/scratch.h"
#include "tests/users_editing/scripted_prompts.h"
#include "users/editing/directory_entry.h"
#include "users/editing/rule_list.h"

namespace kestrix::users {
namespace {

RuleList threeRules() {
    RuleList list;
    list.load({"/srv/ftp", "RL", "1"});
    list.load({"/srv/ftp/in", "RWL", "0"});
    list.load({"/srv/ftp/out", "rwx", " 1 "});
    return list;
}

// Rules are told apart by their place: two rules of one directory each
// show, take and keep their own rights.
TEST(RuleListTest, RulesOfOneDirectoryKeepTheirOwnRights) {
    RuleList list = threeRules();
    EXPECT_FALSE(list.shownForSelection());
    EXPECT_FALSE(list.setSelectedRights(Rights{}, false));
    list.add("/srv/ftp/out");  // a second rule for the same directory
    ASSERT_EQ(list.entries().size(), 4u);

    list.select(2);
    auto shown = list.shownForSelection();
    ASSERT_TRUE(shown);
    EXPECT_EQ(encodeRights(shown->rights), "RW");
    EXPECT_TRUE(shown->inherit);
    list.select(3);
    shown = list.shownForSelection();
    ASSERT_TRUE(shown);
    EXPECT_EQ(encodeRights(shown->rights), "RL");

    Rights writeOnly;
    writeOnly.write = true;
    ASSERT_TRUE(list.setSelectedRights(writeOnly, false));
    EXPECT_EQ(list.rules()[3], (DirRule{"/srv/ftp/out", "W", "0"}));
    EXPECT_EQ(list.rules()[2], (DirRule{"/srv/ftp/out", "rwx", " 1 "}));
}

TEST(RuleListTest, AddedRuleReadsAndListsAndInherits) {
    RuleList list;
    list.add("/srv/ftp/Upload");
    ASSERT_EQ(list.rules().size(), 1u);
    EXPECT_EQ(list.rules()[0], (DirRule{"/srv/ftp/Upload", "RL", "1"}));
    EXPECT_EQ(list.entries(), (std::vector<std::string>{"/srv/ftp/Upload"}));
    EXPECT_EQ(list.selected(), -1);
}

TEST(RuleListTest, RenameAndRemoveTouchOnlyTheSelectedRule) {
    RuleList list = threeRules();
    list.add("/srv/ftp/in");
    EXPECT_FALSE(list.renameSelected("/x"));
    list.select(3);
    ASSERT_TRUE(list.renameSelected("/srv/pub"));
    EXPECT_EQ(list.rules()[3], (DirRule{"/srv/pub", "RL", "1"}));
    EXPECT_EQ(list.rules()[1].directory, "/srv/ftp/in");
    EXPECT_EQ(list.entries()[3], "/srv/pub");

    list.add("/srv/ftp");
    list.select(4);
    ASSERT_TRUE(list.removeSelected());
    EXPECT_EQ(list.selected(), -1);
    EXPECT_EQ(list.entries(),
              (std::vector<std::string>{"/srv/ftp", "/srv/ftp/in", "/srv/ftp/out", "/srv/pub"}));
    EXPECT_EQ(list.rules()[0], (DirRule{"/srv/ftp", "RL", "1"}));
    EXPECT_FALSE(list.removeSelected());
}

TEST(RuleListTest, UpAndDownMoveEntryAndRuleTogether) {
    RuleList list = threeRules();
    list.select(0);
    EXPECT_FALSE(list.moveUp());
    list.select(2);
    EXPECT_FALSE(list.moveDown());
    EXPECT_TRUE(list.moveUp());
    EXPECT_EQ(list.selected(), 1);
    EXPECT_EQ(list.entries(),
              (std::vector<std::string>{"/srv/ftp", "/srv/ftp/out", "/srv/ftp/in"}));
    EXPECT_EQ(list.rules()[1].directory, "/srv/ftp/out");
    EXPECT_EQ(list.rules()[2].directory, "/srv/ftp/in");
    list.select(0);
    EXPECT_TRUE(list.moveDown());
    EXPECT_EQ(list.rules()[1].directory, "/srv/ftp");
    EXPECT_EQ(list.selected(), 1);
}

TEST(DirectoryEntryTest, AcceptsExistingDirectoriesWithoutTrailingSeparator) {
    kestrix::test::TempDir dir;
    test::ScriptedPrompts prompts;
    const std::string typed = "  " + dir.path().string() + "/  ";
    const auto result = acceptDirectoryEntry(typed, "", prompts);
    ASSERT_TRUE(result.path);
    EXPECT_EQ(*result.path, dir.path().string());
    EXPECT_EQ(result.shownText, dir.path().string());
    EXPECT_TRUE(result.changed);
    EXPECT_TRUE(prompts.shown.empty());

    const auto root = acceptDirectoryEntry("/", "/", prompts);
    ASSERT_TRUE(root.path);
    EXPECT_EQ(*root.path, "/");
    EXPECT_FALSE(root.changed);
    EXPECT_EQ(defaultRulePath(" /srv/ftp/ "), "/srv/ftp");
}

TEST(DirectoryEntryTest, RefusesMissingPathsUrlsAndOverlongText) {
    const std::string again = "\r\nPlease check your path and try again.";
    // "." and ".." exist wherever the test runs; the FTP server would read
    // them against its own working directory. A relative path and a folder
    // that is not there are told apart, each named.
    const std::pair<std::string, std::string> refusals[] = {
        {"", "No path was given: a folder is named from the root, starting with /." + again},
        {"/no/such/dir", "The folder \"/no/such/dir\" does not exist." + again},
        {"file:///tmp",
         "The path \"file:///tmp\" is not absolute: a folder is named from the "
         "root, starting with /." +
             again},
        {"http://host/x",
         "The path \"http://host/x\" is not absolute: a folder is named from "
         "the root, starting with /." +
             again},
        {".",
         "The path \".\" is not absolute: a folder is named from the root, starting with "
         "/." +
             again},
        {"..",
         "The path \"..\" is not absolute: a folder is named from the root, starting "
         "with /." +
             again}};
    for (const auto& [typed, text] : refusals) {
        test::ScriptedPrompts prompts;
        EXPECT_FALSE(acceptDirectoryEntry(typed, "", prompts).path) << typed;
        EXPECT_EQ(prompts.texts(), (std::vector<std::string>{text})) << typed;
    }
    const std::string notValid = "The path \"" + std::string(65000, 'd') +
                                 "\" is not absolute: a folder is named from the root, starting "
                                 "with /." +
                                 again;
    {
        test::ScriptedPrompts prompts;
        EXPECT_FALSE(acceptDirectoryEntry(std::string(65001, 'd'), "", prompts).path);
        EXPECT_EQ(prompts.texts(),
                  (std::vector<std::string>{"The number of characters in the directory field \r\n"
                                            "exceeds the maximum number of characters allowed."}));
    }
    {
        test::ScriptedPrompts prompts;  // 65000 passes the length check
        EXPECT_FALSE(acceptDirectoryEntry(std::string(65000, 'd'), "", prompts).path);
        EXPECT_EQ(prompts.texts(), (std::vector<std::string>{notValid}));
    }
}

}  // namespace
}  // namespace kestrix::users
