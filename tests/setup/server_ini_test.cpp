// Entering the plug-in in the FTP server's configuration file and writing
// the plug-in file, on real files.
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "setup/embedded_plugin.h"
#include "setup/server_ini.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

std::string readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeBytes(const fs::path& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary) << bytes;
}

TEST(ServerIniTest, ThePlugInLineGoesAfterEverySectionLabelOrIntoANewSectionOnTop) {
    // No section: a new one on top, then an empty line, then the old text.
    EXPECT_EQ(withPluginEntered("[GLOBAL]\r\nVersion=6\r\n"),
              "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n\r\n[GLOBAL]\r\nVersion=6\r\n\r\n");
    // A label in lower case with blanks counts; every label gets the line; a
    // file without a final CR LF and 8-bit text pass through unchanged.
    EXPECT_EQ(withPluginEntered("  [external] \r\nClientCheckDLL2=Other.so\r\nName=Caf\xe9\r\n"
                                "[External]"),
              "  [external] \r\nClientCheckDLL1=Quellin.so\r\nClientCheckDLL2=Other.so\r\n"
              "Name=Caf\xe9\r\n[External]\r\nClientCheckDLL1=Quellin.so\r\n\r\n");
    // Named anywhere as the file is written: nothing to do.
    EXPECT_FALSE(withPluginEntered("[EXTERNAL]\r\n[OTHER]\r\nPlugin=/opt/Quellin.so\r\n"));
    EXPECT_FALSE(withPluginEntered("ClientCheckDLL1=Quellin.so"));
}

TEST(ServerIniTest, ThePlugInTakesTheFirstFreeNumberAndItsNameAsTheFileIsWritten) {
    // Numbers held in the section (any key case, any order) are skipped;
    // numbers in other sections and other keys do not count.
    EXPECT_EQ(
        withPluginEntered("[EXTERNAL]\r\nclientcheckdll1=Other.so\r\nClientCheckDLL3=B.so\r\n"
                          "[USER=a|1]\r\nClientCheckDLL2=x\r\nClientCheckDLLx=y"),
        "[EXTERNAL]\r\nClientCheckDLL2=Quellin.so\r\nclientcheckdll1=Other.so\r\n"
        "ClientCheckDLL3=B.so\r\n[USER=a|1]\r\nClientCheckDLL2=x\r\nClientCheckDLLx=y\r\n\r\n");
    EXPECT_EQ(withPluginEntered(" [External]\r\nClientCheckDLL2=A.so\r\nClientCheckDLL1=B.so"),
              " [External]\r\nClientCheckDLL3=Quellin.so\r\nClientCheckDLL2=A.so\r\n"
              "ClientCheckDLL1=B.so\r\n\r\n");
    // Another letter case names no file the server could load: the name is
    // written as the plug-in's file has it, in place, and no second line.
    EXPECT_EQ(withPluginEntered("[EXTERNAL]\r\nClientCheckDLL1=/opt/QUELLIN.SO\r\nNote=quellin.so"),
              "[EXTERNAL]\r\nClientCheckDLL1=/opt/Quellin.so\r\nNote=Quellin.so");
}

TEST(ServerIniTest, FilesAreFoundByNameInAnyCaseAndRewrittenKeepingTheirMode) {
    test::TempDir dir;
    EXPECT_TRUE(findServerIniFiles(dir.path().string()).daemonIni.empty());
    const fs::path daemon = dir.path() / "SERVUDAEMON.INI";
    const fs::path servu = dir.path() / "Serv-U.ini";
    writeBytes(daemon, "[GLOBAL]\r\n");
    writeBytes(servu, "[EXTERNAL]\r\nClientCheckDLL1=quellin.so\r\n");
    ::chmod(daemon.c_str(), 0600);
    const ServerIniFiles found = findServerIniFiles(dir.path().string());
    EXPECT_EQ(found.daemonIni, daemon.string());
    EXPECT_EQ(found.servuIni, servu.string());

    ASSERT_TRUE(enterPlugin(daemon.string()));
    EXPECT_EQ(readBytes(daemon),
              "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n\r\n[GLOBAL]\r\n\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(daemon.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // Committing again changes nothing, byte for byte.
    const std::string once = readBytes(daemon);
    ASSERT_TRUE(enterPlugin(daemon.string()));
    EXPECT_EQ(readBytes(daemon), once);
    ASSERT_TRUE(enterPlugin(servu.string()));
    EXPECT_EQ(readBytes(servu), "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n");
    const std::string corrected = readBytes(servu);
    ASSERT_TRUE(enterPlugin(servu.string()));
    EXPECT_EQ(readBytes(servu), corrected);
}

// The file's owner may write it, but a new file cannot be given its group
// (the owner is not in it): the file is patched in place after a copy, and
// keeps owner, group and mode. Run as another user than root, in a child.
TEST(ServerIniTest, AFileInAGroupTheUserIsNotInIsPatchedInPlace) {
    ASSERT_EQ(::geteuid(), 0u) << "the test takes another user's identity";
    const uid_t nobody = 65534;
    const gid_t otherGroup = 0;  // root's group: nobody is not in it
    test::TempDir dir;
    const fs::path server = dir.path() / "server";
    fs::create_directory(server);
    ASSERT_EQ(::chown(server.c_str(), nobody, nobody), 0);
    const fs::path ini = server / "ServUDaemon.ini";
    const std::string before = "[GLOBAL]\r\nVersion=6\r\n";
    writeBytes(ini, before);
    ASSERT_EQ(::chown(ini.c_str(), nobody, otherGroup), 0);
    ASSERT_EQ(::chmod(ini.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0)
            ::_exit(3);
        const WriteResult written = enterPlugin(ini.string());
        ::_exit(written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(readBytes(ini), "[EXTERNAL]\r\nClientCheckDLL1=Quellin.so\r\n\r\n" + before + "\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(ini.c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, nobody);
    EXPECT_EQ(info.st_gid, otherGroup);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(readBytes(backupFileOf(ini)), before);

    // The atomic replacement stays the way wherever the system allows it:
    // root may give any group, and leaves no copy behind.
    const fs::path other = server / "serv-u.ini";
    writeBytes(other, before);
    ASSERT_EQ(::chown(other.c_str(), nobody, otherGroup), 0);
    ASSERT_TRUE(enterPlugin(other.string()));
    ASSERT_EQ(::stat(other.c_str(), &info), 0);
    EXPECT_EQ(info.st_gid, otherGroup);
    EXPECT_FALSE(fs::exists(backupFileOf(other)));
}

TEST(ServerIniTest, ThePlugInFileIsWrittenOnceAndNeverReplaced) {
    test::TempDir dir;
    const std::string plugin = embeddedPluginBytes();
    ASSERT_GT(plugin.size(), 1000u);
    EXPECT_EQ(plugin.substr(0, 4),
              "\x7f"
              "ELF");
    ASSERT_TRUE(installPluginFile(dir.path().string(), plugin));
    const fs::path file = dir.path() / "Quellin.so";
    EXPECT_EQ(readBytes(file), plugin);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                  fs::perms::others_read | fs::perms::others_exec);
    writeBytes(file, "another version");
    ASSERT_TRUE(installPluginFile(dir.path().string(), plugin));
    EXPECT_EQ(readBytes(file), "another version");

    // A directory that cannot be written: the reason, and no file at all.
    test::TempDir readOnly;
    const std::string reason = test::inReadOnlyDirectory(readOnly.path(), [&] {
        const WriteResult result = installPluginFile(readOnly.path().string(), plugin);
        return result ? std::string("written") : result.error();
    });
    EXPECT_EQ(reason, test::readOnlyReason());
    EXPECT_TRUE(fs::is_empty(readOnly.path()));
}

}  // namespace
}  // namespace kestrix
