// Which file Help hands to the desktop, and what it says when it cannot.
#include <gtest/gtest.h>

#include <QUrl>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "maintenance/manual.h"
#include "tests/support/scratch.h"
#include "tests/ui_support/scripted_shell.h"

namespace kestrix {
namespace {

class OpenManual : public ::testing::Test {
  protected:
    // A program directory whose name needs escaping in a URL.
    std::filesystem::path programDirectory() const { return dir_.path() / "Kestrix 2 #%?;"; }
    ManualOutcome help(bool desktopOpens) {
        return openManual(programDirectory(), boxes_, [&](const std::string& url) {
            urls_.push_back(url);
            return desktopOpens;
        });
    }
    void TearDown() override { EXPECT_EQ(boxes_.unanswered(), 0u); }

    test::TempDir dir_;
    test::ScriptedMessageBoxes boxes_;
    std::vector<std::string> urls_;
};

TEST_F(OpenManual, TheUrlLeadsBackToTheManualWhateverTheDirectorysName) {
    std::filesystem::create_directories(programDirectory());
    std::ofstream(programDirectory() / "Pelm_Manual.pdf") << "%PDF-1.4\n";
    EXPECT_EQ(help(true), ManualOutcome::Opened);
    ASSERT_EQ(urls_.size(), 1u);
    const QUrl url(QString::fromStdString(urls_[0]));
    EXPECT_EQ(url.scheme(), QStringLiteral("file"));
    EXPECT_EQ(url.toLocalFile().toStdString(), (programDirectory() / "Pelm_Manual.pdf").string());
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(OpenManual, AMissingDirectoryOrManualIsReportedAndNothingIsOpened) {
    boxes_.answer(Answer::OK);
    EXPECT_EQ(help(true), ManualOutcome::Missing);
    std::filesystem::create_directories(programDirectory());
    // Another manual's name is not the manual.
    std::ofstream(programDirectory() / "pelm_manual.pdf") << "%PDF-1.4\n";
    boxes_.answer(Answer::OK);
    EXPECT_EQ(help(true), ManualOutcome::Missing);
    const Message missing{"The help file is missing.\r\nIt should be " +
                              (programDirectory() / "Pelm_Manual.pdf").string() + ".",
                          "Tavix2", MessageIcon::Exclamation, MessageButtons::OK, 1};
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{missing, missing}));
    EXPECT_TRUE(urls_.empty());
}

TEST_F(OpenManual, ADesktopThatCannotOpenItIsNotReportedAsSuccess) {
    std::filesystem::create_directories(programDirectory());
    std::ofstream(programDirectory() / "Pelm_Manual.pdf") << "%PDF-1.4\n";
    boxes_.answer(Answer::OK);
    EXPECT_EQ(help(false), ManualOutcome::NoViewer);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    const Message& said = boxes_.shown()[0];
    EXPECT_EQ(said.icon, MessageIcon::Exclamation);
    EXPECT_EQ(said.caption, "Tavix2");
    EXPECT_NE(said.text.find("No program to show PDF files is installed"), std::string::npos);
    EXPECT_NE(said.text.find((programDirectory() / "Pelm_Manual.pdf").string()), std::string::npos)
        << said.text;
}

}  // namespace
}  // namespace kestrix
