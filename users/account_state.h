#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kestrix {

// What the user list marks beside a name.
enum class AccountState : std::uint8_t {
    Active,
    ExpiringSoon,  // the expiry date comes within the next seven days
    Disabled,      // disable_user is set: no logins
    Expired,       // the expiry date has come; the daily run deletes it
};

inline constexpr int kExpiryWarningDays = 7;

// From the stored disable switch and expiry date text. An expiry text that
// is no date marks nothing: the daily run does not act on it either.
AccountState accountState(std::optional<std::string_view> disableUser,
                          std::optional<std::string_view> expires,
                          std::chrono::year_month_day today);

// One entry of the user list.
struct ListedUser {
    std::string name;
    AccountState state = AccountState::Active;
    // The stored expiry date, kept only when it marks the entry.
    std::string expires;
};

}  // namespace kestrix
