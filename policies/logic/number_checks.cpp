#include "policies/logic/number_checks.h"

#include <algorithm>
#include <cctype>

#include "shell/app_title.h"

namespace kestrix::policies {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

}  // namespace

bool numericKeyAccepted(char32_t key) {
    return key < 31 || (key >= 46 && key <= 57);
}

bool addressKeyAccepted(char32_t key) {
    return numericKeyAccepted(key) || key == U'*' || key == U'-';
}

bool isWholeNumber(std::string_view text) {
    if (!text.empty() && text.front() == '-') text.remove_prefix(1);
    return allDigits(text);
}

bool isDecimalNumber(std::string_view text) {
    const std::size_t point = text.find('.');
    if (point == std::string_view::npos) return allDigits(text);
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction = text.substr(point + 1);
    if (whole.empty() && fraction.empty()) return false;
    return (whole.empty() || allDigits(whole)) && (fraction.empty() || allDigits(fraction));
}

Message notANumber(const std::string& field) {
    return titledMessage("The value in the " + field + " field must be a number.",
                         MessageIcon::Exclamation, MessageButtons::OK);
}

}  // namespace kestrix::policies
