#include "service/session_guard.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace kestrix::service {

namespace {

constexpr std::chrono::milliseconds kDelayPerFailure{1000};
constexpr int kMostDelayedFailures = 5;

template <std::size_t N>
std::string fieldText(const char (&field)[N]) {
    return std::string(field, ::strnlen(field, N));
}

template <std::size_t N>
void setField(char (&field)[N], std::string_view text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

std::string lowerAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

// The questions about the client's connection rather than an account.
bool isConnectionQuestion(const quellind_record& record) {
    switch (record.code) {
        case 4:
            return record.user_name[0] == '\0';
        case 25:
        case 36:
        case 37:
            return true;
        default:
            return false;
    }
}

}  // namespace

bool SessionGuard::admit(quellind_record& record) {
    if (!addressPinned_) {
        address_ = fieldText(record.address);
        // A module that puts the address only where the question reads it.
        if (address_.empty() && (record.code == 4 || record.code == 25))
            address_ = fieldText(record.data);
        addressPinned_ = true;
    }
    setField(record.address, address_);
    if (record.code == 4 || record.code == 25) setField(record.data, address_);

    const bool passwordCheck = isPasswordCheck(record.code);
    if (!account_) {
        // Nothing about an account before its password is proved.
        return isConnectionQuestion(record) || passwordCheck;
    }
    if (isConnectionQuestion(record)) return true;
    const std::string asked = lowerAscii(fieldText(record.user_name));
    if (!asked.empty() && asked != *account_) return false;
    setField(record.user_name, *account_);
    return true;
}

void SessionGuard::answered(const quellind_record& record) {
    if (!isPasswordCheck(record.code)) return;
    if (record.flag != 1) {
        ++failedChecks_;
        return;
    }
    failedChecks_ = 0;
    if (!account_) account_ = lowerAscii(fieldText(record.user_name));
}

std::chrono::milliseconds SessionGuard::passwordDelay() const {
    return kDelayPerFailure * std::min(failedChecks_, kMostDelayedFailures);
}

}  // namespace kestrix::service
