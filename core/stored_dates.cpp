#include "core/stored_dates.h"

#include "core/audit_trail.h"
#include "core/database.h"
#include "core/short_date.h"
#include "core/text_routines.h"

namespace kestrix {

namespace {

struct StoredDate {
    std::string user;
    std::string column;
    std::string text;
};

bool beginWriting(Database& db) {
    if (db.engine() == Engine::SQLite) return db.execute("BEGIN IMMEDIATE");
    return db.begin();
}

}  // namespace

std::optional<std::string> dateInStoredForm(const std::string& user, const std::string& column,
                                            const std::string& text,
                                            std::vector<UnclearDate>& left) {
    if (trimmed(text).empty()) return text;
    auto readings = possibleReadings(trimmed(text));
    if (readings.size() != 1) {
        left.push_back({user, column, text, std::move(readings)});
        return std::nullopt;
    }
    return formatIsoDate(readings.front());
}

std::string describeUnclearDate(const UnclearDate& date) {
    std::string line = date.user + " " + date.column + " \"" + date.text + "\": ";
    if (date.readings.empty()) {
        line += "not a date";
    } else {
        line += "could be";
        for (std::size_t i = 0; i < date.readings.size(); ++i)
            line += (i == 0 ? " " : " or ") + formatIsoDate(date.readings[i]);
    }
    return line + " (kestrix user set " + date.user + " " +
           (date.column == "Expires" ? "--expires" : "--disable-on") + " YYYY-MM-DD)";
}

DateUpgrade upgradeStoredDates(Database& db) {
    DateUpgrade result;
    if (!beginWriting(db)) {
        result.failure = db.lastError();
        return result;
    }
    std::vector<StoredDate> dates;
    const bool read = db.readText(
        "SELECT username, Expires, DisableOn FROM users WHERE (Expires IS NOT NULL AND Expires "
        "<> '') OR (DisableOn IS NOT NULL AND DisableOn <> '')",
        {}, 3, [&](const Database::TextRow& row) {
            const std::string name = row[0].value_or("");
            if (!trimmed(row[1].value_or("")).empty())
                dates.push_back({name, "Expires", row[1].value_or("")});
            if (!trimmed(row[2].value_or("")).empty())
                dates.push_back({name, "DisableOn", row[2].value_or("")});
        });
    if (!read) {
        result.failure = db.lastError();
        db.rollback();
        return result;
    }
    std::vector<audit::Change> changes;
    for (const StoredDate& date : dates) {
        const auto stored = dateInStoredForm(date.user, date.column, date.text, result.left);
        if (!stored) continue;
        const std::string& iso = *stored;
        if (iso == date.text) {
            ++result.alreadyIso;
            continue;
        }
        long long changed = 0;
        if (!db.executeBound("UPDATE users SET " + date.column + "=:v1 WHERE username=:v2 AND " +
                                 date.column + "=:v3",
                             {iso, date.user, date.text}, &changed)) {
            result.failure = db.lastError();
            db.rollback();
            result.rewritten = 0;
            return result;
        }
        if (changed == 0) continue;
        ++result.rewritten;
        audit::Change change;
        change.origin = "kestrix db upgrade --dates";
        change.ftpUser = date.user;
        change.what = date.column + " " + date.text + " stored as " + iso;
        changes.push_back(std::move(change));
    }
    if (!db.commit()) {
        result.failure = db.lastError();
        db.rollback();
        result.rewritten = 0;
        return result;
    }
    // Only what the commit made lasting goes into the audit trail.
    for (const audit::Change& change : changes)
        audit::record(change);
    return result;
}

}  // namespace kestrix
