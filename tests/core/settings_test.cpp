#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/activity_log.h"
#include "core/private_files.h"
#include "core/settings.h"
#include "core/settings_store.h"
#include "tests/support/scratch.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The log lines written since a mark, without their date and time stamps.
class LogTail {
  public:
    LogTail() : start_(programLog().text().size()) {}
    std::vector<std::string> messages() const {
        std::vector<std::string> out;
        std::istringstream lines(programLog().text().substr(start_));
        std::string line;
        while (std::getline(lines, line)) {
            const auto stamp = line.find(":  ");
            out.push_back(stamp == std::string::npos ? line : line.substr(stamp + 3));
        }
        return out;
    }

  private:
    size_t start_;
};

using Lines = std::vector<std::string>;

TEST(SettingsTest, MissingKeyAndMissingValueReadAsEmptyText) {
    test::ScopedRegistry registry;
    EXPECT_EQ(openConnectionStringKey(), SettingsStore::kNotFound);
    EXPECT_EQ(readConnectionString(), "");
    EXPECT_EQ(getRegSettings("ftp_directory"), "");

    // The key exists but holds no default value: configured, yet empty.
    fs::create_directories(registry.root() / "software/orvane/serv-u/connectionstring");
    EXPECT_EQ(openConnectionStringKey(), SettingsStore::kSuccess);
    EXPECT_EQ(readConnectionString(), "");
}

TEST(SettingsTest, WritingConnectionStringCreatesKeyThenReusesIt) {
    test::ScopedRegistry registry;
    {
        LogTail log;
        EXPECT_TRUE(writeConnectionString("Provider=SQLite;Data Source=/tmp/a.db"));
        EXPECT_EQ(log.messages(),
                  (Lines{"registry", "open the registry", "file not found, create key"}));
    }
    {
        LogTail log;
        EXPECT_TRUE(writeConnectionString("Provider=SQLite;Data Source=/tmp/b.db"));
        EXPECT_EQ(log.messages(), (Lines{"registry", "open the registry", "No error"}));
    }
    EXPECT_EQ(readConnectionString(), "Provider=SQLite;Data Source=/tmp/b.db");

    // Stored as the bare bytes, readable by the owner's group only.
    const fs::path file = registry.root() / "software/orvane/serv-u/connectionstring/@";
    EXPECT_EQ(fileBytes(file), "Provider=SQLite;Data Source=/tmp/b.db");
    struct stat info {};
    ASSERT_EQ(::stat(file.c_str(), &info), 0);
    // Its owner's alone, or its owner's and the group kestrix's.
    EXPECT_EQ(info.st_mode & 0777, privateAccess().mode);
    EXPECT_EQ(info.st_mode & 0007, 0u);
}

TEST(SettingsTest, WritingSettingCreatesKeyAndLogsItsReturnCode) {
    test::ScopedRegistry registry;
    {
        LogTail log;
        EXPECT_TRUE(writeSetting("servu_path", "/opt/Serv-U/"));
        EXPECT_EQ(log.messages(),
                  (Lines{"file not found, create key", "create key return code: 0"}));
    }
    {
        LogTail log;
        EXPECT_TRUE(writeSetting("ftp_directory", "/srv/ftp/"));
        EXPECT_EQ(log.messages(), (Lines{"No error"}));
    }
    EXPECT_EQ(getRegSettings("servu_path"), "/opt/Serv-U/");
    EXPECT_EQ(getRegSettings("FTP_Directory"), "/srv/ftp/");
    struct stat info {};
    ASSERT_EQ(
        ::stat((registry.root() / "software/orvane/serv-u/settings/servu_path").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
}

TEST(SettingsTest, EmptyAndLongValuesReadBackWhole) {
    test::ScopedRegistry registry;
    EXPECT_TRUE(writeConnectionString(""));
    EXPECT_EQ(openConnectionStringKey(), SettingsStore::kSuccess);
    EXPECT_EQ(readConnectionString(), "");
    EXPECT_EQ(fileBytes(registry.root() / "software/orvane/serv-u/connectionstring/@"), "");

    std::string longString = "Provider=PostgreSQL;Data Source=db.example:5432;Password=";
    longString += std::string(2000 - longString.size(), 'x');
    ASSERT_EQ(longString.size(), 2000u);
    EXPECT_TRUE(writeConnectionString(longString));
    EXPECT_EQ(readConnectionString(), longString);

    const std::string longSetting(10000, 'p');
    EXPECT_TRUE(writeSetting("ini_path", longSetting));
    EXPECT_EQ(getRegSettings("ini_path"), longSetting);
}

TEST(SettingsTest, KeysAreFoundWithoutRegardToCaseAndTextStopsAtNul) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeConnectionString("Provider=SQLite;Data Source=/x.db"));
    const SettingsStore store = SettingsStore::fromEnvironment();
    EXPECT_EQ(store.readValue("Software\\Orvane\\Serv-U\\ConnectionString", ""),
              "Provider=SQLite;Data Source=/x.db");

    // Another program may have stored a terminator and junk after it.
    std::ofstream(registry.root() / "software/orvane/serv-u/connectionstring/@", std::ios::binary)
        << std::string("abc\0def", 7);
    EXPECT_EQ(readConnectionString(), "abc");
}

TEST(SettingsTest, RefusedWritesReportFailure) {
    // A root on a file system that refuses new entries (procfs refuses them
    // even to root).
    ::setenv("KESTRIX_REGISTRY", "/proc/self/kestrix-registry", 1);
    EXPECT_FALSE(writeConnectionString("Provider=SQLite;Data Source=/x.db"));
    EXPECT_FALSE(writeSetting("servu_path", "/opt/Serv-U/"));
    ::unsetenv("KESTRIX_REGISTRY");

    // The key exists, but the value's place is taken by a directory.
    test::ScopedRegistry registry;
    fs::create_directories(registry.root() / "software/orvane/serv-u/connectionstring/@");
    EXPECT_FALSE(writeConnectionString("Provider=SQLite;Data Source=/y.db"));
    fs::create_directories(registry.root() / "software/orvane/serv-u/settings/servu_path");
    EXPECT_EQ(writeSetting("servu_path", "/opt/Serv-U/").error(), "Is a directory");
}

TEST(SettingsTest, ReadOnlyStoreRefusesWritesWithTheSystemsReasonAndKeepsOldValues) {
    test::ScopedRegistry registry;
    ASSERT_TRUE(writeSetting("servu_path", "/old/"));
    ASSERT_TRUE(writeConnectionString("Provider=SQLite;Data Source=/old.db"));

    const std::string seen = test::inReadOnlyDirectory(registry.root(), [] {
        const WriteResult setting = writeSetting("servu_path", "/new/");
        const WriteResult connection = writeConnectionString("Provider=SQLite;Data Source=/new.db");
        return std::string(setting ? "stored" : setting.error()) + "|" +
               (connection ? "stored" : connection.error()) + "|" + getRegSettings("servu_path");
    });
    EXPECT_EQ(seen, test::readOnlyReason() + "|" + test::readOnlyReason() + "|/old/");
    EXPECT_EQ(readConnectionString(), "Provider=SQLite;Data Source=/old.db");
}

TEST(SettingsTest, ReaderInAnotherProcessNeverSeesTornValue) {
    test::ScopedRegistry registry;
    const std::string a(3000, 'a');
    const std::string b(2000, 'b');
    ASSERT_TRUE(writeConnectionString(a));

    const pid_t writer = ::fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0; i < 400; ++i) {
            if (!writeConnectionString(i % 2 ? a : b)) ::_exit(1);
        }
        ::_exit(0);
    }
    int torn = 0;
    int reads = 0;
    int status = 0;
    while (::waitpid(writer, &status, WNOHANG) == 0) {
        const std::string value = readConnectionString();
        ++reads;
        if (value != a && value != b) ++torn;
    }
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_GT(reads, 0);
    EXPECT_EQ(torn, 0);
}

}  // namespace
}  // namespace kestrix
