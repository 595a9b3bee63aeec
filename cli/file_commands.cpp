// user file-rule list|add|remove and user ratio-free list|add|remove: the
// file rules and ratio-free files that the plug-in reads.
#include <algorithm>
#include <cctype>
#include <functional>
#include <iostream>

#include "cli/commands.h"
#include "cli/json_text.h"
#include "cli/loaded_user.h"
#include "core/activity_log.h"
#include "core/database.h"
#include "core/owner_keys.h"
#include "core/rights.h"
#include "core/schema.h"
#include "core/write_lock.h"

namespace kestrix::cli {

namespace {

// The rows belonging to every user in ratio_free_files.
constexpr const char* kEveryUser = "*";

struct FileList {
    const char* table;
    const char* log;  // how the activity log names an entry
    bool everyUserRows;
};

const FileList kFileRules{"file_rights", "file rule", false};
const FileList kRatioFree{"ratio_free_files", "ratio-free file", true};

// The user's name as stored; none when there is no such user (said on
// standard error) or the database refused (said too).
std::optional<std::string> storedName(Database& db, const std::string& name) {
    std::optional<std::string> stored;
    if (!db.readColumn("select username from users where username=:v1", {name},
                       [&](Database::ValueView found) {
                           if (!stored) stored = std::string(found.value_or(""));
                       })) {
        refuse(terminalText(db.lastError()));
        return std::nullopt;
    }
    if (!stored) refuse("There is no user " + name + ".");
    return stored;
}

bool fullPath(const std::string& file) {
    return file.starts_with('/');
}

// The entries named by a list's owner, in the order the plug-in reads them:
// the file and, for file rules, its rights.
using Entry = std::pair<std::string, std::string>;

bool readEntries(Database& db, const FileList& list, const std::string& owner,
                 std::vector<Entry>& entries) {
    const std::string columns = list.everyUserRows ? "filename" : "filename, file_rights";
    return db.readViews(
        "select " + columns + " from " + list.table + " where username=:v1", {owner},
        list.everyUserRows ? 1 : 2, [&](Database::RowView row) {
            std::string rights =
                list.everyUserRows ? std::string() : std::string(row[1].value_or(""));
            // A fixed-width column comes back padded on PostgreSQL.
            while (!rights.empty() && rights.back() == ' ')
                rights.pop_back();
            entries.emplace_back(std::string(row[0].value_or("")), std::move(rights));
        });
}

int listEntries(const Invocation& in, const FileList& list) {
    const std::string& name = in.operands[0];
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    std::string owner = name;
    if (!(list.everyUserRows && name == kEveryUser)) {
        const auto stored = storedName(db, name);
        if (!stored) return kExitRefused;
        owner = *stored;
    }
    std::vector<Entry> entries;
    if (!readEntries(db, list, owner, entries)) return refuse(terminalText(db.lastError()));
    if (in.json()) {
        std::vector<std::string> json;
        for (const auto& [file, rights] : entries) {
            JsonObject object;
            object.text("file", file);
            if (!list.everyUserRows) object.text("rights", rights);
            json.push_back(object.str());
        }
        std::cout << jsonArray(json) << '\n';
    } else {
        for (const auto& [file, rights] : entries)
            std::cout << file << (list.everyUserRows ? "" : "\t" + rights) << '\n';
    }
    return kExitDone;
}

// Runs the change under the owner's lock in one transaction: reads the
// owner's entries, lets the change refuse (false) or name its statement.
int changeEntries(
    const std::string& name, const FileList& list,
    const std::function<bool(const std::string& owner, const std::vector<Entry>& entries,
                             std::string& sql, Database::BoundValues& values)>& change) {
    Database db;
    if (!openDatabase(db, 0)) return kExitRefused;
    const bool everyUser = list.everyUserRows && name == kEveryUser;
    // A name never stored is told apart from a user deleted meanwhile,
    // which the lock finds gone.
    if (!everyUser && !storedName(db, name)) return kExitRefused;
    const WriteLock lock = everyUser ? WriteLock::table(list.table) : WriteLock::user(name);
    if (!beginLocked(db, lock)) return refuse(terminalText(lockFailure(db)));
    auto failed = [&] {
        const std::string description = db.lastError();
        writeLog("the database said: " + description);
        db.rollback();
        return refuse(terminalText(description));
    };
    std::string owner = name;
    if (!everyUser) {
        const auto stored = storedName(db, name);
        if (!stored) {
            db.rollback();
            return kExitRefused;
        }
        owner = *stored;
    }
    std::vector<Entry> entries;
    if (!readEntries(db, list, owner, entries)) return failed();
    std::string sql;
    Database::BoundValues values;
    if (!change(owner, entries, sql, values)) {
        db.rollback();
        return kExitRefused;
    }
    if (!db.executeBound(sql, values)) return failed();
    if (!db.commit()) return failed();
    return kExitDone;
}

bool fileFits(const FileList& list, const std::string& file) {
    const std::size_t most = columnCharacters(list.table, "filename");
    if (!fullPath(file)) {
        refuse("The file must be a full path starting with /.");
        return false;
    }
    if (most != 0 && file.size() > most) {
        refuse("The file name is longer than the " + std::to_string(most) +
               " characters the list holds.");
        return false;
    }
    return true;
}

bool sameFile(const Entry& entry, const std::string& file) {
    return entry.first == file;
}

int addEntry(const std::string& name, const std::string& file, const std::string& rights,
             const FileList& list) {
    if (!fileFits(list, file)) return kExitRefused;
    return changeEntries(
        name, list,
        [&](const std::string& owner, const std::vector<Entry>& entries, std::string& sql,
            Database::BoundValues& values) {
            if (std::any_of(entries.begin(), entries.end(),
                            [&](const Entry& e) { return sameFile(e, file); })) {
                refuse(file + " is in the list of " + owner + " already: remove it first.");
                return false;
            }
            writeLog("add " + std::string(list.log) + " " + file +
                     (rights.empty() ? "" : " " + rights) + " for " + owner);
            if (list.everyUserRows) {
                sql =
                    "insert into ratio_free_files (username, filename) "
                    "values (:v1, :v2)";
                values = {owner, file};
            } else {
                sql =
                    "insert into file_rights (username, filename, "
                    "file_rights) values (:v1, :v2, :v3)";
                values = {owner, file, rights};
            }
            return true;
        });
}

int removeEntry(const std::string& name, const std::string& file, const FileList& list) {
    return changeEntries(
        name, list,
        [&](const std::string& owner, const std::vector<Entry>& entries, std::string& sql,
            Database::BoundValues& values) {
            if (std::none_of(entries.begin(), entries.end(),
                             [&](const Entry& e) { return sameFile(e, file); })) {
                refuse(file + " is not in the list of " + owner + ".");
                return false;
            }
            writeLog("remove " + std::string(list.log) + " " + file + " for " + owner);
            sql = std::string("delete from ") + list.table + " where username=:v1 and filename=:v2";
            values = {owner, file};
            return true;
        });
}

}  // namespace

int fileRuleList(const Invocation& in) {
    return listEntries(in, kFileRules);
}

int fileRuleAdd(const Invocation& in) {
    const auto letters = in.value("--rights");
    if (!letters) {
        std::cerr << "user file-rule add needs --rights LETTERS.\n";
        return kExitUsage;
    }
    std::string rights;
    for (char c : *letters) {
        const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (kRightsLetters.find(upper) == std::string_view::npos)
            return refuse("Rights are letters of " + std::string(kRightsLetters) + ", not " +
                          *letters + ".");
        if (rights.find(upper) == std::string::npos) rights += upper;
    }
    const std::size_t most = columnCharacters("file_rights", "file_rights");
    if (most != 0 && rights.size() > most)
        return refuse("A file rule holds at most " + std::to_string(most) + " letters.");
    return addEntry(in.operands[0], in.operands[1], rights, kFileRules);
}

int fileRuleRemove(const Invocation& in) {
    return removeEntry(in.operands[0], in.operands[1], kFileRules);
}

int ratioFreeList(const Invocation& in) {
    return listEntries(in, kRatioFree);
}

int ratioFreeAdd(const Invocation& in) {
    return addEntry(in.operands[0], in.operands[1], "", kRatioFree);
}

int ratioFreeRemove(const Invocation& in) {
    return removeEntry(in.operands[0], in.operands[1], kRatioFree);
}

}  // namespace kestrix::cli
