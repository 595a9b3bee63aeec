#include "users/editing/statement_run.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/sql_literal.h"

namespace kestrix::users {

bool runInTransaction(Database& db, const std::vector<WriteStep>& steps, std::string* error) {
    if (!db.begin()) {
        if (error) *error = db.lastError();
        return false;
    }
    for (const WriteStep& step : steps) {
        if (!step.log.empty()) writeLog(step.log);
        if (step.sql.empty()) continue;
        if (!db.execute(step.sql)) {
            if (error) *error = db.lastError();
            db.rollback();
            return false;
        }
    }
    if (!db.commit()) {
        if (error) *error = db.lastError();
        db.rollback();
        return false;
    }
    return true;
}

std::optional<bool> userNameInUse(const std::string& name) {
    Database db;
    if (!openDatabase(db, 0)) return std::nullopt;
    std::string found;
    auto rs = db.query("select username from users where username=" + sqlText(name));
    for (; rs && !rs->eof(); rs->moveNext())
        found = rs->text("username");
    closeDatabase(db);
    return !found.empty();
}

}  // namespace kestrix::users
