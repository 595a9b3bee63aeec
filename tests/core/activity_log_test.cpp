#include <gtest/gtest.h>
#include <clocale>
#include <ctime>
#include <regex>

#include "core/activity_log.h"

namespace kestrix {
namespace {

std::chrono::system_clock::time_point localMoment(int y, int mo, int d, int h, int mi) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(ActivityLogTest, LineIsDateTimeColonTwoBlanksMessage) {
    std::setlocale(LC_TIME, "C");
    const auto when = localMoment(2026, 12, 7, 9, 5);
    EXPECT_EQ(formatLogLine("attempt to open database", when),
              "12/07/2026 09:05:00:  attempt to open database\n");
    EXPECT_EQ(formatLogLine("", when), "12/07/2026 09:05:00:  \n");
    // The seconds tell apart the steps of one minute.
    EXPECT_EQ(formatLogLine("next", when + std::chrono::seconds(7)),
              "12/07/2026 09:05:07:  next\n");
}

TEST(ActivityLogTest, StartsWithDesignerTextAndGrowsInOrder) {
    ActivityLog log;
    EXPECT_EQ(log.text(), "Log File\n");
    log.write("one");
    log.write("two");
    const std::regex shape(
        "Log File\n[0-9/.-]+ [0-9]{2}:[0-9]{2}:[0-9]{2}:  one\n[0-9/.-]+ "
        "[0-9]{2}:[0-9]{2}:[0-9]{2}:  "
        "two\n");
    EXPECT_TRUE(std::regex_match(log.text(), shape)) << log.text();
}

TEST(ActivityLogTest, AttachedListenersSeeEachNewLineUntilDetached) {
    ActivityLog log;
    std::vector<std::string> seen;
    const int id = log.attach([&](const std::string& line) { seen.push_back(line); });
    log.write("first");
    log.detach(id);
    log.write("second");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(seen[0].find(":  first\n"), std::string::npos);
}

TEST(ActivityLogTest, ProgramAndWizardLogsAreSeparate) {
    const size_t programBefore = programLog().text().size();
    const size_t wizardBefore = wizardLog().text().size();
    writeWizardLog("creating tables");
    EXPECT_EQ(programLog().text().size(), programBefore);
    EXPECT_NE(wizardLog().text().find(":  creating tables\n", wizardBefore), std::string::npos);
    writeLog("registry");
    EXPECT_NE(programLog().text().find(":  registry\n", programBefore), std::string::npos);
}

}  // namespace
}  // namespace kestrix
