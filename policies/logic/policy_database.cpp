#include "policies/logic/policy_database.h"

#include "core/activity_log.h"
#include "core/database.h"
#include "core/list_changes.h"
#include "core/owner_keys.h"
#include "shell/message_boxes.h"

namespace kestrix::policies {

std::optional<std::vector<FieldRow>> readRowsOn(Database& db, const std::string& sql,
                                                const std::vector<std::string>& columns,
                                                std::string& failure) {
    auto records = db.query(sql);
    if (!records) {
        failure = db.lastError();
        return std::nullopt;
    }
    std::vector<FieldRow> rows;
    for (; !records->eof(); records->moveNext()) {
        FieldRow row;
        for (const std::string& column : columns)
            row.push_back(records->field(column));
        rows.push_back(std::move(row));
    }
    if (!records->error().empty()) {
        failure = records->error();
        return std::nullopt;
    }
    return rows;
}

std::optional<std::vector<FieldRow>> readRows(const std::string& sql,
                                              const std::vector<std::string>& columns,
                                              std::string& failure) {
    Database db;
    if (!openDatabase(db, 0)) return std::nullopt;
    auto rows = readRowsOn(db, sql, columns, failure);
    if (rows) closeDatabase(db);
    return rows;
}

namespace {

WriteOutcome writeInOneTransaction(const StatementsFromStore& build, std::string& failure,
                                   const std::vector<TextColumn>& texts, const WriteGuard& guard,
                                   bool listChange = false) {
    Database db;
    if (!openDatabase(db, 0)) return WriteOutcome::Unavailable;
    if (auto tooWide = tooWideText(db, texts)) {
        failure = *tooWide;
        closeDatabase(db);
        return WriteOutcome::Refused;
    }
    auto refused = [&](const std::string& statement) {
        failure = db.lastError();
        if (!statement.empty()) writeLog("statement refused: " + statement);
        writeLog("the database said: " + failure);
        db.rollback();
        return WriteOutcome::Refused;
    };
    if (guard.lock.name.empty()) {
        if (!db.begin()) return refused({});
    } else {
        switch (holdGuard(db, guard)) {
            case GuardResult::Held:
                break;
            case GuardResult::Changed:
                writeLog(changedBySomeoneElse(guard.user));
                return WriteOutcome::Changed;
            case GuardResult::Failed:
                failure = lockFailure(db);
                writeLog("the database said: " + failure);
                return WriteOutcome::Refused;
        }
    }
    std::string readFailure;
    const auto statements = build(db, readFailure);
    if (!statements) {
        failure = readFailure.empty() ? db.lastError() : readFailure;
        writeLog("the database said: " + failure);
        db.rollback();
        return WriteOutcome::Refused;
    }
    for (const std::string& statement : *statements) {
        if (!db.execute(statement)) return refused(statement);
    }
    if (listChange && !announceListChange(db)) return refused({});
    if (!db.commit()) return refused({});
    closeDatabase(db);
    return WriteOutcome::Written;
}

}  // namespace

WriteOutcome writeAll(const std::vector<std::string>& statements, std::string& failure,
                      const std::vector<TextColumn>& texts, const WriteGuard& guard,
                      bool listChange) {
    return writeInOneTransaction([&](Database&, std::string&) { return statements; }, failure,
                                 texts, guard, listChange);
}

WriteOutcome writeBuiltAll(const StatementsFromStore& build, std::string& failure,
                           const WriteGuard& guard) {
    return writeInOneTransaction(build, failure, {}, guard);
}

std::optional<std::string> loadedVersion(const std::string& user, const UserParts& parts,
                                         std::string& failure) {
    Database db;
    if (!openDatabase(db, 0)) return std::nullopt;
    auto version = readUserVersion(db, user, parts);
    if (!version) failure = db.lastError();
    return version;
}

WriteOutcome keepBothFields(
    const std::string& user, const FieldValues& loaded, const FieldValues& mine,
    const std::function<std::optional<FieldsNow>(WriteOutcome&)>& readNow,
    const std::function<WriteOutcome(const FieldValues&, const std::string&)>& write,
    const std::function<Answer(const Message&)>& ask) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        WriteOutcome why = WriteOutcome::Refused;
        const auto now = readNow(why);
        if (!now) return why;
        ThreeWayMerge merge = mergeThreeWay(loaded, mine, now->fields);
        if (!merge.bothChanged.empty()) {
            const Answer answer =
                ask(bothChangedQuestion(user, describeBothChanged(merge, mine, now->fields)));
            if (answer == Answer::No)
                keepTheirs(merge, now->fields);
            else if (answer != Answer::Yes)
                return WriteOutcome::Changed;
        }
        const WriteOutcome written = write(merge.merged, now->version);
        if (written != WriteOutcome::Changed) return written;
    }
    return WriteOutcome::Changed;
}

}  // namespace kestrix::policies
