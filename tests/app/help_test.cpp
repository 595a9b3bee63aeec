// Help, from the button and from the menu, with the program as it runs for
// real: the manual beside the program, handed to the desktop.
#include <QAction>
#include <QPushButton>
#include <QUrl>

#include <filesystem>
#include <fstream>

#include "app/main_window.h"
#include "app/standard_commands.h"
#include "tests/app/app_fixture.h"

namespace kestrix {
namespace {

class HelpTest : public test::AppFixture {
  protected:
    void SetUp() override {
        test::AppFixture::SetUp();
        scratch_ = test::makeScratchDatabase(Engine::SQLite);
        configureStore(scratch_->connectionString(), servuPath(), ftpRoot());
        program_ = makeProgram(standardCommands(programPlaces(dir_.path())));
        main_ = &program_->mainWindow();
        showWindow(main_, 0);
    }
    void pressHelp() { child<QPushButton>(main_, "cmdHelp")->click(); }
    void chooseHelp() { child<QAction>(main_, "mnuItemHelp")->trigger(); }
    std::filesystem::path manual() const { return dir_.path() / "Pelm_Manual.pdf"; }
    // What Help says without the manual: that it is missing, and where.
    Message missing() const {
        return Message{"The help file is missing.\r\nIt should be " + manual().string() + ".",
                       "Tavix2", MessageIcon::Exclamation, MessageButtons::OK, 1};
    }
    void placeManual() { std::ofstream(manual()) << "%PDF-1.4\n"; }

    std::unique_ptr<test::ScratchDatabase> scratch_;
    MainWindow* main_ = nullptr;
};

TEST_F(HelpTest, WithoutTheManualBothWaysSayTheHelpFileIsMissing) {
    boxes_.answer(Answer::OK);
    pressHelp();
    boxes_.answer(Answer::OK);
    chooseHelp();
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{missing(), missing()}));
    EXPECT_TRUE(desktop_.urls.empty());
    EXPECT_TRUE(main_->isVisible());
}

TEST_F(HelpTest, ADirectoryInTheManualsPlaceIsNoManual) {
    std::filesystem::create_directory(manual());
    boxes_.answer(Answer::OK);
    pressHelp();
    EXPECT_EQ(boxes_.shown(), std::vector<Message>{missing()});
    EXPECT_TRUE(desktop_.urls.empty());
}

TEST_F(HelpTest, TheManualBesideTheProgramGoesToTheDesktopWithoutAMessage) {
    placeManual();
    pressHelp();
    chooseHelp();
    ASSERT_EQ(desktop_.urls.size(), 2u);
    EXPECT_EQ(desktop_.urls[0], desktop_.urls[1]);
    const QUrl url(QString::fromStdString(desktop_.urls[0]));
    EXPECT_TRUE(url.isLocalFile()) << desktop_.urls[0];
    EXPECT_EQ(url.toLocalFile().toStdString(), manual().string());
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(HelpTest, ADesktopWithoutAPdfViewerIsToldWithTheManualsPath) {
    placeManual();
    desktop_.opens = false;
    boxes_.answer(Answer::OK);
    pressHelp();
    ASSERT_EQ(desktop_.urls.size(), 1u);
    const Message noViewer{
        "No program to show PDF files is installed on this computer.\r\n\r\n"
        "The manual is the file " +
            manual().string() + ".",
        "Tavix2", MessageIcon::Exclamation, MessageButtons::OK, 1};
    EXPECT_EQ(boxes_.shown(), std::vector<Message>{noViewer});
}

}  // namespace
}  // namespace kestrix
