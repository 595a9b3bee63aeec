// The utility's window: findings, the run with its progress, the report,
// and the way back to Kestrix.
#include "maintenance/migration/migration_window.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "tests/migration/sample_account_file.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix::migration::test {
namespace {

using kestrix::test::TempDir;

class MigrationWindowTest : public kestrix::test::ShellFixture {
  protected:
    void SetUp() override {
        ShellFixture::SetUp();
        scratch_ = kestrix::test::makeScratchDatabase(Engine::SQLite);
    }

    MigrationSource sourceWith(const std::string& content) {
        const auto path = dir_.path() / "ServUDaemon.ini";
        std::ofstream(path, std::ios::binary) << content;
        return {scratch_->connectionString(), path.string()};
    }

    static QString report(MigrationWindow& w) {
        return w.findChild<QPlainTextEdit*>("txtReport")->toPlainText();
    }

    TempDir dir_;
    std::unique_ptr<kestrix::test::ScratchDatabase> scratch_;
};

TEST_F(MigrationWindowTest, ShowsFindingsMigratesAndStartsKestrixAgain) {
    MigrationWindow w(sourceWith(domainFormFile()), true, dir_.path());
    EXPECT_TRUE(report(w).contains("3 users"));
    EXPECT_TRUE(report(w).contains("Access2=/srv/ftp/alice/*.tmp|R"));
    auto* migrate = w.findChild<QPushButton*>("cmdMigrate");
    ASSERT_TRUE(migrate->isEnabled());
    migrate->click();
    ASSERT_TRUE(w.result());
    EXPECT_TRUE(w.result()->migratedAny());
    EXPECT_TRUE(report(w).contains("Migrated 3 of 3 users")) << report(w).toStdString();
    auto* progress = w.findChild<QProgressBar*>("prgWriting");
    EXPECT_EQ(progress->value(), progress->maximum());
    EXPECT_EQ(w.findChild<QLabel*>("lblStep")->text(), "Done");
    EXPECT_FALSE(migrate->isEnabled());
    EXPECT_FALSE(w.findChild<QPushButton*>("cmdCancel")->isEnabled());
    EXPECT_EQ(kestrix::test::rowsOn(scratch_->connectionString(), "select count(*) as n from users",
                                    {"n"}),
              (kestrix::test::Rows{{"3"}}));

    // No program file: said so, and the window stays.
    w.show();
    boxes_.answer(Answer::OK);
    w.findChild<QPushButton*>("cmdStartKestrix")->click();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_NE(boxes_.shown()[0].text.find(dir_.path().string()), std::string::npos);
    EXPECT_TRUE(w.isVisible());

    // A program file that leaves a mark when it starts.
    const auto program = dir_.path() / "Tavix";
    std::ofstream(program) << "#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n";
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    w.findChild<QPushButton*>("cmdStartKestrix")->click();
    EXPECT_FALSE(w.isVisible());
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return std::filesystem::exists(dir_.path() / "started"); }, 10000));
}

TEST_F(MigrationWindowTest, CancelDuringTheRunUndoesItAndTheWindowIsCentred) {
    MigrationWindow w(sourceWith(domainFormFile()), true, dir_.path());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_LE((w.geometry().center() - screen.center()).manhattanLength(), 2)
        << w.geometry().center().x() << "," << w.geometry().center().y();
    w.show();
    auto* cancel = w.findChild<QPushButton*>("cmdCancel");
    auto* migrate = w.findChild<QPushButton*>("cmdMigrate");
    EXPECT_FALSE(cancel->isEnabled());
    // Pressed at the run's first look at the events, as a user would.
    bool pressed = false;
    QTimer::singleShot(0, &w, [&] {
        pressed = cancel->isEnabled();
        cancel->click();
    });
    migrate->click();
    EXPECT_TRUE(pressed);
    ASSERT_TRUE(w.result());
    EXPECT_TRUE(w.result()->outcome.cancelled);
    EXPECT_TRUE(report(w).contains("Cancelled: nothing was migrated")) << report(w).toStdString();
    EXPECT_EQ(w.findChild<QLabel*>("lblStep")->text(), "Cancelled");
    EXPECT_EQ(kestrix::test::rowsOn(scratch_->connectionString(), "select count(*) as n from users",
                                    {"n"}),
              (kestrix::test::Rows{{"0"}}));
    // Closing the window while it writes cancels instead.
    ASSERT_TRUE(migrate->isEnabled());
    QTimer::singleShot(0, &w, [&] { w.close(); });
    migrate->click();
    EXPECT_TRUE(w.result()->outcome.cancelled);
    EXPECT_TRUE(w.isVisible());

    // Offered again, and this time it runs through.
    ASSERT_TRUE(migrate->isEnabled());
    migrate->click();
    EXPECT_TRUE(report(w).contains("Migrated 3 of 3 users")) << report(w).toStdString();
}

TEST_F(MigrationWindowTest, FileWithoutUsersOffersNothingToMigrate) {
    MigrationWindow w(sourceWith("[GLOBAL]\r\nVersion=6.4\r\n"), false, dir_.path());
    EXPECT_TRUE(report(w).contains("lists no users"));
    EXPECT_FALSE(w.findChild<QPushButton*>("cmdMigrate")->isEnabled());

    MigrationWindow missing({scratch_->connectionString(), (dir_.path() / "none.ini").string()},
                            false, dir_.path());
    EXPECT_TRUE(report(missing).contains("cannot be read")) << report(missing).toStdString();
    EXPECT_FALSE(missing.findChild<QPushButton*>("cmdMigrate")->isEnabled());
}

}  // namespace
}  // namespace kestrix::migration::test
