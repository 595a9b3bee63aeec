// The IP blocking dialogs, per user and server-wide, on both engines.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "policies/ip_access_window.h"
#include "tests/policies/policy_window_fixture.h"

namespace kestrix {
namespace {

using test::Rows;

class IpAccessWindowTest : public test::PolicyWindowTest {
  protected:
    static void nextTick(IpAccessWindow& dialog) {
        QSignalSpy tick(dialog.rulesTimer(), &QTimer::timeout);
        ASSERT_TRUE(tick.wait(5000));
    }
    static QLineEdit* entry(IpAccessWindow& dialog) {
        return childOf<QLineEdit>(&dialog, "txtIPaddress");
    }
    static QListWidget* list(IpAccessWindow& dialog) {
        return childOf<QListWidget>(&dialog, "lstRules");
    }
    static bool enabled(IpAccessWindow& dialog, const char* button) {
        return childOf<QPushButton>(&dialog, button)->isEnabled();
    }
    // Types into the entry box and adds it, the way the keyboard and mouse do.
    static void add(IpAccessWindow& dialog, const char* address) {
        entry(dialog)->setFocus();
        QTest::keyClicks(entry(dialog), QString::fromLatin1(address));
        nextTick(dialog);
        click(&dialog, "cmdAdd");
    }
    Rows userRules(const std::string& user) {
        return rows("select ip from blocked_ips_by_user where username='" + user + "'", {"ip"});
    }
};

TEST_P(IpAccessWindowTest, ListCommandsTimerAndValidationOnOneUsersList) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/srv/ftp/bob', 1, 1)");
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('alice', '/srv/ftp/alice', 1, 1)");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.1')");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('alice', '10.9.9.9')");
    IpAccessWindow dialog(IpListOwner::User);
    EXPECT_EQ(dialog.objectName(), "frmIPAccess");
    EXPECT_EQ(dialog.windowTitle(), "Setup IP Blocking ");
    EXPECT_EQ(dialog.rulesTimer()->interval(), 75);
    dialog.popList("alice");
    dialog.popList("bob");
    EXPECT_EQ(dialog.windowTitle(), "Setup IP Blocking - bob");
    EXPECT_EQ(dialog.lines(), (std::vector<std::string>{"10.0.0.1"}));
    activate(&dialog);

    // An empty box leaves Add disabled; a letter is dropped, a digit enables it.
    nextTick(dialog);
    EXPECT_FALSE(enabled(dialog, "cmdAdd"));
    entry(dialog)->setFocus();
    QTest::keyClicks(entry(dialog), "x");
    nextTick(dialog);
    EXPECT_FALSE(enabled(dialog, "cmdAdd"));
    QTest::keyClicks(entry(dialog), "192.168.0");
    nextTick(dialog);
    ASSERT_TRUE(enabled(dialog, "cmdAdd"));

    // Three parts: refused, the click does not add and the box keeps the focus.
    boxes_.answer(Answer::OK);
    click(&dialog, "cmdAdd");
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.lines().size(), 1u);
    EXPECT_TRUE(entry(dialog)->hasFocus());
    // Beside the beep, a message says what is wrong with it.
    ASSERT_FALSE(boxes_.shown().empty());
    EXPECT_EQ(boxes_.shown().back(),
              test::appMessage("\"192.168.0\" is not an IP address: an entry is four parts "
                               "separated by three dots, such as 192.168.0.1, 192.168.*.* or "
                               "10.0.0.0/8."));
    // Four parts that block nobody: refused the same way.
    boxes_.answer(Answer::OK);
    entry(dialog)->clear();
    add(dialog, "1..2.3");
    QCoreApplication::processEvents();
    EXPECT_EQ(dialog.lines().size(), 1u);
    EXPECT_TRUE(entry(dialog)->hasFocus());
    EXPECT_EQ(entry(dialog)->text(), "1..2.3");
    entry(dialog)->clear();
    // Add before the box was left takes no entry the plug-in cannot match.
    boxes_.answer(Answer::OK);
    boxes_.answer(Answer::OK);
    for (const char* refused : {"1.2.3.4'--", "300.1.1.1", ""}) {
        entry(dialog)->setText(QString::fromLatin1(refused));
        dialog.cmdAdd_Click();
        EXPECT_EQ(dialog.lines().size(), 1u) << refused;
        EXPECT_EQ(entry(dialog)->text(), refused);
    }
    entry(dialog)->clear();

    // A pattern and a block are typed as they are written.
    add(dialog, "127.0.0.*");
    add(dialog, "192.168.1.0/24");
    EXPECT_EQ(dialog.lines(),
              (std::vector<std::string>{"10.0.0.1", "127.0.0.*", "192.168.1.0/24"}));
    delete list(dialog)->takeItem(2);
    add(dialog, "10.0.0.1-5");
    add(dialog, "10.0.0.6");
    delete list(dialog)->takeItem(1);
    EXPECT_EQ(dialog.lines(), (std::vector<std::string>{"10.0.0.1", "10.0.0.1-5", "10.0.0.6"}));
    EXPECT_TRUE(entry(dialog)->text().isEmpty());

    // Up on the first line and Down on the last change nothing.
    list(dialog)->setCurrentRow(0);
    nextTick(dialog);
    click(&dialog, "cmdUp");
    list(dialog)->setCurrentRow(2);
    click(&dialog, "cmdDown");
    EXPECT_EQ(dialog.lines(), (std::vector<std::string>{"10.0.0.1", "10.0.0.1-5", "10.0.0.6"}));
    list(dialog)->setCurrentRow(0);
    click(&dialog, "cmdDown");
    EXPECT_EQ(dialog.lines(), (std::vector<std::string>{"10.0.0.1-5", "10.0.0.1", "10.0.0.6"}));
    EXPECT_EQ(list(dialog)->currentRow(), 1);

    // Remove puts the line back into the box; a click there unselects.
    click(&dialog, "cmdRemove");
    EXPECT_EQ(entry(dialog)->text(), "10.0.0.1");
    list(dialog)->setCurrentRow(0);
    QTest::mouseClick(entry(dialog), Qt::LeftButton);
    nextTick(dialog);
    EXPECT_FALSE(enabled(dialog, "cmdRemove"));
    EXPECT_FALSE(enabled(dialog, "cmdUp"));

    // What Remove put back into the box was removed on purpose: OK asks
    // nothing about it.
    click(&dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(userRules("bob"), (Rows{{"10.0.0.1-5"}, {"10.0.0.6"}}));
    EXPECT_EQ(userRules("alice"), (Rows{{"10.9.9.9"}}));
}

// Enter in the box and Alt+A add the address or say why not, like the
// mouse; an entry already there (read as numbers) is refused by name, one
// that matches every address is asked about first.
TEST_P(IpAccessWindowTest, EnterAndAltAAddOrSayWhyAndNoEntryGoesInTwice) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/srv/ftp/bob', 1, 1)");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.7')");
    IpAccessWindow dialog(IpListOwner::User);
    dialog.popList("bob");
    activate(&dialog);
    entry(dialog)->setFocus();
    QTest::keyClicks(entry(dialog), "10.0.0.8");
    QTest::keyClick(entry(dialog), Qt::Key_Return);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.lines(), (std::vector<std::string>{"10.0.0.7", "10.0.0.8"}));
    EXPECT_TRUE(entry(dialog)->text().isEmpty());

    QTest::keyClicks(entry(dialog), "300.1.1.1");
    nextTick(dialog);  // Add is enabled
    boxes_.answer(Answer::OK);
    QSignalSpy added(childOf<QPushButton>(&dialog, "cmdAdd"), &QPushButton::clicked);
    QTest::keyClick(entry(dialog), Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(added.wait(5000));  // a mnemonic presses the button for a moment
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_TRUE(boxes_.shown()[0].text.starts_with("\"300.1.1.1\" is not an IP address"));
    EXPECT_EQ(dialog.lines().size(), 2u);

    entry(dialog)->clear();
    QTest::keyClicks(entry(dialog), "010.000.000.007");
    boxes_.answer(Answer::OK);
    QTest::keyClick(entry(dialog), Qt::Key_Return);
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1],
              test::appMessage("\"010.000.000.007\" is already in the list as \"10.0.0.7\": "
                               "both match the same addresses."));
    EXPECT_EQ(dialog.lines().size(), 2u);

    entry(dialog)->clear();
    QTest::keyClicks(entry(dialog), "*.*.*.*");
    boxes_.answer(Answer::No);
    QTest::keyClick(entry(dialog), Qt::Key_Return);
    ASSERT_EQ(boxes_.shown().size(), 3u);
    EXPECT_EQ(boxes_.shown()[2].text,
              "\"*.*.*.*\" matches every address: user \"bob\" would be refused from every "
              "address.\r\n\r\nAdd it to the list anyway?");
    EXPECT_EQ(boxes_.shown()[2].defaultButton, 2);
    EXPECT_EQ(dialog.lines().size(), 2u);

    // Typed and never added: OK offers it, and Yes stores it with the rest.
    entry(dialog)->clear();
    QTest::keyClicks(entry(dialog), "10.0.0.9");
    boxes_.answer(Answer::Yes);
    click(&dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(userRules("bob"), (Rows{{"10.0.0.7"}, {"10.0.0.8"}, {"10.0.0.9"}}));
}

TEST_P(IpAccessWindowTest, ServerWideOkIsAllOrNothingThenRefreshesTheLabel) {
    run("INSERT INTO blocked_ips (ip) VALUES ('1.1.1.1')");
    run("INSERT INTO blocked_ips (ip) VALUES ('2.2.2.2')");
    refuseInsert("blocked_ips", "ip", "6.6.6.6");
    int refreshed = 0;
    IpAccessWindow dialog(IpListOwner::Server, [&] { ++refreshed; });
    EXPECT_EQ(dialog.objectName(), "frmGlobalIPAccess");
    EXPECT_EQ(dialog.windowTitle(), "Global IP Blocking");
    dialog.popList();
    activate(&dialog);
    add(dialog, "6.6.6.6");
    add(dialog, "7.7.7.7");

    boxes_.answer(Answer::OK);
    click(&dialog, "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_NE(boxes_.shown()[0].text.find("injected failure"), std::string::npos);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(refreshed, 0);
    EXPECT_EQ(rows("select ip from blocked_ips", {"ip"}), (Rows{{"1.1.1.1"}, {"2.2.2.2"}}));

    // The column's width is read from the database as it is now: narrowed
    // to 12, it cannot hold the next address, which is named before
    // anything is written.
    if (GetParam() == Engine::SQLite) {
        run("ALTER TABLE blocked_ips RENAME TO wide_ips");
        run("CREATE TABLE blocked_ips (ip VARCHAR(12) NOT NULL, comments TEXT)");
        run("INSERT INTO blocked_ips SELECT ip, comments FROM wide_ips");
    } else {
        run("ALTER TABLE blocked_ips ALTER COLUMN ip TYPE VARCHAR(12)");
    }
    add(dialog, "100.100.100.10");
    boxes_.answer(Answer::OK);
    click(&dialog, "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(boxes_.shown()[1],
              test::appMessage("The IP address field holds 14 characters, but the database can "
                               "store only 12 there.\r\nPlease shorten it."));
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(rows("select ip from blocked_ips", {"ip"}), (Rows{{"1.1.1.1"}, {"2.2.2.2"}}));
    list(dialog)->setCurrentRow(4);
    nextTick(dialog);
    click(&dialog, "cmdRemove");
    entry(dialog)->clear();

    list(dialog)->setCurrentRow(2);
    nextTick(dialog);
    click(&dialog, "cmdRemove");
    click(&dialog, "cmdOK");
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(rows("select ip from blocked_ips", {"ip"}),
              (Rows{{"1.1.1.1"}, {"2.2.2.2"}, {"7.7.7.7"}}));

    // Cancel discards; the next showing reloads. An empty list empties the table.
    dialog.popList();
    dialog.show();
    list(dialog)->clear();
    click(&dialog, "cmdCancel");
    EXPECT_FALSE(dialog.isVisible());
    dialog.popList();
    dialog.show();
    EXPECT_EQ(dialog.lines().size(), 3u);
    list(dialog)->clear();
    click(&dialog, "cmdOK");
    EXPECT_TRUE(rows("select ip from blocked_ips", {"ip"}).empty());
}

// Two dialogs on one user's list: the second OK is told and writes nothing;
// Reload shows the first one's entry, and the next OK keeps both.
TEST_P(IpAccessWindowTest, TheSecondOfTwoDialogsOnOneListIsToldAndLosesNothing) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/srv/ftp/bob', 1, 1)");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.1')");
    IpAccessWindow first(IpListOwner::User);
    IpAccessWindow second(IpListOwner::User);
    first.popList("bob");
    second.popList("bob");
    activate(&first);
    add(first, "10.0.0.2");
    click(&first, "cmdOK");
    EXPECT_TRUE(boxes_.shown().empty());

    activate(&second);
    add(second, "10.0.0.3");
    boxes_.answer(Answer::Reload);
    click(&second, "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_TRUE(boxes_.shown()[0].text.starts_with(
        "User bob was changed by someone else since you opened it"));
    EXPECT_EQ(userRules("bob"), (Rows{{"10.0.0.1"}, {"10.0.0.2"}}));
    EXPECT_EQ(second.lines(), (std::vector<std::string>{"10.0.0.1", "10.0.0.2"}));

    add(second, "10.0.0.3");
    click(&second, "cmdOK");
    EXPECT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(userRules("bob"), (Rows{{"10.0.0.1"}, {"10.0.0.2"}, {"10.0.0.3"}}));
}

// Keep both: the second dialog's addition and removal go over the first
// one's, which stay.
TEST_P(IpAccessWindowTest, KeepBothAddsAndRemovesOnlyWhatThisDialogChanged) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES "
        "('bob', '/srv/ftp/bob', 1, 1)");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.1')");
    run("INSERT INTO blocked_ips_by_user (username, ip) VALUES ('bob', '10.0.0.9')");
    IpAccessWindow first(IpListOwner::User);
    IpAccessWindow second(IpListOwner::User);
    first.popList("bob");
    second.popList("bob");
    activate(&first);
    add(first, "10.0.0.2");
    click(&first, "cmdOK");

    activate(&second);
    add(second, "10.0.0.3");
    list(second)->setCurrentRow(1);  // 10.0.0.9
    nextTick(second);
    click(&second, "cmdRemove");
    boxes_.answer(Answer::KeepBoth);
    click(&second, "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].buttons, MessageButtons::ReloadKeepBothOverwriteCancel);
    EXPECT_EQ(userRules("bob"), (Rows{{"10.0.0.1"}, {"10.0.0.2"}, {"10.0.0.3"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, IpAccessWindowTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
