// Tools, Migration Utility: the question, the choice of build, the hand-over.
#include "maintenance/migration_launcher.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>
#include <QRadioButton>

#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "maintenance/migrate_window.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix {
namespace {

using test::TempDir;

std::string fileBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string resourceBytes(MigrationBuild build) {
    QFile resource(QString::fromLatin1(migrationResource(build)));
    EXPECT_TRUE(resource.open(QIODevice::ReadOnly));
    const QByteArray bytes = resource.readAll();
    return std::string(bytes.constData(), bytes.size());
}

class MigrationLauncherTest : public test::ShellFixture {
  protected:
    void TearDown() override {
        // The utility started for real: it has nothing to migrate here.
        if (window_ && window_->startedPid() > 0)
            ::kill(static_cast<pid_t>(window_->startedPid()), SIGKILL);
        ShellFixture::TearDown();
    }

    // The dialog as Tools, Migration Utility shows it, with the given step
    // taken while it is open.
    void runDialog(const std::function<void(MigrateWindow&)>& step) {
        MigrationHandOver handOver;
        handOver.mayLeave = [this] {
            ++leaveQuestions_;
            return mayLeave_;
        };
        handOver.leave = [] { exitProgram(1); };
        window_ = std::make_unique<MigrateWindow>(MigrationPlaces{cache(), program()}, handOver);
        test::whenWindowShown("frmMigrate", [this, step] { step(*window_); });
        showWindow(window_.get(), 1);
        EXPECT_FALSE(window_->isVisible());
    }

    // The utility goes to a cache directory that does not exist yet, apart
    // from the program's own.
    std::filesystem::path cache() const { return dir_.path() / "cache" / "kestrix"; }
    std::filesystem::path program() const { return dir_.path() / "program"; }
    std::filesystem::path utility() const { return cache() / "migration"; }

    TempDir dir_;
    std::unique_ptr<MigrateWindow> window_;
    bool mayLeave_ = true;
    int leaveQuestions_ = 0;
};

TEST_F(MigrationLauncherTest, QuestionAsksWithNoAsDefault) {
    boxes_.answer(Answer::No);
    boxes_.answer(Answer::Cancel);
    boxes_.answer(Answer::Yes);
    ShellMessageBoxes boxes;
    EXPECT_FALSE(askToRunMigration(boxes));
    EXPECT_FALSE(askToRunMigration(boxes));
    EXPECT_TRUE(askToRunMigration(boxes));
    const Message& asked = boxes_.shown().front();
    EXPECT_EQ(asked.text, kMigrationQuestion);
    EXPECT_EQ(asked.caption, "Tavix2");
    EXPECT_EQ(asked.icon, MessageIcon::Question);
    EXPECT_EQ(asked.buttons, MessageButtons::YesNoCancel);
    EXPECT_EQ(asked.defaultButton, 2);
}

TEST_F(MigrationLauncherTest, OkWithoutTouchingTheOptionsStartsTheNewerBuildAndEnds) {
    const std::string newer = resourceBytes(MigrationBuild::Server4Up);
    ASSERT_FALSE(newer.empty());
    ASSERT_NE(newer, resourceBytes(MigrationBuild::Server2To3));
    runDialog([](MigrateWindow& w) {
        EXPECT_EQ(w.windowTitle(), "Tavix2");
        auto* newerOption = w.findChild<QRadioButton*>("optVersion1");
        ASSERT_TRUE(newerOption);
        EXPECT_TRUE(newerOption->isChecked());
        w.findChild<QPushButton*>("cmdOK")->click();
    });
    EXPECT_EQ(window_->lastLaunch(), MigrationLaunch::HandedOver);
    EXPECT_EQ(fileBytes(utility()), newer);
    struct stat info {};
    ASSERT_EQ(::stat(utility().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0755u);
    EXPECT_EQ(leaveQuestions_, 1);
    EXPECT_EQ(end_.ends, 1);
    EXPECT_TRUE(boxes_.shown().empty());

    // Started in its own directory, told which program to start again.
    const std::string proc = "/proc/" + std::to_string(window_->startedPid());
    EXPECT_EQ(std::filesystem::read_symlink(proc + "/cwd"), cache());
    EXPECT_EQ(fileBytes(proc + "/cmdline"),
              utility().string() + '\0' + "--program-directory" + '\0' + program().string() + '\0');
    EXPECT_FALSE(std::filesystem::exists(program()));
}

TEST_F(MigrationLauncherTest, OlderBuildReplacesAnEarlierUtility) {
    std::filesystem::create_directories(cache());
    std::ofstream(utility(), std::ios::binary) << resourceBytes(MigrationBuild::Server4Up);
    runDialog([](MigrateWindow& w) {
        w.findChild<QRadioButton*>("optVersion0")->click();
        w.findChild<QPushButton*>("cmdOK")->click();
    });
    EXPECT_EQ(window_->lastLaunch(), MigrationLaunch::HandedOver);
    EXPECT_EQ(fileBytes(utility()), resourceBytes(MigrationBuild::Server2To3));
    EXPECT_EQ(end_.ends, 1);
}

TEST_F(MigrationLauncherTest, CancelAndTheUnsavedChangesQuestionWriteNothing) {
    runDialog([](MigrateWindow& w) { w.findChild<QPushButton*>("cmdCancel")->click(); });
    EXPECT_FALSE(window_->lastLaunch().has_value());

    mayLeave_ = false;
    runDialog([](MigrateWindow& w) { w.findChild<QPushButton*>("cmdOK")->click(); });
    EXPECT_EQ(window_->lastLaunch(), MigrationLaunch::Stayed);
    EXPECT_EQ(leaveQuestions_, 1);

    EXPECT_FALSE(std::filesystem::exists(cache()));
    EXPECT_EQ(end_.ends, 0);
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(MigrationLauncherTest, UnwritableCacheDirectoryIsReportedAndKestrixStays) {
    const std::string outcome = test::inReadOnlyDirectory(dir_.path(), [this] {
        runDialog([this](MigrateWindow& w) {
            boxes_.answer(Answer::OK);
            w.findChild<QPushButton*>("cmdOK")->click();
        });
        const bool failed = window_->lastLaunch() == MigrationLaunch::Failed;
        return std::string(failed ? "failed" : "other") + "|" + std::to_string(end_.ends) + "|" +
               (boxes_.shown().empty() ? std::string() : boxes_.shown().back().text);
    });
    EXPECT_EQ(outcome, "failed|0|The migration utility could not be written to " +
                           utility().string() + ": " + test::readOnlyReason() +
                           ".\r\nKestrix keeps running.");
    EXPECT_TRUE(std::filesystem::is_empty(dir_.path()));
}

// The user's own cache: XDG's when it is an absolute path (the
// base directory rules ignore a relative one), else ~/.cache.
TEST(MigrationCacheDirectoryTest, FollowsXdgCacheHomeElseTheHomeDirectory) {
    const char* savedCache = std::getenv("XDG_CACHE_HOME");
    const std::string cache = savedCache ? savedCache : "";
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("HOME", "/home/ann", 1);
    ::setenv("XDG_CACHE_HOME", "/var/cache/ann", 1);
    const std::filesystem::path fromXdg = migrationCacheDirectory();
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1);
    const std::filesystem::path fromRelative = migrationCacheDirectory();
    ::unsetenv("XDG_CACHE_HOME");
    const std::filesystem::path fromHome = migrationCacheDirectory();
    if (savedCache) ::setenv("XDG_CACHE_HOME", cache.c_str(), 1);
    ::setenv("HOME", home.c_str(), 1);
    EXPECT_EQ(fromXdg, "/var/cache/ann/kestrix");
    EXPECT_EQ(fromRelative, "/home/ann/.cache/kestrix");
    EXPECT_EQ(fromHome, "/home/ann/.cache/kestrix");
}

}  // namespace
}  // namespace kestrix
