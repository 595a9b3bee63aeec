#include "users/editing/user_save.h"

#include <charconv>
#include <map>
#include <utility>

#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/column_width.h"
#include "core/database.h"
#include "core/field_merge.h"
#include "core/password_storage.h"
#include "core/path_tests.h"
#include "core/text_routines.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/statement_text.h"
#include "users/editing/text_rules.h"
#include "users/editing/user_lifecycle.h"

namespace kestrix {

namespace {

constexpr const char* kUserNameField = "user name";
constexpr const char* kHomeField = "home directory";
constexpr const char* kNotesField = "notes";
constexpr const char* kRulePrefix = "rule ";

}  // namespace

FieldValues recordFields(const std::string& username, const std::string& homeDir,
                         const std::string& notes, const std::vector<DirRule>& rules) {
    // Blank notes are stored as NULL and load as the empty text.
    FieldValues fields{{kUserNameField, username},
                       {kHomeField, homeDir},
                       {kNotesField, isBlank(notes) ? std::string() : notes}};
    for (const DirRule& rule : rules)
        if (!rule.directory.empty())
            fields[kRulePrefix + rule.directory] =
                rule.rights + ' ' + users::inheritNumber(rule.inherit);
    return fields;
}

}  // namespace kestrix

namespace kestrix::users {

namespace {

constexpr std::size_t kMaxUsername = 45;
constexpr std::size_t kMaxHomeDir = 1024;
constexpr std::size_t kMaxPassword = 45;
constexpr std::size_t kMaxNotes = 40000;

// What the activity log shows in place of a password.
constexpr const char* kMaskedPassword = "***";

WriteStep insertUserStep(const CheckedUser& user) {
    return StatementText()
        .text(
            "INSERT INTO users(username, homedir, password, comments, max_concurrent, "
            "max_logins_per_ip, quota_current)VALUES(")
        .value(user.username)
        .text(", ")
        .value(user.homeDir)
        .text(", ")
        .value(user.password, kMaskedPassword)
        .text(", ")
        .value(user.notes)
        .text(", 1, 1, 0)")
        .step("insert into users (new user)");
}

WriteStep updateUserStep(const CheckedUser& user, const std::string& selectedUser) {
    StatementText update;
    // The name is written only when it changes: writing the key, even
    // unchanged, makes SQLite look for every row that refers to it in the
    // other tables (a scan of each table whose key column has no index).
    if (user.username != selectedUser) {
        update.text("UPDATE users SET username=").value(user.username);
        update.text(", homedir=").value(user.homeDir);
    } else {
        update.text("UPDATE users SET homedir=").value(user.homeDir);
    }
    if (user.passwordChanged) update.text(", password=").value(user.password, kMaskedPassword);
    update.text(", comments=").value(user.notes);
    update.text(" WHERE username=").value(selectedUser);
    return update.step("Update users table with new info", true);
}

// The rules stored under `storedOwner` are replaced by the rule set, written
// under `owner` (the two differ when a stored user is renamed).
void appendRuleSteps(std::vector<WriteStep>& steps, const std::string& storedOwner,
                     const std::string& owner, const std::vector<DirRule>& ruleSet) {
    steps.push_back(StatementText()
                        .text("DELETE FROM dir_rights WHERE username=")
                        .value(storedOwner)
                        .step("Delete all dir rights"));
    for (const DirRule& rule : ruleSet) {
        std::string log = "insert dir rights for " + rule.directory;
        if (rule.directory.empty()) {
            steps.push_back({std::move(log), {}});
            continue;
        }
        steps.push_back(
            StatementText()
                .text("INSERT INTO dir_rights (username, directory, dir_rights, inherit_subdirs) "
                      "VALUES (")
                .value(owner)
                .text(", ")
                .value(rule.directory)
                .text(", ")
                .value(rule.rights)
                .text(", ")
                .number(inheritNumber(rule.inherit))
                .text(")")
                .step(std::move(log)));
    }
}

// A renamed user takes its file rules, ratio-free files and blocked
// addresses along: left under the old name they would be lost to it, and
// would belong to the next user given that name.
void appendRenameSteps(std::vector<WriteStep>& steps, const std::string& oldName,
                       const std::string& newName) {
    for (const char* table : {"file_rights", "ratio_free_files", "blocked_ips_by_user"}) {
        steps.push_back(StatementText()
                            .text(std::string("UPDATE ") + table + " SET username=")
                            .value(newName)
                            .text(" WHERE username=")
                            .value(oldName)
                            .step(std::string("Rename the user in ") + table));
    }
}

// A new account starts with nothing: rows an earlier account of the same
// name left behind (in a database older than its foreign keys) go first.
void appendLeftoverSteps(std::vector<WriteStep>& steps, const std::string& name) {
    for (const char* table :
         {"blocked_ips_by_user", "dir_rights", "file_rights", "ratio_free_files"}) {
        steps.push_back(StatementText()
                            .text(std::string("DELETE FROM ") + table + " WHERE username=")
                            .value(name)
                            .text(" AND username<>'*'")
                            .step(std::string("Remove rows left over in ") + table));
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
        // Enter goes back to the box: a home that is not there is stored
        // only on purpose.
        const Message notValid =
            titledMessage(std::string("The Home Directory specified is not valid: the folder \"") +
                              form.homeDir + "\" does not exist." + kCrLf + kCrLf +
                              "Press OK to save as entered, or Cancel to edit.",
                          MessageIcon::Exclamation, MessageButtons::OKCancel, kSecondButton);
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
    // A mistyped password would lock the user out without anyone noticing.
    if (form.password != kPasswordPlaceholder && form.passwordConfirm &&
        *form.passwordConfirm != form.password) {
        prompts.show(refusal(std::string("The Password and Confirm password fields differ.") +
                             kCrLf + kCrLf + "Type the new password in both; nothing was saved."));
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
            appendLeftoverSteps(steps, user.username);
            steps.push_back(insertUserStep(user));
            // Every rule the list shows becomes the new user's: rules added
            // while the new user was pending would otherwise be lost without
            // a word. The rows go under the name just inserted; rows left
            // over under that name are replaced.
            appendRuleSteps(steps, user.username, user.username, context.ruleSet);
            break;
        case EditMode::Copy:
            appendLeftoverSteps(steps, user.username);
            steps.push_back(insertUserStep(user));
            appendRuleSteps(steps, context.selectedUser, context.selectedUser, context.ruleSet);
            break;
        case EditMode::Stored:
            steps.push_back(updateUserStep(user, context.selectedUser));
            appendRuleSteps(steps, context.selectedUser, user.username, context.ruleSet);
            if (user.username != context.selectedUser)
                appendRenameSteps(steps, context.selectedUser, user.username);
            break;
    }
    return steps;
}

namespace {

// Save's own limits are wider than some columns (notes of 40000 characters,
// 256 on a server): each text is held against the column it goes into.
std::vector<TextColumn> widthChecks(const CheckedUser& user, const SaveContext& context) {
    std::vector<TextColumn> texts{{"Username", "users", "username", user.username},
                                  {"Home Directory", "users", "homedir", user.homeDir}};
    if (user.passwordChanged || context.editMode != EditMode::Stored)
        texts.push_back({"Password", "users", "password", user.password});
    if (user.notes) texts.push_back({"Notes", "users", "comments", *user.notes});
    for (const DirRule& rule : context.ruleSet)
        texts.push_back(
            {"directory of the access rule", "dir_rights", "directory", rule.directory});
    return texts;
}

}  // namespace

std::optional<WriteFailure> runSave(Database& db, const CheckedUser& user,
                                    const SaveContext& context,
                                    const std::vector<WriteStep>& more) {
    std::vector<WriteStep> steps = saveSteps(user, context);
    steps.insert(steps.end(), more.begin(), more.end());
    WriteGuard guard;
    std::optional<FreeName> free;
    if (context.editMode != EditMode::Stored) {
        // A new name: no other writer of names may come between the check
        // and the insert.
        guard.lock = WriteLock::table("users");
        free = FreeName{user.username, {}};
    } else {
        guard.lock = user.username != context.selectedUser ? WriteLock::table("users")
                                                           : WriteLock::user(context.selectedUser);
        if (user.username != context.selectedUser)
            free = FreeName{user.username, context.selectedUser};
        guard.user = context.selectedUser;
        guard.parts = kestrix::savedParts();
        guard.loaded = context.loadedVersion;
    }
    return runInTransaction(db, steps, guard, free);
}

namespace {

std::string ruleText(const std::string& directory, const std::string& rights,
                     const std::string& inherit) {
    return directory + " (" + (rights.empty() ? "no rights" : rights) +
           (inherit == "0" ? ")" : ", subdirectories)");
}

void addPart(std::string& line, const std::string& part) {
    if (!line.empty()) line += "; ";
    line += part;
}

// The rules as Save writes them: directory, rights and inherit number.
using RuleMap = std::map<std::string, std::pair<std::string, std::string>>;

RuleMap rulesOf(const std::vector<DirRule>& ruleSet) {
    RuleMap rules;
    for (const DirRule& rule : ruleSet)
        if (!rule.directory.empty())
            rules[rule.directory] = {rule.rights, inheritNumber(rule.inherit)};
    return rules;
}

void describeRules(std::string& line, const RuleMap& before, const RuleMap& after) {
    for (const auto& [directory, rule] : after) {
        const auto old = before.find(directory);
        if (old == before.end()) {
            addPart(line, "rule added " + ruleText(directory, rule.first, rule.second));
        } else if (old->second != rule) {
            addPart(line, "rule changed " +
                              ruleText(directory, old->second.first, old->second.second) + " -> " +
                              ruleText(directory, rule.first, rule.second));
        }
    }
    for (const auto& [directory, rule] : before)
        if (!after.contains(directory)) addPart(line, "rule removed " + directory);
}

// What a Save changes, in one line for the audit trail: the stored user is
// read on the write's own connection just before the write.
std::string describeSave(Database& db, const CheckedUser& user, const SaveContext& context) {
    std::string line;
    if (context.editMode != EditMode::Stored) {
        line = context.editMode == EditMode::Copy ? "new user, copy of " + context.selectedUser
                                                  : std::string("new user");
        addPart(line, "home " + user.homeDir);
        if (user.notes) addPart(line, "notes set");
        addPart(line, "password changed");
        describeRules(line, {}, rulesOf(context.ruleSet));
        return line;
    }
    std::optional<std::string> homeDir;
    std::optional<std::string> notes;
    RuleMap stored;
    const bool read = db.readText("select homedir, comments from users where username=:v1",
                                  {context.selectedUser}, 2,
                                  [&](const Database::TextRow& row) {
                                      homeDir = row[0].value_or("");
                                      notes = row[1];
                                  }) &&
                      db.readText(
                          "select directory, dir_rights, inherit_subdirs from dir_rights where "
                          "username=:v1",
                          {context.selectedUser}, 3, [&](const Database::TextRow& row) {
                              stored[row[0].value_or("")] = {row[1].value_or(""),
                                                             inheritNumber(row[2].value_or(""))};
                          });
    if (user.username != context.selectedUser)
        addPart(line, "renamed from " + context.selectedUser);
    if (!read) {
        // The write itself will tell whether the database is usable.
        addPart(line, "home " + user.homeDir);
        if (user.passwordChanged) addPart(line, "password changed");
        return line;
    }
    if (homeDir != user.homeDir)
        addPart(line, "home " + homeDir.value_or("") + " -> " + user.homeDir);
    if (notes.value_or("") != user.notes.value_or("")) addPart(line, "notes changed");
    if (user.passwordChanged) addPart(line, "password changed");
    describeRules(line, stored, rulesOf(context.ruleSet));
    if (line.empty()) line = "nothing changed";
    return line;
}

// The user as stored now, read for Keep both: its version first, so that a
// change made while the rest is read refuses the write and is read again.
struct StoredNow {
    std::string version;
    FieldValues fields;
    std::vector<DirRule> rules;
    bool found = false;
};

std::optional<StoredNow> readStoredNow(Database& db, const std::string& user) {
    StoredNow now;
    const auto version = readUserVersion(db, user, savedParts());
    if (!version) return std::nullopt;
    now.version = *version;
    std::string name;
    std::string home;
    std::string notes;
    const bool read =
        db.readText("select username, homedir, comments from users where username=:v1", {user}, 3,
                    [&](const Database::TextRow& row) {
                        now.found = true;
                        name = row[0].value_or("");
                        home = row[1].value_or("");
                        notes = row[2].value_or("");
                    }) &&
        db.readText(
            "select directory, dir_rights, inherit_subdirs from dir_rights where username=:v1",
            {user}, 3, [&](const Database::TextRow& row) {
                now.rules.push_back(
                    {row[0].value_or(""), row[1].value_or(""), row[2].value_or("")});
            });
    if (!read) return std::nullopt;
    now.fields = recordFields(name, home, notes, now.rules);
    return now;
}

// The rules of a merge in the stored order, the ones added here after them
// in this window's order.
std::vector<DirRule> mergedRules(const FieldValues& merged, const std::vector<DirRule>& stored,
                                 const std::vector<DirRule>& mine) {
    std::vector<DirRule> rules;
    std::map<std::string, bool> placed;
    const auto place = [&](const std::string& directory) {
        if (directory.empty() || placed[directory]) return;
        const auto found = merged.find(kRulePrefix + directory);
        if (found == merged.end() || !found->second) return;
        placed[directory] = true;
        const std::string& value = *found->second;
        const std::size_t blank = value.rfind(' ');
        rules.push_back({directory, value.substr(0, blank), value.substr(blank + 1)});
    };
    for (const DirRule& rule : stored)
        place(rule.directory);
    for (const DirRule& rule : mine)
        place(rule.directory);
    return rules;
}

// Keep both: this window's changes written over what is stored now, the
// other administrator's changes to the other fields kept; where both
// changed a field the administrator chooses. Read again when the stored
// user moves once more meanwhile.
std::optional<WriteFailure> keepBoth(Database& db, const CheckedUser& user,
                                     const SaveContext& context, UserPrompts& prompts,
                                     bool& stopped) {
    const FieldValues mine =
        recordFields(user.username, user.homeDir, user.notes.value_or(""), context.ruleSet);
    const FieldValues loaded = context.loaded
                                   ? recordFields(context.loaded->username, context.loaded->homeDir,
                                                  context.loaded->notes, context.loaded->rules)
                                   : context.loadedFields;
    std::optional<WriteFailure> failure;
    for (int attempt = 0; attempt < 5; ++attempt) {
        const auto now = readStoredNow(db, context.selectedUser);
        if (!now) return WriteFailure{db.lastError()};
        if (!now->found) return WriteFailure{{}, true};
        ThreeWayMerge merge = mergeThreeWay(loaded, mine, now->fields);
        if (!merge.bothChanged.empty()) {
            const std::string fields = describeBothChanged(merge, mine, now->fields);
            const Answer answer = prompts.show(bothChangedQuestion(context.selectedUser, fields));
            if (answer == Answer::No) {
                keepTheirs(merge, now->fields);
            } else if (answer != Answer::Yes) {
                stopped = true;
                return WriteFailure{{}, false, true};
            }
        }
        CheckedUser merged = user;
        merged.username = merge.merged[kUserNameField].value_or(user.username);
        merged.homeDir = merge.merged[kHomeField].value_or(user.homeDir);
        const std::string notes = merge.merged[kNotesField].value_or("");
        merged.notes = isBlank(notes) ? std::nullopt : std::optional<std::string>(notes);
        SaveContext write = context;
        write.ruleSet = mergedRules(merge.merged, now->rules, context.ruleSet);
        write.loadedVersion = now->version;
        failure = runSave(db, merged, write);
        if (!failure || !failure->changed) return failure;
    }
    return failure;
}

SaveOutcome saveAndDescribe(const SaveForm& form, const SaveContext& context, UserPrompts& prompts,
                            std::string& change) {
    writeLog("rootdir = getRegSettings(ftp_directory)");
    writeLog("check for duplicate username");
    writeLog("get the basic data from the main page");
    const auto user = checkForSave(form, prompts);
    if (!user) return SaveOutcome::Stopped;
    // A stored user typed over with another user's name would become a
    // second row of that name.
    if (context.editMode == EditMode::Stored && user->username != context.selectedUser) {
        const auto taken = userNameInUse(user->username, prompts, context.selectedUser);
        if (!taken) return SaveOutcome::Stopped;
        if (*taken) {
            prompts.show(nameTakenMessage());
            return SaveOutcome::Stopped;
        }
    }

    Database db;
    if (!openDatabase(db, 0)) return SaveOutcome::DatabaseUnavailable;
    if (const auto tooWide = tooWideText(db, widthChecks(*user, context))) {
        closeDatabase(db);
        prompts.show(refusal(*tooWide));
        return SaveOutcome::Stopped;
    }
    if (audit::program() == audit::Program::Window) change = describeSave(db, *user, context);
    // The password is stored as its hash, never as typed, where the column
    // has room for one.
    CheckedUser stored = *user;
    if (context.editMode != EditMode::Stored || user->passwordChanged) {
        const auto password = passwordToStore(db, user->password);
        if (!password) {
            closeDatabase(db);
            prompts.show(failureMessage("Saving user " + user->username,
                                        "the password could not be hashed"));
            return SaveOutcome::Failed;
        }
        stored.password = password->text;
    }
    auto failure = runSave(db, stored, context);
    if (failure && failure->changed && context.onChange == OnChange::Ask) {
        switch (prompts.show(changedElsewhereMergeQuestion(context.selectedUser))) {
            case Answer::KeepBoth: {
                bool stopped = false;
                failure = keepBoth(db, stored, context, prompts, stopped);
                if (stopped) {
                    closeDatabase(db);
                    return SaveOutcome::Stopped;
                }
                break;
            }
            case Answer::Overwrite: {
                SaveContext over = context;
                over.loadedVersion.reset();
                failure = runSave(db, stored, over);
                break;
            }
            case Answer::Reload:
                closeDatabase(db);
                return SaveOutcome::Reload;
            default:
                closeDatabase(db);
                return SaveOutcome::Stopped;
        }
    }
    writeLog("close database");
    closeDatabase(db);
    if (!failure) return SaveOutcome::Written;
    if (failure->changed) {
        if (context.onChange == OnChange::Tell)
            prompts.show(refusal(changedBySomeoneElse(context.selectedUser)));
        return SaveOutcome::Changed;
    }
    if (failure->nameTaken) {
        prompts.show(nameTakenMessage());
        return SaveOutcome::Stopped;
    }
    if (failure->rowMissing) {
        prompts.show(refusal("The user " + context.selectedUser +
                             " no longer exists in the database. Nothing was saved." + kCrLf +
                             kCrLf + "The user list is read again."));
        return SaveOutcome::Vanished;
    }
    prompts.show(failureMessage("Saving user " + user->username, failure->description));
    return SaveOutcome::Failed;
}

}  // namespace

SaveOutcome saveUser(const SaveForm& form, const SaveContext& context, UserPrompts& prompts) {
    RefusalCopy shown(prompts);
    std::string change;
    const SaveOutcome outcome = saveAndDescribe(form, context, shown, change);
    audit::Change entry;
    entry.origin = "Tavix main window";
    entry.ftpUser = form.username.empty() ? context.selectedUser : form.username;
    entry.what = change;
    switch (outcome) {
        case SaveOutcome::Written:
            break;
        case SaveOutcome::Stopped:
            // A question the administrator declined is no attempt.
            if (shown.refusal().empty()) return outcome;
            entry.result = audit::Result::Refused;
            entry.reason = shown.refusal();
            break;
        case SaveOutcome::Vanished:
            entry.result = audit::Result::Refused;
            entry.reason = shown.refusal();
            break;
        case SaveOutcome::Changed:
        case SaveOutcome::Reload:
            entry.result = audit::Result::Refused;
            entry.reason = changedBySomeoneElse(context.selectedUser);
            break;
        case SaveOutcome::DatabaseUnavailable:
            entry.result = audit::Result::Failed;
            entry.reason = "the database could not be opened";
            break;
        case SaveOutcome::Failed:
            entry.result = audit::Result::Failed;
            entry.reason = shown.refusal();
            break;
    }
    audit::recordWindowChange(entry);
    return outcome;
}

}  // namespace kestrix::users
