#include "users/editing/statement_run.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/owner_keys.h"
#include "core/sql_literal.h"

namespace kestrix::users {

namespace {

std::optional<WriteFailure> refused(Database& db, const std::string& statement) {
    const std::string description = db.lastError();
    if (!statement.empty()) writeLog("statement refused: " + statement);
    writeLog("the database said: " + description);
    db.rollback();
    return WriteFailure{description, false};
}

}  // namespace

std::optional<WriteFailure> runInTransaction(Database& db, const std::vector<WriteStep>& steps,
                                             const WriteGuard& guard,
                                             const std::optional<FreeName>& free) {
    if (guard.lock.name.empty()) {
        if (!db.begin()) return refused(db, "");
    } else {
        switch (holdGuard(db, guard)) {
            case GuardResult::Held:
                break;
            case GuardResult::Changed: {
                // A user removed meanwhile is told as such, not as changed.
                bool stored = false;
                if (!db.readColumn("select username from users where username=:v1", {guard.user},
                                   [&](Database::ValueView) { stored = true; }))
                    return refused(db, "");
                writeLog(stored ? changedBySomeoneElse(guard.user)
                                : "the user " + guard.user + " is no longer stored");
                return WriteFailure{{}, !stored, stored};
            }
            case GuardResult::Failed:
                // Nothing is open any more: a rollback would only hide the reason.
                {
                    const std::string reason = lockFailure(db);
                    writeLog("the database said: " + reason);
                    return WriteFailure{reason, reason == userGoneMessage(guard.lock.name)};
                }
        }
    }
    if (free) {
        // Under the lock no one else can give the name meanwhile.
        bool taken = false;
        std::string sql = "select username from users where username=:v1";
        Database::BoundValues values{free->name};
        if (!free->besides.empty()) {
            sql += " and not username=:v2";
            values.push_back(free->besides);
        }
        if (!db.readColumn(sql, values, [&](Database::ValueView) { taken = true; }))
            return refused(db, "");
        if (taken) {
            writeLog("the username " + free->name + " is in use");
            db.rollback();
            return WriteFailure{{}, false, false, true};
        }
    }
    for (const WriteStep& step : steps) {
        if (!step.log.empty()) writeLog(step.log);
        if (step.goOn && !step.goOn(db)) {
            db.rollback();
            return WriteFailure{{}, false, false, false, true};
        }
        std::string made;
        if (step.madeUnderLock) {
            auto statement = step.madeUnderLock(db);
            if (!statement) return refused(db, "");
            made = std::move(*statement);
        }
        const std::string& sql = step.madeUnderLock ? made : step.sql;
        if (sql.empty()) continue;
        const std::string& logged = step.loggedSql.empty() ? sql : step.loggedSql;
        long long changed = 0;
        long long* counted = step.changesOneRow ? &changed : nullptr;
        const bool ran = step.boundSql.empty()
                             ? db.execute(sql, counted)
                             : db.executeBound(step.boundSql, step.values, counted);
        if (!ran) return refused(db, logged);
        if (step.changesOneRow && changed != 1) {
            writeLog("expected one row, changed " + std::to_string(changed) + ": " + logged);
            db.rollback();
            return WriteFailure{{}, true};
        }
    }
    if (!db.commit()) return refused(db, "");
    return std::nullopt;
}

std::optional<bool> userNameInUse(const std::string& name, UserPrompts& prompts,
                                  const std::string& besides) {
    Database db;
    if (!openDatabase(db, 0)) return std::nullopt;
    std::string sql = "select username from users where username=" + sqlText(name);
    if (!besides.empty()) sql += " and not username=" + sqlText(besides);
    auto rs = db.query(sql);
    if (!rs) {
        prompts.show(
            failureMessage("Checking whether the username " + name + " is in use", db.lastError()));
        return std::nullopt;
    }
    std::string found;
    for (; !rs->eof(); rs->moveNext())
        found = rs->text("username");
    const std::string readError = rs->error();
    closeDatabase(db);
    if (!readError.empty()) {
        prompts.show(
            failureMessage("Checking whether the username " + name + " is in use", readError));
        return std::nullopt;
    }
    return !found.empty();
}

Answer RefusalCopy::show(const Message& message) {
    if (message.buttons == MessageButtons::OK) refusal_ = message.text;
    return target_.show(message);
}

Message failureMessage(const std::string& what, const std::string& description) {
    return refusal(what + " failed:" + kCrLf + kCrLf + description);
}

}  // namespace kestrix::users
