#include "maintenance/program_swap.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLockFile>
#include <QProcess>

#include <filesystem>
#include <fstream>
#include <future>
#include <latch>
#include <memory>
#include <thread>

#include "tests/maintenance/files.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"

namespace kestrix::test {
namespace {

namespace fs = std::filesystem;

// A scratch program directory: a stand-in old program and a package that,
// once started, leaves a mark.
class ProgramSwapTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ensureApplication();
        writeFile(dir_.path() / kProgramFileName, oldProgram_, kMode);
        writeFile(dir_.path() / kPackageFileName, newProgram_, fs::perms::owner_read);
    }

    void expectUnchanged() {
        EXPECT_EQ(readFile(dir_.path() / kProgramFileName), oldProgram_);
        EXPECT_EQ(readFile(dir_.path() / kPackageFileName), newProgram_);
        EXPECT_FALSE(fs::exists(dir_.path() / kBackupFileName));
    }

    static constexpr fs::perms kMode =
        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec;
    TempDir dir_;
    TempDir locks_;
    QString lockPath_ = QString::fromStdString((locks_.path() / "tavix.lock").string());
    fs::path mark_ = dir_.path() / "new-program-ran";
    std::string oldProgram_ = "#!/bin/sh\nexit 0\n";
    std::string newProgram_ = "#!/bin/sh\necho new > " + mark_.string() + "\n";
};

TEST_F(ProgramSwapTest, SwapsKeepsTheBackupAndStartsTheNewProgram) {
    const SwapReport report = swapProgram(dir_.path(), lockPath_, 1000);
    ASSERT_EQ(report.outcome, SwapOutcome::Swapped) << report.detail;
    EXPECT_EQ(readFile(dir_.path() / kProgramFileName), newProgram_);
    EXPECT_EQ(fs::status(dir_.path() / kProgramFileName).permissions(), kMode);
    EXPECT_EQ(readFile(dir_.path() / kBackupFileName), oldProgram_);
    EXPECT_FALSE(fs::exists(dir_.path() / kPackageFileName));
    // Nothing but the three files: no temporary file stays behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
    ASSERT_TRUE(startProgram(dir_.path()));
    EXPECT_TRUE(appears(mark_));
}

TEST_F(ProgramSwapTest, ProgramStillRunningChangesNothing) {
    QLockFile running(lockPath_);
    ASSERT_TRUE(running.tryLock(0));
    EXPECT_EQ(swapProgram(dir_.path(), lockPath_, 300).outcome, SwapOutcome::StillRunning);
    expectUnchanged();
}

TEST_F(ProgramSwapTest, WaitsUntilTheProgramHasEnded) {
    auto running = std::make_unique<QLockFile>(lockPath_);
    ASSERT_TRUE(running->tryLock(0));
    auto swap =
        std::async(std::launch::async, [&] { return swapProgram(dir_.path(), lockPath_, 30000); });
    // While the program runs, the swap neither ends nor touches a file.
    EXPECT_EQ(swap.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout);
    expectUnchanged();
    running.reset();
    const SwapReport report = swap.get();
    EXPECT_EQ(report.outcome, SwapOutcome::Swapped) << report.detail;
    EXPECT_EQ(readFile(dir_.path() / kProgramFileName), newProgram_);
}

TEST_F(ProgramSwapTest, MissingProgramOrPackageChangesNothing) {
    fs::remove(dir_.path() / kPackageFileName);
    EXPECT_EQ(swapProgram(dir_.path(), lockPath_, 0).outcome, SwapOutcome::NoPackage);
    EXPECT_EQ(readFile(dir_.path() / kProgramFileName), oldProgram_);
    fs::remove(dir_.path() / kProgramFileName);
    writeFile(dir_.path() / kPackageFileName, newProgram_, fs::perms::owner_read);
    EXPECT_EQ(swapProgram(dir_.path(), lockPath_, 0).outcome, SwapOutcome::NoProgram);
    EXPECT_EQ(readFile(dir_.path() / kPackageFileName), newProgram_);
}

// The updater program itself, after its ten seconds.
TEST_F(ProgramSwapTest, UpdaterProgramReplacesAndStarts) {
    const fs::path updater = dir_.path() / "update";
    fs::copy_file(KESTRIX_UPDATER_PROGRAM, updater);
    QProcess process;
    process.setProgram(QString::fromStdString(updater.string()));
    // Its own settings store, so only this test's program could hold the lock.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESTRIX_REGISTRY"), QString::fromStdString(locks_.path()));
    process.setProcessEnvironment(environment);
    process.start();
    // It holds its lock from its start: a program started meanwhile sees it.
    QDeadlineTimer deadline(60000);
    while (!updaterRunning(dir_.path()) && process.state() != QProcess::NotRunning &&
           !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_TRUE(updaterRunning(dir_.path()));
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_FALSE(updaterRunning(dir_.path()));
    EXPECT_EQ(process.exitCode(), 0);
    EXPECT_EQ(readFile(dir_.path() / kProgramFileName), newProgram_);
    EXPECT_EQ(readFile(dir_.path() / kBackupFileName), oldProgram_);
    EXPECT_FALSE(fs::exists(dir_.path() / kPackageFileName));
    EXPECT_TRUE(appears(mark_));
}

}  // namespace
}  // namespace kestrix::test
