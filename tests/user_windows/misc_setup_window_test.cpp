// The account limits and schedule dialog with its date picker, through the
// real windows.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <clocale>

#include "app/main_window.h"
#include "core/short_date.h"
#include "policies/misc_setup_window.h"
#include "policies/month_grid.h"
#include "setup/configure_window.h"
#include "shell/number_box.h"
#include "tests/user_windows/user_window_fixture.h"

namespace kestrix {
namespace {

using namespace std::chrono;
using test::Rows;

class MiscSetupTest : public test::UserWindowTest {
  protected:
    void SetUp() override {
        UserWindowTest::SetUp();
        std::setlocale(LC_TIME, "C");
        addUser("bob", dir("ftp/bob"));
        run("UPDATE users SET timeout=10, session_timeout=-1 WHERE username='bob'");
        addUser("carol", dir("ftp/carol"));
        startMainWindow();
    }

    MiscSetupWindow* openMisc() {
        QTest::mouseClick(main_->findChild<QPushButton*>("cmdMisc"), Qt::LeftButton);
        MiscSetupWindow* misc = main_->miscSetupWindow();
        EXPECT_NE(misc, nullptr);
        EXPECT_TRUE(misc != nullptr && misc->isVisible());
        return misc;
    }
    template <typename T>
    static T* in(QWidget* window, const char* name) {
        return childOf<T>(window, name);
    }
    static void clickDay(MonthGrid* grid, year_month_day date) {
        const auto cell = policies::cellOf(date);
        QTest::mouseClick(grid, Qt::LeftButton, {},
                          QPoint(cell.column * grid->cellWidth() + grid->cellWidth() / 2,
                                 cell.row * grid->cellHeight() + grid->cellHeight() / 2));
    }
    // A box that spans the row is hit on its indicator, at the left.
    static void tick(QCheckBox* box) {
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(6, box->height() / 2));
    }
    static void chooseYear(QWidget* misc, int year) {
        auto* box = in<QComboBox>(misc, "cboYear");
        box->lineEdit()->setText(QString::number(year));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
    }
    static void chooseMonth(QWidget* misc, int index) {
        auto* box = in<QComboBox>(misc, "cboMonth");
        box->setCurrentIndex(index);
        emit box->activated(index);
    }
};

TEST_P(MiscSetupTest, ControlRulesKeyFilterAndNumbersThatNeverReachTheStatement) {
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    EXPECT_EQ(misc->windowTitle(), "User Miscellaneous Setup - bob");
    EXPECT_EQ(in<QLineEdit>(misc, "txtIdleTimeOut")->text(), "10");
    EXPECT_EQ(in<QLineEdit>(misc, "txtSessionTimeout")->text(), "");  // -1: no value
    EXPECT_TRUE(in<QAbstractButton>(misc, "optMaxLogins")->isChecked());
    EXPECT_EQ(in<QLineEdit>(misc, "TxtAllowOnly")->text(), "2");

    // "Disable account" greys the disable date and empties it, keeping its tick.
    auto* disableOn = in<QCheckBox>(misc, "chkDisableOn");
    tick(disableOn);
    EXPECT_TRUE(in<QWidget>(misc, "cmdDiableDDD")->isEnabled());
    in<QLineEdit>(misc, "txtDisableDate")->setText("12/31/2026");
    tick(in<QCheckBox>(misc, "chkDisableAccount"));
    EXPECT_FALSE(disableOn->isEnabled());
    EXPECT_TRUE(disableOn->isChecked());
    EXPECT_EQ(in<QLineEdit>(misc, "txtDisableDate")->text(), "");
    tick(in<QCheckBox>(misc, "chkDisableAccount"));
    tick(disableOn);

    // A whole-number box takes digits only, and says so; the session
    // time-out is a number box like the others.
    auto* idle = in<QLineEdit>(misc, "txtIdleTimeOut");
    idle->clear();
    QTest::keyClicks(idle, "1a-2/ ");
    EXPECT_EQ(idle->text(), "12");
    EXPECT_EQ(lastNumberBoxNote(idle),
              "The idle timeout field takes a whole number from 0 to 99999999: \"12 \" cannot "
              "stand there.");
    auto* session = in<QLineEdit>(misc, "txtSessionTimeout");
    QTest::keyClicks(session, "1a");
    EXPECT_EQ(session->text(), "1");

    // Unquoted, "0--" would comment out the WHERE and change every user.
    const Rows before =
        rows("SELECT username, timeout, session_timeout FROM users ORDER BY username",
             {"username", "timeout", "session_timeout"});
    session->setText("");
    for (const char* pasted : {"0--", "1/2"}) {
        idle->setText(QString::fromLatin1(pasted));
        boxes_.answer(Answer::OK);
        QTest::mouseClick(in<QPushButton>(misc, "CmdOK"), Qt::LeftButton);
        EXPECT_EQ(boxes_.shown().back().text,
                  "The value in the idle timeout field must be a number.");
        EXPECT_TRUE(misc->isVisible());
        EXPECT_EQ(misc->focusWidget(), idle);
    }
    EXPECT_EQ(rows("SELECT username, timeout, session_timeout FROM users ORDER BY username",
                   {"username", "timeout", "session_timeout"}),
              before);
}

TEST_P(MiscSetupTest, PickerGridKeysAndMonthBox) {
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    tick(in<QCheckBox>(misc, "chkExpires"));
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    ASSERT_TRUE(misc->pickerInFront());
    auto* grid = in<MonthGrid>(misc, "picMonth");
    EXPECT_EQ(grid->currentDate(), today());

    chooseYear(misc, 2027);
    chooseMonth(misc, 0);  // January
    clickDay(grid, year_month_day{year{2027}, month{1}, day{31}});
    EXPECT_EQ(grid->currentDate(), (year_month_day{year{2027}, month{1}, day{31}}));
    QTest::keyClick(grid, Qt::Key_PageDown);
    EXPECT_EQ(grid->currentDate(), (year_month_day{year{2027}, month{2}, day{28}}));
    QTest::keyClick(grid, Qt::Key_PageUp);
    clickDay(grid, year_month_day{year{2027}, month{1}, day{31}});
    chooseMonth(misc, 1);  // "Febuary" from 31 January carries into March
    EXPECT_EQ(grid->currentDate(), (year_month_day{year{2027}, month{3}, day{3}}));
    EXPECT_EQ(in<QLabel>(misc, "lblMonth")->text(), "March 2027");
    EXPECT_EQ(in<QComboBox>(misc, "cboMonth")->currentText(), "March");

    // August 2026 starts on a Saturday: its 31st sits in the sixth row.
    chooseYear(misc, 2026);
    chooseMonth(misc, 7);
    clickDay(grid, year_month_day{year{2026}, month{8}, day{31}});
    EXPECT_EQ(grid->currentDate(), (year_month_day{year{2026}, month{8}, day{31}}));
    QTest::mouseClick(grid, Qt::LeftButton, {}, QPoint(5, 5));  // before day 1: nothing
    EXPECT_EQ(grid->currentDate(), (year_month_day{year{2026}, month{8}, day{31}}));
    // February 2026 starts on a Sunday: the top-left cell is its first.
    clickDay(grid, year_month_day{year{2026}, month{8}, day{1}});
    chooseMonth(misc, 1);
    QTest::mouseDClick(grid, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_FALSE(misc->pickerInFront());
    EXPECT_EQ(in<QLineEdit>(misc, "txtExpDate")->text(), "02/01/2026");

    // Cancel leaves the field.
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::mouseClick(in<QPushButton>(misc, "Command1"), Qt::LeftButton);
    EXPECT_EQ(in<QLineEdit>(misc, "txtExpDate")->text(), "02/01/2026");
}

// Enter and Escape end the picker, not the dialog: what was typed stays.
TEST_P(MiscSetupTest, PickerEnterAcceptsAndEscapeReturnsWithoutADate) {
    // The record has an edit of its own, which the dialog's OK must keep.
    auto* notes = main_->findChild<QPlainTextEdit*>("txtNotes");
    notes->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(notes, "kept");
    const QString typed = notes->toPlainText();
    main_->findChild<QLineEdit*>("txtHomeDir")->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(main_->users().state().unsavedChanges);
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    QSignalSpy closed(misc, &MiscSetupWindow::closedForGood);
    auto* idle = in<QLineEdit>(misc, "txtIdleTimeOut");
    auto* expiry = in<QLineEdit>(misc, "txtExpDate");
    auto* grid = in<MonthGrid>(misc, "picMonth");
    idle->setText("42");
    tick(in<QCheckBox>(misc, "chkExpires"));

    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    ASSERT_TRUE(misc->pickerInFront());
    QTest::keyClick(grid, Qt::Key_Right);
    QTest::keyClick(grid, Qt::Key_Escape);
    EXPECT_TRUE(misc->isVisible());
    EXPECT_FALSE(misc->pickerInFront());
    EXPECT_EQ(expiry->text(), "");
    EXPECT_EQ(misc->focusWidget(), in<QCheckBox>(misc, "chkExpires"));

    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    QTest::keyClick(grid, Qt::Key_PageDown);
    const year_month_day picked = grid->currentDate();
    QTest::keyClick(grid, Qt::Key_Return);
    EXPECT_TRUE(misc->isVisible());
    EXPECT_FALSE(misc->pickerInFront());
    EXPECT_EQ(expiry->text().toStdString(), formatShortDate(picked));

    // Escape on the picker's month box leaves the picker too, dateless.
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    QTest::keyClick(grid, Qt::Key_Down);
    QTest::keyClick(in<QComboBox>(misc, "cboMonth"), Qt::Key_Escape);
    EXPECT_TRUE(misc->isVisible());
    EXPECT_FALSE(misc->pickerInFront());
    EXPECT_EQ(expiry->text().toStdString(), formatShortDate(picked));
    EXPECT_EQ(idle->text(), "42");
    EXPECT_EQ(closed.count(), 0);

    // Enter on the settings presses OK, which stores both.
    QTest::keyClick(idle, Qt::Key_Return);
    EXPECT_FALSE(misc->isVisible());
    EXPECT_EQ(
        rows("SELECT timeout, Expires FROM users WHERE username='bob'", {"timeout", "Expires"}),
        (Rows{{"42", formatIsoDate(picked)}}));
    // The status line shows the new date at once; the typed notes stay.
    EXPECT_EQ(main_->findChild<QLabel*>("lblExpires")->text().toStdString(),
              "This user's account will expire on " + formatShortDate(picked));
    EXPECT_EQ(notes->toPlainText(), typed);
    EXPECT_TRUE(main_->users().state().unsavedChanges);
}

// OK writes to the user the dialog loaded, even when the main window has
// moved on; reopening shows what was stored.
TEST_P(MiscSetupTest, OkWritesTheLoadedUserAndReopeningShowsIt) {
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    in<QLineEdit>(misc, "txtIdleTimeOut")->setText("5");
    in<QLineEdit>(misc, "txtMaxUSer")->setText("2");
    tick(in<QCheckBox>(misc, "chkExpires"));
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    auto* grid = in<MonthGrid>(misc, "picMonth");
    QTest::keyClick(grid, Qt::Key_PageDown);
    const year_month_day picked = grid->currentDate();
    QTest::mouseClick(in<QPushButton>(misc, "Command2"), Qt::LeftButton);

    main_->users().selectUserRow(1);  // carol
    ASSERT_EQ(main_->users().state().selectedUser, "carol");
    QTest::mouseClick(in<QPushButton>(misc, "CmdOK"), Qt::LeftButton);
    EXPECT_FALSE(misc->isVisible());
    EXPECT_EQ(rows("SELECT username, timeout, max_concurrent, Expires FROM users ORDER BY username",
                   {"username", "timeout", "max_concurrent", "Expires"}),
              (Rows{{"bob", "5", "2", formatIsoDate(picked)},
                    {"carol", std::nullopt, "3", std::nullopt}}));
    EXPECT_EQ(main_->users().state().selectedUser, "carol");

    main_->users().selectUserRow(0);
    misc = openMisc();
    ASSERT_NE(misc, nullptr);
    EXPECT_EQ(in<QLineEdit>(misc, "txtIdleTimeOut")->text(), "5");
    EXPECT_EQ(in<QLineEdit>(misc, "txtMaxUSer")->text(), "2");
    EXPECT_TRUE(in<QCheckBox>(misc, "chkExpires")->isChecked());
    EXPECT_EQ(in<QLineEdit>(misc, "txtExpDate")->text().toStdString(), formatShortDate(picked));
    QTest::mouseClick(in<QPushButton>(misc, "CmdCancel"), Qt::LeftButton);
}

// The dialog's own OK while the calendar is in front takes the day marked
// there, and the dialog never opens again on a calendar left in front.
TEST_P(MiscSetupTest, OkOnTheCalendarTakesTheMarkedDayAndNoOpeningStartsOnIt) {
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    tick(in<QCheckBox>(misc, "chkExpires"));
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    auto* grid = in<MonthGrid>(misc, "picMonth");
    QTest::keyClick(grid, Qt::Key_PageDown);
    const year_month_day marked = grid->currentDate();
    QTest::mouseClick(in<QPushButton>(misc, "CmdOK"), Qt::LeftButton);
    EXPECT_TRUE(boxes_.shown().empty());
    EXPECT_FALSE(misc->isVisible());
    EXPECT_EQ(rows("SELECT Expires FROM users WHERE username='bob'", {"Expires"}),
              (Rows{{formatIsoDate(marked)}}));

    // A calendar left with the dialog's Cancel is not in front next time.
    misc = openMisc();
    ASSERT_NE(misc, nullptr);
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    ASSERT_TRUE(misc->pickerInFront());
    QTest::mouseClick(in<QPushButton>(misc, "CmdCancel"), Qt::LeftButton);
    misc = openMisc();
    ASSERT_NE(misc, nullptr);
    EXPECT_FALSE(misc->pickerInFront());
    EXPECT_EQ(in<QLineEdit>(misc, "txtExpDate")->text().toStdString(), formatShortDate(marked));

    // A year typed in the calendar's year box is kept when a day is clicked.
    QTest::mouseClick(in<QPushButton>(misc, "cmdExpiresDDD"), Qt::LeftButton);
    auto* yearBox = in<QComboBox>(misc, "cboYear");
    yearBox->lineEdit()->setFocus(Qt::OtherFocusReason);
    yearBox->lineEdit()->selectAll();
    QTest::keyClicks(yearBox->lineEdit(), "2200");
    clickDay(grid, year_month_day{year{2200}, grid->currentDate().month(), day{1}});
    EXPECT_EQ(grid->currentDate().year(), year{2200});
    EXPECT_EQ(yearBox->currentText(), "2200");
    QTest::mouseClick(in<QPushButton>(misc, "CmdCancel"), Qt::LeftButton);
}

// A date box is typed into (the locale's short form or YYYY-MM-DD, checked
// when it is left) as well as picked; Tab reaches it without a calendar.
TEST_P(MiscSetupTest, ADateIsTypedCheckedWhenLeftAndStoredAsIso) {
    MiscSetupWindow* misc = openMisc();
    ASSERT_NE(misc, nullptr);
    auto* expires = in<QCheckBox>(misc, "chkExpires");
    auto* box = in<QLineEdit>(misc, "txtExpDate");
    tick(expires);
    expires->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(expires, Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(QApplication::focusWidget(), box);
    EXPECT_FALSE(misc->pickerInFront());

    QTest::keyClicks(box, "03/04/227");
    boxes_.answer(Answer::OK);
    auto* speed = in<QLineEdit>(misc, "txtMaxSpeed");
    speed->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    ASSERT_EQ(boxes_.shown().size(), 1u);
    EXPECT_EQ(boxes_.shown()[0].text,
              "The year in the Expiration date field (227) must have four digits.\r\nPlease type "
              "the date again.");
    EXPECT_EQ(QApplication::focusWidget(), box);

    box->clear();
    QTest::keyClicks(box, "2031-05-06");
    speed->setFocus(Qt::MouseFocusReason);
    QCoreApplication::processEvents();
    EXPECT_EQ(box->text(), "05/06/2031");  // shown in the locale's form
    QTest::mouseClick(in<QPushButton>(misc, "CmdOK"), Qt::LeftButton);
    EXPECT_FALSE(misc->isVisible());
    EXPECT_EQ(rows("SELECT Expires FROM users WHERE username='bob'", {"Expires"}),
              (Rows{{"2031-05-06"}}));
}

INSTANTIATE_TEST_SUITE_P(Engines, MiscSetupTest,
                         ::testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         [](const auto& info) { return test::engineName(info.param); });

}  // namespace
}  // namespace kestrix
