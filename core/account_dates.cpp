#include "core/account_dates.h"

#include <string>
#include <vector>

#include "core/activity_log.h"
#include "core/database.h"
#include "core/short_date.h"
#include "core/sql_literal.h"

namespace kestrix {

namespace {

struct DatedUser {
    std::string name;
    std::string expires;
    std::string disableOn;
};

// True when the text holds a date that has come; a text that is not a date
// is logged and never acted on.
bool dueBy(const std::string& text, std::chrono::year_month_day today, const std::string& name,
           const char* what) {
    if (text.empty()) return false;
    const auto date = parseShortDate(text);
    if (!date) {
        writeLog("User '" + name + "' has " + what + " that is not a date: " + text);
        return false;
    }
    return *date <= today;
}

bool deleteWhole(Database& db, const std::string& name) {
    const std::string literal = sqlText(name);
    const char* statements[] = {
        "DELETE FROM blocked_ips_by_user WHERE blocked_ips_by_user.username=",
        "DELETE FROM dir_rights WHERE dir_rights.username=",
        "DELETE FROM file_rights WHERE file_rights.username=",
        "DELETE FROM ratio_free_files WHERE ratio_free_files.username=",
        "DELETE FROM users WHERE users.username=",
    };
    // All of the user goes, or none: a user left without its rules could
    // still log in.
    if (!db.begin()) return false;
    for (const char* statement : statements) {
        if (!db.execute(statement + literal)) {
            writeLog("the database said: " + db.lastError());
            db.rollback();
            return false;
        }
    }
    return db.commit();
}

}  // namespace

AccountDatesRun applyAccountDates() {
    Database db;
    if (!openDatabase(db, 0)) return AccountDatesRun::DatabaseUnavailable;
    // The dated users are read whole before anything changes: a statement
    // still reading would hold the SQLite file against the writes.
    std::vector<DatedUser> dated;
    {
        auto rows = db.query(
            "SELECT username, Expires, DisableOn FROM users WHERE (Expires IS NOT NULL AND "
            "Expires <> '') OR (DisableOn IS NOT NULL AND DisableOn <> '')");
        if (!rows) {
            writeLog("the database said: " + db.lastError());
            return AccountDatesRun::TablesFailed;
        }
        for (; !rows->eof(); rows->moveNext())
            dated.push_back(
                {rows->text("username"), rows->text("Expires"), rows->text("DisableOn")});
        if (!rows->error().empty()) return AccountDatesRun::TablesFailed;
    }
    const auto now = today();
    std::vector<const DatedUser*> toDisable;
    for (const DatedUser& user : dated) {
        if (dueBy(user.expires, now, user.name, "an expiry date")) {
            if (!deleteWhole(db, user.name)) return AccountDatesRun::TablesFailed;
            writeLog("User '" + user.name + "' is expired");
        } else if (dueBy(user.disableOn, now, user.name, "a disable date")) {
            toDisable.push_back(&user);
        }
    }
    for (const DatedUser* user : toDisable) {
        if (!db.execute("UPDATE users SET disable_user=1, disableon='' WHERE username=" +
                        sqlText(user->name))) {
            writeLog("the database said: " + db.lastError());
            return AccountDatesRun::TablesFailed;
        }
    }
    closeDatabase(db);
    return AccountDatesRun::Done;
}

}  // namespace kestrix
