// Check Access from the main window's Tools menu: the plug-in's answer for
// the user being edited, with the deciding rule selected in the rule list.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <fstream>

#include "core/sql_literal.h"
#include "tests/user_windows/user_window_fixture.h"
#include "users/check_access_window.h"

namespace kestrix {
namespace {

class CheckAccessWindowTest : public test::UserWindowTest {
  protected:
    // Asks the dialog and returns its answer and reason.
    std::pair<std::string, std::string> ask(QWidget* dialog, const char* action,
                                            const std::string& path,
                                            const std::string& address = {},
                                            const std::string& newPath = {}) {
        childOf<QComboBox>(dialog, "cboAction")->setCurrentText(QString::fromLatin1(action));
        childOf<QLineEdit>(dialog, "txtPath")->setText(QString::fromStdString(path));
        childOf<QLineEdit>(dialog, "txtNewPath")->setText(QString::fromStdString(newPath));
        childOf<QLineEdit>(dialog, "txtAddress")->setText(QString::fromStdString(address));
        QTest::mouseClick(childOf<QPushButton>(dialog, "cmdCheck"), Qt::LeftButton);
        return {childOf<QLabel>(dialog, "lblAnswer")->text().toStdString(),
                childOf<QLabel>(dialog, "lblReason")->text().toStdString()};
    }
};

TEST_P(CheckAccessWindowTest, ShowsTheAnswerAndSelectsTheDecidingRule) {
    const std::string home = dir("ftp/bob");
    const std::string pub = dir("ftp/pub");
    const std::string drop = dir("ftp/pub/drop");
    std::ofstream(pub + "/f.txt") << "x";
    addUser("bob", home);
    addRule("bob", pub, "RL", 1);
    addRule("bob", drop, "WL", 0);
    run("INSERT INTO blocked_ips_by_user (ip, username) VALUES ('10.2.2.2', 'bob')");
    MainWindow& main = startMainWindow();
    ASSERT_EQ(main.users().state().selectedUser, "bob");
    auto* rules = main.findChild<QListWidget*>("lstAccess");
    ASSERT_EQ(rules->count(), 2);

    main.findChild<QAction*>("tools1_checkAccess")->trigger();
    CheckAccessWindow* dialog = main.checkAccessWindow();
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(childOf<QLabel>(dialog, "lblUser")->text(), QStringLiteral("User: bob"));

    auto [answer, reason] = ask(dialog, "upload", pub + "/new.txt");
    EXPECT_EQ(answer, "Refused");
    EXPECT_EQ(reason, "Refused: rule 1 (" + pub + ", RL, inherited) does not grant W.");
    EXPECT_EQ(rules->currentRow(), 0);
    EXPECT_FALSE(childOf<QLineEdit>(dialog, "txtNewPath")->isEnabled());

    // A rename is asked about the new name too; the files of drop are
    // covered by its rule, which is not inherited below it.
    std::tie(answer, reason) = ask(dialog, "rename", pub + "/f.txt", {}, drop + "/f.txt");
    EXPECT_TRUE(childOf<QLineEdit>(dialog, "txtNewPath")->isEnabled());
    EXPECT_EQ(answer, "Refused");
    EXPECT_EQ(reason, "Refused: rule 1 (" + pub + ", RL, inherited) does not grant M.");
    run("UPDATE dir_rights SET dir_rights='RLM' WHERE directory=" + sqlText(pub));
    std::tie(answer, reason) = ask(dialog, "rename", pub + "/f.txt", {}, drop + "/f.txt");
    EXPECT_EQ(answer, "Allowed");
    EXPECT_EQ(reason, "Allowed: rule 1 (" + pub + ", RLM, inherited) grants M. For the new name " +
                          drop + "/f.txt: Allowed: rule 2 (" + drop +
                          ", WL, not inherited) grants W.");
    EXPECT_EQ(rules->currentRow(), 1);

    std::tie(answer, reason) = ask(dialog, "list", drop);
    EXPECT_EQ(answer, "Allowed");
    EXPECT_EQ(reason, "Allowed: rule 2 (" + drop + ", WL, not inherited) grants L.");
    EXPECT_EQ(rules->currentRow(), 1);
    // Both rules cover drop; the later one decides and is marked.
    EXPECT_EQ(childOf<QLabel>(dialog, "lblMatched")->text().toStdString(),
              "Directory rules that apply to the path, in list order:\n  1. " + pub +
                  "  RLM inherit\n  2. " + drop + "  WL  \u2190 decides");
    // The rule boxes show the selected rule.
    EXPECT_TRUE(main.findChild<QCheckBox*>("chkWrite")->isChecked());
    EXPECT_FALSE(main.findChild<QCheckBox*>("chkInherit")->isChecked());

    // No rule decides a refused address: the selection stays.
    std::tie(answer, reason) = ask(dialog, "download", pub + "/f.txt", "10.2.2.2");
    EXPECT_EQ(answer, "Refused");
    EXPECT_EQ(reason, "Refused: the address 10.2.2.2 is in the blocked address list of bob.");
    EXPECT_EQ(rules->currentRow(), 1);

    // A rename without its new name is not asked at all: no refusal.
    std::tie(answer, reason) = ask(dialog, "rename", pub + "/f.txt", {}, "  ");
    EXPECT_EQ(answer, "Not asked");
    EXPECT_EQ(reason, "A rename needs the new name: type it as a full path.");
    EXPECT_TRUE(childOf<QLabel>(dialog, "lblAnswer")->styleSheet().isEmpty());
    EXPECT_TRUE(childOf<QLabel>(dialog, "lblMatched")->text().isEmpty());
    std::tie(answer, reason) = ask(dialog, "delete", "pub/f.txt");
    EXPECT_EQ(answer, "Not asked");
    EXPECT_EQ(reason, "The path pub/f.txt is not a full path: start it with /.");

    std::tie(answer, reason) = ask(dialog, "mkdir", home + "/new");
    EXPECT_EQ(answer, "Allowed");
    EXPECT_EQ(reason,
              "Allowed: the path is within the home directory " + home + " and no rule applies.");
}

INSTANTIATE_TEST_SUITE_P(Engines, CheckAccessWindowTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
