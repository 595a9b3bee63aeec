// The audit lines of the main window's Save and Delete and of a per-user
// dialog, read back from a syslog socket the test owns.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/audit_trail.h"
#include "policies/ip_access_window.h"
#include "tests/support/syslog_socket.h"
#include "tests/user_windows/user_window_fixture.h"

namespace kestrix {
namespace {

using test::auditField;

class WindowRecordTest : public test::UserWindowTest {
  protected:
    void SetUp() override {
        UserWindowTest::SetUp();
        audit::setProgram(audit::Program::Window);
    }
    void TearDown() override {
        audit::setProgram(audit::Program::None);
        UserWindowTest::TearDown();
    }
    std::string onlyLine() {
        const auto lines = socket_.take();
        EXPECT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
        return lines.size() == 1 ? lines[0] : std::string();
    }
    static void clickIn(QWidget* window, const char* button) {
        QTest::mouseClick(childOf<QPushButton>(window, button), Qt::LeftButton);
    }

    test::SyslogSocket socket_;
};

TEST_P(WindowRecordTest, SaveSaysWhatChangedAndDeleteWhatWent) {
    const std::string home = dir("ftp/bob");
    const std::string in = dir("ftp/bob/in");
    const std::string elsewhere = dir("ftp/elsewhere");
    addUser("alice", dir("ftp/alice"));
    addUser("bob", home);
    addRule("bob", home, "RL", 1);
    addRule("bob", in, "R", 0);
    panel_->popMain();
    activate(panel_.get());
    panel_->selectUserRow(1);
    ASSERT_EQ(panel_->state().selectedUser, "bob");

    child<QLineEdit>("txtHomeDir")->setText(QString::fromStdString(elsewhere));
    child<QLineEdit>("txtPassword")->setText("Fresh-pw5");
    child<QLineEdit>("txtPasswordConfirm")->setText("Fresh-pw5");
    child<QListWidget>("lstAccess")->setCurrentRow(1);
    click("cmdDirDelete");
    panel_->state().ruleSet[0].rights = "RWL";
    click("cmdStore");
    ASSERT_TRUE(boxes_.shown().empty());
    std::string line = onlyLine();
    EXPECT_EQ(auditField(line, "origin"), "Tavix main window");
    EXPECT_EQ(auditField(line, "ftp_user"), "bob");
    EXPECT_EQ(auditField(line, "change"), "home " + home + " -> " + elsewhere +
                                              "; password changed; rule changed " + home +
                                              " (RL, subdirectories) -> " + home +
                                              " (RWL, subdirectories); rule removed " + in);
    EXPECT_EQ(auditField(line, "outcome"), "done");
    EXPECT_EQ(line.find("Fresh-pw5"), std::string::npos) << line;
    EXPECT_EQ(rulesOf("bob"), (test::Rows{{"bob", home, "RWL", "1"}}));

    // A refusal of the window's checks, with the box's text as the reason.
    child<QLineEdit>("txtHomeDir")->setText("relative");
    boxes_.answer(Answer::OK);
    click("cmdStore");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    line = onlyLine();
    EXPECT_EQ(auditField(line, "outcome"),
              "refused: The Home Directory must be a full path starting with /. Please check "
              "your path and try again.");
    child<QLineEdit>("txtHomeDir")->setText(QString::fromStdString(elsewhere));
    click("cmdStore");
    socket_.take();

    boxes_.answer(Answer::Yes);
    click("cmdDelete");
    line = onlyLine();
    EXPECT_EQ(auditField(line, "ftp_user"), "bob");
    EXPECT_EQ(auditField(line, "change"), "user deleted");
    EXPECT_EQ(auditField(line, "outcome"), "done");
    EXPECT_TRUE(userRows("bob").empty());
}

TEST_P(WindowRecordTest, TheAddressDialogSaysWhatItsOkAddedAndRemoved) {
    addUser("bob", dir("ftp/bob"));
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.1')");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.2')");
    startMainWindow();
    ASSERT_EQ(main_->users().state().selectedUser, "bob");

    QTest::mouseClick(main_->findChild<QPushButton*>("cmdIPAccess"), Qt::LeftButton);
    auto* ip = main_->findChild<IpAccessWindow*>("frmIPAccess");
    ASSERT_NE(ip, nullptr);
    // The buttons follow the box and the selection at the dialog's next tick.
    const auto nextTick = [ip] {
        QSignalSpy tick(ip->rulesTimer(), &QTimer::timeout);
        ASSERT_TRUE(tick.wait(5000));
    };
    childOf<QLineEdit>(ip, "txtIPaddress")->setFocus();
    QTest::keyClicks(childOf<QLineEdit>(ip, "txtIPaddress"), "192.0.2.7");
    nextTick();
    clickIn(ip, "cmdAdd");
    childOf<QListWidget>(ip, "lstRules")->setCurrentRow(0);
    nextTick();
    clickIn(ip, "cmdRemove");
    clickIn(ip, "cmdOK");
    std::string line = onlyLine();
    EXPECT_EQ(auditField(line, "origin"), "Tavix Setup IP Blocking");
    EXPECT_EQ(auditField(line, "ftp_user"), "bob");
    EXPECT_EQ(auditField(line, "change"), "added 192.0.2.7; removed 10.0.0.1");
    EXPECT_EQ(auditField(line, "outcome"), "done");
    EXPECT_EQ(rows("SELECT ip FROM blocked_ips_by_user ORDER BY ip", {"ip"}),
              (test::Rows{{"10.0.0.2"}, {"192.0.2.7"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, WindowRecordTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
