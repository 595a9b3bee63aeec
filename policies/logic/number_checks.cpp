#include "policies/logic/number_checks.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

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

std::optional<Message> outOfRange(std::string_view text, const NumberRange& range) {
    // ".5" and "5." read as 0.5 and 5: the key filter lets them through.
    std::string number(text);
    if (!number.empty() && number.front() == '.') number.insert(0, "0");
    if (!number.empty() && number.back() == '.') number += '0';
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    const bool fits = error == std::errc() && end == number.data() + number.size() &&
                      std::isfinite(value) && value >= range.lowest && value <= range.highest &&
                      (!range.whole || std::floor(value) == value);
    if (fits) return std::nullopt;
    const auto bound = [](double number) {
        return std::to_string(static_cast<long long>(std::llround(number)));
    };
    std::string message = "The value in the " + range.field + " field must be " +
                          (range.whole ? "a whole number" : "a number") + " from " +
                          bound(range.lowest) + " to " + bound(range.highest);
    if (!range.unit.empty()) message += " " + range.unit;
    return titledMessage(message + ".", MessageIcon::Exclamation, MessageButtons::OK);
}

}  // namespace kestrix::policies
