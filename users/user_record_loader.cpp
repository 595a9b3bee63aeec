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

    // Read with the record and the rules, in the same statements: a change
    // made while it loads then refuses the next Save instead of being
    // overwritten by it. A refused read leaves none; the statements below
    // then say why. The rules are read once: a user may have a great many.
    const UserParts parts = savedParts();
    const auto column = [&](std::string_view name) {
        std::size_t at = 0;
        while (at < parts.columns.size() && parts.columns[at] != name)
            ++at;
        return at;
    };
    const std::size_t nameAt = column("username");
    const std::size_t homeAt = column("homedir");
    const std::size_t notesAt = column("comments");
    bool found = false;
    state.loadedVersion = readUserVersion(
        a, user, parts,
        [&](std::span<const std::optional<std::string_view>> row) {
            state.ruleSet.emplace_back(DirRule{text(row[0]), text(row[1]), text(row[2])});
        },
        [&](std::span<const std::optional<std::string_view>> row) {
            found = true;
            state.loaded.username = text(row[nameAt]);
            state.loaded.homeDir = text(row[homeAt]);
            state.loaded.notes = text(row[notesAt]);
        });

    if (state.loadedVersion) {
        if (found) view.showRecord(state.loaded.username, state.loaded.homeDir, state.loaded.notes);
    } else {
        // A refused read: the record and the rules are read again, and
        // a refusal says why.
        state.ruleSet.clear();
        state.loaded = {};
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
