#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "policies/logic/policy_database.h"
#include "shell/message_boxes.h"

namespace kestrix::policies {

// Whose blocked addresses a list holds: one user's, or (no user) the
// server-wide list.
struct IpRuleScope {
    std::optional<std::string> user;
};

std::string ipRulesSelect(const IpRuleScope& scope);
std::string ipRulesDelete(const IpRuleScope& scope);
std::string ipRuleInsert(const IpRuleScope& scope, const std::string& line);

// The stored list in the order the database returns it. No value when the
// database could not be opened or refused the query (failure set).
std::optional<std::vector<std::string>> readIpRules(const IpRuleScope& scope, std::string& failure);
// What a rewrite of the list holds: the server-wide list's table, or the
// user's row.
WriteLock ipRulesLock(const IpRuleScope& scope);
// What a rewrite of a user's list replaces.
UserParts ipRulesParts();
// Replaces the stored list with these lines, all or nothing, under the
// list's lock. With a loaded version (a user's list), only while the list
// is still as loaded; Changed otherwise.
WriteOutcome writeIpRules(const IpRuleScope& scope, const std::vector<std::string>& lines,
                          std::string& failure,
                          const std::optional<std::string>& loaded = std::nullopt);
// Reads the stored list and writes it as `change` leaves it, in one
// transaction under the list's lock, so that no other writer comes between.
// A change that returns false writes nothing (Declined).
WriteOutcome changeIpRules(const IpRuleScope& scope,
                           const std::function<bool(std::vector<std::string>&)>& change,
                           std::string& failure);

// Keep both for a list: the entries this dialog added since it loaded
// `loaded` are added to the stored list (after its own), and the ones it
// removed are taken out of it; the other administrator's additions and
// removals stay.
void applyListChange(const std::vector<std::string>& loaded, const std::vector<std::string>& mine,
                     std::vector<std::string>& stored);

// The check of the entry box when it loses the focus: an empty box, or an
// entry the plug-in matches (an address, a pattern with "*" or "a-b" for a
// part, or a CIDR block) that fits the stored column. The beep sounds on
// acceptance and on a wrong number of dots, not on a wrong part.
struct AddressCheck {
    bool accepted;
    bool beep;
    // Why a refused text is no address, for the message beside the beep.
    std::string reason = {};
};
AddressCheck checkAddress(std::string_view text);
// The longest entry the lists can store.
std::size_t addressRuleCharacters();

// The entry of the list that matches the same addresses as the text (read
// as numbers: 010.000.000.007 is 10.0.0.7), if any.
std::optional<std::string> sameEntryIn(const std::vector<std::string>& lines,
                                       std::string_view text);
// The refusal of a text the list already holds as `existing`.
Message duplicateEntryMessage(std::string_view text, const std::string& existing);
// The question before an entry that matches every address: server-wide it
// locks every client out, for a user it refuses the account everywhere.
// No value when the entry matches fewer addresses.
std::optional<Message> everyAddressQuestion(const IpRuleScope& scope, std::string_view text);

// A list's change in one line, for the audit trail: the entries added and
// removed, or that only their order changed.
std::string describeListChange(const std::vector<std::string>& before,
                               const std::vector<std::string>& after);

}  // namespace kestrix::policies
