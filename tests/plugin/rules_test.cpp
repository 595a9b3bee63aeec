// The plug-in's arithmetic and path rules, apart from any database.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

#include "plugin/event_record.h"
#include "plugin/number_text.h"
#include "plugin/path_rules.h"
#include "plugin/quota_ratio.h"
#include "tests/support/scratch.h"

namespace kestrix::plugin {
namespace {

namespace fs = std::filesystem;

TEST(PathRelations, HoldOnlyAtPathBoundaries) {
    EXPECT_TRUE(atOrBelow("/srv/ftp/bob", "/srv/ftp/bob"));
    EXPECT_TRUE(atOrBelow("/srv/ftp/bob/x", "/srv/ftp/bob"));
    EXPECT_FALSE(atOrBelow("/srv/ftp/bobby", "/srv/ftp/bob"));
    EXPECT_FALSE(atOrBelow("/srv/ftp/bo", "/srv/ftp/bob"));
    EXPECT_FALSE(atOrBelow("/srv/ftp/Bob/x", "/srv/ftp/bob"));
    EXPECT_TRUE(atOrBelow("/anything", "/"));
    EXPECT_TRUE(atOrBelow("/", "/"));
    EXPECT_FALSE(atOrBelow("/x", ""));

    EXPECT_TRUE(strictlyBelow("/a/b", "/a"));
    EXPECT_FALSE(strictlyBelow("/a", "/a"));
    EXPECT_FALSE(strictlyBelow("/ab", "/a"));
    EXPECT_TRUE(exactlyAt("/a", "/a"));
    EXPECT_FALSE(exactlyAt("/a/b", "/a"));
    EXPECT_FALSE(exactlyAt("/ab", "/a"));
}

TEST(PathForms, BothFormsFollowLinksOnlyTheLongNameNeedsThePath) {
    kestrix::test::TempDir dir;
    fs::create_directories(dir.path() / "real");
    fs::create_directory_symlink(dir.path() / "real", dir.path() / "link");
    fs::create_symlink("/etc/kestrix-nowhere", dir.path() / "dangling");
    const std::string root = fs::canonical(dir.path()).string();

    EXPECT_EQ(normalizePath(root + "/real/./../real/", PathForm::FullPath), root + "/real");
    EXPECT_EQ(normalizePath("/../..", PathForm::FullPath), "/");
    EXPECT_EQ(normalizePath("/a//b", PathForm::FullPath), "/a/b");
    EXPECT_EQ(normalizePath("/does/not/exist", PathForm::FullPath), "/does/not/exist");
    EXPECT_EQ(normalizePath("/does/not/exist", PathForm::LongName), std::nullopt);
    EXPECT_EQ(normalizePath(root + "/link/", PathForm::LongName), root + "/real");
    EXPECT_EQ(normalizePath(root + "/link", PathForm::LongName), root + "/real");
    EXPECT_EQ(normalizePath(root + "/real", PathForm::LongName), root + "/real");
    // The deepest existing ancestor is resolved, the rest appended.
    EXPECT_EQ(normalizePath(root + "/link", PathForm::FullPath), root + "/real");
    EXPECT_EQ(normalizePath(root + "/link/new/file", PathForm::FullPath), root + "/real/new/file");
    // What does not exist yet cannot be climbed out of.
    EXPECT_EQ(normalizePath(root + "/link/new/../file", PathForm::FullPath), std::nullopt);
    // A link to nowhere would create its target: no form, for any letter.
    EXPECT_EQ(normalizePath(root + "/dangling", PathForm::FullPath), std::nullopt);
    EXPECT_EQ(normalizePath(root + "/dangling/x", PathForm::FullPath), std::nullopt);
    // Never against the working directory.
    EXPECT_EQ(normalizePath("real", PathForm::FullPath), std::nullopt);
    EXPECT_EQ(normalizePath(".", PathForm::LongName), std::nullopt);
    EXPECT_EQ(normalizePath("", PathForm::FullPath), std::nullopt);
    EXPECT_EQ(normalizePath("/" + std::string(511, 'a'), PathForm::FullPath)->size(), 512u);
    EXPECT_EQ(normalizePath("/" + std::string(512, 'a'), PathForm::FullPath), std::nullopt);

    EXPECT_EQ(formForLetter('C'), PathForm::FullPath);
    EXPECT_EQ(formForLetter('w'), PathForm::FullPath);
    EXPECT_EQ(formForLetter('L'), PathForm::LongName);
    EXPECT_EQ(formForLetter('R'), PathForm::LongName);
}

TEST(PathForms, TheResolverAgreesWithTheLongNameForm) {
    kestrix::test::TempDir dir;
    const fs::path root = dir.path();
    fs::create_directories(root / "real" / "inner");
    std::ofstream(root / "real" / "file.txt") << "x";
    fs::create_directory_symlink(root / "real", root / "dirlink");
    fs::create_symlink(root / "real" / "file.txt", root / "filelink");
    fs::create_symlink(root / "missing", root / "dangling");
    fs::create_directory_symlink("..", root / "real" / "up");
    const std::string r = root.string();
    const std::vector<std::string> paths = {r + "/real",
                                            r + "/real/",
                                            r + "/real/inner",
                                            r + "/dirlink",
                                            r + "/dirlink/inner",
                                            r + "/dirlink/inner/",
                                            r + "/filelink",
                                            r + "/filelink/",
                                            r + "/real/file.txt",
                                            r + "/real/file.txt/",
                                            r + "/dangling",
                                            r + "/missing",
                                            r + "/real/up",
                                            r + "/real/up/real",
                                            r + "/real/.",
                                            r + "/real/..",
                                            r + "//real//inner",
                                            r + "/missing/inner",
                                            r + "/real/file.txt/x",
                                            "/",
                                            "",
                                            "relative/path",
                                            r + "/real/inner/../inner"};
    // More parents than the resolver keeps open.
    std::vector<std::string> spread = paths;
    for (int i = 0; i < 12; ++i) {
        fs::create_directories(root / ("p" + std::to_string(i)) / "child");
        spread.push_back(r + "/p" + std::to_string(i) + "/child");
        spread.push_back(r + "/p" + std::to_string(i) + "/none");
    }
    LongNameResolver resolver;
    // Twice: the second round answers from what the first remembered.
    for (int round = 0; round < 2; ++round) {
        for (const std::string& path : spread) {
            EXPECT_EQ(resolver.resolve(path), normalizePath(path, PathForm::LongName)) << path;
        }
    }
}

TEST(DirectoryRules, InheritanceAndOrderDecide) {
    kestrix::test::TempDir dir;
    fs::create_directories(dir.path() / "pub" / "sub");
    const std::string pub = fs::canonical(dir.path() / "pub").string();
    const std::string sub = pub + "/sub";
    const std::vector<DirRuleRow> inherited = {{pub, "RL", "1"}};
    EXPECT_TRUE(applyDirectoryRules(false, sub, inherited, 'L'));
    EXPECT_FALSE(applyDirectoryRules(true, sub, inherited, 'D'));
    const std::vector<DirRuleRow> flat = {{pub, "RL", "0"}};
    EXPECT_FALSE(applyDirectoryRules(false, sub, flat, 'L'));
    EXPECT_TRUE(applyDirectoryRules(true, sub, flat, 'L'));
    EXPECT_TRUE(applyDirectoryRules(false, pub, flat, 'L'));
    // Rights letters are read without regard to case; a NULL grants nothing.
    EXPECT_TRUE(applyDirectoryRules(false, pub, {{pub, "rl", "1"}}, 'L'));
    EXPECT_FALSE(applyDirectoryRules(true, pub, {{pub, std::nullopt, "1"}}, 'L'));
    EXPECT_TRUE(applyDirectoryRules(true, pub, {{std::nullopt, "", "1"}}, 'L'));
    EXPECT_TRUE(applyDirectoryRules(false, sub, {{pub, "R", "1"}, {pub, "L", " 1 "}}, 'L'));
    EXPECT_FALSE(applyDirectoryRules(false, sub, {{pub, "L", "1"}, {pub, "R", "1"}}, 'L'));
}

TEST(DirectoryRules, TellTheLastRuleThatApplied) {
    kestrix::test::TempDir dir;
    fs::create_directories(dir.path() / "pub" / "sub");
    const std::string pub = fs::canonical(dir.path() / "pub").string();
    const std::string sub = pub + "/sub";
    // Row 1 does not apply below pub, rows with no directory or a missing
    // one never apply; of the rest the last one decides, granting or not.
    const std::vector<DirRuleRow> rules = {{pub, "RL", "1"},
                                           {pub, "L", "0"},
                                           {std::nullopt, "L", "1"},
                                           {sub, "R", "0"},
                                           {pub + "/gone", "L", "1"}};
    int deciding = 99;
    EXPECT_FALSE(applyDirectoryRules(true, sub, rules, 'L', &deciding));
    EXPECT_EQ(deciding, 3);
    EXPECT_TRUE(applyDirectoryRules(false, pub, rules, 'L', &deciding));
    EXPECT_EQ(deciding, 1);
    EXPECT_TRUE(applyDirectoryRules(true, dir.path().string(), rules, 'L', &deciding));
    EXPECT_EQ(deciding, -1);

    int fileRule = 99;
    const std::vector<FileRuleRow> files = {{"/a/F.txt", "R"}, {"/a/f.TXT", "W"}, {"/b", "R"}};
    EXPECT_FALSE(applyFileRules(true, "/a/f.txt", std::nullopt, files, 'R', &fileRule));
    EXPECT_EQ(fileRule, 1);
    EXPECT_TRUE(applyFileRules(true, "/c", std::nullopt, files, 'R', &fileRule));
    EXPECT_EQ(fileRule, -1);
}

TEST(TextAnswers, AreCutBeforeAnIncompleteCharacter) {
    EXPECT_EQ(cutAtCharacter("abc", 3), "abc");
    EXPECT_EQ(cutAtCharacter("abcd", 3), "abc");
    EXPECT_EQ(cutAtCharacter("ab\xc3\xa9", 3), "ab");
    EXPECT_EQ(cutAtCharacter("a\xe2\x82\xac", 3), "a");
    EXPECT_EQ(cutAtCharacter("a\xe2\x82\xac", 4), "a\xe2\x82\xac");
    EXPECT_EQ(cutAtCharacter("\xf0\x9f\x98\x80x", 3), "");

    ClientEvent event{};
    std::memset(event.address, 'z', sizeof event.address);
    EventRecord record(event);
    record.setDataText(std::string(600, 'q'));
    EXPECT_EQ(std::string(event.data), std::string(511, 'q'));
    EXPECT_EQ(event.address[0], 'z');
}

TEST(Numbers, StoredAndSentTextsAreReadAsTheEnginesWriteThem) {
    EXPECT_EQ(storedWhole("42"), 42);
    EXPECT_EQ(storedWhole("-7"), -7);
    EXPECT_EQ(storedWhole("10737418240.0"), 10737418240LL);
    EXPECT_EQ(storedWhole("1e+3"), 1000);
    EXPECT_EQ(storedWhole("1.5"), std::nullopt);
    EXPECT_EQ(storedWhole("abc"), std::nullopt);
    EXPECT_EQ(storedWhole(""), std::nullopt);
    EXPECT_EQ(storedReal("1.7e+308"), 1.7e308);

    EXPECT_EQ(leadingReal("2.5kb"), 2.5);
    EXPECT_EQ(leadingReal("  -3"), -3);
    EXPECT_EQ(leadingReal("+4"), 4);
    EXPECT_EQ(leadingReal("inf"), 0);
    EXPECT_EQ(leadingReal("nan"), 0);
    EXPECT_EQ(leadingReal("1e999"), 0);
    EXPECT_EQ(leadingReal(""), 0);

    EXPECT_EQ(leadingWhole("-100"), -100);
    EXPECT_EQ(leadingWhole("12.9"), 12);
    EXPECT_EQ(leadingWhole("+7x"), 7);
    EXPECT_EQ(leadingWhole("x"), 0);
    EXPECT_EQ(leadingWhole("99999999999999999999"), std::nullopt);
}

TEST(QuotaArithmetic, StaysBetweenZeroAndTheMaximumWithoutOverflow) {
    EXPECT_EQ(applyQuotaAmount(200, 1000, 300).newValue, 0);
    EXPECT_TRUE(applyQuotaAmount(200, 1000, 300).accepted);
    EXPECT_FALSE(applyQuotaAmount(950, 1000, -100).accepted);
    EXPECT_EQ(applyQuotaAmount(950, 1000, -50).newValue, 1000);
    EXPECT_FALSE(applyQuotaAmount(0, 1000, std::numeric_limits<long long>::min()).accepted);
    // A stored value below 0 counts as 0, so any amount can take it no lower.
    EXPECT_EQ(applyQuotaAmount(-5, 1000, std::numeric_limits<long long>::max()).newValue, 0);
}

TEST(CreditText, KeepsAFractionOnWholeNumbers) {
    EXPECT_EQ(formatCredit(3), "3.0");
    EXPECT_EQ(formatCredit(-0.5), "-0.5");
    EXPECT_EQ(formatCredit(99999), "99999.0");
    EXPECT_EQ(formatCredit(100000), "1e+05");
    EXPECT_EQ(formatCredit(0.0001), "0.0001");
    EXPECT_EQ(formatCredit(0.00001), "1e-05");
}

}  // namespace
}  // namespace kestrix::plugin
