#include "core/account_dates.h"

#include <algorithm>
#include <string>
#include <vector>

#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/database.h"
#include "core/short_date.h"

namespace kestrix {

namespace {

// Users per transaction: few enough that another program waiting for the
// SQLite file waits some tens of milliseconds, many enough that the flushes
// to disk at each commit do not dominate the run.
constexpr std::size_t kUsersPerTransaction = 500;

struct DueUser {
    std::string name;
    std::string date;  // the stored text that was due, as read
    bool expired;      // deleted; otherwise disabled
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

// Each statement checks, as it runs, that the stored date is still the one
// that was due, so an account extended or cleared since the run read it is
// left alone. The user's row goes first: only when it went do its rows in
// the other tables follow. A name stored twice goes only when every row of
// it is due on that date.
constexpr const char* kDeleteDueUser =
    "DELETE FROM users WHERE username=:v1 AND Expires=:v2 AND NOT EXISTS (SELECT 1 FROM users "
    "other WHERE other.username=:v3 AND (other.Expires IS NULL OR other.Expires<>:v4))";
constexpr const char* kDeleteRows[] = {
    "DELETE FROM blocked_ips_by_user WHERE username=:v1",
    "DELETE FROM dir_rights WHERE username=:v1",
    "DELETE FROM file_rights WHERE username=:v1",
    "DELETE FROM ratio_free_files WHERE username=:v1",
};
constexpr const char* kDisableDueUser =
    "UPDATE users SET disable_user=1, disableon='' WHERE username=:v1 AND DisableOn=:v2";

// A transaction that writes from its start: SQLite then takes the file's
// write lock at once (waiting while another program writes) rather than
// failing when a reader turns writer.
bool beginWriting(Database& db) {
    if (db.engine() == Engine::SQLite) return db.execute("BEGIN IMMEDIATE");
    return db.begin();
}

enum class Applied { Done, Changed, Failed };

constexpr const char* kAuditOrigin = "apply-dates";

void recordAccount(const DueUser& user) {
    audit::Change change;
    change.origin = kAuditOrigin;
    change.ftpUser = user.name;
    change.what =
        user.expired ? "deleted: expired on " + user.date : "disabled: disable date " + user.date;
    audit::record(change);
}

// What the run did, whether it ran to its end or not.
struct RunCount {
    std::size_t due = 0;
    std::size_t deleted = 0;
    std::size_t disabled = 0;
    std::size_t leftAlone = 0;
};

AccountDatesRun recordSummary(const RunCount& count, AccountDatesRun run,
                              const std::string& reason = {}) {
    audit::Change change;
    change.origin = kAuditOrigin;
    change.what = std::to_string(count.due) + " accounts due: " + std::to_string(count.deleted) +
                  " deleted, " + std::to_string(count.disabled) + " disabled, " +
                  std::to_string(count.leftAlone) + " changed meanwhile and left alone";
    if (run != AccountDatesRun::Done) {
        change.result = audit::Result::Failed;
        change.reason = reason;
    }
    audit::record(change);
    return run;
}

Applied applyOne(Database& db, const DueUser& user) {
    if (!user.expired) {
        long long changed = 0;
        if (!db.executeBound(kDisableDueUser, {user.name, user.date}, &changed))
            return Applied::Failed;
        return changed > 0 ? Applied::Done : Applied::Changed;
    }
    long long deleted = 0;
    if (!db.executeBound(kDeleteDueUser, {user.name, user.date, user.name, user.date}, &deleted))
        return Applied::Failed;
    if (deleted == 0) return Applied::Changed;
    for (const char* statement : kDeleteRows) {
        if (!db.executeBound(statement, {user.name})) return Applied::Failed;
    }
    return Applied::Done;
}

// One transaction for a batch of users: each user whole or not at all, and
// a refused statement undoes the batch.
bool applyBatch(Database& db, const DueUser* first, const DueUser* last, RunCount& count) {
    if (!beginWriting(db)) {
        writeLog("the database said: " + db.lastError());
        return false;
    }
    std::vector<std::string> lines;
    std::vector<const DueUser*> applied;
    std::size_t leftAlone = 0;
    for (const DueUser* user = first; user != last; ++user) {
        switch (applyOne(db, *user)) {
            case Applied::Done:
                if (user->expired) lines.push_back("User '" + user->name + "' is expired");
                applied.push_back(user);
                break;
            case Applied::Changed:
                lines.push_back("User '" + user->name +
                                "' was changed since its date came; left as it is");
                ++leftAlone;
                break;
            case Applied::Failed:
                writeLog("the database said: " + db.lastError());
                db.rollback();
                return false;
        }
    }
    if (!db.commit()) {
        writeLog("the database said: " + db.lastError());
        db.rollback();
        return false;
    }
    for (const std::string& line : lines)
        writeLog(line);
    // Only what the commit made lasting goes into the audit trail.
    for (const DueUser* user : applied) {
        recordAccount(*user);
        ++(user->expired ? count.deleted : count.disabled);
    }
    count.leftAlone += leftAlone;
    return true;
}

}  // namespace

struct AccountDatesSteps::Work {
    Database db;
    RunCount count;
    std::vector<DueUser> due;
    std::size_t next = 0;
};

AccountDatesSteps::AccountDatesSteps() : work_(std::make_unique<Work>()) {
    Database& db = work_->db;
    if (!openDatabase(db, 0)) {
        finish(AccountDatesRun::DatabaseUnavailable, "the database could not be opened");
        return;
    }
    // The dated users are read whole before anything changes: a statement
    // still reading would hold the SQLite file against the writes.
    std::vector<DueUser> expired;
    std::vector<DueUser> disabled;
    const auto now = today();
    const bool read = db.readText(
        "SELECT username, Expires, DisableOn FROM users WHERE (Expires IS NOT NULL AND "
        "Expires <> '') OR (DisableOn IS NOT NULL AND DisableOn <> '')",
        {}, 3, [&](const Database::TextRow& row) {
            const std::string name = row[0].value_or("");
            const std::string expires = row[1].value_or("");
            const std::string disableOn = row[2].value_or("");
            if (dueBy(expires, now, name, "an expiry date"))
                expired.push_back({name, expires, true});
            else if (dueBy(disableOn, now, name, "a disable date"))
                disabled.push_back({name, disableOn, false});
        });
    if (!read) {
        writeLog("the database said: " + db.lastError());
        finish(db.lastError() == kDatabaseBusyMessage ? AccountDatesRun::Busy
                                                      : AccountDatesRun::TablesFailed,
               db.lastError());
        return;
    }
    writeLog(std::to_string(expired.size() + disabled.size()) + " users have a date that came");
    // Deletions first, as a deleted user is not disabled after.
    work_->due = std::move(expired);
    work_->due.insert(work_->due.end(), disabled.begin(), disabled.end());
    work_->count.due = work_->due.size();
    if (work_->due.empty()) finish(AccountDatesRun::Done);
}

AccountDatesSteps::~AccountDatesSteps() = default;

bool AccountDatesSteps::next() {
    if (outcome_) return false;
    Database& db = work_->db;
    const std::size_t at = work_->next;
    const std::size_t end = std::min(work_->due.size(), at + kUsersPerTransaction);
    if (!applyBatch(db, work_->due.data() + at, work_->due.data() + end, work_->count)) {
        finish(db.lastError() == kDatabaseBusyMessage ? AccountDatesRun::Busy
                                                      : AccountDatesRun::TablesFailed,
               db.lastError());
        return false;
    }
    work_->next = end;
    if (end < work_->due.size()) return true;
    finish(AccountDatesRun::Done);
    return false;
}

bool AccountDatesSteps::changedAccounts() const {
    return work_->count.deleted + work_->count.disabled > 0;
}

void AccountDatesSteps::finish(AccountDatesRun outcome, const std::string& reason) {
    if (outcome == AccountDatesRun::Done) closeDatabase(work_->db);
    outcome_ = recordSummary(work_->count, outcome, reason);
}

AccountDatesRun applyAccountDates() {
    AccountDatesSteps steps;
    while (steps.next()) {
    }
    return *steps.outcome();
}

}  // namespace kestrix
