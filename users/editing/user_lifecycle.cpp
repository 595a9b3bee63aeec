#include "users/editing/user_lifecycle.h"

#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/database.h"
#include "core/sql_literal.h"
#include "core/unicode_text.h"
#include "users/editing/statement_run.h"
#include "users/editing/text_rules.h"

namespace kestrix::users {

namespace {

constexpr std::size_t kMaxNewName = 50;
constexpr std::size_t kMaxNewPassword = 50;

}  // namespace

bool isForbiddenUserName(const std::string& name) {
    const std::string key = lowerAscii(trimmed(name));
    return key == "default" || key == "** default **" || key == "anonymous" ||
           key == "** anonymous **";
}

std::string newUserHomeDir(const std::string& ftpDirectory) {
    return withoutTrailingSeparator(ftpDirectory);
}

Message nameTakenMessage() {
    return refusal("That username is already in use. Please choose another.", "Username in use");
}

Message passwordsDifferMessage() {
    return refusal("The two passwords differ: nothing was changed.");
}

Message invisibleCharacterMessage() {
    return refusal(std::string("A username cannot hold control or invisible formatting "
                               "characters.") +
                   kCrLf + kCrLf + "Please enter another name");
}

NewNameVerdict checkNewName(const std::string& name, const std::string& password,
                            UserPrompts& prompts) {
    if (isBlank(name)) return NewNameVerdict::Ignored;
    if (characterCount(name) > kMaxNewName) {
        prompts.show(tooLong("new username"));
        return NewNameVerdict::Refused;
    }
    if (isForbiddenUserName(name)) {
        prompts.show(refusal(std::string("Those are forbidden usernames. ") + kCrLf + kCrLf +
                             "Please enter another name"));
        return NewNameVerdict::Refused;
    }
    if (holdsControlOrFormat(name)) {
        prompts.show(invisibleCharacterMessage());
        return NewNameVerdict::Refused;
    }
    if (isBlank(password)) return NewNameVerdict::Ignored;
    if (characterCount(password) > kMaxNewPassword) {
        prompts.show(tooLong("password"));
        return NewNameVerdict::Refused;
    }
    const auto taken = userNameInUse(name, prompts);
    if (!taken) return NewNameVerdict::DatabaseUnavailable;
    if (*taken) {
        prompts.show(nameTakenMessage());
        return NewNameVerdict::Refused;
    }
    return NewNameVerdict::Accepted;
}

namespace {

Message nameTakenBy(const std::string& existing) {
    return refusal("That username is already in use. Please choose another." + std::string(kCrLf) +
                       kCrLf + "The database holds it as " + existing + ".",
                   "Username in use");
}

// The name as stored for a user the database takes for this name; an empty
// answer when none is, no answer when the database could not say (told).
std::optional<std::optional<std::string>> storedSpelling(const std::string& name,
                                                         UserPrompts& prompts) {
    Database db;
    if (!openDatabase(db, 0)) return std::nullopt;
    std::optional<std::string> stored;
    const bool read =
        db.readColumn("select username from users where username=:v1", {name},
                      [&](Database::ValueView found) { stored = std::string(found.value_or("")); });
    const std::string failure = db.lastError();
    closeDatabase(db);
    if (!read) {
        prompts.show(
            failureMessage("Checking whether the username " + name + " is in use", failure));
        return std::nullopt;
    }
    return stored;
}

}  // namespace

CopyResult runCopyFlow(const CopyRequest& request, UserPrompts& prompts) {
    CopyResult result;
    result.nameBox = request.nameBox;
    const Message question =
        titledMessage(std::string("Changing the username will create another ") + kCrLf +
                          "user with the same credentials. " + kCrLf + kCrLf +
                          "This action will not modify the current user's username." + kCrLf +
                          kCrLf + "Do you want to continue",
                      MessageIcon::Question, MessageButtons::YesNoCancel, kSecondButton);
    if (prompts.show(question) != Answer::Yes) {
        result.focusNotes = true;
        return result;
    }
    writeLog("copy user by changing username");
    result.unsaved = true;
    const auto answer = prompts.show(
        InputRequest{"Enter the new username", std::string(kAppTitle), request.nameBox});
    const std::string wanted = answer && !isBlank(*answer) ? *answer : request.nameBox;
    // The name unchanged starts no copy.
    if (wanted == request.selectedUser) return result;
    if (holdsControlOrFormat(wanted)) {
        prompts.show(invisibleCharacterMessage());
        return result;
    }
    // A copy must never add a second row for a name in use in any letter
    // case, nor touch the user who has it (the source included).
    if (lowerAscii(wanted) == lowerAscii(request.selectedUser)) {
        prompts.show(nameTakenBy(request.selectedUser));
        return result;
    }
    const auto taken = storedSpelling(wanted, prompts);
    if (!taken) return result;
    if (*taken) {
        prompts.show(nameTakenBy(**taken));
        return result;
    }
    const std::string password =
        prompts
            .show(InputRequest{std::string("The new user needs to have a password.") + kCrLf +
                                   "Please Enter a password",
                               std::string(kAppTitle), "", true})
            .value_or("");
    const std::string again =
        prompts
            .show(InputRequest{"Please enter the password again", std::string(kAppTitle), "", true})
            .value_or("");
    if (again != password) {
        prompts.show(passwordsDifferMessage());
        return result;
    }
    result.nameBox = wanted;
    result.copyStarted = true;
    result.password = password;
    return result;
}

namespace {

DeleteOutcome deleteStoredUser(const std::string& selectedUser, UserPrompts& prompts) {
    // Modal to the whole program: Qt has no system-modal box.
    const Message warning{std::string("Warning: You cannot undo or restore from this action.") +
                              kCrLf + "Are you sure you want to delete " + selectedUser + "?" +
                              kCrLf,
                          "Warning: Deleting a user is permanent.", MessageIcon::Exclamation,
                          MessageButtons::YesNoCancel, kSecondButton};
    if (prompts.show(warning) != Answer::Yes) return DeleteOutcome::Declined;

    Database db;
    if (!openDatabase(db, 0)) return DeleteOutcome::DatabaseUnavailable;
    const std::string name = sqlText(selectedUser);
    std::vector<WriteStep> steps = {
        {"theres no turning back now, delete all traces of user",
         "DELETE FROM blocked_ips_by_user WHERE blocked_ips_by_user.username=" + name},
        {"", "DELETE FROM dir_rights WHERE dir_rights.username=" + name},
        {"", "DELETE FROM file_rights WHERE file_rights.username=" + name},
        {"", "DELETE FROM ratio_free_files WHERE ratio_free_files.username=" + name},
        {"", "DELETE FROM users WHERE users.username=" + name},
    };
    // Under the user's own lock, which every writer of the user's rows
    // takes: a row added meanwhile is either in before the delete looks or
    // refused after, never left behind.
    WriteGuard guard;
    guard.lock = WriteLock::user(selectedUser);
    guard.user = selectedUser;
    const auto failure = runInTransaction(db, steps, guard);
    closeDatabase(db);
    if (failure) {
        prompts.show(failureMessage("Deleting user " + selectedUser, failure->description));
        return DeleteOutcome::Failed;
    }
    return DeleteOutcome::Deleted;
}

}  // namespace

DeleteOutcome deleteUser(const std::string& selectedUser, UserPrompts& prompts) {
    RefusalCopy shown(prompts);
    const DeleteOutcome outcome = deleteStoredUser(selectedUser, shown);
    if (outcome == DeleteOutcome::Declined) return outcome;
    audit::Change entry;
    entry.origin = "Tavix main window";
    entry.ftpUser = selectedUser;
    entry.what = "user deleted";
    if (outcome == DeleteOutcome::DatabaseUnavailable) {
        entry.result = audit::Result::Failed;
        entry.reason = "the database could not be opened";
    } else if (outcome == DeleteOutcome::Failed) {
        entry.result = audit::Result::Failed;
        entry.reason = shown.refusal();
    }
    audit::recordWindowChange(entry);
    return outcome;
}

}  // namespace kestrix::users
