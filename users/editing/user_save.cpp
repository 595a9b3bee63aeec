#include "users/editing/user_save.h"

#include <charconv>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/path_tests.h"
#include "core/sql_literal.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/text_rules.h"

namespace kestrix::users {

namespace {

constexpr std::size_t kMaxUsername = 45;
constexpr std::size_t kMaxHomeDir = 1024;
constexpr std::size_t kMaxPassword = 45;
constexpr std::size_t kMaxNotes = 40000;

std::string notesLiteral(const std::optional<std::string>& notes) {
    return notes ? sqlText(*notes) : "NULL";
}

// What the activity log shows in place of a password.
constexpr const char* kMaskedPassword = "***";

std::string insertUser(const CheckedUser& user, const std::string& password) {
    return "INSERT INTO users(username, homedir, password, comments, max_concurrent, "
           "max_logins_per_ip, quota_current)VALUES(" +
           sqlText(user.username) + ", " + sqlText(user.homeDir) + ", " + sqlText(password) + ", " +
           notesLiteral(user.notes) + ", 1, 1, 0)";
}

WriteStep insertUserStep(const CheckedUser& user) {
    return {"insert into users (new user)", insertUser(user, user.password),
            insertUser(user, kMaskedPassword)};
}

std::string updateUser(const CheckedUser& user, const std::string& selectedUser,
                       const std::string& password) {
    std::string update = "UPDATE users SET username=" + sqlText(user.username) +
                         ", homedir=" + sqlText(user.homeDir);
    if (user.passwordChanged) update += ", password=" + sqlText(password);
    return update + ", comments=" + notesLiteral(user.notes) +
           " WHERE username=" + sqlText(selectedUser);
}

std::string insertRule(const std::string& owner, const std::string& directory,
                       const std::string& rights, const std::string& inherit) {
    return "INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) VALUES (" +
           sqlText(owner) + ", " + sqlText(directory) + ", " + sqlText(rights) + ", " + inherit +
           ")";
}

void appendRuleSteps(std::vector<WriteStep>& steps, const std::string& owner,
                     const std::vector<DirRule>& ruleSet) {
    steps.push_back(
        {"Delete all dir rights", "DELETE FROM dir_rights WHERE username=" + sqlText(owner)});
    for (const DirRule& rule : ruleSet) {
        WriteStep step{"insert dir rights for " + rule.directory, {}};
        if (!rule.directory.empty()) {
            step.sql = insertRule(owner, rule.directory, rule.rights, inheritNumber(rule.inherit));
        }
        steps.push_back(std::move(step));
    }
}

}  // namespace

std::string inheritNumber(const std::string& inheritText) {
    const std::string text = trimmed(inheritText);
    int value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || parsed.ec != std::errc() || parsed.ptr != text.data() + text.size()) {
        return "0";
    }
    return std::to_string(value);
}

std::optional<CheckedUser> checkForSave(const SaveForm& form, UserPrompts& prompts) {
    if (characterCount(form.username) > kMaxUsername) {
        prompts.show(tooLong("Username"));
        return std::nullopt;
    }
    if (characterCount(form.homeDir) > kMaxHomeDir) {
        prompts.show(tooLong("Home Directory"));
        return std::nullopt;
    }
    if (characterCount(form.password) > kMaxPassword) {
        prompts.show(tooLong("Password"));
        return std::nullopt;
    }
    if (characterCount(form.notes) > kMaxNotes) {
        prompts.show(tooLong("Notes"));
        return std::nullopt;
    }
    if (isBlank(form.username)) {
        prompts.show(refusal("Username cannot be left blank."));
        return std::nullopt;
    }
    // Paths keep their case here: another case is another directory.
    if (isBlank(form.homeDir)) {
        prompts.show(refusal("Home Directory field cannot be left blank."));
        return std::nullopt;
    }
    // The FTP server would read a relative path against its own working
    // directory: such a home can never be the one meant.
    if (!isAbsolutePath(form.homeDir)) {
        prompts.show(
            refusal(std::string("The Home Directory must be a full path starting with /.") + kCrLf +
                    kCrLf + "Please check your path and try again."));
        return std::nullopt;
    }
    const PathTests tests = getPathTests(form.homeDir);
    if (!tests.isDirectory) {
        const Message notValid =
            titledMessage(std::string("The Home Directory specified is not valid.") + kCrLf +
                              kCrLf + "Press OK to save as entered, or Cancel to edit.",
                          MessageIcon::Exclamation, MessageButtons::OKCancel);
        if (prompts.show(notValid) != Answer::OK) return std::nullopt;
    }
    if (tests.isNetworkPath || tests.isUNC) {
        const Message network = titledMessage(
            std::string("The Home Directory path specified is a network or UNC path.") + kCrLf +
                "These paths may need directory user rights for proper usage." + kCrLf + kCrLf +
                "Are you sure you want to use network or UNC paths?",
            MessageIcon::Question, MessageButtons::YesNoCancel, kSecondButton);
        if (prompts.show(network) != Answer::Yes) return std::nullopt;
    }
    if (isBlank(form.password)) {
        prompts.show(refusal("The Password field must contain at least an alphanumeric character"));
        return std::nullopt;
    }
    CheckedUser user;
    user.username = form.username;
    user.homeDir = form.homeDir;
    user.password = form.password;
    user.passwordChanged = form.password != kPasswordPlaceholder;
    if (!isBlank(form.notes)) user.notes = form.notes;
    return user;
}

std::vector<WriteStep> saveSteps(const CheckedUser& user, const SaveContext& context) {
    std::vector<WriteStep> steps;
    switch (context.editMode) {
        case EditMode::NewUser:
            steps.push_back(insertUserStep(user));
            // Every rule the list shows becomes the new user's: rules added
            // while the new user was pending would otherwise be lost without
            // a word. The rows go under the name just inserted; rows left
            // over under that name are replaced.
            appendRuleSteps(steps, user.username, context.ruleSet);
            break;
        case EditMode::Copy:
            steps.push_back(insertUserStep(user));
            appendRuleSteps(steps, context.selectedUser, context.ruleSet);
            break;
        case EditMode::Stored:
            steps.push_back({"Update users table with new info",
                             updateUser(user, context.selectedUser, user.password),
                             updateUser(user, context.selectedUser, kMaskedPassword), true});
            appendRuleSteps(steps, context.selectedUser, context.ruleSet);
            break;
    }
    return steps;
}

SaveOutcome saveUser(const SaveForm& form, const SaveContext& context, UserPrompts& prompts) {
    writeLog("rootdir = getRegSettings(ftp_directory)");
    writeLog("check for duplicate username");
    writeLog("get the basic data from the main page");
    const auto user = checkForSave(form, prompts);
    if (!user) return SaveOutcome::Stopped;

    Database db;
    if (!openDatabase(db, 0)) return SaveOutcome::DatabaseUnavailable;
    const auto failure = runInTransaction(db, saveSteps(*user, context));
    writeLog("close database");
    closeDatabase(db);
    if (!failure) return SaveOutcome::Written;
    if (failure->rowMissing) {
        prompts.show(refusal("The user " + context.selectedUser +
                             " no longer exists in the database. Nothing was saved." + kCrLf +
                             kCrLf + "The user list is read again."));
        return SaveOutcome::Vanished;
    }
    prompts.show(failureMessage("Saving user " + user->username, failure->description));
    return SaveOutcome::Failed;
}

}  // namespace kestrix::users
