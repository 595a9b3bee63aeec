// The ratio and disk quota dialogs on both engines.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include <atomic>
#include <thread>

#include "core/database.h"
#include "core/sql_literal.h"
#include "policies/disk_quota_window.h"
#include "policies/logic/disk_quota_settings.h"
#include "policies/ratios_window.h"
#include "shell/number_box.h"
#include "tests/policies/policy_window_fixture.h"

namespace kestrix {
namespace {

using test::appMessage;
using test::Row;
using test::Rows;

class RatiosWindowTest : public test::PolicyWindowTest {
  protected:
    QString text(const char* name) { return childOf<QLineEdit>(dialog_.get(), name)->text(); }
    QString unit() { return childOf<QLabel>(dialog_.get(), "Label5")->text(); }
    QComboBox* choice() { return childOf<QComboBox>(dialog_.get(), "cboChoice"); }
    void choose(int item) {
        choice()->setCurrentIndex(item);
        emit choice()->activated(item);
    }
    Rows ratios(const std::string& user) {
        return rows(
            "SELECT ratio_type, ratio_down, ratio_up, ratio_current_credit FROM users WHERE "
            "username=" +
                sqlText(user),
            {"ratio_type", "ratio_down", "ratio_up", "ratio_current_credit"});
    }
    void SetUp() override {
        PolicyWindowTest::SetUp();
        dialog_ = std::make_unique<RatiosWindow>();
    }
    std::unique_ptr<RatiosWindow> dialog_;
};

TEST_P(RatiosWindowTest, OptionRulesUnitsAndOkOnTheLoadedUser) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, ratio_type, "
        "ratio_down, ratio_up, "
        "ratio_current_credit) "
        "VALUES ('bob', '/srv/bob', 1, 1, 'BytesOverall', 2, 1, 5242880)");
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip) VALUES ('alice', "
        "'/srv/alice', 1, 1)");
    dialog_->show();

    dialog_->thisFormLoadData("bob");
    EXPECT_TRUE(childOf<QRadioButton>(dialog_.get(), "optBAS")->isChecked());
    EXPECT_EQ(text("txtUDCrd"), "5");
    EXPECT_EQ(unit(), "Mb");
    EXPECT_EQ(choice()->currentText(), "In Megabytes");
    EXPECT_TRUE(choice()->isEnabled());
    choose(1);
    EXPECT_EQ(text("txtUDCrd"), "5120");
    EXPECT_EQ(unit(), "Kb");

    // To files: the credit empties and the unit choice greys out.
    clickBox(childOf<QRadioButton>(dialog_.get(), "optFPS"));
    EXPECT_EQ(text("txtUDCrd"), "");
    EXPECT_EQ(unit(), "files");
    EXPECT_FALSE(choice()->isEnabled());
    boxes_.answer(Answer::OK);
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(boxes_.shown().back(), appMessage("Please make sure all fields are correct."));
    EXPECT_TRUE(dialog_->isVisible());

    // Back to bytes, counted in kilobytes as chosen: 1 Kb is 1024 bytes.
    clickBox(childOf<QRadioButton>(dialog_.get(), "optBPS"));
    EXPECT_EQ(unit(), "Kb");
    childOf<QLineEdit>(dialog_.get(), "txtUDCrd")->setText("1");
    click(dialog_.get(), "cmdOK");
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(ratios("bob"), (Rows{{"BytesPerSession", "2", "1", "1024"}}));
    EXPECT_EQ(ratios("alice"), (Rows{{std::nullopt, std::nullopt, std::nullopt, std::nullopt}}));

    // Ratios off: greyed boxes; OK writes the off state.
    dialog_->show();
    dialog_->thisFormLoadData("alice");
    EXPECT_FALSE(childOf<QCheckBox>(dialog_.get(), "chkEnableUD")->isChecked());
    EXPECT_FALSE(childOf<QLineEdit>(dialog_.get(), "txtUDCrd")->isEnabled());
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(ratios("alice"), (Rows{{std::nullopt, "0", "0", "0"}}));

    // Ticking starts from bytes all sessions; a files credit empties.
    dialog_->show();
    childOf<QLineEdit>(dialog_.get(), "txtUDCrd")->setText("100");
    clickBox(childOf<QCheckBox>(dialog_.get(), "chkEnableUD"));
    EXPECT_TRUE(childOf<QRadioButton>(dialog_.get(), "optBAS")->isChecked());
    EXPECT_TRUE(childOf<QLineEdit>(dialog_.get(), "txtUDCrd")->isEnabled());
    EXPECT_EQ(text("txtUDCrd"), "");
}

// Another administrator changed bob's ratio while the dialog was open: OK
// asks; Cancel writes nothing and keeps the dialog, Overwrite stores the
// dialog's values, Reload shows the stored ones.
TEST_P(RatiosWindowTest, AChangeMadeElsewhereIsAskedAboutBeforeItIsOverwritten) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, ratio_type, "
        "ratio_down, ratio_up, ratio_current_credit) VALUES ('bob', '/srv/bob', 1, 1, "
        "'FilesOverall', 2, 1, 10)");
    dialog_->show();
    dialog_->thisFormLoadData("bob");
    run("UPDATE users SET ratio_down=5 WHERE username='bob'");
    childOf<QLineEdit>(dialog_.get(), "txtUpload")->setText("3");

    boxes_.answer(Answer::Cancel);
    click(dialog_.get(), "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_TRUE(boxes_.shown()[0].text.starts_with(
        "User bob was changed by someone else since you opened it"));
    EXPECT_TRUE(dialog_->isVisible());
    EXPECT_EQ(ratios("bob"), (Rows{{"FilesOverall", "5", "1", "10"}}));

    boxes_.answer(Answer::Overwrite);
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(boxes_.shown().size(), 2u);
    EXPECT_EQ(ratios("bob"), (Rows{{"FilesOverall", "2", "3", "10"}}));

    dialog_->show();
    dialog_->thisFormLoadData("bob");
    run("UPDATE users SET ratio_down=7 WHERE username='bob'");
    boxes_.answer(Answer::Reload);
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(boxes_.shown().size(), 3u);
    EXPECT_EQ(text("txtDownload"), "7");
    EXPECT_EQ(ratios("bob"), (Rows{{"FilesOverall", "7", "3", "10"}}));
}

// Keep both: another administrator changed the download side and the
// plug-in counted some credit; this dialog changed the upload side. Both
// changes stay, and the credit counted meanwhile is not undone.
TEST_P(RatiosWindowTest, KeepBothWritesThisDialogsRatioBesideTheOthers) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, ratio_type, "
        "ratio_down, ratio_up, ratio_current_credit) VALUES ('bob', '/srv/bob', 1, 1, "
        "'FilesOverall', 2, 1, 10)");
    dialog_->show();
    dialog_->thisFormLoadData("bob");
    run("UPDATE users SET ratio_down=5, ratio_current_credit=8 WHERE username='bob'");
    childOf<QLineEdit>(dialog_.get(), "txtUpload")->setText("3");
    boxes_.answer(Answer::KeepBoth);
    click(dialog_.get(), "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(ratios("bob"), (Rows{{"FilesOverall", "5", "3", "8"}}));
}

class DiskQuotaWindowTest : public test::PolicyWindowTest {
  protected:
    QString text(const char* name) { return childOf<QLineEdit>(dialog_.get(), name)->text(); }
    Rows quota() {
        return rows("SELECT use_quota, quota_max, quota_current FROM users WHERE username='bob'",
                    {"use_quota", "quota_max", "quota_current"});
    }
    static std::optional<std::string> whole(std::optional<std::string> number) {
        // PostgreSQL's numeric keeps the scale it was written with.
        if (number && number->find('.') != std::string::npos) number->erase(number->find('.'));
        return number;
    }
    Row wholeQuota() {
        Row row = quota().at(0);
        for (auto& column : row)
            column = whole(column);
        return row;
    }
    void SetUp() override {
        PolicyWindowTest::SetUp();
        dialog_ = std::make_unique<DiskQuotaWindow>();
    }
    std::unique_ptr<DiskQuotaWindow> dialog_;
};

TEST_P(DiskQuotaWindowTest, RepairUnitsChecksAndTheRemainingQuotaOnOk) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, use_quota, "
        "quota_max, quota_current) VALUES "
        "('bob', '/srv/bob', 1, 1, NULL, 0, 0)");
    dialog_->show();
    dialog_->popQuota("bob");
    EXPECT_EQ(quota().at(0).at(0), "0");  // the NULL is repaired on load
    EXPECT_FALSE(childOf<QCheckBox>(dialog_.get(), "chkEnableQuota")->isChecked());
    EXPECT_FALSE(childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum")->isEnabled());

    clickBox(childOf<QCheckBox>(dialog_.get(), "chkEnableQuota"));
    auto* maximum = childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum");
    ASSERT_TRUE(maximum->isEnabled());
    for (const char* bad : {"", "1.2.3", "123456789012345"}) {
        maximum->setText(QString::fromLatin1(bad));
        boxes_.answer(Answer::OK);
        click(dialog_.get(), "cmdOK");
    }
    ASSERT_EQ(boxes_.shown().size(), 3u);
    EXPECT_EQ(boxes_.shown()[0], appMessage("You must enter a value for Maximum Quota when "
                                            "\r\nthe enable disk quota is checked."));
    EXPECT_EQ(boxes_.shown()[1],
              appMessage("The value in the Maximum Quota field must be a number."));
    EXPECT_EQ(boxes_.shown()[2], appMessage("The number of characters in the Maximum Quota "
                                            "field \r\nexceeds the maximum number of "
                                            "characters allowed."));
    EXPECT_EQ(wholeQuota(), (Row{"0", "0", "0"}));

    // Switched on with 1 Mb: the whole megabyte remains.
    maximum->setText("1");
    click(dialog_.get(), "cmdOK");
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(wholeQuota(), (Row{"1", "1048576", "1048576"}));

    // The plug-in has counted half of it; in kilobytes the maximum doubles.
    run("UPDATE users SET quota_current=524288 WHERE username='bob'");
    dialog_->show();
    dialog_->popQuota("bob");
    maximum->setText("77");  // unsaved: the unit change shows the stored one
    clickBox(childOf<QRadioButton>(dialog_.get(), "opK"));
    EXPECT_EQ(text("txtQuotaMaximum"), "1024");
    EXPECT_EQ(text("txtQuotaCurrent"), "512");
    EXPECT_EQ(childOf<QLabel>(dialog_.get(), "Label3")->text(), "Kb");
    EXPECT_EQ(childOf<QLabel>(dialog_.get(), "Label4")->text(), "Kb");
    maximum->setText("2048");
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(wholeQuota(), (Row{"1", "2097152", "1572864"}));

    // Off: the maximum goes to 0 whatever the box holds.
    dialog_->show();
    dialog_->popQuota("bob");
    clickBox(childOf<QCheckBox>(dialog_.get(), "chkEnableQuota"));
    maximum->setText("");
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(wholeQuota(), (Row{"0", "0", "1572864"}));
}

// A maximum comes back as it was typed, and OK on the unchanged dialog
// writes the same bytes; the box takes no sign, letter or third decimal,
// and says so; the remaining quota is shown, not offered for typing.
TEST_P(DiskQuotaWindowTest, TheMaximumKeepsWhatWasTypedAndCurrentOnlyShows) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, use_quota, "
        "quota_max, quota_current) VALUES ('bob', '/srv/bob', 1, 1, 1, 1048576, 1048576)");
    dialog_->show();
    dialog_->popQuota("bob");
    auto* maximum = childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum");
    maximum->clear();
    QTest::keyClicks(maximum, "1.53");
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(wholeQuota(), (Row{"1", "1604321", "1604321"}));
    dialog_->show();
    dialog_->popQuota("bob");
    EXPECT_EQ(text("txtQuotaMaximum"), "1.53");
    click(dialog_.get(), "cmdOK");
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(wholeQuota(), (Row{"1", "1604321", "1604321"}));

    // A count another program stored is kept while the box is unchanged.
    run("UPDATE users SET quota_max=1604000 WHERE username='bob'");
    dialog_->show();
    dialog_->popQuota("bob");
    EXPECT_EQ(text("txtQuotaMaximum"), "1.53");
    click(dialog_.get(), "cmdOK");
    EXPECT_EQ(wholeQuota().at(1), "1604000");

    dialog_->show();
    dialog_->popQuota("bob");
    maximum->clear();
    QTest::keyClicks(maximum, "1.5e");
    EXPECT_EQ(maximum->text(), "1.5");
    EXPECT_TRUE(lastNumberBoxNote(maximum).contains("Maximum Quota"));
    // The note stays in view after the key is released, until the next edit.
    auto* note = maximum->findChild<QLabel*>("boxNote");
    ASSERT_NE(note, nullptr);
    EXPECT_TRUE(note->isVisible());
    EXPECT_EQ(note->text(), lastNumberBoxNote(maximum));
    QTest::keyClicks(maximum, "37");
    EXPECT_EQ(maximum->text(), "1.53");  // the third decimal is refused
    maximum->clear();
    maximum->insert("-5abc");  // what a paste does
    EXPECT_EQ(maximum->text(), "");

    auto* current = childOf<QLineEdit>(dialog_.get(), "txtQuotaCurrent");
    EXPECT_TRUE(current->isReadOnly());
    EXPECT_EQ(current->focusPolicy(), Qt::NoFocus);
    EXPECT_FALSE(current->hasFrame());
    EXPECT_EQ(current->palette().color(QPalette::Base), dialog_->palette().color(QPalette::Window));
    const QString shown = current->text();
    QTest::keyClicks(current, "0");
    EXPECT_EQ(current->text(), shown);
}

TEST_P(DiskQuotaWindowTest, MaximumsPastTwoGibibytesAreReadAndWrittenWhole) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, use_quota, "
        "quota_max, quota_current) VALUES "
        "('bob', '/srv/bob', 1, 1, 1, 5368709120, 4294967296)");
    dialog_->show();
    dialog_->popQuota("bob");
    EXPECT_EQ(text("txtQuotaMaximum"), "5120");
    EXPECT_EQ(text("txtQuotaCurrent"), "4096");
    auto* maximum = childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum");
    maximum->setText("9999999999");
    boxes_.answer(Answer::OK);
    click(dialog_.get(), "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(
        boxes_.shown()[0],
        appMessage(
            "The value in the Maximum Quota field must be a number from 0 to 8589934592 Mb."));
    EXPECT_EQ(wholeQuota(), (Row{"1", "5368709120", "4294967296"}));

    maximum->setText("6144");
    click(dialog_.get(), "cmdOK");
    EXPECT_FALSE(dialog_->isVisible());
    EXPECT_EQ(wholeQuota(), (Row{"1", "6442450944", "5368709120"}));
    dialog_->show();
    dialog_->popQuota("bob");
    EXPECT_EQ(text("txtQuotaMaximum"), "6144");
    EXPECT_EQ(text("txtQuotaCurrent"), "5120");
}

// The plug-in counts uploads while an administrator moves the maximum up
// and down again: every byte it counted stays counted.
TEST_P(DiskQuotaWindowTest, UploadsCountedDuringEditsOfTheMaximumStayCounted) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, use_quota, "
        "quota_max, quota_current) VALUES ('bob', '/srv/bob', 1, 1, 1, 10485760, 10485760)");
    constexpr int kEdits = 20;
    constexpr long long kUploadsPerEdit = 5;
    std::atomic<int> edits{0};
    std::atomic<long long> counted{0};
    std::thread uploads([&] {
        Database db;
        ASSERT_TRUE(db.open(scratch_->connectionString())) << db.lastError();
        while (edits < kEdits) {
            // A few uploads per edit, so that SQLite's waiting writer is not
            // starved by a client that never lets go of the file.
            if (counted >= kUploadsPerEdit * (edits + 1)) {
                std::this_thread::yield();
                continue;
            }
            if (db.execute("UPDATE users SET quota_current=quota_current-1 WHERE username='bob'"))
                ++counted;
        }
    });
    std::string failure;
    for (int i = 0; i < kEdits; ++i) {
        EXPECT_EQ(policies::writeQuota("bob", true, i % 2 == 0 ? "11" : "10",
                                       policies::QuotaUnit::Mb, failure, std::nullopt),
                  policies::WriteOutcome::Written)
            << failure;
        ++edits;
    }
    uploads.join();
    EXPECT_GT(counted, 0);
    EXPECT_EQ(wholeQuota(), (Row{"1", "10485760", std::to_string(10485760 - counted)}));
}

// Keep both: another administrator switched the quota on while this dialog
// raised the maximum; the switch is theirs, the maximum this dialog's.
// Where both changed the maximum, the administrator chooses.
TEST_P(DiskQuotaWindowTest, KeepBothWritesThisDialogsMaximumBesideTheirSwitch) {
    run("INSERT INTO users (username, homedir, max_concurrent, max_logins_per_ip, use_quota, "
        "quota_max, quota_current) VALUES ('bob', '/srv/bob', 1, 1, 0, 10485760, 0)");
    dialog_->show();
    dialog_->popQuota("bob");
    run("UPDATE users SET use_quota=1 WHERE username='bob'");
    childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum")->setText("20");
    boxes_.answer(Answer::KeepBoth);
    click(dialog_.get(), "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].buttons, MessageButtons::ReloadKeepBothOverwriteCancel);
    EXPECT_EQ(whole(quota().at(0).at(0)), "1");
    EXPECT_EQ(whole(quota().at(0).at(1)), "20971520");

    dialog_->show();
    dialog_->popQuota("bob");
    run("UPDATE users SET quota_max=31457280 WHERE username='bob'");
    childOf<QLineEdit>(dialog_.get(), "txtQuotaMaximum")->setText("40");
    boxes_.answer(Answer::KeepBoth);
    boxes_.answer(Answer::No);
    click(dialog_.get(), "cmdOK");
    ASSERT_EQ(boxes_.shown().size(), 3u);
    EXPECT_NE(boxes_.shown()[2].text.find("maximum quota: yours 40, theirs 30"), std::string::npos)
        << boxes_.shown()[2].text;
    EXPECT_EQ(whole(quota().at(0).at(1)), "31457280");
}

INSTANTIATE_TEST_SUITE_P(Engines, RatiosWindowTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });
INSTANTIATE_TEST_SUITE_P(Engines, DiskQuotaWindowTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
