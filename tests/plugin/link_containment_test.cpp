// Symbolic links inside a home: one that leads out (to another directory,
// to another user's home) gives no rights there; one that stays inside
// keeps working; rule directories are resolved the same way.
#include <gtest/gtest.h>

#include <fstream>

#include "core/sql_literal.h"
#include "plugin/rule_directory_cache.h"
#include "tests/plugin/plugin_support.h"

namespace kestrix::plugin::test {
namespace {

namespace fs = std::filesystem;

class LinkContainment : public EventTest {
  protected:
    void SetUp() override {
        EventTest::SetUp();
        for (const char* dir : {"bob/inside", "bobby", "elsewhere", "pub"})
            fs::create_directories(path(dir));
        for (const char* file :
             {"bob/inside/own.txt", "bobby/secret.txt", "elsewhere/x.txt", "pub/notes.txt"}) {
            std::ofstream(path(file)) << "x";
        }
        fs::create_directory_symlink(path("elsewhere"), path("bob/out"));
        fs::create_directory_symlink(path("bobby"), path("bob/tobobby"));
        fs::create_directory_symlink(path("bob/inside"), path("bob/shortcut"));
        fs::create_directory_symlink(path("pub"), path("bob/pub"));
        fs::create_symlink(path("elsewhere/new.txt"), path("bob/dangling"));
        insertUser(db_, "bob", path("bob"), "p");
        insertUser(db_, "bobby", path("bobby"), "p");
    }

    int32_t flag(int32_t code, std::string_view relative) {
        auto reply = send(code, "bob", path(relative));
        EXPECT_EQ(reply.result, 1);
        return reply.flag();
    }
};

TEST_P(LinkContainment, ALinkOutOfTheHomeGivesNoRightThere) {
    for (const char* through : {"bob/out", "bob/tobobby"}) {
        const std::string dir = through;
        SCOPED_TRACE(dir);
        EXPECT_EQ(flag(code::kListDirectory, dir), 0);
        EXPECT_EQ(flag(code::kListDirectoryToo, dir), 0);
        EXPECT_EQ(flag(code::kMakeDirectory, dir + "/made"), 0);
        EXPECT_EQ(flag(code::kRemoveDirectory, dir), 0);
        EXPECT_EQ(flag(code::kFileWrite, dir + "/upload.txt"), 0);
        EXPECT_EQ(flag(code::kFileAppend, dir + "/upload.txt"), 0);
    }
    EXPECT_EQ(flag(code::kFileRead, "bob/out/x.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/out/x.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/tobobby/secret.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/tobobby/secret.txt"), 0);
    // Writing through a link to nowhere would create a file out there.
    EXPECT_EQ(flag(code::kFileWrite, "bob/dangling"), 0);
    // bobby keeps his own rights, which bob does not borrow.
    EXPECT_EQ(send(code::kFileRead, "bobby", path("bobby/secret.txt")).flag(), 1);
}

TEST_P(LinkContainment, ALinkThatStaysInsideKeepsWorking) {
    EXPECT_EQ(flag(code::kListDirectory, "bob/shortcut"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/shortcut/own.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/shortcut/new.txt"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/shortcut/new/deeper"), 1);
    // A rule on the real directory covers the path through the link.
    insertDirRule(db_, "bob", path("bob/inside"), "L", 1);
    EXPECT_EQ(flag(code::kListDirectory, "bob/shortcut"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/shortcut/new"), 0);
}

TEST_P(LinkContainment, RulesOutsideTheHomeHoldThroughALinkAndRelativePathsMatchNothing) {
    insertDirRule(db_, "bob", path("pub"), "RL", 1);
    EXPECT_EQ(flag(code::kListDirectory, "bob/pub"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/pub/notes.txt"), 1);
    // The rule lacks W: no upload into it, through the link or directly.
    EXPECT_EQ(flag(code::kFileWrite, "bob/pub/upload.txt"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "pub/upload.txt"), 0);
    insertDirRule(db_, "bob", path("pub"), "RWL", 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/pub/upload.txt"), 1);

    // Relative paths in the record never stand for the working directory.
    const fs::path before = fs::current_path();
    fs::current_path(path("bob"));
    EXPECT_EQ(send(code::kListDirectory, "bob", "inside").flag(), 0);
    EXPECT_EQ(send(code::kFileWrite, "bob", "inside/new.txt").flag(), 0);
    exec(db_, "update users set homedir='bob' where username='bobby'");
    EXPECT_EQ(send(code::kHomeDirectory, "bobby").flag(), 0);
    exec(db_,
         "insert into dir_rights (username, directory, dir_rights, inherit_subdirs) values "
         "('bobby', 'inside', 'RL', 1)");
    EXPECT_EQ(send(code::kListDirectory, "bobby", path("bob/inside")).flag(), 0);
    fs::current_path(before);
}

TEST_P(LinkContainment, DotDotAfterALinkIsTakenWhereTheLinkLeads) {
    fs::create_directories(path("bob/inside/nest"));
    fs::create_directories(path("bob/bobby"));
    std::ofstream(path("bob/bobby/secret.txt")) << "bob's own";
    fs::create_directory_symlink("../bobby", path("bob/tobobby2"));
    fs::create_directory_symlink("inside/nest", path("bob/hop"));
    // By its text this is bob's own bob/bobby/secret.txt; the kernel takes
    // the link first and lands on bobby's file.
    for (const char* through : {"bob/tobobby/../bobby", "bob/tobobby2/../bobby"}) {
        const std::string dir = through;
        SCOPED_TRACE(dir);
        for (int32_t fileCode :
             {code::kFileRead, code::kFileWrite, code::kFileDelete, code::kFileAppend}) {
            SCOPED_TRACE(fileCode);
            EXPECT_EQ(flag(fileCode, dir + "/secret.txt"), 0);
        }
        EXPECT_EQ(flag(code::kFileWrite, dir + "/upload.txt"), 0);
        for (int32_t dirCode :
             {code::kListDirectory, code::kListDirectoryToo, code::kRemoveDirectory}) {
            SCOPED_TRACE(dirCode);
            EXPECT_EQ(flag(dirCode, dir), 0);
        }
        EXPECT_EQ(flag(code::kMakeDirectory, dir + "/made"), 0);
    }
    // The same file, named as the text says, is bob's.
    EXPECT_EQ(flag(code::kFileRead, "bob/bobby/secret.txt"), 1);
    EXPECT_EQ(flag(code::kFileDelete, "bob/bobby/secret.txt"), 1);

    // A climb through a link that stays inside works, and the rules of
    // where it lands hold, whichever way the path is written.
    EXPECT_EQ(flag(code::kFileRead, "bob/hop/../own.txt"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/hop/../made"), 1);
    insertDirRule(db_, "bob", path("bob/inside"), "L", 1);
    for (const char* file : {"bob/hop/../own.txt", "bob/inside/own.txt", "bob/shortcut/own.txt"}) {
        SCOPED_TRACE(file);
        EXPECT_EQ(flag(code::kFileRead, file), 0);
        EXPECT_EQ(flag(code::kFileWrite, file), 0);
        EXPECT_EQ(flag(code::kFileDelete, file), 0);
    }
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/hop/../made"), 0);
    EXPECT_EQ(flag(code::kListDirectory, "bob/hop/.."), 1);
    // What does not exist yet cannot be climbed out of.
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/new/../../bobby/made"), 0);
    EXPECT_EQ(flag(code::kFileWrite, "bob/new/../x.txt"), 0);
}

TEST_P(LinkContainment, DeletingALinkIsJudgedWhereTheLinkIs) {
    fs::create_directories(path("bob/ro"));
    fs::create_directories(path("bob/rw"));
    std::ofstream(path("bob/rw/target.txt")) << "x";
    fs::create_symlink(path("bob/rw/target.txt"), path("bob/ro/link.txt"));
    fs::create_symlink(path("elsewhere/x.txt"), path("bob/rw/away.txt"));
    insertDirRule(db_, "bob", path("bob/ro"), "RL", 1);
    // Removing the link takes it out of ro, whatever it points to...
    EXPECT_EQ(flag(code::kFileDelete, "bob/ro/link.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/rw/target.txt"), 1);
    // ...and a link in bob's own directory is his to remove, although
    // reading through it reaches outside.
    EXPECT_EQ(flag(code::kFileDelete, "bob/rw/away.txt"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/rw/away.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/dangling"), 1);
    // Reading and writing go where the link leads.
    EXPECT_EQ(flag(code::kFileRead, "bob/ro/link.txt"), 1);
    EXPECT_EQ(flag(code::kFileWrite, "bob/ro/link.txt"), 1);
    // A file rule for the link holds however the link is named: deleting
    // is asked about the link itself, reading about the file it leads to.
    exec(db_, "insert into file_rights (username, filename, file_rights) values ('bob', " +
                  sqlText(path("bob/ro/link.txt")) + ", 'M')");
    EXPECT_EQ(flag(code::kFileDelete, "bob/rw/../ro/link.txt"), 1);
    EXPECT_EQ(flag(code::kFileDelete, "bob/shortcut/../ro/link.txt"), 1);
    EXPECT_EQ(flag(code::kFileRead, "bob/rw/../ro/link.txt"), 0);
    EXPECT_EQ(flag(code::kFileRead, "bob/rw/target.txt"), 0);
    EXPECT_EQ(flag(code::kFileDelete, "bob/rw/target.txt"), 1);
}

TEST_P(LinkContainment, ADirectorySwappedForALinkBetweenChecksIsSeen) {
    fs::create_directories(path("bob/zone/deep"));
    fs::create_directories(path("bob/inside/deep"));
    // No rights on zone and below, whatever it is.
    insertDirRule(db_, "bob", path("bob/zone"), "", 1);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(flag(code::kListDirectory, "bob/zone"), 0);
        EXPECT_EQ(flag(code::kListDirectory, "bob/zone/deep"), 0);
        EXPECT_EQ(flag(code::kMakeDirectory, "bob/zone/new"), 0);
        EXPECT_EQ(flag(code::kListDirectory, "bob/inside/deep"), 1);
        EXPECT_EQ(flag(code::kMakeDirectory, "bob/inside/new"), 1);
    }

    // zone becomes a link to inside: the rule now stands on inside.
    fs::remove_all(path("bob/zone"));
    fs::create_directory_symlink(path("bob/inside"), path("bob/zone"));
    clock_.advance(RuleDirectoryCache::kLifetime);
    EXPECT_EQ(flag(code::kListDirectory, "bob/inside/deep"), 0);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/inside/new"), 0);
    EXPECT_EQ(flag(code::kListDirectory, "bob/zone"), 0);

    // And back to a directory of its own: inside is free again.
    fs::remove(path("bob/zone"));
    fs::create_directories(path("bob/zone"));
    clock_.advance(RuleDirectoryCache::kLifetime);
    EXPECT_EQ(flag(code::kListDirectory, "bob/inside/deep"), 1);
    EXPECT_EQ(flag(code::kMakeDirectory, "bob/inside/new"), 1);
    EXPECT_EQ(flag(code::kListDirectory, "bob/zone"), 0);
}

KESTRIX_ON_BOTH_ENGINES(LinkContainment);

}  // namespace
}  // namespace kestrix::plugin::test
