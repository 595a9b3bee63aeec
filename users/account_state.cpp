#include "users/account_state.h"

#include "core/short_date.h"
#include "users/status_lines.h"

namespace kestrix {

AccountState accountState(std::optional<std::string_view> disableUser,
                          std::optional<std::string_view> expires,
                          std::chrono::year_month_day today) {
    std::optional<std::chrono::year_month_day> expiry;
    // Most accounts have no expiry date: no parsing for them.
    if (expires && !expires->empty()) expiry = parseShortDate(*expires);
    if (expiry && *expiry <= today) return AccountState::Expired;
    if (disableUserSet(disableUser.value_or("0"))) return AccountState::Disabled;
    if (expiry && std::chrono::sys_days(*expiry) <=
                      std::chrono::sys_days(today) + std::chrono::days(kExpiryWarningDays))
        return AccountState::ExpiringSoon;
    return AccountState::Active;
}

}  // namespace kestrix
