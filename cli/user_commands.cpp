// user list, show, add, copy and delete: the user list and the main
// window's New User, copy and Delete.
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "cli/password_input.h"
#include "core/database.h"
#include "core/settings.h"
#include "policies/logic/disk_quota_settings.h"
#include "policies/logic/ip_rules.h"
#include "policies/logic/misc_settings.h"
#include "policies/logic/ratio_settings.h"
#include "users/editing/statement_run.h"
#include "users/editing/text_rules.h"
#include "users/editing/user_lifecycle.h"
#include "users/user_list_loader.h"

namespace kestrix::cli {

namespace {

std::string onOff(bool on) {
    return on ? "on" : "off";
}

// One line of `user show`, or one member of its JSON.
class Fields {
  public:
    void text(const std::string& name, const std::string& value) {
        lines_ += name + ": " + value + "\n";
        json_.text(name, value);
    }
    void number(const std::string& name, const std::string& value) {
        lines_ += name + ": " + value + "\n";
        json_.number(name, value);
    }
    void flag(const std::string& name, bool value) {
        lines_ += name + ": " + onOff(value) + "\n";
        json_.flag(name, value);
    }
    void list(const std::string& name, const std::vector<std::string>& values,
              const std::vector<std::string>& jsonValues) {
        for (const std::string& value : values)
            lines_ += name + ": " + value + "\n";
        json_.add(name, jsonArray(jsonValues));
    }
    std::string lines() const { return lines_; }
    std::string json() const { return json_.str(); }

  private:
    std::string lines_;
    JsonObject json_;
};

}  // namespace

namespace {

// Output gathered into large writes, each checked, so that a listing of
// many names is neither slow nor held whole in memory.
class ChunkedOutput {
  public:
    ~ChunkedOutput() { flush(); }
    std::string& buffer() { return buffer_; }
    void maybeFlush() {
        if (buffer_.size() >= kChunk) flush();
    }
    void flush() {
        if (!buffer_.empty() && std::cout) std::cout.write(buffer_.data(), buffer_.size());
        buffer_.clear();
    }

  private:
    static constexpr std::size_t kChunk = 1 << 16;
    std::string buffer_;
};

}  // namespace

int userList(const Invocation& in) {
    // Names stored more than once, in the column's own comparison: every
    // spelling of each, so that all but one can be renamed or deleted
    // before the name index is made unique.
    const char* const query =
        in.switches.contains("--duplicates")
            ? "select username from users where username in (select username from users "
              "group by username having count(*) > 1) order by username"
            : "select username from users order by username";
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const bool json = in.json();
    ChunkedOutput out;
    std::string& text = out.buffer();
    if (json) text += '[';
    bool first = true;
    const bool read = db.readColumn(query, {}, [&](Database::ValueView name) {
        const std::string_view value = name.value_or(std::string_view());
        if (json) {
            if (!first) text += ',';
            text += jsonString(value);
        } else {
            text.append(value);
            text += '\n';
        }
        first = false;
        out.maybeFlush();
    });
    if (!read) {
        // The names read before the failure are out; the listing is not whole.
        out.flush();
        return refuse(terminalText(db.lastError()));
    }
    if (json) text += "]\n";
    out.flush();
    return kExitDone;
}

int userShow(const Invocation& in) {
    const std::string& name = in.operands[0];
    const auto user = loadUser(name);
    if (!user) return kExitRefused;
    std::string failure;
    policies::MiscSettings misc;
    if (policies::readMiscSettings(name, misc, failure) != policies::MiscAccess::Done)
        return refuse(terminalText(failure));
    const auto ratios = policies::readRatios(name, failure);
    const auto quota = policies::readStoredQuota(name, failure);
    const auto blocked = policies::readIpRules(policies::IpRuleScope{name}, failure);
    if (!ratios || !quota || !blocked) return refuse(terminalText(failure));

    Fields f;
    f.text("username", user->username);
    f.text("home", user->homedir);
    f.text("notes", user->comments);
    f.flag("disabled", misc.disableAccount);
    f.text("expires", misc.expires ? misc.expiryDate : "");
    f.text("disable_on", misc.disableOn ? misc.disableDate : "");
    f.flag("relative_paths", misc.relativePaths);
    f.flag("hide_hidden", misc.hideHidden);
    f.flag("always_login", misc.alwaysLogin);
    f.flag("one_login_per_ip", misc.oneLogin);
    f.number("max_logins_per_ip", misc.maxLogins ? misc.allowOnly : "");
    f.number("max_speed", misc.maxSpeed);
    f.number("idle_timeout", misc.idleTimeout);
    f.number("session_timeout", misc.sessionTimeout);
    f.number("max_users", misc.maxUsers);
    f.text("login_message_file", misc.loginMessageFile);
    f.text("ratio_type", ratios->type);
    f.number("ratio_upload", ratios->up);
    f.number("ratio_download", ratios->down);
    f.number("ratio_credit", ratios->credit);
    const policies::QuotaView view = policies::quotaView(*quota, policies::QuotaUnit::Mb);
    f.flag("quota", view.enabled);
    f.number("quota_max_mb", view.maximum);
    f.number("quota_current_mb", view.current);
    std::vector<std::string> jsonBlocked;
    for (const std::string& address : *blocked)
        jsonBlocked.push_back(jsonString(address));
    f.list("blocked", *blocked, jsonBlocked);
    std::vector<std::string> ruleLines;
    std::vector<std::string> jsonRules;
    for (std::size_t i = 0; i < user->rules.size(); ++i) {
        const DirRule& rule = user->rules[i];
        ruleLines.push_back(std::to_string(i + 1) + " " + rule.directory + " " + rule.rights +
                            (decodeInherit(rule.inherit) ? " inherit" : ""));
        jsonRules.push_back(JsonObject()
                                .add("place", std::to_string(i + 1))
                                .text("directory", rule.directory)
                                .text("rights", rule.rights)
                                .flag("inherit", decodeInherit(rule.inherit))
                                .str());
    }
    f.list("rule", ruleLines, jsonRules);
    std::cout << (in.json() ? f.json() + "\n" : f.lines());
    return kExitDone;
}

int userAdd(const Invocation& in) {
    const std::string& name = in.operands[0];
    std::string error;
    const auto given = commandPassword(in, error);
    if (!given) return refuse(error);
    const std::string& password = *given;
    CliPrompts prompts(in.yes());
    const users::NewNameVerdict verdict = users::checkNewName(name, password, prompts);
    if (verdict == users::NewNameVerdict::Ignored)
        return refuse("A new user needs a name and a password.");
    if (verdict != users::NewNameVerdict::Accepted) return kExitRefused;
    const users::SaveForm form{
        name,
        in.value("--home").value_or(users::newUserHomeDir(getRegSettings(kFtpDirectoryValue))),
        password, in.value("--notes").value_or("")};
    const users::SaveContext context{"", EditMode::NewUser, {}};
    return statusOf(users::saveUser(form, context, prompts) == users::SaveOutcome::Written,
                    prompts);
}

int userCopy(const Invocation& in) {
    const std::string& name = in.operands[0];
    const std::string& newName = in.operands[1];
    auto user = loadUser(name);
    if (!user) return kExitRefused;
    std::string error;
    const auto password = commandPassword(in, error);
    if (!password) return refuse(error);
    CliPrompts prompts(in.yes());
    prompts.type(newName);
    prompts.type(*password);
    prompts.type(*password);  // its second entry
    const users::CopyResult copy =
        users::runCopyFlow(users::CopyRequest{user->username, user->username}, prompts);
    if (prompts.failed()) return kExitRefused;
    if (!copy.copyStarted) return refuse(newName + " is the user " + name + " itself.");
    users::SaveForm form{copy.nameBox, user->homedir, copy.password, user->comments};
    const users::SaveContext context{copy.nameBox, EditMode::Copy, user->rules};
    return statusOf(users::saveUser(form, context, prompts) == users::SaveOutcome::Written,
                    prompts);
}

int userPasswd(const Invocation& in) {
    const std::string& name = in.operands[0];
    auto user = loadUser(name);
    if (!user) return kExitRefused;
    std::string error;
    const auto password = commandPassword(in, error);
    if (!password) return refuse(error);
    CliPrompts prompts(in.yes());
    return statusOf(
        saveStoredUser(*user, user->username, *password, prompts) == users::SaveOutcome::Written,
        prompts);
}

int userDelete(const Invocation& in) {
    const std::string& name = in.operands[0];
    CliPrompts prompts(in.yes());
    const auto exists = users::userNameInUse(name, prompts);
    if (!exists) return kExitRefused;
    if (!*exists) return refuse("There is no user " + name + ".");
    return statusOf(users::deleteUser(name, prompts) == users::DeleteOutcome::Deleted, prompts);
}

}  // namespace kestrix::cli
