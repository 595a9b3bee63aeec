#include "users/user_record_loader.h"

#include "core/activity_log.h"
#include "core/database.h"

namespace kestrix {

namespace {

// Runs one query and hands each row to the reader. False (with the
// provider's description) when the database refused the statement or a row
// could not be read.
template <typename Reader>
bool eachRow(Database& db, const std::string& sql, const std::string& user, std::string& failure,
             Reader reader) {
    auto rows = db.queryBound(sql, {user});
    if (!rows) {
        failure = db.lastError();
        return false;
    }
    for (; !rows->eof(); rows->moveNext())
        reader(*rows);
    failure = rows->error();
    return failure.empty();
}

}  // namespace

bool loadUserData(const std::string& name, EditingState& state, UserRecordView& view) {
    state.ruleSet.clear();
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

    if (!eachRow(a, "SELECT username, homedir, comments FROM users WHERE username=:v1", user,
                 failure, [&](const RecordSet& row) {
                     view.showRecord(row.text("username"), row.text("homedir"),
                                     row.text("comments"));
                 })) {
        return fail();
    }

    writeLog("getdata for this page");
    // A user may have a great many rules: read as plain text, many a fetch.
    if (!a.readText("SELECT directory, dir_rights, inherit_subdirs FROM dir_rights WHERE "
                    "username=:v1 ",
                    {user}, 3, [&](const Database::TextRow& row) {
                        DirRule rule{row[0].value_or(std::string()), row[1].value_or(std::string()),
                                     row[2].value_or(std::string())};
                        view.addRule(rule.directory);
                        state.ruleSet.push_back(std::move(rule));
                    })) {
        failure = a.lastError();
        return fail();
    }

    std::string disableOn;
    std::string expires;
    if (!eachRow(a, "SELECT Expires, DisableOn FROM users WHERE username=:v1", user, failure,
                 [&](const RecordSet& row) {
                     disableOn = row.text("DisableOn");
                     expires = row.text("Expires");
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
    const bool read = eachRow(b, "SELECT disable_user FROM users WHERE username=:v1", user, failure,
                              [&](const RecordSet& row) {
                                  if (disableUserSet(row.field("disable_user").value_or("0")))
                                      view.showDisableLine(disabledLine());
                              });
    closeDatabase(b);
    closeDatabase(a);
    if (!read) view.statementFailed(failure);
    return read;
}

}  // namespace kestrix
