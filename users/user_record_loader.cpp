#include "users/user_record_loader.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/write_lock.h"

namespace kestrix {

namespace {

using RowView = Database::RowView;

// The text of a column as the record set gives it: NULL as the empty text.
std::string text(const Database::ValueView& value) {
    return std::string(value.value_or(std::string_view()));
}

// Runs one query and hands each row, its columns in the statement's order,
// to the reader. False (with the provider's description) when the database
// refused the statement or a row could not be read.
template <typename Reader>
bool eachRow(Database& db, const char* sql, std::size_t columns, const std::string& user,
             std::string& failure, Reader reader) {
    if (db.readViews(sql, {user}, columns, reader)) return true;
    failure = db.lastError();
    return false;
}

}  // namespace

bool loadUserData(const std::string& name, EditingState& state, UserRecordView& view) {
    state.ruleSet.clear();
    state.loadedVersion.reset();
    state.loaded = {};
    view.clearRules();

    Database a;
    if (!openDatabase(a, 0)) return true;
    std::string failure;
    auto fail = [&] {
        closeDatabase(a);
        view.statementFailed(failure);
        return false;
    };
    const std::string& user = name;

    // Read before the record: a change made while it loads then refuses
    // the next Save instead of being overwritten by it.
    // A refused read leaves none; the statements below then say why.
    // The rules come with it, read once: a user may have a great many.
    state.loadedVersion = readUserVersion(
        a, user, savedParts(), [&](std::span<const std::optional<std::string_view>> row) {
            state.ruleSet.emplace_back(DirRule{text(row[0]), text(row[1]), text(row[2])});
        });
    // A refused read: the reads below read the rules again and say why.
    if (!state.loadedVersion) state.ruleSet.clear();

    if (!eachRow(a, "SELECT username, homedir, comments FROM users WHERE username=:v1", 3, user,
                 failure, [&](RowView row) {
                     state.loaded.username = text(row[0]);
                     state.loaded.homeDir = text(row[1]);
                     state.loaded.notes = text(row[2]);
                     view.showRecord(state.loaded.username, state.loaded.homeDir,
                                     state.loaded.notes);
                 })) {
        return fail();
    }

    writeLog("getdata for this page");
    // Shown after the record, as when they were read on their own.
    if (state.loadedVersion)
        for (const DirRule& rule : state.ruleSet)
            view.addRule(rule.directory);
    // A user may have a great many rules: read as plain text, many a fetch.
    if (!state.loadedVersion &&
        !eachRow(a,
                 "SELECT directory, dir_rights, inherit_subdirs FROM dir_rights WHERE "
                 "username=:v1 ",
                 3, user, failure, [&](RowView row) {
                     DirRule& rule = state.ruleSet.emplace_back(
                         DirRule{text(row[0]), text(row[1]), text(row[2])});
                     view.addRule(rule.directory);
                 })) {
        return fail();
    }

    state.loaded.rules = state.ruleSet;

    std::string disableOn;
    std::string expires;
    if (!eachRow(a, "SELECT Expires, DisableOn FROM users WHERE username=:v1", 2, user, failure,
                 [&](RowView row) {
                     expires = text(row[0]);
                     disableOn = text(row[1]);
                 })) {
        return fail();
    }
    view.showDisableLine(disableLine(disableOn));
    view.showExpiryLine(expiryLine(expires));

    Database b;
    if (!openDatabase(b, 0)) {
        closeDatabase(a);
        return true;
    }
    const bool read = eachRow(b, "SELECT disable_user FROM users WHERE username=:v1", 1, user,
                              failure, [&](RowView row) {
                                  if (disableUserSet(row[0].value_or("0")))
                                      view.showDisableLine(disabledLine());
                              });
    closeDatabase(b);
    closeDatabase(a);
    if (!read) view.statementFailed(failure);
    return read;
}

bool loadStatusLines(const std::string& name, UserRecordView& view) {
    Database db;
    if (!openDatabase(db, 0)) return true;
    std::string failure;
    std::string expires;
    std::string disableOn;
    bool disabled = false;
    const bool read =
        eachRow(db, "SELECT Expires, DisableOn, disable_user FROM users WHERE username=:v1", 3,
                name, failure, [&](RowView row) {
                    expires = text(row[0]);
                    disableOn = text(row[1]);
                    disabled = disableUserSet(row[2].value_or("0"));
                });
    closeDatabase(db);
    if (!read) {
        view.statementFailed(failure);
        return false;
    }
    view.showDisableLine(disabled ? disabledLine() : disableLine(disableOn));
    view.showExpiryLine(expiryLine(expires));
    return true;
}

}  // namespace kestrix
