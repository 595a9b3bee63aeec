#include "cli/loaded_user.h"

#include <iostream>

#include "cli/invocation.h"
#include "users/editing/password_placeholder.h"
#include "users/user_record_loader.h"

namespace kestrix::cli {

namespace {

bool gDatabaseUnavailable = false;

class RecordingView final : public UserRecordView {
  public:
    LoadedUser user;
    bool found = false;
    std::string failure;

    void clearRules() override { user.rules.clear(); }
    void showRecord(const std::string& username, const std::string& homedir,
                    const std::string& comments) override {
        found = true;
        user.username = username;
        user.homedir = homedir;
        user.comments = comments;
    }
    void addRule(const std::string& /*directory*/) override {}
    void showDisableLine(const StatusLine& line) override { user.disableLine = line.text; }
    void showExpiryLine(const StatusLine& line) override { user.expiryLine = line.text; }
    void statementFailed(const std::string& description) override { failure = description; }
};

}  // namespace

bool databaseUnavailable() {
    return gDatabaseUnavailable;
}

void noteDatabaseUnavailable() {
    gDatabaseUnavailable = true;
}

std::optional<LoadedUser> loadUser(const std::string& name) {
    RecordingView view;
    EditingState state;
    if (!loadUserData(name, state, view)) {
        refuse(terminalText(view.failure));
        return std::nullopt;
    }
    if (databaseUnavailable()) return std::nullopt;
    if (!view.found) {
        refuse("There is no user " + name + ".");
        return std::nullopt;
    }
    view.user.rules = state.ruleSet;
    view.user.version = state.loadedVersion;
    return view.user;
}

users::SaveOutcome saveStoredUser(const LoadedUser& user, const std::string& name,
                                  const std::optional<std::string>& password, CliPrompts& prompts,
                                  users::OnChange onChange) {
    users::SaveForm form{user.username, user.homedir,
                         password.value_or(std::string(kPasswordPlaceholder)), user.comments};
    const users::SaveContext context{name, EditMode::Stored, user.rules, user.version, onChange};
    return users::saveUser(form, context, prompts);
}

int refuse(const std::string& text) {
    std::cerr << text << '\n';
    return kExitRefused;
}

int statusOf(bool done, const CliPrompts& prompts) {
    return done && !prompts.failed() && !databaseUnavailable() ? kExitDone : kExitRefused;
}

}  // namespace kestrix::cli
