// The ratio dialog's logic: units, option rules, checks and its statement.
#include <gtest/gtest.h>

#include "policies/logic/byte_units.h"
#include "policies/logic/ratio_settings.h"

namespace kestrix::policies {
namespace {

TEST(ByteUnitsTest, PlainDecimalTextRoundedHalfToEven) {
    EXPECT_EQ(decimalText(5242880), "5242880");
    EXPECT_EQ(decimalText(roundTo3(0.0004 * kMegabyte)), "419.43");
    EXPECT_EQ(decimalText(roundTo3(2000000 / kMegabyte)), "1.907");
    EXPECT_EQ(decimalText(roundTo3(2000000 / kKilobyte)), "1953.125");
    EXPECT_EQ(decimalText(roundTo3(0.0125)), "0.012");  // a half goes to the even neighbour
    EXPECT_EQ(decimalText(roundTo3(0.0135)), "0.014");
    // Never an exponent, a thousands separator or more than 15 digits.
    EXPECT_EQ(decimalText(1e20), "100000000000000000000");
    EXPECT_EQ(decimalText(0.00001), "0.00001");
    EXPECT_EQ(decimalText(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(decimalText(-2.5), "-2.5");
    EXPECT_EQ(decimalText(0), "0");
}

TEST(RatioSettingsTest, StoredBytesShowInMegabytesAndConvertBothWays) {
    for (const char* type : {"BytesOverall", " bytespersession "}) {
        RatioForm form;
        showStored(form, {type, "2", "1", "5242880"});
        EXPECT_TRUE(form.enabled);
        EXPECT_EQ(form.credit, "5");
        EXPECT_EQ(unitCaption(form.unit), "Mb");
        chooseUnit(form, true);
        EXPECT_EQ(form.credit, "5120");
        EXPECT_EQ(unitCaption(form.unit), "Kb");
        chooseUnit(form, false);
        EXPECT_EQ(form.credit, "5");
        const std::string kind = std::string(ratioTypeName(*form.kind));
        EXPECT_EQ(ratioUpdate(form, "o'neil"),
                  "update users set ratio_type='" + kind +
                      "', ratio_down=2, ratio_up=1, ratio_current_credit=5242880 WHERE "
                      "username='o''neil'");
    }
    RatioForm kilobytes;
    showStored(kilobytes, {"BytesOverall", "1", "1", "0"});
    kilobytes.credit = "0.0004";
    EXPECT_NE(ratioUpdate(kilobytes, "bob").find("ratio_current_credit=419.43 "),
              std::string::npos);
}

TEST(RatioSettingsTest, OptionRulesClearTheCreditOnlyWhenTheKindChanges) {
    RatioForm form;
    showStored(form, {"", "", "", ""});
    EXPECT_FALSE(form.enabled);
    EXPECT_EQ(ratioUpdate(form, "bob"),
              "update users set ratio_type=NULL, ratio_down=0, ratio_up=0, "
              "ratio_current_credit=0 WHERE username='bob'");

    form.credit = "7";
    switchRatios(form, true);  // files -> bytes all sessions
    EXPECT_EQ(form.kind, RatioKind::BytesOverall);
    EXPECT_EQ(form.credit, "");
    form.credit = "3";
    selectKind(form, RatioKind::BytesPerSession);  // bytes -> bytes keeps it
    EXPECT_EQ(form.credit, "3");
    selectKind(form, RatioKind::FilesPerSession);
    EXPECT_EQ(form.credit, "");
    EXPECT_EQ(form.unit, CreditUnit::Files);
    form.credit = "4";
    selectKind(form, RatioKind::FilesOverall);
    EXPECT_EQ(form.credit, "4");
    form.upload = "1";
    form.download = "2";
    EXPECT_EQ(ratioUpdate(form, "bob"),
              "update users set ratio_type='FilesOverall', ratio_down=2, ratio_up=1, "
              "ratio_current_credit=4 WHERE username='bob'");

    // An unknown type leaves the switch and the option as they were.
    showStored(form, {"Weekly", "1", "1", "9"});
    EXPECT_TRUE(form.enabled);
    EXPECT_EQ(form.kind, RatioKind::FilesOverall);
}

TEST(RatioSettingsTest, OkRefusesBlankOrNonNumericFieldsOnlyWithRatiosOn) {
    RatioForm form;
    switchRatios(form, true);
    form.credit = "  ";
    ASSERT_TRUE(checkRatios(form));
    EXPECT_EQ(checkRatios(form)->text, "Please make sure all fields are correct.");
    EXPECT_EQ(checkRatios(form)->caption, "Tavix2");
    form.credit = "1.2.3";
    EXPECT_EQ(checkRatios(form)->text, "The value in the Credit field must be a number.");
    form.credit = "1";
    form.upload = "1/2";
    EXPECT_EQ(checkRatios(form)->text, "The value in the Uploads field must be a number.");
    form.upload = " 1 ";
    EXPECT_FALSE(checkRatios(form));
    switchRatios(form, false);
    form.download = "";
    EXPECT_FALSE(checkRatios(form));
}

}  // namespace
}  // namespace kestrix::policies
