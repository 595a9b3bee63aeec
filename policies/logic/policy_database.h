#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/column_width.h"
#include "core/field_merge.h"
#include "core/write_lock.h"
#include "shell/message_boxes.h"

namespace kestrix {
class Database;
}

namespace kestrix::policies {

using FieldRow = std::vector<std::optional<std::string>>;

// Opens the database (mode 0), reads the named columns of every row of the
// query and closes it. No value when it could not be opened (the opening
// routine has reported that) or the query was refused (failure then holds
// the provider's description).
std::optional<std::vector<FieldRow>> readRows(const std::string& sql,
                                              const std::vector<std::string>& columns,
                                              std::string& failure);

enum class WriteOutcome {
    Unavailable,  // not opened; the opening routine has reported it
    Refused,      // a statement was refused; nothing of them stays
    Declined,     // the change itself refused; nothing written
    Changed,      // someone else changed what the write replaces; nothing written
    Written,
};

// Runs the statements in one transaction, so a failure half-way leaves the
// stored rows as they were. Refused leaves the provider's description in
// failure.
// Texts are held against their columns first: one too wide is Refused with
// the message naming its box in failure, before any statement. With a
// guard, the transaction holds its lock and writes only while the guarded
// parts are as they were loaded. listChange: the statements change a
// server-wide list, which the plug-in is told of in the same transaction.
WriteOutcome writeAll(const std::vector<std::string>& statements, std::string& failure,
                      const std::vector<TextColumn>& texts = {}, const WriteGuard& guard = {},
                      bool listChange = false);

// Works out the statements from the rows as they are inside the write's
// transaction, under its lock; no value when a read was refused.
using StatementsFromStore =
    std::function<std::optional<std::vector<std::string>>(Database&, std::string&)>;

// writeAll with statements made under the lock, for a write that builds on
// values someone else may move meanwhile (the plug-in counts the remaining
// quota with every upload).
WriteOutcome writeBuiltAll(const StatementsFromStore& build, std::string& failure,
                           const WriteGuard& guard);

// readRows on a database already open.
std::optional<std::vector<FieldRow>> readRowsOn(Database& db, const std::string& sql,
                                                const std::vector<std::string>& columns,
                                                std::string& failure);

// The version of the user's parts as stored now, read before a dialog loads
// them: a change made in between then refuses the write, never loses it.
// No value when the database could not be opened or refused (failure set).
std::optional<std::string> loadedVersion(const std::string& user, const UserParts& parts,
                                         std::string& failure);

// What is stored now of a dialog's settings, field by field, and its version.
struct FieldsNow {
    std::string version;
    FieldValues fields;
};

// Keep both for a dialog of a few settings: what it changed since it loaded
// `loaded` is written over what readNow finds (write, guarded by that
// version), the other administrator's changes stay; where both changed a
// setting, ask chooses (Yes: this dialog's; anything but No stops: Changed).
// Read again when the settings move once more meanwhile.
WriteOutcome keepBothFields(
    const std::string& user, const FieldValues& loaded, const FieldValues& mine,
    const std::function<std::optional<FieldsNow>(WriteOutcome&)>& readNow,
    const std::function<WriteOutcome(const FieldValues&, const std::string&)>& write,
    const std::function<Answer(const Message&)>& ask);

}  // namespace kestrix::policies
