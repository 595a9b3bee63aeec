// The configuration dialog driven through its controls, and start-up's
// settings step that fills it.
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>

#include "core/activity_log.h"
#include "core/connection_string.h"
#include "core/settings.h"
#include "setup/configure_window.h"
#include "setup/connection_dialog.h"
#include "setup/database_wizard.h"
#include "setup/load_settings.h"
#include "shell/shell.h"
#include "shell/status_window.h"
#include "tests/ui_support/shell_fixture.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

class ConfigureWindowTest : public test::ShellFixture {
  protected:
    void SetUp() override {
        test::ShellFixture::SetUp();
        fs::create_directories(dir_.path() / "Serv-U");
        fs::create_directories(dir_.path() / "ftp");
        std::ofstream(dir_.path() / "Serv-U" / "ServUDaemon.ini").flush();
        defaults_ = {(dir_.path() / "Serv-U").string(), (dir_.path() / "ftp").string(),
                     scratch_->connectionString()};
    }
    void TearDown() override {
        dialog_.reset();
        status_.reset();
        test::ShellFixture::TearDown();
    }

    ConfigureWindow& dialog() {
        if (!dialog_) {
            ConfigureLinks links;
            links.popMain = [this] { ++listRefills_; };
            links.statusWindow = [this]() -> QWidget* {
                if (!status_) status_ = std::make_unique<StatusWindow>(programLog());
                return status_.get();
            };
            links.endForUnreachableDatabase = [this] { ++fatalEnds_; };
            links.askConnection = [this](const std::string& server) {
                connectionAsks_.push_back(server);
                return std::optional<std::string>();
            };
            dialog_ = std::make_unique<ConfigureWindow>(defaults_, links);
            dialog_->formLoad();
        }
        return *dialog_;
    }
    template <typename T>
    T* child(const char* name) {
        T* found = dialog().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLineEdit* box(const char* name) { return child<QLineEdit>(name); }
    QPushButton* button(const char* name) { return child<QPushButton>(name); }
    void nextEnableCheck() {
        QSignalSpy tick(dialog().enableCommitTimer(), &QTimer::timeout);
        ASSERT_TRUE(tick.wait(5000));
    }
    // Shows the dialog modally and runs the action inside its wait.
    void whileOpen(std::function<void()> action) {
        test::whenWindowShown("frmConfigure", std::move(action));
        dialog().showModally();
    }

    test::TempDir dir_;
    std::unique_ptr<test::ScratchDatabase> scratch_ = test::makeScratchDatabase(Engine::SQLite);
    DesignerDefaults defaults_;
    std::unique_ptr<ConfigureWindow> dialog_;
    std::unique_ptr<StatusWindow> status_;
    int listRefills_ = 0;
    int fatalEnds_ = 0;
    std::vector<std::string> connectionAsks_;

    // The wizard's controls.
    template <typename T>
    T* inWizard(const char* name) {
        T* found = dialog().wizard().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    void clickInWizard(const char* name) {
        QTest::mouseClick(inWizard<QPushButton>(name), Qt::LeftButton);
    }
    // The names of the wizard's page controls that are not hidden.
    std::vector<std::string> wizardFace() {
        std::vector<std::string> names;
        for (const char* name :
             {"lblPage1", "optAccess", "optSQL", "cmdPage1Cancel", "cmdPage1Next", "lblPage2",
              "cmdPage2Next", "cmdPage2Cancel", "txtLog", "cmdFinish", "lblPage4", "cmdPage4Next",
              "cmdPage4Cancel"}) {
            if (!inWizard<QWidget>(name)->isHidden()) names.push_back(name);
        }
        return names;
    }
    // Opens the wizard and makes its first page's choice (Yes: create, No:
    // use an existing one); the action runs while the wizard is open.
    void openWizard(Answer answer, std::function<void()> action) {
        test::whenWindowShown("frmDatabaseWizard1", [this, answer, action] {
            inWizard<QRadioButton>(answer == Answer::Yes ? "optCreate" : "optExisting")
                ->setChecked(true);
            clickInWizard("cmdPage0Next");
            action();
        });
        QTest::mouseClick(button("cmdConnectionString"), Qt::LeftButton);
    }
    std::string connectionBox() {
        return child<QPlainTextEdit>("txtConnectionString")->toPlainText().toStdString();
    }
};

TEST_F(ConfigureWindowTest, ShowsItsFramesCaptionsAndLaterButtonsDisabled) {
    EXPECT_EQ(dialog().windowTitle(), "Kestrix Configuration");
    const std::pair<const char*, const char*> frames[] = {
        {"fraServuPath", "Serv-u program path"},
        {"fraFTPdirectory", "Default FTP server directory"},
        {"fraDatabase", "Database"},
        {"fraGlobalIPAccess", "Global IP Access Rules"},
        {"fraUpdateServer", "Update server"}};
    for (const auto& [name, title] : frames)
        EXPECT_EQ(child<QGroupBox>(name)->title(), title) << name;
    EXPECT_EQ(child<QLabel>("lblServuPathNote")->text(), "Must be located on this computer.");
    EXPECT_EQ(child<QLabel>("lblConnectionString")->text(), "Database connection string");
    const std::pair<const char*, const char*> buttons[] = {
        {"cmdBrowseProgramPath", "..."},
        {"cmdBrowseServerPath", "..."},
        {"cmdConnectionString", "Database Wizard"},
        {"cmdGlobalIPAccess", "Modify IP Rules"},
        {"cmdCancel", "Cancel"},
        {"cmdCommitChanges", "Commit changes"}};
    // Each caption reads as given, with a mnemonic where it has a letter.
    for (const auto& [name, caption] : buttons) {
        EXPECT_EQ(button(name)->text().remove('&'), caption) << name;
        EXPECT_EQ(button(name)->text().count('&'), QString(caption) == "..." ? 0 : 1) << name;
    }
    EXPECT_TRUE(button("cmdConnectionString")->isEnabled());
    EXPECT_TRUE(button("cmdGlobalIPAccess")->isEnabled());
    EXPECT_EQ(dialog().enableCommitTimer()->interval(), 100);
    EXPECT_FALSE(dialog().enableCommitTimer()->isActive());
}

TEST_F(ConfigureWindowTest, CommitIsEnabledOnlyWhileAllThreeBoxesHoldText) {
    dialog().show();
    // It opens on its first field, not on a button.
    EXPECT_EQ(dialog().focusWidget(), box("txtServuPath"));
    dialog().enableCommitTimer()->start();
    nextEnableCheck();
    EXPECT_TRUE(button("cmdCommitChanges")->isEnabled());
    box("txtFTPdirectory")->clear();
    nextEnableCheck();
    EXPECT_FALSE(button("cmdCommitChanges")->isEnabled());
    box("txtFTPdirectory")->setText("/srv");
    child<QPlainTextEdit>("txtConnectionString")->clear();
    nextEnableCheck();
    EXPECT_FALSE(button("cmdCommitChanges")->isEnabled());
    child<QPlainTextEdit>("txtConnectionString")->setPlainText("x");
    nextEnableCheck();
    EXPECT_TRUE(button("cmdCommitChanges")->isEnabled());
}

TEST_F(ConfigureWindowTest, CommitStoresHidesRefillsTheListAndClearsTheMark) {
    dialog().setTag(kTagCheckDatabase);
    boxes_.answer(Answer::OK);
    whileOpen([&] {
        QTest::keyClicks(box("txtUpdateServer"), " http://127.0.0.1:8765 ");
        QTest::mouseClick(button("cmdCommitChanges"), Qt::LeftButton);
    });
    EXPECT_EQ(boxes_.shown(),
              (std::vector<Message>{{"You must restart the Serv-U server before changes will "
                                     "take effect.",
                                     "Tavix2", MessageIcon::Information, MessageButtons::OK, 1}}));
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(dialog().tag(), "");
    EXPECT_FALSE(dialog().enableCommitTimer()->isActive());
    EXPECT_EQ(listRefills_, 1);
    EXPECT_TRUE(Shell::instance().openDialogs().empty());
    // The boxes show the stored paths, slash included.
    EXPECT_EQ(box("txtServuPath")->text().toStdString(), defaults_.servuPath + "/");
    EXPECT_EQ(getRegSettings("servu_path"), defaults_.servuPath + "/");
    EXPECT_EQ(box("txtUpdateServer")->text(), "http://127.0.0.1:8765");
    EXPECT_EQ(getRegSettings("update_server"), "http://127.0.0.1:8765");
}

TEST_F(ConfigureWindowTest, FailedDatabaseKeepsTheDialogOpen) {
    bool stillOpen = false;
    whileOpen([&] {
        child<QPlainTextEdit>("txtConnectionString")
            ->setPlainText(
                "Provider=PostgreSQL;Data "
                "Source=127.0.0.1:1;Initial "
                "Catalog=none");
        boxes_.answer(Answer::OK);
        QTest::mouseClick(button("cmdCommitChanges"), Qt::LeftButton);
        stillOpen = dialog().isVisible() && dialog().enableCommitTimer()->isActive();
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text,
              "The database could not be opened please recheck your connectionstring or use the "
              "database wizard.");
    EXPECT_EQ(listRefills_, 0);
    EXPECT_EQ(fatalEnds_, 0);
}

TEST_F(ConfigureWindowTest, AReadOnlyStoreStopsTheCommitWithTheSystemsReason) {
    const std::string servuFile =
        (registry_.root() / "software/orvane/serv-u/settings/servu_path").string();
    const std::string expected =
        "The Serv-U program path could not be stored in the settings store (" + servuFile +
        "):\r\n" + test::readOnlyReason() + "|Tavix2|exclamation ok|refills 0, still marked";
    // A first run, then a configured machine whose old values must stay.
    for (const bool firstRun : {true, false}) {
        if (!firstRun) configureStore("Provider=SQLite;Data Source=/old.db", "/old/", "/old-ftp/");
        dialog().setTag(kTagCheckDatabase);
        const std::size_t shownBefore = boxes_.shown().size();
        const std::string seen = test::inReadOnlyDirectory(registry_.root(), [&] {
            boxes_.answer(Answer::OK);
            dialog().cmdCommitChanges_Click();
            std::string out;
            for (const Message& box :
                 std::vector<Message>(boxes_.shown().begin() + shownBefore, boxes_.shown().end())) {
                out += box.text + "|" + box.caption + "|" +
                       (box.icon == MessageIcon::Exclamation ? "exclamation" : "other icon") +
                       (box.buttons == MessageButtons::OK ? " ok" : " other buttons") + "|";
            }
            return out + "refills " + std::to_string(listRefills_) +
                   (dialog().tag() == kTagCheckDatabase ? ", still marked" : ", mark cleared");
        });
        EXPECT_EQ(seen, expected) << (firstRun ? "first run" : "configured");
        EXPECT_EQ(openConnectionStringKey() == 0, !firstRun);
        EXPECT_EQ(getRegSettings("servu_path"), firstRun ? "" : "/old/");
        EXPECT_EQ(getRegSettings("ftp_directory"), firstRun ? "" : "/old-ftp/");
        EXPECT_EQ(readConnectionString(), firstRun ? "" : "Provider=SQLite;Data Source=/old.db");
    }
}

TEST_F(ConfigureWindowTest, AMistypedDatabaseFileAnsweredNoCreatesNothingAndStaysOpen) {
    configureStore(scratch_->connectionString(), "/old/", "/old-ftp/");
    const fs::path typo = dir_.path() / "typo" / "x.db";
    bool stillOpen = false;
    whileOpen([&] {
        child<QPlainTextEdit>("txtConnectionString")
            ->setPlainText(QString::fromStdString("Provider=SQLite;Data Source=" + typo.string()));
        boxes_.answer(Answer::No);
        QTest::mouseClick(button("cmdCommitChanges"), Qt::LeftButton);
        stillOpen = dialog().isVisible() && dialog().enableCommitTimer()->isActive();
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
    });
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(boxes_.shown(),
              (std::vector<Message>{{"The database file " + typo.string() +
                                         " does not exist. Create a new, empty "
                                         "database there?",
                                     "Tavix2", MessageIcon::Question, MessageButtons::YesNo, 2}}));
    EXPECT_FALSE(fs::exists(typo.parent_path()));
    EXPECT_EQ(getRegSettings("servu_path"), "/old/");
    EXPECT_EQ(getRegSettings("ftp_directory"), "/old-ftp/");
    EXPECT_EQ(readConnectionString(), scratch_->connectionString());
    EXPECT_EQ(listRefills_, 0);
}

TEST_F(ConfigureWindowTest, CancelEscapeAndCloseBoxOnlyHideWithoutTheMark) {
    whileOpen([&] { QTest::mouseClick(button("cmdCancel"), Qt::LeftButton); });
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_FALSE(dialog().enableCommitTimer()->isActive());
    whileOpen([&] { QTest::keyClick(&dialog(), Qt::Key_Escape); });
    EXPECT_FALSE(dialog().isVisible());
    whileOpen([&] { dialog().close(); });
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(fatalEnds_, 0);
    EXPECT_TRUE(Shell::instance().openDialogs().empty());
    EXPECT_EQ(openConnectionStringKey(), 2);

    // With the mark, the close box ends the program as Cancel does.
    dialog().setTag(kTagCheckDatabase);
    whileOpen([&] {
        dialog().close();
        EXPECT_EQ(fatalEnds_, 1);
        Shell::instance().markEnding();
        hideWindow(&dialog());
    });
}

TEST_F(ConfigureWindowTest, BrowsersReplaceTheirBoxUnlessCancelled) {
    folders_.pick("/opt/other");
    QTest::mouseClick(button("cmdBrowseProgramPath"), Qt::LeftButton);
    folders_.pick(std::nullopt);
    QTest::mouseClick(button("cmdBrowseServerPath"), Qt::LeftButton);
    folders_.pick("/srv/elsewhere");
    QTest::mouseClick(button("cmdBrowseServerPath"), Qt::LeftButton);
    EXPECT_EQ(box("txtServuPath")->text(), "/opt/other");
    EXPECT_EQ(box("txtFTPdirectory")->text(), "/srv/elsewhere");
    ASSERT_EQ(folders_.calls().size(), 3u);
    EXPECT_EQ(folders_.calls()[0].title, "Select the path of your Serv-u program");
    EXPECT_EQ(folders_.calls()[1].title, "Select default FTP server directory");
    EXPECT_EQ(folders_.calls()[0].owner, &dialog());
}

TEST_F(ConfigureWindowTest, TypingShowLogIntoTheProgramPathOpensTheLog) {
    bool logShown = false;
    whileOpen([&] {
        activate(&dialog());
        box("txtServuPath")->setFocus(Qt::MouseFocusReason);
        box("txtServuPath")->setText("Show LOG");
        test::whenWindowShown("frmStatus", [&] {
            logShown = status_ && status_->isVisible() && status_->isModal();
            QTest::mouseClick(status_->findChild<QPushButton*>("cmdOK"), Qt::LeftButton);
        });
        box("txtFTPdirectory")->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(box("txtServuPath")->text(), "Show LOG");
        QTest::mouseClick(button("cmdCancel"), Qt::LeftButton);
    });
    EXPECT_TRUE(logShown);
}

TEST_F(ConfigureWindowTest, RulesLabelTellsWhetherServerWideRulesExist) {
    configureStore(scratch_->connectionString());
    EXPECT_EQ(child<QLabel>("lblRules")->text(),
              "No IP rules are set. Server is available to everyone");
    test::executeOn(scratch_->connectionString(),
                    "INSERT INTO blocked_ips (ip) VALUES ('10.0.0.1')");
    dialog().checkLabelStatus();
    EXPECT_EQ(child<QLabel>("lblRules")->text(),
              "Access rules exist. Click Modify IP Rules button for more information.");
}

TEST_F(ConfigureWindowTest, UnreachableDatabaseLeavesTheRulesLabelAlone) {
    EXPECT_EQ(child<QLabel>("lblRules")->text(),
              "No IP rules are set. Server is available to everyone.");
    EXPECT_TRUE(boxes_.shown().empty());
}

TEST_F(ConfigureWindowTest, LoadSettingsPutsTheStoredValuesIntoTheHiddenDialog) {
    configureStore(scratch_->connectionString(), "/opt/Serv-U/", "/srv/ftp/");
    ASSERT_TRUE(writeSetting("update_server", "https://updates.example.com"));
    const std::size_t logStart = programLog().text().size();
    loadSettings([this]() -> ConfigureWindow& { return dialog(); });
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(box("txtServuPath")->text(), "/opt/Serv-U/");
    EXPECT_EQ(box("txtFTPdirectory")->text(), "/srv/ftp/");
    EXPECT_EQ(child<QPlainTextEdit>("txtConnectionString")->toPlainText().toStdString(),
              scratch_->connectionString());
    EXPECT_EQ(box("txtUpdateServer")->text(), "https://updates.example.com");
    const std::string log = programLog().text().substr(logStart);
    std::size_t at = 0;
    for (const char* line :
         {"registry\n", "On Error Resume Next\n", "open the registry\n", "load settings\n",
          "attempt to open database ", ":   do not Show vbModal\n"}) {
        const std::size_t found = log.find(line, at);
        ASSERT_NE(found, std::string::npos) << line;
        at = found;
    }
}

TEST_F(ConfigureWindowTest, KeyWithoutItsValueIsNoFirstRun) {
    ASSERT_TRUE(writeSetting("servu_path", "/opt/Serv-U/"));
    fs::create_directories(registry_.root() / "software" / "orvane" / "serv-u" /
                           "connectionstring");
    loadSettings([this]() -> ConfigureWindow& { return dialog(); });
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(child<QPlainTextEdit>("txtConnectionString")->toPlainText(), "");
    EXPECT_EQ(box("txtFTPdirectory")->text(), "");
    EXPECT_EQ(box("txtServuPath")->text(), "/opt/Serv-U/");
}

TEST_F(ConfigureWindowTest, WizardCreatesAFileShowsItsLogAndReopensAtPageOne_SQLite) {
    // The wizard fills the dialog's field only: the store changes at commit.
    const std::string storedBefore = readConnectionString();
    const fs::path file = dir_.path() / "wizard.db";
    files_.pick(file.string());
    int facesSeen = 0;
    openWizard(Answer::Yes, [&] {
        EXPECT_EQ(dialog().wizard().windowTitle(), "Database Wizard");
        EXPECT_EQ(wizardFace(), (std::vector<std::string>{"lblPage1", "optAccess", "optSQL",
                                                          "cmdPage1Cancel", "cmdPage1Next"}));
        EXPECT_EQ(inWizard<QRadioButton>("optAccess")->text(), "SQLite file");
        EXPECT_EQ(inWizard<QRadioButton>("optSQL")->text(), "PostgreSQL server");
        // Each page's way forward is its default button: Enter takes it.
        EXPECT_TRUE(inWizard<QPushButton>("cmdPage1Next")->isDefault());
        inWizard<QRadioButton>("optAccess")->setChecked(true);
        clickInWizard("cmdPage1Next");
        EXPECT_EQ(wizardFace(),
                  (std::vector<std::string>{"lblPage2", "cmdPage2Next", "cmdPage2Cancel"}));
        EXPECT_TRUE(inWizard<QPushButton>("cmdPage2Next")->isDefault());
        EXPECT_FALSE(inWizard<QPushButton>("cmdPage1Next")->isDefault());
        clickInWizard("cmdPage2Next");
        EXPECT_EQ(wizardFace(), (std::vector<std::string>{"txtLog", "cmdFinish"}));
        EXPECT_TRUE(inWizard<QPushButton>("cmdFinish")->isDefault());
        const QString log = inWizard<QPlainTextEdit>("txtLog")->toPlainText();
        EXPECT_TRUE(log.startsWith("Log File"));
        for (const char* step : {"create SQLite database", "Finish database creation"})
            EXPECT_TRUE(log.contains(QString::fromLatin1(step))) << step;
        ++facesSeen;
        clickInWizard("cmdFinish");
    });
    EXPECT_EQ(facesSeen, 1);
    const std::string expected =
        "Provider=SQLite;Data Source=" + file.string() + ";Persist Security Info=False";
    EXPECT_EQ(connectionBox(), expected);
    EXPECT_EQ(readConnectionString(), storedBefore);  // until the commit
    EXPECT_TRUE(fs::exists(file));
    EXPECT_FALSE(dialog().wizard().isVisible());
    EXPECT_EQ(dialog().wizard().page(), 0);

    // Opened again after a run that ended on page 3: the choice, then page 1.
    openWizard(Answer::Yes, [&] {
        EXPECT_EQ(dialog().wizard().page(), 1);
        ++facesSeen;
        clickInWizard("cmdPage1Cancel");
    });
    EXPECT_EQ(facesSeen, 2);
    EXPECT_FALSE(dialog().wizard().isVisible());
}

TEST_F(ConfigureWindowTest, WizardSelectsAnExistingFileOnPageFour_SQLite) {
    configureStore("Provider=SQLite;Data Source=/old.db", "/old/", "/old-ftp/");
    const std::string storedBefore = readConnectionString();
    const std::string path = parseConnectionString(scratch_->connectionString()).target->path;
    files_.pick(path);
    openWizard(Answer::No, [&] {
        EXPECT_EQ(wizardFace(), (std::vector<std::string>{"optAccess", "optSQL", "lblPage4",
                                                          "cmdPage4Next", "cmdPage4Cancel"}));
        inWizard<QRadioButton>("optAccess")->setChecked(true);
        clickInWizard("cmdPage4Next");
    });
    const std::string expected =
        "Provider=SQLite;Data Source=" + path + ";Persist Security Info=False";
    EXPECT_EQ(connectionBox(), expected);
    EXPECT_EQ(readConnectionString(), storedBefore);  // until the commit
    EXPECT_FALSE(dialog().wizard().isVisible());
    EXPECT_EQ(dialog().wizard().page(), 0);
    EXPECT_FALSE(files_.saving().back());
}

TEST_F(ConfigureWindowTest, WizardServerRouteWithoutAConnectionStaysOnPageFour) {
    openWizard(Answer::No, [&] {
        inWizard<QRadioButton>("optSQL")->setChecked(true);
        boxes_.answer(Answer::OK);
        clickInWizard("cmdPage4Next");
        EXPECT_EQ(dialog().wizard().page(), 4);
        EXPECT_TRUE(dialog().wizard().isVisible());
        clickInWizard("cmdPage4Cancel");
    });
    EXPECT_EQ(connectionAsks_.size(), 1u);
    EXPECT_EQ(
        boxes_.shown().back(),
        (Message{"There was an error creating your connection string.\r\nPlease try again.",
                 "Error: No Connection string", MessageIcon::Exclamation, MessageButtons::OK, 1}));
    EXPECT_EQ(dialog().wizard().page(), 0);
    EXPECT_EQ(readConnectionString(), "");
}

// The wizard's own first page chooses between creating and picking, each
// later page has Back, Next waits for an engine, and the file dialog opens
// where the default database lives, never in the program's directory.
TEST_F(ConfigureWindowTest, WizardChoosesOnItsFirstPageWithBackAndNeedsAnEngine) {
    std::filesystem::create_directories(dir_.path() / "data");
    defaults_.connectionString =
        "Provider=SQLite;Data Source=" + (dir_.path() / "data" / "servu.db").string();
    files_.pick(std::nullopt);
    test::whenWindowShown("frmDatabaseWizard1", [&] {
        EXPECT_TRUE(boxes_.shown().empty());
        EXPECT_EQ(dialog().wizard().page(), 0);
        EXPECT_TRUE(inWizard<QPushButton>("cmdPage0Next")->isDefault());
        EXPECT_TRUE(inWizard<QPushButton>("cmdBack")->isHidden());
        inWizard<QRadioButton>("optExisting")->setChecked(true);
        clickInWizard("cmdPage0Next");
        EXPECT_EQ(dialog().wizard().page(), 4);
        EXPECT_FALSE(inWizard<QPushButton>("cmdPage4Next")->isEnabled());
        clickInWizard("cmdBack");
        EXPECT_EQ(dialog().wizard().page(), 0);
        inWizard<QRadioButton>("optCreate")->setChecked(true);
        clickInWizard("cmdPage0Next");
        EXPECT_EQ(dialog().wizard().page(), 1);
        EXPECT_FALSE(inWizard<QPushButton>("cmdPage1Next")->isEnabled());
        inWizard<QRadioButton>("optAccess")->setChecked(true);
        clickInWizard("cmdPage1Next");
        EXPECT_EQ(dialog().wizard().page(), 2);
        clickInWizard("cmdBack");
        EXPECT_EQ(dialog().wizard().page(), 1);
        clickInWizard("cmdPage1Next");
        boxes_.answer(Answer::OK);  // no file chosen
        clickInWizard("cmdPage2Next");
        EXPECT_EQ(dialog().wizard().page(), 2);
        clickInWizard("cmdPage2Cancel");
    });
    QTest::mouseClick(button("cmdConnectionString"), Qt::LeftButton);
    ASSERT_EQ(files_.requests().size(), 1u);
    EXPECT_EQ(files_.requests()[0].startDirectory, (dir_.path() / "data").string());
    EXPECT_FALSE(dialog().wizard().isVisible());
    // The next run starts over: the choice, and no engine chosen.
    EXPECT_EQ(dialog().wizard().page(), 0);
    EXPECT_FALSE(inWizard<QRadioButton>("optAccess")->isChecked());
    EXPECT_FALSE(inWizard<QRadioButton>("optSQL")->isChecked());
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST_F(ConfigureWindowTest, WizardCreatesAServerDatabaseWhileTheWindowKeepsAnswering_Postgres) {
    const std::string server = test::pgServer().host + ":" + test::pgServer().port;
    inputs_.type(server);
    inputs_.type("kxwizardwindow");
    openWizard(Answer::Yes, [&] {
        inWizard<QRadioButton>("optSQL")->setChecked(true);
        clickInWizard("cmdPage1Next");
        clickInWizard("cmdPage2Next");
        EXPECT_EQ(dialog().wizard().page(), 3);
        EXPECT_FALSE(dialog().wizard().busy());
        EXPECT_TRUE(inWizard<QWidget>("prgBusy")->isHidden());
        EXPECT_TRUE(inWizard<QPushButton>("cmdFinish")->isEnabled());
        const QString log = inWizard<QPlainTextEdit>("txtLog")->toPlainText();
        for (const char* step :
             {"get connnection string", "create database", "Wait for database to be opened",
              "modify connection string", "create tables", "Finish database creation"})
            EXPECT_TRUE(log.contains(QString::fromLatin1(step))) << step;
        clickInWizard("cmdFinish");
    });
    const std::string expected =
        "Provider=PostgreSQL;Integrated Security=SSPI;Persist Security Info=False;Data Source=" +
        server + ";Initial Catalog=kxwizardwindow;";
    EXPECT_EQ(connectionBox(), expected);
    EXPECT_EQ(test::rowsOn(expected, "SELECT COUNT(*) AS n FROM users", {"n"}),
              (test::Rows{{std::string("0")}}));
    test::executeOn("Provider=PostgreSQL;Data Source=" + server +
                        ";Initial Catalog=postgres;User ID=postgres;Password=unused",
                    "DROP DATABASE kxwizardwindow WITH (FORCE)");
}

}  // namespace
}  // namespace kestrix

namespace kestrix {
namespace {

TEST_F(ConfigureWindowTest, TheConnectionStringsPasswordIsMaskedUntilShown) {
    const std::string stored =
        "Provider=PostgreSQL;Data Source=db.example:5432;Initial Catalog=ftp;User ID=ftp;"
        "Password=\"p;w\"";
    dialog().setFields({"/opt/Serv-U/", "/srv/ftp/", stored});
    EXPECT_EQ(connectionBox(),
              "Provider=PostgreSQL;Data Source=db.example:5432;Initial Catalog=ftp;User ID=ftp;"
              "Password=***");
    EXPECT_EQ(dialog().fields().connectionString, stored);
    QPushButton* show = button("cmdShowPassword");
    EXPECT_EQ(show->text(), "Show");

    // Edited under the mask: the password stays the stored one.
    child<QPlainTextEdit>("txtConnectionString")
        ->setPlainText(
            "Provider=PostgreSQL;Data Source=other:5432;Initial Catalog=ftp;User ID=ftp;"
            "Password=***");
    const auto edited = parseConnectionString(dialog().fields().connectionString).target;
    ASSERT_TRUE(edited);
    EXPECT_EQ(edited->host, "other");
    EXPECT_EQ(edited->password, "p;w");

    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(show->text(), "Hide");
    EXPECT_NE(connectionBox().find("Data Source=other:5432"), std::string::npos);
    EXPECT_NE(connectionBox().find("p;w"), std::string::npos) << connectionBox();
    // Typed while shown: the new password.
    child<QPlainTextEdit>("txtConnectionString")->setPlainText("Provider=PostgreSQL;Password=new");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(connectionBox(), "Provider=PostgreSQL;Password=***");
    EXPECT_EQ(dialog().fields().connectionString, "Provider=PostgreSQL;Password=new");
}

TEST_F(ConfigureWindowTest, TheServerConnectionsPasswordIsHiddenUntilShown) {
    ConnectionDialog connection;
    auto* password = connection.findChild<QLineEdit*>("txtPassword");
    auto* show = connection.findChild<QPushButton*>("cmdShowPassword");
    ASSERT_TRUE(password && show);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(password->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(show->text(), "Hide");
    QTest::mouseClick(show, Qt::LeftButton);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
}

}  // namespace
}  // namespace kestrix
