#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "core/quota_remaining.h"
#include "policies/logic/policy_database.h"
#include "shell/message_boxes.h"
#include "shell/number_rules.h"

namespace kestrix::policies {

enum class QuotaUnit { Kb, Mb };
double quotaFactor(QuotaUnit unit);                 // 1024 or 1048576
std::string_view quotaUnitCaption(QuotaUnit unit);  // "Kb" or "Mb"

// A byte count in the unit as the box shows it: at most two decimals, no
// float's digits ("1.53" for 1604321 bytes in Mb).
std::string quotaText(long long bytes, QuotaUnit unit);
// The box's text in whole bytes; no value unless digits with at most two
// decimals.
std::optional<long long> quotaBytes(std::string_view text, QuotaUnit unit);
// What the maximum box takes in a unit.
NumberRange quotaRange(QuotaUnit unit);

// use_quota, quota_max and quota_current of one user, as stored.
struct StoredQuota {
    std::optional<std::string> useQuota;
    std::optional<std::string> maximum;
    std::optional<std::string> current;
};

std::string quotaSelect(const std::string& user);
std::string quotaRepair(const std::string& user);  // a NULL use_quota becomes 0
// The load, with the repair of a NULL use_quota. No value when the database
// could not be opened or refused a statement (failure set).
std::optional<StoredQuota> readQuota(const std::string& user, std::string& failure);
// The same without the repair, for a reader that must not write: a NULL
// use_quota reads as off.
std::optional<StoredQuota> readStoredQuota(const std::string& user, std::string& failure);

// What the dialog shows of a stored quota in a unit.
struct QuotaView {
    bool enabled = false;
    std::string current;  // rounded to 3 decimals
    std::string maximum;  // as quotaText: what OK writes back unchanged
};
QuotaView quotaView(const StoredQuota& stored, QuotaUnit unit);

// OK's checks on the maximum box, in the unit shown; no value when it may
// be written.
std::optional<Message> checkQuota(bool enabled, const std::string& maximumText, QuotaUnit unit);

// The quota as the remaining-quota routine reads it.
QuotaSetting quotaSetting(const StoredQuota& stored);

// The UPDATE that OK runs: the switch, the maximum in whole bytes and, when
// the switch or the maximum changed, the remaining quota that follows them.
std::string quotaUpdate(const std::string& user, bool enabled, const std::string& maximumText,
                        QuotaUnit unit, const StoredQuota& stored);

// quotaUpdate from the quota as stored now, read on an open database; no
// value when the read was refused (failure set).
std::optional<std::string> quotaUpdateAsStored(Database& db, const std::string& user, bool enabled,
                                               const std::string& maximumText, QuotaUnit unit,
                                               std::string& failure);

// OK's write for the user the dialog loaded: reads what is stored now (the
// plug-in moves the remaining quota meanwhile), then updates it.
// What an administrator may have changed meanwhile: the switch and the maximum.
UserParts quotaParts();

// Keep both: the switch or the maximum this dialog changed since it showed
// `loaded` is written over what is stored now; the other stays as stored.
WriteOutcome keepBothQuota(const std::string& user, const QuotaView& loaded, bool enabled,
                           const std::string& maximumText, QuotaUnit unit, std::string& failure,
                           const std::function<Answer(const Message&)>& ask);
WriteOutcome writeQuota(const std::string& user, bool enabled, const std::string& maximumText,
                        QuotaUnit unit, std::string& failure,
                        const std::optional<std::string>& loaded = std::nullopt);

}  // namespace kestrix::policies
