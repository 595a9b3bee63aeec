// Tools, Migration Utility as the program wires it.
#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <QRadioButton>

#include <filesystem>

#include "app/standard_commands.h"
#include "maintenance/migration_launcher.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix {
namespace {

QWidget* topLevel(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name)) return w;
    return nullptr;
}

using MigrationCommandTest = test::ShellFixture;

TEST_F(MigrationCommandTest, NoLeavesEverythingYesOffersTheBuildsKeptBetweenOpenings) {
    test::TempDir dir;
    const ProgramCommands commands = standardCommands(programPlaces(dir.path()));
    boxes_.answer(Answer::No);
    commands.migrationUtility();
    EXPECT_EQ(topLevel("frmMigrate"), nullptr);

    // The first opening: the older build chosen, then Cancel.
    int openings = 0;
    test::whenWindowShown("frmMigrate", [&] {
        ++openings;
        QWidget* w = topLevel("frmMigrate");
        ASSERT_TRUE(w);
        EXPECT_TRUE(w->findChild<QRadioButton*>("optVersion1")->isChecked());
        w->findChild<QRadioButton*>("optVersion0")->click();
        w->findChild<QPushButton*>("cmdCancel")->click();
    });
    boxes_.answer(Answer::Yes);
    commands.migrationUtility();
    // The second: the dialog kept its choice.
    test::whenWindowShown("frmMigrate", [&] {
        ++openings;
        QWidget* w = topLevel("frmMigrate");
        ASSERT_TRUE(w);
        EXPECT_TRUE(w->findChild<QRadioButton*>("optVersion0")->isChecked());
        w->findChild<QPushButton*>("cmdCancel")->click();
    });
    boxes_.answer(Answer::Yes);
    commands.migrationUtility();

    EXPECT_EQ(openings, 2);
    ASSERT_EQ(boxes_.shown().size(), 3u);
    for (const Message& asked : boxes_.shown())
        EXPECT_EQ(asked.text, kMigrationQuestion);
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "migration"));
    EXPECT_EQ(end_.ends, 0);
}

}  // namespace
}  // namespace kestrix
