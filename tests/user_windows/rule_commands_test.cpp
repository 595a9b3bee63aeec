// Directory rules and Save through the main window's controls.
#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "shell/path_box.h"
#include "shell/shell.h"
#include "tests/user_windows/user_window_fixture.h"
#include "users/rule_rights_delegate.h"

namespace kestrix {
namespace {

using test::appMessage;
using test::Rows;

class RuleCommandsTest : public test::UserWindowTest {
  protected:
    // bob with his home directory and one rule below it.
    void storeBob() {
        home_ = dir("ftp/bob");
        in_ = dir("ftp/bob/in");
        addUser("bob", home_);
        addRule("bob", home_, "RL", 1);
        addRule("bob", in_, "R", 0);
        panel_->popMain();
        activate(panel_.get());
    }

    // The rule dialog, opened by the button; `inside` runs while it is shown
    // modally.
    void withRuleDialog(const char* button, const std::function<void(QWidget*)>& inside) {
        bool ran = false;
        test::whenWindowShown("frmAddEditDir", [&] {
            QWidget* dialog = window("frmAddEditDir");
            EXPECT_TRUE(dialog->isModal());
            EXPECT_EQ(Shell::instance().openDialogs().count("frmAddEditDir"), 1u);
            inside(dialog);
            ran = true;
            if (dialog->isVisible()) {
                ADD_FAILURE() << "the rule dialog stayed open";
                QTest::mouseClick(childOf<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
            }
        });
        click(button);
        EXPECT_TRUE(ran);
        EXPECT_TRUE(Shell::instance().openDialogs().empty());
    }

    static void typePath(QWidget* dialog, const std::string& text) {
        childOf<QLineEdit>(dialog, "txtPath")->setText(QString::fromStdString(text));
    }
    static void pressOK(QWidget* dialog) {
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    }

    void selectRule(int row) { child<QListWidget>("lstAccess")->setCurrentRow(row); }

    // The rights each rule list entry shows beside its directory.
    std::vector<std::string> rightsShown() {
        std::vector<std::string> shown;
        auto* list = child<QListWidget>("lstAccess");
        for (int row = 0; row < list->count(); ++row) {
            shown.push_back(
                list->item(row)->data(RuleRightsDelegate::kRightsRole).toString().toStdString());
        }
        return shown;
    }

    // Clicks a rule box once the refresh has enabled it.
    void clickBox(const char* name) {
        nextRefresh();
        auto* box = child<QCheckBox>(name);
        ASSERT_TRUE(box->isEnabled()) << name;
        QTest::mouseClick(box, Qt::LeftButton);
    }

    std::string ticks() {
        std::string marks;
        for (const char* name : {"chkRead", "chkWrite", "chkAppend", "chkDelete", "chkExecute",
                                 "chkList", "chkMake", "chkRemove", "chkInherit"})
            marks += child<QCheckBox>(name)->isChecked() ? '1' : '0';
        return marks;
    }

    std::string home_;
    std::string in_;
};

TEST_P(RuleCommandsTest, AddRefusesAMissingPathThenKeepsTheTypedDirectory) {
    storeBob();
    const std::string pub = dir("ftp/Pub");
    withRuleDialog("cmdAdd", [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Add Path");
        EXPECT_EQ(dialog->property("Tag").toString(), "add");
        // The FTP root without its separator.
        EXPECT_EQ(childOf<QLineEdit>(dialog, "txtPath")->text().toStdString(), ftpRoot());

        typePath(dialog, "/no/such/directory");
        boxes_.answer(Answer::OK);
        pressOK(dialog);
        EXPECT_TRUE(dialog->isVisible());
        typePath(dialog, "  " + pub + "/ ");
        pressOK(dialog);
        EXPECT_FALSE(dialog->isVisible());
    });
    EXPECT_EQ(
        boxes_.shown(),
        (std::vector<Message>{appMessage("The folder \"/no/such/directory\" does not "
                                         "exist.\r\nPlease check your path and try again.")}));
    // The case is kept: another case names another directory here.
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, in_, pub}));
    EXPECT_EQ(panel_->state().ruleSet.back(), (DirRule{pub, "RL", "1"}));
    // The new rule is selected: the boxes show its rights, not the last
    // selected rule's.
    EXPECT_EQ(panel_->selectedRuleRow(), 2);
    EXPECT_EQ(ticks(), "100001001");
    EXPECT_EQ(rightsShown(), (std::vector<std::string>{"RL inherit", "R", "RL inherit"}));
    EXPECT_TRUE(panel_->state().unsavedChanges);

    // Browsing fills the path box; the dialog is the same window as before.
    QWidget* first = window("frmAddEditDir");
    const std::string browsed = dir("ftp/browsed");
    folders_.pick(browsed);
    withRuleDialog("cmdAdd", [&](QWidget* dialog) {
        EXPECT_EQ(dialog, first);
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdBrowse"), Qt::LeftButton);
        EXPECT_EQ(childOf<QLineEdit>(dialog, "txtPath")->text().toStdString(), browsed);
        pressOK(dialog);
    });
    ASSERT_EQ(folders_.calls().size(), 1u);
    EXPECT_EQ(folders_.calls()[0].title, "Select directory path");
    EXPECT_EQ(folders_.calls()[0].owner, first);
    EXPECT_EQ(folders_.calls()[0].startAt, ftpRoot());  // opens at the path in the box
    EXPECT_EQ(ruleEntries().back(), browsed);
}

TEST_P(RuleCommandsTest, EditChangesOnlyTheExactDirectoryAndCancelChangesNothing) {
    storeBob();
    const std::string out = dir("ftp/bob/out");
    selectRule(1);
    withRuleDialog("cmdEdit", [&](QWidget* dialog) {
        EXPECT_EQ(dialog->windowTitle(), "Edit Path");
        EXPECT_EQ(dialog->property("Tag").toString(), "edit");
        auto* path = childOf<QLineEdit>(dialog, "txtPath");
        EXPECT_EQ(path->text().toStdString(), in_);
        EXPECT_EQ(path->property("Tag").toString().toStdString(), in_);
        typePath(dialog, out);
        pressOK(dialog);
    });
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, out}));
    // The rights stay with the rule.
    EXPECT_EQ(panel_->state().ruleSet, (std::vector<DirRule>{{home_, "RL", "1"}, {out, "R", "0"}}));

    selectRule(0);
    withRuleDialog("cmdEdit", [&](QWidget* dialog) {
        typePath(dialog, out);
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    });
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, out}));
}

TEST_P(RuleCommandsTest, UpDownAndDeleteThenSaveStoreWhatTheListShows) {
    storeBob();
    const std::string pub = dir("ftp/pub");
    withRuleDialog("cmdAdd", [&](QWidget* dialog) {
        typePath(dialog, pub);
        pressOK(dialog);
    });
    panel_->state().unsavedChanges = false;

    // Up on the first entry and Down on the last do nothing.
    selectRule(0);
    click("cmdUp");
    selectRule(2);
    click("cmdDown");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, in_, pub}));
    EXPECT_FALSE(panel_->state().unsavedChanges);

    click("cmdUp");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, pub, in_}));
    EXPECT_EQ(panel_->selectedRuleRow(), 1);
    // The rule moves with its entry, and the boxes show the moved rule.
    EXPECT_EQ(panel_->state().ruleSet,
              (std::vector<DirRule>{{home_, "RL", "1"}, {pub, "RL", "1"}, {in_, "R", "0"}}));
    EXPECT_EQ(ticks(), "100001001");
    EXPECT_TRUE(panel_->state().unsavedChanges);

    selectRule(0);
    click("cmdDown");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{pub, home_, in_}));
    EXPECT_EQ(panel_->selectedRuleRow(), 1);

    click("cmdDirDelete");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{pub, in_}));
    EXPECT_EQ(panel_->selectedRuleRow(), -1);

    // Write ticked on the selected rule reaches its row; the other rule
    // keeps what the rule set holds.
    selectRule(0);
    clickBox("chkWrite");
    clickBox("chkInherit");
    // The list shows the rights as the boxes now hold them.
    EXPECT_EQ(rightsShown(), (std::vector<std::string>{"RWL", "R"}));
    clickBox("chkInherit");
    click("cmdStore");
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_EQ(rulesOf("bob"), (Rows{{"bob", pub, "RWL", "1"}, {"bob", in_, "R", "0"}}));
    EXPECT_EQ(userRows("bob").size(), 1u);

    // The list is refilled and bob reloaded from the rows just written.
    EXPECT_EQ(panel_->state().selectedUser, "bob");
    EXPECT_EQ(panel_->state().editMode, EditMode::Stored);
    EXPECT_FALSE(panel_->state().unsavedChanges);
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{pub, in_}));
    EXPECT_EQ(panel_->state().ruleSet, (std::vector<DirRule>{{pub, "RWL", "1"}, {in_, "R", "0"}}));
}

TEST_P(RuleCommandsTest, DeletedRuleComesBackWhenTheUserIsSelectedAgainUnsaved) {
    storeBob();
    addUser("carol", dir("ftp/carol"));
    panel_->popMain();
    selectRule(0);
    click("cmdDirDelete");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{in_}));
    EXPECT_EQ(panel_->state().ruleSet.size(), 1u);
    boxes_.answer(Answer::No);  // do not save bob's changes
    panel_->selectUserRow(1);
    panel_->selectUserRow(0);
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, in_}));
    EXPECT_EQ(rulesOf("bob").size(), 2u);
}

// The example of a stored user: notes left blank, password left at the
// placeholder, the second rule selected with Read, Write and Inherit.
TEST_P(RuleCommandsTest, StoredUserExampleGivesExactlyItsRows) {
    storeBob();
    selectRule(1);
    EXPECT_EQ(ticks(), "100000000");
    child<QPlainTextEdit>("txtNotes")->setPlainText("   ");
    clickBox("chkWrite");
    clickBox("chkInherit");
    EXPECT_EQ(ticks(), "110000001");
    click("cmdStore");
    EXPECT_EQ(userRows("bob"),
              (Rows{{"bob", home_, "secret", std::nullopt, "3", "2", std::nullopt}}));
    EXPECT_EQ(rulesOf("bob"), (Rows{{"bob", home_, "RL", "1"}, {"bob", in_, "RW", "1"}}));
}

TEST_P(RuleCommandsTest, HomeDirectoryQuestionsDecideWhetherAnythingIsStored) {
    storeBob();
    auto* homeBox = child<QLineEdit>("txtHomeDir");
    const std::string missing = ftpRoot() + "/Missing";
    const auto notValidFor = [](const std::string& home) {
        return appMessage("The Home Directory specified is not valid: the folder \"" + home +
                              "\" does not exist.\r\n\r\nPress OK to save as entered, or "
                              "Cancel to edit.",
                          MessageIcon::Exclamation, MessageButtons::OKCancel, 2);
    };
    const Message notValid = notValidFor(missing);
    const Message notValidUnc = notValidFor("//fileserver/share/bob");
    const Message network = appMessage(
        "The Home Directory path specified is a network or UNC path.\r\n"
        "These paths may need directory user rights for proper usage.\r\n\r\n"
        "Are you sure you want to use network or UNC paths?",
        MessageIcon::Question, MessageButtons::YesNoCancel, 2);

    // A pasted text of two lines is refused with a note, not made one line.
    QGuiApplication::clipboard()->setText(QStringLiteral("/srv/a\n/srv/b"));
    homeBox->selectAll();
    homeBox->paste();
    EXPECT_EQ(homeBox->text().toStdString(), home_);
    EXPECT_TRUE(lastPathBoxNote(homeBox).contains(QStringLiteral("Home Directory")));

    homeBox->setText(QString::fromStdString(missing));
    boxes_.answer(Answer::Cancel);
    click("cmdStore");
    EXPECT_EQ(userRows("bob")[0][1], home_);
    // The boxes keep what was typed.
    EXPECT_EQ(homeBox->text().toStdString(), missing);

    boxes_.answer(Answer::OK);
    click("cmdStore");
    EXPECT_EQ(userRows("bob")[0][1], missing);

    // A UNC path that does not exist raises both questions, the first first.
    homeBox->setText("//fileserver/share/bob");
    boxes_.answer(Answer::OK);
    boxes_.answer(Answer::No);
    click("cmdStore");
    EXPECT_EQ(userRows("bob")[0][1], missing);
    boxes_.answer(Answer::OK);
    boxes_.answer(Answer::Yes);
    click("cmdStore");
    EXPECT_EQ(userRows("bob")[0][1], "//fileserver/share/bob");
    EXPECT_EQ(boxes_.shown(), (std::vector<Message>{notValid, notValid, notValidUnc, network,
                                                    notValidUnc, network}));
}

// A tick belongs to its rule: it survives selecting another rule, two rules
// of one directory keep their own rights, and Save stores every rule as
// ticked. With no rule selected the boxes are empty.
TEST_P(RuleCommandsTest, TicksStayWithTheirRuleAcrossSelections) {
    storeBob();
    withRuleDialog("cmdAdd", [&](QWidget* dialog) {
        typePath(dialog, in_);  // a second rule for bob/in
        pressOK(dialog);
    });
    // The new rule is selected and shows its own rights.
    EXPECT_EQ(panel_->selectedRuleRow(), 2);
    EXPECT_EQ(ticks(), "100001001");
    selectRule(1);
    clickBox("chkWrite");
    selectRule(2);
    EXPECT_EQ(ticks(), "100001001");  // the new rule's own RL and inherit
    clickBox("chkDelete");
    selectRule(0);
    child<QLineEdit>("txtHomeDir")->setFocus(Qt::MouseFocusReason);  // clears the selection
    selectRule(1);
    EXPECT_EQ(ticks(), "110000000");
    activate(panel_.get());
    // The shortcut presses the button as a click shown on screen, which ends
    // (and saves) a moment later: wait for that click itself.
    QSignalSpy saved(child<QPushButton>("cmdStore"), &QPushButton::clicked);
    QTest::keyClick(panel_.get(), Qt::Key_S, Qt::ControlModifier);  // Save
    ASSERT_TRUE(!saved.isEmpty() || saved.wait(60000));
    EXPECT_EQ(rulesOf("bob"),
              (Rows{{"bob", home_, "RL", "1"}, {"bob", in_, "RW", "0"}, {"bob", in_, "RML", "1"}}));
}

TEST_P(RuleCommandsTest, RelativePathsAreRefusedForHomeAndRules) {
    storeBob();
    // "." exists wherever the program runs, and means nothing to the FTP server.
    child<QLineEdit>("txtHomeDir")->setText(".");
    boxes_.answer(Answer::OK);
    click("cmdStore");
    EXPECT_EQ(userRows("bob")[0][1], home_);
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text,
              "The Home Directory must be a full path starting with /.\r\n\r\n"
              "Please check your path and try again.");

    withRuleDialog("cmdAdd", [&](QWidget* dialog) {
        typePath(dialog, ".");
        boxes_.answer(Answer::OK);
        pressOK(dialog);
        EXPECT_TRUE(dialog->isVisible());
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    });
    EXPECT_EQ(boxes_.shown().back().text,
              "The path \".\" is not absolute: a folder is named from the root, starting with "
              "/.\r\nPlease check your path and try again.");
    EXPECT_EQ(ruleEntries(), (std::vector<std::string>{home_, in_}));
}

INSTANTIATE_TEST_SUITE_P(Engines, RuleCommandsTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
