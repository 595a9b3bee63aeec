// user set: the boxes of the main window and the per-user dialogs, each
// group read, changed by the flags given, checked and written as its
// window writes it. Every check runs before anything is written.
#include <iostream>
#include <set>

#include "cli/commands.h"
#include "cli/loaded_user.h"
#include "cli/password_input.h"
#include "core/activity_log.h"
#include "core/database.h"
#include "core/field_merge.h"
#include "core/password_storage.h"
#include "core/schema.h"
#include "core/short_date.h"
#include "core/text_routines.h"
#include "core/write_lock.h"
#include "policies/logic/disk_quota_settings.h"
#include "policies/logic/misc_settings.h"
#include "policies/logic/policy_database.h"
#include "policies/logic/ratio_settings.h"
#include "shell/message_boxes.h"
#include "users/editing/password_placeholder.h"
#include "users/editing/user_save.h"

namespace kestrix::cli {

namespace {

using policies::MiscSettings;
using policies::RatioForm;
using policies::RatioKind;

// on/off, yes/no, 1/0.
std::optional<bool> switchValue(const std::string& text) {
    if (text == "on" || text == "yes" || text == "1") return true;
    if (text == "off" || text == "no" || text == "0") return false;
    return std::nullopt;
}

struct Change {
    bool any = false;
    std::string error;  // a flag's value that means nothing
};

void setSwitch(const Invocation& in, const char* flag, bool& target, Change& change) {
    const auto text = in.value(flag);
    if (!text) return;
    change.any = true;
    const auto on = switchValue(*text);
    if (!on)
        change.error = std::string(flag) + " takes on or off.";
    else
        target = *on;
}

void setText(const Invocation& in, const char* flag, std::string& target, Change& change) {
    const auto text = in.value(flag);
    if (!text) return;
    change.any = true;
    target = *text;
}

// A date flag: a date in the short form or YYYY-MM-DD, stored as
// YYYY-MM-DD, which every program reads alike whatever its locale; "never"
// clears it. A text that is not a date is left for the dialog's check to
// refuse.
void setDate(const Invocation& in, const char* flag, bool& ticked, std::string& box,
             Change& change) {
    const auto text = in.value(flag);
    if (!text) return;
    change.any = true;
    if (*text == "never" || text->empty()) {
        ticked = false;
        box.clear();
        return;
    }
    ticked = true;
    box = storedDateText(*text);
}

Change miscChanges(const Invocation& in, MiscSettings& s) {
    Change change;
    setSwitch(in, "--disabled", s.disableAccount, change);
    setSwitch(in, "--relative-paths", s.relativePaths, change);
    setSwitch(in, "--hide-hidden", s.hideHidden, change);
    setSwitch(in, "--always-login", s.alwaysLogin, change);
    if (const auto one = in.value("--one-login-per-ip")) {
        change.any = true;
        const auto on = switchValue(*one);
        if (!on)
            change.error = "--one-login-per-ip takes on or off.";
        else if ((s.oneLogin = *on))
            s.maxLogins = false;
    }
    if (const auto most = in.value("--max-logins-per-ip")) {
        change.any = true;
        // The two options exclude each other; "off" or 0 leaves neither.
        s.maxLogins = *most != "off" && *most != "0";
        if (s.maxLogins) s.oneLogin = false;
        s.allowOnly = s.maxLogins ? *most : std::string();
    }
    setText(in, "--max-speed", s.maxSpeed, change);
    setText(in, "--idle-timeout", s.idleTimeout, change);
    setText(in, "--session-timeout", s.sessionTimeout, change);
    setText(in, "--max-users", s.maxUsers, change);
    setText(in, "--login-message-file", s.loginMessageFile, change);
    setDate(in, "--expires", s.expires, s.expiryDate, change);
    setDate(in, "--disable-on", s.disableOn, s.disableDate, change);
    // A disabled account has no disable date, as in the dialog, unless the
    // command names one: then it is kept for the day the account is enabled.
    if (s.disableAccount && !in.value("--disable-on")) {
        s.disableOn = false;
        s.disableDate.clear();
    }
    return change;
}

Change ratioChanges(const Invocation& in, RatioForm& form) {
    Change change;
    if (const auto type = in.value("--ratio")) {
        change.any = true;
        const std::pair<const char*, RatioKind> kinds[] = {
            {"files-per-session", RatioKind::FilesPerSession},
            {"bytes-per-session", RatioKind::BytesPerSession},
            {"files-overall", RatioKind::FilesOverall},
            {"bytes-overall", RatioKind::BytesOverall}};
        bool known = *type == "off";
        if (known) policies::switchRatios(form, false);
        for (const auto& [name, kind] : kinds) {
            if (*type != name) continue;
            known = true;
            if (!form.enabled) policies::switchRatios(form, true);
            policies::selectKind(form, kind);
        }
        if (!known)
            change.error =
                "--ratio takes off, files-per-session, bytes-per-session, files-overall or "
                "bytes-overall.";
    }
    if (const auto unit = in.value("--credit-unit")) {
        change.any = true;
        if (*unit != "kb" && *unit != "mb")
            change.error = "--credit-unit takes kb or mb.";
        else if (form.kind && policies::countsBytes(*form.kind))
            policies::chooseUnit(form, *unit == "kb");
    }
    setText(in, "--ratio-upload", form.upload, change);
    setText(in, "--ratio-download", form.download, change);
    setText(in, "--ratio-credit", form.credit, change);
    return change;
}

struct QuotaForm {
    bool enabled = false;
    std::string maximum;
    policies::QuotaUnit unit = policies::QuotaUnit::Mb;
};

Change quotaChanges(const Invocation& in, QuotaForm& form) {
    Change change;
    setSwitch(in, "--quota", form.enabled, change);
    if (const auto unit = in.value("--quota-unit")) {
        change.any = true;
        if (*unit != "kb" && *unit != "mb")
            change.error = "--quota-unit takes kb or mb.";
        else
            form.unit = *unit == "kb" ? policies::QuotaUnit::Kb : policies::QuotaUnit::Mb;
    }
    setText(in, "--quota-max", form.maximum, change);
    return change;
}

// Every column of the user's row and its rules: the command reads them all
// before it writes some, so any change made meanwhile refuses the write.
UserParts everyPart() {
    UserParts parts;
    for (const TableDef& table : userTables()) {
        if (std::string_view(table.name) != "users") continue;
        for (const ColumnDef& column : table.columns) {
            // The counters the plug-in moves with every transfer.
            const std::string_view name = column.name;
            if (name != "quota_current" && name != "ratio_current_credit")
                parts.columns.emplace_back(name);
        }
    }
    parts.rules = true;
    return parts;
}

}  // namespace

namespace {

// Another administrator's write between this command's read and its write.
constexpr int kChangedMeanwhile = -1;
// That write and this command's changed the same fields, to different values.
constexpr int kBothChanged = -2;

// What the attempts of one command share.
struct Attempts {
    // The user as the command first read it: the other writes are what
    // differs from it.
    std::optional<FieldValues> firstRead;
    // Fields the administrator chose to store over theirs, with the value
    // of theirs that was shown: a later change of theirs is asked anew.
    FieldValues agreed;
    // Of the last attempt declined: the fields, and both sides' values.
    std::vector<std::string> bothChanged;
    FieldValues mine;
    FieldValues theirs;
    std::string readFailure;
    // The password given (none: not changed), once read.
    std::optional<std::optional<std::string>> password;
};

std::optional<std::string> valueIn(const FieldValues& fields, const std::string& name) {
    const auto found = fields.find(name);
    return found == fields.end() ? std::nullopt : found->second;
}

// Fields someone else changed since the first read that this write would
// change again, to another value: those are asked about.
std::vector<std::string> bothChangedFields(const Attempts& run, const FieldValues& theirs,
                                           const FieldValues& mine) {
    std::set<std::string> names;
    for (const FieldValues* fields : {&*run.firstRead, &theirs, &mine})
        for (const auto& [name, unused] : *fields)
            names.insert(name);
    std::vector<std::string> both;
    for (const std::string& name : names) {
        const auto now = valueIn(theirs, name);
        if (valueIn(*run.firstRead, name) == now || valueIn(mine, name) == now) continue;
        const auto agreed = run.agreed.find(name);
        if (agreed != run.agreed.end() && agreed->second == now) continue;
        both.push_back(name);
    }
    return both;
}

int userSetOnce(const Invocation& in, Attempts& run) {
    const std::string& name = in.operands[0];
    std::string failure;
    // Before anything is read, so that what follows is no older than it.
    const auto version = policies::loadedVersion(name, everyPart(), failure);
    if (!version) {
        if (!failure.empty()) return refuse(terminalText(failure));
        return kExitRefused;
    }
    const FieldValues asRead = versionFields(*version, everyPart());
    if (!run.firstRead) run.firstRead = asRead;
    auto user = loadUser(name);
    if (!user) return kExitRefused;
    CliPrompts prompts(in.yes());

    bool recordChanged = false;
    for (const auto& [flag, field] :
         {std::pair{"--home", &user->homedir}, std::pair{"--notes", &user->comments}}) {
        if (const auto value = in.value(flag)) *field = *value, recordChanged = true;
    }
    // Read once: standard input holds it for the first attempt only.
    if (!run.password) {
        std::string passwordError;
        run.password = givenPassword(in, passwordError);
        if (!passwordError.empty()) return refuse(passwordError);
    }
    const std::optional<std::string>& password = *run.password;
    recordChanged = recordChanged || password;

    MiscSettings misc;
    if (policies::readMiscSettings(user->username, misc, failure) != policies::MiscAccess::Done)
        return refuse(terminalText(failure));
    const MiscSettings miscAsStored = misc;
    const Change miscChange = miscChanges(in, misc);

    const auto stored = policies::readRatios(user->username, failure);
    if (!stored) return refuse(terminalText(failure));
    RatioForm ratios;
    policies::showStored(ratios, *stored);
    const Change ratioChange = ratioChanges(in, ratios);

    const auto storedQuota = policies::readStoredQuota(user->username, failure);
    if (!storedQuota) return refuse(terminalText(failure));
    QuotaForm quota;
    const policies::QuotaView view = policies::quotaView(*storedQuota, quota.unit);
    quota.enabled = view.enabled;
    quota.maximum = view.maximum;
    // A maximum given in kilobytes is converted from the stored bytes.
    if (in.value("--quota-unit") == "kb")
        quota.maximum = policies::quotaView(*storedQuota, policies::QuotaUnit::Kb).maximum;
    const Change quotaChange = quotaChanges(in, quota);

    for (const Change* change : {&miscChange, &ratioChange, &quotaChange}) {
        if (!change->error.empty()) {
            std::cerr << change->error << '\n';
            return kExitUsage;
        }
    }
    if (!recordChanged && !miscChange.any && !ratioChange.any && !quotaChange.any)
        return refuse("Nothing to change: give the fields to set.");

    // The checks of every window first, so that a refusal writes nothing.
    std::optional<users::CheckedUser> checked;
    if (recordChanged) {
        const users::SaveForm form{user->username, user->homedir,
                                   password.value_or(std::string(kPasswordPlaceholder)),
                                   user->comments};
        checked = users::checkForSave(form, prompts);
        if (!checked) return kExitRefused;
    }
    if (miscChange.any) {
        if (const auto refusal = policies::checkMiscSettings(misc)) {
            prompts.show(refusal->message);
            return kExitRefused;
        }
        if (const auto question = policies::pastDateQuestion(miscAsStored, misc)) {
            if (prompts.show(*question) != Answer::Yes) return kExitRefused;
        }
    }
    if (ratioChange.any) {
        if (const auto refusal = policies::checkRatios(ratios)) {
            prompts.show(*refusal);
            return kExitRefused;
        }
    }
    if (quotaChange.any && quota.enabled && !in.has("--quota-max") &&
        (!storedQuota->maximum || leadingNumber(*storedQuota->maximum) <= 0)) {
        // A quota of nothing would refuse every upload.
        return refuse("The disk quota needs a maximum: give --quota-max with --quota on.");
    }
    if (quotaChange.any) {
        if (const auto refusal = policies::checkQuota(quota.enabled, quota.maximum, quota.unit)) {
            prompts.show(*refusal);
            return kExitRefused;
        }
    }

    if (checked && checked->passwordChanged) {
        // Stored as every other route stores it: hashed where the column
        // takes a hash.
        Database db;
        if (!openDatabase(db, 0)) return kExitRefused;
        const auto toStore = passwordToStore(db, checked->password);
        closeDatabase(db);
        if (!toStore) return refuse("The password could not be hashed: nothing was saved.");
        checked->password = toStore->text;
    }

    // One transaction for every group: a refusal leaves all of it as it was.
    std::vector<users::WriteStep> steps;
    if (checked)
        steps = users::saveSteps(*checked, {user->username, EditMode::Stored, user->rules});
    if (miscChange.any) {
        writeLog("save data");
        steps.push_back({"", policies::miscUpdate(misc, user->username), "", true});
    }
    if (ratioChange.any)
        steps.push_back({"", policies::ratioUpdate(ratios, user->username), "", true});
    if (quotaChange.any) {
        // The remaining quota as stored under the lock: the plug-in may count
        // an upload between the read above and this write.
        users::WriteStep step{"", "", "", true};
        step.madeUnderLock = [&](Database& db) {
            // A refused read is told through the database's own last error.
            std::string refusal;
            return policies::quotaUpdateAsStored(db, user->username, quota.enabled, quota.maximum,
                                                 quota.unit, refusal);
        };
        steps.push_back(std::move(step));
    }
    if (asRead != *run.firstRead) {
        // Read again after another write: what this write makes of the
        // user is compared with what that one stored, before the commit.
        users::WriteStep look;
        look.goOn = [&](Database& db) {
            const auto after = readUserVersion(db, user->username, everyPart());
            if (!after) {
                run.readFailure = db.lastError();
                return false;
            }
            run.mine = versionFields(*after, everyPart());
            run.theirs = asRead;
            run.bothChanged = bothChangedFields(run, run.theirs, run.mine);
            return run.bothChanged.empty();
        };
        steps.push_back(std::move(look));
    }
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const WriteGuard guard{WriteLock::user(user->username), user->username, everyPart(), version};
    const auto written = users::runInTransaction(db, steps, guard);
    closeDatabase(db);
    if (written) {
        if (written->declined) {
            if (!run.readFailure.empty()) return refuse(terminalText(run.readFailure));
            return kBothChanged;
        }
        if (written->changed) return kChangedMeanwhile;
        if (written->rowMissing)
            return refuse("The user " + user->username +
                          " no longer exists in the database. Nothing was saved.");
        return refuse(terminalText(written->description));
    }
    if (in.value("--disable-on") && misc.disableAccount && misc.disableOn)
        std::cout << "User " << user->username << " is disabled now; its disable date "
                  << shownDateText(misc.disableDate) << " is stored as well.\n";
    return statusOf(true, prompts);
}

std::string shownValue(const std::optional<std::string>& value) {
    if (!value) return "(none)";
    if (value->empty()) return "(empty)";
    return *value;
}

// Lists the fields both changed and asks whether this command's values are
// stored over theirs: --yes says yes; a terminal is asked; otherwise the
// command ends with nothing written.
bool storeOverTheirs(const Invocation& in, const Attempts& run) {
    std::string text = "You and someone else both changed these settings of user " +
                       in.operands[0] + " since this command read it:\n";
    for (const std::string& field : run.bothChanged) {
        // Passwords are not shown, hashed or not.
        if (field == "password")
            text += "  password: both set a new one\n";
        else
            text += "  " + field + ": yours " + shownValue(valueIn(run.mine, field)) + ", theirs " +
                    shownValue(valueIn(run.theirs, field)) + "\n";
    }
    if (in.yes()) {
        std::cerr << text << "Storing yours (--yes).\n";
        return true;
    }
    if (const auto yes = yesOnTerminal(text + "Store yours over theirs? [y/N] ")) {
        if (!*yes) std::cerr << "Nothing was written.\n";
        return *yes;
    }
    std::cerr << text
              << "Nothing was written. Repeat the command to apply it to what is stored now, "
                 "or give --yes to store yours over theirs.\n";
    return false;
}

}  // namespace

int userSet(const Invocation& in) {
    // The command writes only the fields it names over what it has just
    // read: another administrator's write in between is read again and the
    // command applied on top of it, so neither change is lost. Where both
    // changed the same field, the administrator chooses.
    constexpr int kAttempts = 50;
    Attempts run;
    for (int attempt = 1; attempt <= kAttempts; ++attempt) {
        const int status = userSetOnce(in, run);
        if (status == kBothChanged) {
            if (!storeOverTheirs(in, run)) return kExitRefused;
            for (const std::string& field : run.bothChanged)
                run.agreed[field] = valueIn(run.theirs, field);
            writeLog("user " + in.operands[0] + " changed meanwhile; storing this change over");
            continue;
        }
        if (status != kChangedMeanwhile) return status;
        writeLog("user " + in.operands[0] + " changed meanwhile; read again");
    }
    return refuse(changedBySomeoneElse(in.operands[0]));
}

}  // namespace kestrix::cli
