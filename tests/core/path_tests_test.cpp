#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <thread>

#include "core/path_tests.h"
#include "core/text_routines.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

TEST(PathTestsTest, DirectoriesFilesAndMissingPaths) {
    test::TempDir dir;
    const fs::path empty = dir.path() / "empty";
    const fs::path full = dir.path() / "full";
    fs::create_directories(empty);
    fs::create_directories(full);
    std::ofstream(full / "file.txt") << "x";
    fs::create_directory_symlink(full, dir.path() / "link");

    const PathTests e = getPathTests(empty.string());
    EXPECT_TRUE(e.isDirectory);
    EXPECT_TRUE(e.isEmptyDirectory);
    EXPECT_FALSE(e.isRoot || e.isUNC || e.isURL || e.isNetworkPath);

    const PathTests f = getPathTests(full.string() + "/");
    EXPECT_TRUE(f.isDirectory);
    EXPECT_FALSE(f.isEmptyDirectory);

    EXPECT_TRUE(getPathTests((dir.path() / "link").string()).isDirectory);
    EXPECT_FALSE(getPathTests((full / "file.txt").string()).isDirectory);
    EXPECT_FALSE(getPathTests((dir.path() / "missing").string()).isDirectory);
    EXPECT_FALSE(getPathTests("").isDirectory);
    EXPECT_TRUE(getPathTests("/").isRoot);
    EXPECT_TRUE(getPathTests("/").isDirectory);
}

TEST(PathTestsTest, UncPathsAndShareRoots) {
    EXPECT_TRUE(isUncPath("//fileserver/share/dir"));
    EXPECT_TRUE(isUncPath("\\\\fileserver\\share"));
    EXPECT_FALSE(isUncPath("//"));
    EXPECT_FALSE(isUncPath("///srv"));
    EXPECT_FALSE(isUncPath("/srv/ftp"));

    EXPECT_TRUE(isRootPath("//fileserver/share"));
    EXPECT_TRUE(isRootPath("//fileserver/share/"));
    EXPECT_FALSE(isRootPath("//fileserver/share/dir"));
    EXPECT_FALSE(isRootPath("//fileserver"));
    EXPECT_FALSE(isRootPath("/srv"));

    const PathTests unc = getPathTests("//fileserver/share/dir");
    EXPECT_TRUE(unc.isUNC);
    EXPECT_TRUE(unc.isNetworkPath);
}

TEST(PathTestsTest, UrlsNeedASchemeOfTwoOrMoreCharacters) {
    for (const char* url :
         {"http://x", "ftp:", "file:///srv", "mailto:a@b", "svn+ssh://h", "a1.b-c:rest"}) {
        EXPECT_TRUE(isUrl(url)) << url;
    }
    for (const char* notUrl : {"c:/x", "/srv/ftp", ":x", "ht tp://x", "", "no-colon"}) {
        EXPECT_FALSE(isUrl(notUrl)) << notUrl;
    }
}

TEST(PathTestsTest, NetworkFileSystemsFromTheMountTable) {
    const std::string table =
        "/dev/vda / ext4 rw 0 0\n"
        "server:/export /mnt/share nfs4 rw 0 0\n"
        "//nas/media /mnt/my\\040media cifs rw 0 0\n"
        "tmpfs /mnt/share/local tmpfs rw 0 0\n";
    EXPECT_EQ(fileSystemTypeOf("/mnt/share", table), "nfs4");
    EXPECT_EQ(fileSystemTypeOf("/mnt/share/a/b", table), "nfs4");
    EXPECT_EQ(fileSystemTypeOf("/mnt/sharex", table), "ext4");
    EXPECT_EQ(fileSystemTypeOf("/mnt/share/local/x", table), "tmpfs");
    EXPECT_EQ(fileSystemTypeOf("/mnt/my media/x", table), "cifs");
    for (const char* type :
         {"nfs", "nfs4", "cifs", "smb3", "fuse.sshfs", "9p", "ceph", "glusterfs"}) {
        EXPECT_TRUE(isNetworkFileSystem(type)) << type;
    }
    EXPECT_FALSE(isNetworkFileSystem("ext4"));
    EXPECT_FALSE(isNetworkFileSystem("tmpfs"));
}

TEST(TextRoutinesTest, CountCharCountsEveryOccurrence) {
    EXPECT_EQ(countChar("192.168.1.10", '.'), 3u);
    EXPECT_EQ(countChar("", '.'), 0u);
    EXPECT_EQ(countChar("***", '*'), 3u);
    EXPECT_EQ(countChar("abc", 'A'), 0u);
}

TEST(TextRoutinesTest, ClockSecondsMeasuresElapsedTime) {
    // Held against the steady clock: the 20 ms waited lie inside what it
    // measures, and what it measures inside the reference around it.
    using namespace std::chrono;
    const auto outerStart = steady_clock::now();
    const double start = clockSeconds();
    const auto innerStart = steady_clock::now();
    while (steady_clock::now() - innerStart < milliseconds(20)) {
    }
    const double end = clockSeconds();
    const double outer = duration<double>(steady_clock::now() - outerStart).count();
    EXPECT_GE(end - start, 0.020);
    EXPECT_LE(end - start, outer);
    double previous = end;
    for (int i = 0; i < 1000; ++i) {
        const double now = clockSeconds();
        ASSERT_GE(now, previous);
        previous = now;
    }
}

}  // namespace
}  // namespace kestrix
