#include "policies/logic/disk_quota_settings.h"

#include <algorithm>
#include <cmath>

#include "core/sql_literal.h"
#include "core/text_routines.h"
#include "policies/logic/byte_units.h"
#include "policies/logic/number_checks.h"

namespace kestrix::policies {

namespace {

// The plug-in's mark for a remaining quota that was never counted.
constexpr long long kUncounted = 2147483647;

double numberOf(const std::optional<std::string>& column) {
    return column ? leadingNumber(*column) : 0;
}

std::optional<long long> bytesOf(const std::optional<std::string>& column) {
    if (!column || column->empty()) return std::nullopt;
    return std::llround(leadingNumber(*column));
}

const std::vector<std::string> kQuotaColumns{"use_quota", "quota_max", "quota_current"};

// The user's quota columns as read (the last row, should there be several).
StoredQuota lastQuotaOf(const std::vector<FieldRow>& rows) {
    StoredQuota stored;
    for (const FieldRow& row : rows)
        stored = {row[0], row[1], row[2]};
    return stored;
}

std::optional<StoredQuota> storedQuota(const std::string& user, std::string& failure) {
    const auto rows = readRows(quotaSelect(user), kQuotaColumns, failure);
    if (!rows) return std::nullopt;
    return lastQuotaOf(*rows);
}

long long wholeFactor(QuotaUnit unit) {
    return unit == QuotaUnit::Kb ? 1024 : 1048576;
}

// The text read as hundredths of the unit, without a float in between; no
// value for anything but digits with at most two decimals.
std::optional<long long> hundredthsOf(std::string_view text) {
    if (!isDecimalNumber(text)) return std::nullopt;
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if (fraction.size() > 2 || whole.size() > 15) return std::nullopt;
    long long value = 0;
    for (const char digit : whole)
        value = value * 10 + (digit - '0');
    for (std::size_t i = 0; i < 2; ++i)
        value = value * 10 + (i < fraction.size() ? fraction[i] - '0' : 0);
    return value;
}

}  // namespace

std::string quotaText(long long bytes, QuotaUnit unit) {
    const long long factor = wholeFactor(unit);
    // Rounded to the nearest hundredth, a half up.
    const long long hundredths = (std::max(bytes, 0LL) * 100 + factor / 2) / factor;
    std::string text = std::to_string(hundredths / 100);
    const long long cents = hundredths % 100;
    if (cents != 0) {
        text += '.';
        text += static_cast<char>('0' + cents / 10);
        if (cents % 10 != 0) text += static_cast<char>('0' + cents % 10);
    }
    return text;
}

std::optional<long long> quotaBytes(std::string_view text, QuotaUnit unit) {
    const auto hundredths = hundredthsOf(text);
    if (!hundredths) return std::nullopt;
    return (*hundredths * wholeFactor(unit) + 50) / 100;
}

NumberRange quotaRange(QuotaUnit unit) {
    return {"Maximum Quota",
            0,
            std::floor(kLargestByteCount / quotaFactor(unit)),
            false,
            std::string(quotaUnitCaption(unit)),
            2};
}

namespace {

// What OK writes for the maximum box: the stored bytes while the box still
// shows them, else the typed value in whole bytes.
long long maximumBytes(const std::string& maximumText, QuotaUnit unit, const StoredQuota& stored) {
    if (const auto before = bytesOf(stored.maximum);
        before && quotaText(*before, unit) == maximumText)
        return *before;
    const auto bytes = quotaBytes(maximumText, unit);
    return std::min(bytes.value_or(0), static_cast<long long>(kLargestByteCount));
}

}  // namespace

double quotaFactor(QuotaUnit unit) {
    return unit == QuotaUnit::Kb ? kKilobyte : kMegabyte;
}

std::string_view quotaUnitCaption(QuotaUnit unit) {
    return unit == QuotaUnit::Kb ? "Kb" : "Mb";
}

std::string quotaSelect(const std::string& user) {
    return "SELECT use_quota, quota_max, quota_current FROM users WHERE username=" + sqlText(user);
}

std::string quotaRepair(const std::string& user) {
    return "update users set use_quota=0 WHERE username=" + sqlText(user);
}

std::optional<StoredQuota> readQuota(const std::string& user, std::string& failure) {
    auto stored = storedQuota(user, failure);
    // A user without a row is "repaired" too: the UPDATE then finds nothing.
    if (stored && !stored->useQuota) {
        if (writeAll({quotaRepair(user)}, failure) != WriteOutcome::Written) return std::nullopt;
        stored = storedQuota(user, failure);
    }
    return stored;
}

std::optional<StoredQuota> readStoredQuota(const std::string& user, std::string& failure) {
    return storedQuota(user, failure);
}

QuotaView quotaView(const StoredQuota& stored, QuotaUnit unit) {
    const double factor = quotaFactor(unit);
    return {numberOf(stored.useQuota) != 0,
            decimalText(roundTo3(numberOf(stored.current) / factor)),
            quotaText(bytesOf(stored.maximum).value_or(0), unit)};
}

std::optional<Message> checkQuota(bool enabled, const std::string& maximumText, QuotaUnit unit) {
    if (enabled && maximumText.empty())
        return titledMessage(
            "You must enter a value for Maximum Quota when \r\nthe enable disk quota is checked.",
            MessageIcon::Exclamation, MessageButtons::OK);
    if (maximumText.size() > 14)
        return titledMessage(
            "The number of characters in the Maximum Quota field \r\nexceeds the maximum number "
            "of characters allowed.",
            MessageIcon::Exclamation, MessageButtons::OK);
    if (!enabled) return std::nullopt;
    if (!isDecimalNumber(maximumText)) return notANumber("Maximum Quota");
    // Beyond this a byte count is no longer kept exactly by every engine.
    const NumberRange range = quotaRange(unit);
    if (auto refusal = outOfRange(maximumText, range)) return refusal;
    // The box shows two decimals: a third would not come back as typed.
    if (!hundredthsOf(maximumText))
        return titledMessage(
            "The value in the Maximum Quota field must be " + describeRange(range) + ".",
            MessageIcon::Exclamation, MessageButtons::OK);
    return std::nullopt;
}

QuotaSetting quotaSetting(const StoredQuota& stored) {
    QuotaSetting setting{numberOf(stored.useQuota) != 0, bytesOf(stored.maximum),
                         bytesOf(stored.current)};
    if (setting.remaining == kUncounted) setting.remaining.reset();
    return setting;
}

std::string quotaUpdate(const std::string& user, bool enabled, const std::string& maximumText,
                        QuotaUnit unit, const StoredQuota& stored) {
    const std::string where = " WHERE username=" + sqlText(user);
    if (!enabled) return "update users set use_quota=0, quota_max=0" + where;
    // Whole bytes: a fraction would be no number to the plug-in on SQLite,
    // which keeps the value as it is written.
    const long long maximum = maximumBytes(maximumText, unit, stored);
    std::string sql = "update users set use_quota=1, quota_max=" + std::to_string(maximum);
    const QuotaSetting before = quotaSetting(stored);
    const auto remaining = remainingAfterEdit(before, {true, maximum, std::nullopt});
    if (remaining && remaining != before.remaining)
        sql += ", quota_current=" + std::to_string(*remaining);
    return sql + where;
}

UserParts quotaParts() {
    // Not the remaining quota: the plug-in moves it with every upload, and
    // the write reads it again anyway.
    return UserParts{{"use_quota", "quota_max"}};
}

std::optional<std::string> quotaUpdateAsStored(Database& db, const std::string& user, bool enabled,
                                               const std::string& maximumText, QuotaUnit unit,
                                               std::string& failure) {
    const auto rows = readRowsOn(db, quotaSelect(user), kQuotaColumns, failure);
    if (!rows) return std::nullopt;
    return quotaUpdate(user, enabled, maximumText, unit, lastQuotaOf(*rows));
}

WriteOutcome writeQuota(const std::string& user, bool enabled, const std::string& maximumText,
                        QuotaUnit unit, std::string& failure,
                        const std::optional<std::string>& loaded) {
    // The remaining quota is read under the user's lock, so an upload the
    // plug-in counts meanwhile waits for this write instead of being undone.
    return writeBuiltAll(
        [&](Database& db, std::string& why) -> std::optional<std::vector<std::string>> {
            auto statement = quotaUpdateAsStored(db, user, enabled, maximumText, unit, why);
            if (!statement) return std::nullopt;
            return std::vector<std::string>{std::move(*statement)};
        },
        failure, WriteGuard{WriteLock::user(user), user, quotaParts(), loaded});
}

namespace {

FieldValues quotaFields(bool enabled, const std::string& maximum) {
    return {{"disk quota", enabled ? "on" : "off"}, {"maximum quota", maximum}};
}

}  // namespace

WriteOutcome keepBothQuota(const std::string& user, const QuotaView& loaded, bool enabled,
                           const std::string& maximumText, QuotaUnit unit, std::string& failure,
                           const std::function<Answer(const Message&)>& ask) {
    return keepBothFields(
        user, quotaFields(loaded.enabled, loaded.maximum), quotaFields(enabled, maximumText),
        [&](WriteOutcome& why) -> std::optional<FieldsNow> {
            auto version = loadedVersion(user, quotaParts(), failure);
            const auto stored = version ? readStoredQuota(user, failure) : std::nullopt;
            if (!stored) {
                why = failure.empty() ? WriteOutcome::Unavailable : WriteOutcome::Refused;
                return std::nullopt;
            }
            const QuotaView view = quotaView(*stored, unit);
            return FieldsNow{std::move(*version), quotaFields(view.enabled, view.maximum)};
        },
        [&](const FieldValues& merged, const std::string& version) {
            const bool on = merged.at("disk quota") == "on";
            const std::string maximum = merged.at("maximum quota").value_or("");
            if (const auto refusal = checkQuota(on, maximum, unit)) {
                failure = refusal->text;
                return WriteOutcome::Refused;
            }
            return writeQuota(user, on, maximum, unit, failure, version);
        },
        ask);
}

}  // namespace kestrix::policies
