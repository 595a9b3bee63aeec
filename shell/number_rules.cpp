#include "shell/number_rules.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

namespace kestrix {

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
    });
}

std::string boundText(double number) {
    return std::to_string(static_cast<long long>(std::llround(number)));
}

}  // namespace

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

std::string describeRange(const NumberRange& range) {
    std::string words = std::string(range.whole ? "a whole number" : "a number") + " from " +
                        boundText(range.lowest) + " to " + boundText(range.highest);
    if (!range.unit.empty()) words += " " + range.unit;
    if (!range.whole) words += ", with at most " + std::to_string(range.decimals) + " decimals";
    return words;
}

std::optional<Message> outOfRange(std::string_view text, const NumberRange& range) {
    // ".5" and "5." read as 0.5 and 5.
    std::string number(text);
    if (!number.empty() && number.front() == '.') number.insert(0, "0");
    if (!number.empty() && number.back() == '.') number += '0';
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    const bool fits = error == std::errc() && end == number.data() + number.size() &&
                      std::isfinite(value) && value >= range.lowest && value <= range.highest &&
                      (!range.whole || std::floor(value) == value);
    if (fits) return std::nullopt;
    std::string message = "The value in the " + range.field + " field must be " +
                          std::string(range.whole ? "a whole number" : "a number") + " from " +
                          boundText(range.lowest) + " to " + boundText(range.highest);
    if (!range.unit.empty()) message += " " + range.unit;
    return titledMessage(message + ".", MessageIcon::Exclamation, MessageButtons::OK);
}

std::optional<std::string> untypableNumber(std::string_view text, const NumberRange& range) {
    const auto refuse = [&] {
        return "The " + range.field + " field takes " + describeRange(range) + ": \"" +
               std::string(text) + "\" cannot stand there.";
    };
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    if (!whole.empty() && !allDigits(whole)) return refuse();
    const std::size_t wholeDigits = boundText(std::floor(range.highest)).size();
    if (whole.size() > wholeDigits && whole.find_first_not_of('0') != std::string_view::npos &&
        whole.size() - whole.find_first_not_of('0') > wholeDigits)
        return refuse();
    if (point == std::string_view::npos) return std::nullopt;
    if (range.whole) return refuse();
    const std::string_view fraction = text.substr(point + 1);
    if (!fraction.empty() && !allDigits(fraction)) return refuse();
    if (fraction.size() > static_cast<std::size_t>(range.decimals)) return refuse();
    return std::nullopt;
}

}  // namespace kestrix
