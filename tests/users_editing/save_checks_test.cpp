#include <gtest/gtest.h>

#include "tests/support/scratch.h"
#include "tests/users_editing/scripted_prompts.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/user_lifecycle.h"
#include "users/editing/user_save.h"

namespace kestrix::users {
namespace {

std::string tooLong(const char* field) {
    return std::string("The number of characters in the ") + field +
           " field \r\nexceeds the maximum number of characters allowed.";
}

class SaveChecksTest : public ::testing::Test {
  protected:
    SaveForm valid() const {
        SaveForm form;
        form.username = "bob";
        form.homeDir = home.path().string();
        form.password = "pw";
        return form;
    }
    std::vector<std::string> refusalsOf(const SaveForm& form) {
        test::ScriptedPrompts prompts;
        EXPECT_FALSE(checkForSave(form, prompts));
        return prompts.texts();
    }
    kestrix::test::TempDir home;
};

TEST_F(SaveChecksTest, LengthLimitsAtTheirEdgesInTheirOrder) {
    SaveForm form = valid();
    form.username = std::string(45, 'u');
    form.password = std::string(45, 'p');
    form.notes = std::string(40000, 'n');
    test::ScriptedPrompts prompts;
    EXPECT_TRUE(checkForSave(form, prompts));
    EXPECT_TRUE(prompts.shown.empty());

    // Every field too long: the user name speaks first, then the others in turn.
    form.username = std::string(46, 'u');
    form.homeDir = std::string(1025, 'h');
    form.password = std::string(46, 'p');
    form.notes = std::string(40001, 'n');
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{tooLong("Username")}));
    form.username = "bob";
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{tooLong("Home Directory")}));
    form.homeDir = home.path().string();
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{tooLong("Password")}));
    form.password = "pw";
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{tooLong("Notes")}));

    // Characters, not bytes: 45 two-byte letters are within the limit.
    form = valid();
    std::string umlauts;
    for (int i = 0; i < 45; ++i)
        umlauts += "ü";
    form.username = umlauts;
    EXPECT_TRUE(checkForSave(form, prompts));
}

TEST_F(SaveChecksTest, BlankFieldsAfterTheLengthChecks) {
    SaveForm form = valid();
    form.username = "   ";
    form.password = std::string(46, 'p');
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{tooLong("Password")}));
    form.password = "pw";
    EXPECT_EQ(refusalsOf(form), (std::vector<std::string>{"Username cannot be left blank."}));
    form.username = "bob";
    form.homeDir = " ";
    EXPECT_EQ(refusalsOf(form),
              (std::vector<std::string>{"Home Directory field cannot be left blank."}));
    form.homeDir = home.path().string();
    form.password = "  ";
    EXPECT_EQ(refusalsOf(form),
              (std::vector<std::string>{
                  "The Password field must contain at least an alphanumeric character"}));
}

TEST_F(SaveChecksTest, HomeDirectoryQuestions) {
    // Named, and Enter takes the second button: back to the box.
    const auto notValidFor = [](const std::string& home) {
        return "The Home Directory specified is not valid: the folder \"" + home +
               "\" does not exist.\r\n\r\nPress OK to save as entered, or Cancel to edit.";
    };
    std::string notValid = notValidFor("/no/such/Home");
    SaveForm form = valid();
    form.homeDir = "/no/such/Home";
    {
        test::ScriptedPrompts prompts;
        prompts.answer(Answer::Cancel);
        EXPECT_FALSE(checkForSave(form, prompts));
    }
    {
        test::ScriptedPrompts prompts;
        prompts.answer(Answer::OK);
        const auto user = checkForSave(form, prompts);
        ASSERT_TRUE(user);
        EXPECT_EQ(user->homeDir, "/no/such/Home");  // case kept
        ASSERT_EQ(prompts.shown.size(), 1u);
        EXPECT_EQ(prompts.shown[0].text, notValid);
        EXPECT_EQ(prompts.shown[0].buttons, MessageButtons::OKCancel);
        EXPECT_EQ(prompts.shown[0].defaultButton, 2);
    }
    // A UNC path that does not exist asks both questions, the not-valid one first.
    form.homeDir = "//fileserver/share/bob";
    notValid = notValidFor(form.homeDir);
    {
        test::ScriptedPrompts prompts;
        prompts.answer(Answer::OK).answer(Answer::No);
        EXPECT_FALSE(checkForSave(form, prompts));
        ASSERT_EQ(prompts.shown.size(), 2u);
        EXPECT_EQ(prompts.shown[0].text, notValid);
        EXPECT_EQ(prompts.shown[1].icon, MessageIcon::Question);
        EXPECT_EQ(prompts.shown[1].defaultButton, 2);
        EXPECT_NE(prompts.shown[1].text.find("network or UNC path"), std::string::npos);
    }
    {
        test::ScriptedPrompts prompts;
        prompts.answer(Answer::OK).answer(Answer::Yes);
        EXPECT_TRUE(checkForSave(form, prompts));
    }
}

TEST_F(SaveChecksTest, PlaceholderNotesAndInherit) {
    SaveForm form = valid();
    form.password = kPasswordPlaceholder;
    form.notes = " \t ";
    test::ScriptedPrompts prompts;
    auto user = checkForSave(form, prompts);
    ASSERT_TRUE(user);
    EXPECT_FALSE(user->passwordChanged);
    EXPECT_FALSE(user->notes);
    form.notes = " kept with blanks ";
    user = checkForSave(form, prompts);
    EXPECT_EQ(user->notes, " kept with blanks ");

    EXPECT_EQ(inheritNumber("1"), "1");
    EXPECT_EQ(inheritNumber(" 0 "), "0");
    EXPECT_EQ(inheritNumber("2"), "2");
    EXPECT_EQ(inheritNumber(""), "0");
    EXPECT_EQ(inheritNumber("1); DROP TABLE users; --"), "0");
}

TEST_F(SaveChecksTest, RuleWithoutDirectoryIsLoggedButNotWritten) {
    SaveForm form = valid();
    test::ScriptedPrompts prompts;
    const auto user = checkForSave(form, prompts);
    ASSERT_TRUE(user);
    const auto steps =
        saveSteps(*user, {"bob", EditMode::Stored, {{"", "RL", "1"}, {"/d", "", "0"}}});
    ASSERT_EQ(steps.size(), 4u);
    EXPECT_EQ(steps[2].log, "insert dir rights for ");
    EXPECT_TRUE(steps[2].sql.empty());
    // No right granted: the empty acronym.
    EXPECT_NE(steps[3].sql.find("VALUES ('bob', '/d', '', 0)"), std::string::npos) << steps[3].sql;
}

TEST(NewNameTest, ForbiddenNamesAndLimits) {
    for (const char* name : {"Default", " anonymous ", "** ANONYMOUS **", "** default **"}) {
        test::ScriptedPrompts prompts;
        EXPECT_EQ(checkNewName(name, "pw", prompts), NewNameVerdict::Refused) << name;
        EXPECT_EQ(prompts.texts(),
                  (std::vector<std::string>{
                      "Those are forbidden usernames. \r\n\r\nPlease enter another name"}));
    }
    EXPECT_FALSE(isForbiddenUserName("default1"));
    EXPECT_FALSE(isForbiddenUserName("anon"));

    test::ScriptedPrompts prompts;
    EXPECT_EQ(checkNewName("   ", "pw", prompts), NewNameVerdict::Ignored);
    EXPECT_EQ(checkNewName("carol", "  ", prompts), NewNameVerdict::Ignored);
    EXPECT_TRUE(prompts.shown.empty());
    EXPECT_EQ(checkNewName(std::string(51, 'n'), "pw", prompts), NewNameVerdict::Refused);
    EXPECT_EQ(checkNewName("carol", std::string(51, 'p'), prompts), NewNameVerdict::Refused);
    EXPECT_EQ(prompts.texts(),
              (std::vector<std::string>{tooLong("new username"), tooLong("password")}));
    EXPECT_EQ(newUserHomeDir(" /srv/ftp/ "), "/srv/ftp");
    EXPECT_EQ(newUserHomeDir("/"), "/");
}

TEST(CopyFlowTest, DeclinedOrCancelledStartsNoCopy) {
    for (Answer declined : {Answer::No, Answer::Cancel}) {
        test::ScriptedPrompts prompts;
        prompts.answer(declined);
        const CopyResult result = runCopyFlow({"bob", "bob"}, prompts);
        EXPECT_TRUE(result.focusNotes);
        EXPECT_FALSE(result.unsaved);
        EXPECT_FALSE(result.copyStarted);
        EXPECT_EQ(prompts.shown[0].defaultButton, 2);
        EXPECT_EQ(prompts.shown[0].buttons, MessageButtons::YesNoCancel);
    }
    // Yes, then a cancelled name box: no copy, but Save turns bold.
    test::ScriptedPrompts prompts;
    prompts.answer(Answer::Yes).type(std::nullopt);
    CopyResult result = runCopyFlow({"bob", "bob"}, prompts);
    EXPECT_TRUE(result.unsaved);
    EXPECT_FALSE(result.copyStarted);
    EXPECT_EQ(result.nameBox, "bob");

    // The same name in other case is taken, by the source itself: refused
    // with its stored name, and the box keeps the source's name.
    prompts.answer(Answer::Yes).type("BOB");
    result = runCopyFlow({"bob", "bob"}, prompts);
    EXPECT_FALSE(result.copyStarted);
    EXPECT_EQ(result.nameBox, "bob");
    EXPECT_EQ(prompts.shown.back().text,
              "That username is already in use. Please choose another.\r\n\r\nThe database "
              "holds it as bob.");
    EXPECT_EQ(prompts.shown.back().caption, "Username in use");
    EXPECT_TRUE(prompts.allAnswered());
}

}  // namespace
}  // namespace kestrix::users
