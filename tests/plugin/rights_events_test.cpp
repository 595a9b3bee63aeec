// Directory and file rights on real directory trees.
#include <gtest/gtest.h>

#include <fstream>

#include "core/sql_literal.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

class RightsEvents : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        for (const char* dir : {"bob/sub/deeper", "bobby", "pub/sub", "public", "other"})
            fs::create_directories(path(dir));
        for (const char* file : {"bob/file.txt", "bob/sub/file.txt", "bobby/file.txt",
                                 "pub/file.txt", "public/file.txt", "other/file.txt"}) {
            std::ofstream(path(file)) << "x";
        }
        insertUser(db_, "bob", path("bob"), "p");
    }

    int32_t flag(int32_t code, std::string_view relative, std::string_view user = "bob") {
        auto reply = send(code, user, path(relative));
        EXPECT_EQ(reply.result, 1);
        return reply.flag();
    }
};

TEST_P(RightsEvents, WithoutRulesEverythingInsideTheHomeAndNothingOutside) {
    EXPECT_EQ(flag(code::kListDirectory, "bob"), 1);
    EXPECT_EQ(flag(code::kListDirectoryToo, "bob/sub"), 1);
    EXPECT_EQ(flag(code::kRemoveDirectory, "bob/sub/deeper"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/new"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/new.txt"), 1);
    EXPECT_EQ(flag(code::kFileAppend, "bob/sub/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileAppend, "bob/sub/new.txt"), 1);
    EXPECT_EQ(flag(code::kFileDelete, "bob/file.txt"), 1);

    EXPECT_EQ(flag(code::kListDirectory, "other"), 0);
    EXPECT_EQ(flag(code::kMakeDirectory, "other/new"), 0);
    EXPECT_EQ(flag(code::kFileRead, "other/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "other/new.txt"), 0);
    EXPECT_EQ(flag(code::kFileAppend, "other/new.txt"), 0);
    EXPECT_EQ(flag(code::kListDirectory, ""), 0);
}

TEST_P(RightsEvents, HomeHoldsOnlyAtAPathBoundary) {
    // /…/bobby starts with the characters of /…/bob but is not below it.
    EXPECT_EQ(flag(code::kListDirectory, "bobby"), 0);
    EXPECT_EQ(flag(code::kMakeDirectory, "bobby/new"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bobby/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "bobby/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "bobbyfile.txt"), 0);
    // Dot segments cannot climb out either.
    EXPECT_EQ(flag(code::kFileWrite, "bob/../other/x.txt"), 0);
    EXPECT_EQ(flag(code::kListDirectory, "bob/sub/../../other"), 0);
}

TEST_P(RightsEvents, AHomeStoredWithATrailingSlashMeansTheSameDirectory) {
    exec(db_, "update users set homedir=" + sqlText(path("bob") + "/"));
    EXPECT_EQ(flag(code::kListDirectory, "bob"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/new.txt"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "bobby"), 0);
}

TEST_P(RightsEvents, AnInheritedRuleHoldsOnlyAtAPathBoundary) {
    insertDirRule(db_, "bob", path("pub"), "RL", 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub/sub"), 1);
    EXPECT_EQ(flag(code::kFileRead, "pub/file.txt"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "public"), 0);
    EXPECT_EQ(flag(code::kFileRead, "public/file.txt"), 0);
}

TEST_P(RightsEvents, ARuleWithoutInheritanceCoversItsDirectoryOnly) {
    insertDirRule(db_, "bob", path("bob/sub"), "R", 0);
    // The rule lacks L for the directory itself...
    EXPECT_EQ(flag(code::kListDirectory, "bob/sub"), 0);
    // ...and below it the home directory answers again.
    EXPECT_EQ(flag(code::kListDirectory, "bob/sub/deeper"), 1);

    insertDirRule(db_, "bob", path("pub"), "RL", 0);
    EXPECT_EQ(flag(code::kListDirectory, "pub"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub/sub"), 0);
}

TEST_P(RightsEvents, TheLastApplyingRuleDecides) {
    insertDirRule(db_, "bob", path("pub"), "RL", 1);
    insertDirRule(db_, "bob", path("pub"), "R", 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub/sub"), 0);
    exec(db_, "delete from dir_rights");
    insertDirRule(db_, "bob", path("pub"), "R", 1);
    insertDirRule(db_, "bob", path("pub"), "RL", 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub/sub"), 1);
    // A rule lower down, inserted before a rule higher up, is still
    // overruled by the later one.
    exec(db_, "delete from dir_rights");
    insertDirRule(db_, "bob", path("bob/sub"), "RL", 1);
    insertDirRule(db_, "bob", path("bob"), "R", 1);
    EXPECT_EQ(flag(code::kListDirectory, "bob/sub"), 0);
}

TEST_P(RightsEvents, RulesTakeAwayAndGrantEachLetter) {
    insertDirRule(db_, "bob", path("bob"), "RWAMELCD", 1);
    insertDirRule(db_, "bob", path("bob/sub"), "RL", 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/new"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/sub/new"), 0);
    EXPECT_EQ(flag(code::kRemoveDirectory, "bob/sub/deeper"), 0);
    EXPECT_EQ(flag(code::kRemoveDirectory, "bob/sub"), 0);
    EXPECT_EQ(flag(code::kListDirectory, "bob/sub/deeper"), 1);
    insertDirRule(db_, "bob", path("other"), "CD", 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "other/new"), 1);
    EXPECT_EQ(flag(code::kRemoveDirectory, "other"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "other"), 0);
}

TEST_P(RightsEvents, ListingNeedsAnExistingDirectoryCreatingDoesNot) {
    EXPECT_EQ(flag(code::kListDirectory, "bob/missing"), 0);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/missing"), 1);
    // Files likewise: reading needs the file, writing does not.
    EXPECT_EQ(flag(code::kFileRead, "bob/missing.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/missing.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "bob/missing.txt"), 1);
}

TEST_P(RightsEvents, DirectoryRulesTakeFileRightsAwayInsideTheHome) {
    // The migrated form of a read-only folder in a full-rights home.
    insertDirRule(db_, "bob", path("bob"), "RWAMELCD", 1);
    insertDirRule(db_, "bob", path("bob/sub"), "RL", 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileDelete, "bob/file.txt"), 1);
    for (const char* file : {"bob/sub/file.txt", "bob/sub/deeper/new.txt"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(flag(code::kFileWrite, file), 0);
        EXPECT_EQ(flag(code::kFileAppend, file), 0);
    }
    EXPECT_EQ(flag(code::kFileDelete, "bob/sub/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/sub/file.txt"), 1);

    // A rule without rights, not inherited, covers the files of its own
    // directory only.
    exec(db_, "delete from dir_rights");
    insertDirRule(db_, "bob", path("bob"), "RL", 1);
    insertDirRule(db_, "bob", path("bob/sub"), "", 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/sub/file.txt"), 0);
    std::ofstream(path("bob/sub/deeper/low.txt")) << "x";
    EXPECT_EQ(flag(code::kFileRead, "bob/sub/deeper/low.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/sub/deeper/low.txt"), 0);

    // And a rule for the directory alone grants its files what it grants.
    insertDirRule(db_, "bob", path("bob/sub/deeper"), "W", 0);
    EXPECT_EQ(flag(code::kFileWrite, "bob/sub/deeper/low.txt"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/sub/deeper/low.txt"), 0);
}

TEST_P(RightsEvents, FileRightsDecideLast) {
    insertDirRule(db_, "bob", path("bob"), "RWL", 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/file.txt"), 1);
    // A file rule for that very file refuses it; the file name is compared
    // without regard to case.
    exec(db_, "insert into file_rights (username, filename, file_rights) values ('bob', " +
                  sqlText(path("bob/FILE.txt")) + ", 'R')");
    EXPECT_EQ(flag(code::kFileWrite, "bob/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileAppend, "bob/file.txt"), 0);
    // A path that names another file is not held by it...
    EXPECT_EQ(flag(code::kFileWrite, "bob/sub/file.txt"), 1);
    // ...while one that names the same file another way is.
    exec(db_, "insert into file_rights (username, filename, file_rights) values ('bob', " +
                  sqlText(path("bob/sub/file.txt")) + ", 'R')");
    EXPECT_EQ(flag(code::kFileWrite, "bob/sub/deeper/../file.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "bob/./sub//file.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/sub/deeper/../file.txt"), 1);
    // A file rule grants past a directory rule, and outside the home.
    exec(db_, "insert into file_rights (username, filename, file_rights) values ('bob', " +
                  sqlText(path("bob/sub/file.txt")) + ", 'RM')");
    EXPECT_EQ(flag(code::kFileDelete, "bob/sub/file.txt"), 1);
    exec(db_, "insert into file_rights (username, filename, file_rights) values ('bob', " +
                  sqlText(path("other/file.txt")) + ", 'RWA')");
    EXPECT_EQ(flag(code::kFileAppend, "other/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileRead, "other/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileDelete, "other/file.txt"), 0);
}

TEST_P(RightsEvents, DeletingAFileAsksTheDeleteRightAlone) {
    for (const char* rights : {"RWL", "RLD", "RWACDEL"}) {
        SCOPED_TRACE(rights);
        insertDirRule(db_, "bob", path("pub"), rights, 1);
        EXPECT_EQ(flag(code::kFileDelete, "pub/file.txt"), 0);
        EXPECT_EQ(flag(code::kFileDelete, "pub/sub"), 0);
    }
    // Lower case, as any letter of a stored rule; nothing else is needed.
    insertDirRule(db_, "bob", path("pub"), "m", 1);
    EXPECT_EQ(flag(code::kFileDelete, "pub/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "pub/file.txt"), 0);
}

TEST_P(RightsEvents, FilesOutsideTheHomeFollowTheDirectoryRules) {
    insertDirRule(db_, "bob", path("pub"), "RL", 1);
    EXPECT_EQ(flag(code::kFileRead, "pub/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "pub/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "pub/file.txt"), 0);
    insertDirRule(db_, "bob", path("pub"), "RLM", 1);
    EXPECT_EQ(flag(code::kFileDelete, "pub/file.txt"), 1);
    EXPECT_EQ(flag(code::kFileAppend, "pub/file.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "public/file.txt"), 0);
}

TEST_P(RightsEvents, ADisabledOrUnknownUserIsRefusedEveryCheck) {
    insertDirRule(db_, "bob", path("pub"), "RWAMELCD", 1);
    exec(db_, "update users set disable_user=1");
    for (int32_t code : {code::kFileWrite, code::kFileRead, code::kFileDelete, code::kListDirectory,
                         code::kListDirectoryToo, code::kRemoveDirectory, code::kMakeDirectory,
                         code::kFileAppend}) {
        SCOPED_TRACE(code);
        EXPECT_EQ(flag(code, "bob/file.txt"), 0);
        EXPECT_EQ(flag(code, "pub/file.txt"), 0);
        EXPECT_EQ(flag(code, "bob/file.txt", "nobody"), 0);
    }
}

TEST_P(RightsEvents, RuleDirectoriesAndUsersMatchAsStored) {
    // User names compare without regard to case; directory names with.
    exec(db_,
         "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) values "
         "('BOB', " +
             sqlText(path("PUB")) + ", 'RL', 1)");
    EXPECT_EQ(flag(code::kListDirectory, "pub"), 0);
    insertDirRule(db_, "Bob", path("pub"), "RL", 1);
    EXPECT_EQ(flag(code::kListDirectory, "pub", "BOB"), 1);
}

KESTRIX_ON_BOTH_ENGINES(RightsEvents);

}  // namespace
}  // namespace kestrix::plugin::test
