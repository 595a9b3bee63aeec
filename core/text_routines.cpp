#include "core/text_routines.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string>

namespace kestrix {

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (const unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

bool isBlank(std::string_view text) {
    return trimmed(text).empty();
}

std::size_t countChar(std::string_view text, char ch) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), ch));
}

double leadingNumber(std::string_view text) {
    std::size_t i = 0;
    auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (i < text.size() && isBlank(text[i]))
        ++i;
    std::string number;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) number += text[i++];
    bool digits = false;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        number += text[i++];
        digits = true;
    }
    if (i < text.size() && text[i] == '.') {
        number += text[i++];
        while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
            number += text[i++];
            digits = true;
        }
    }
    if (!digits) return 0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        std::string exponent = "e";
        std::size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        bool expDigits = false;
        while (j < text.size() && std::isdigit(static_cast<unsigned char>(text[j]))) {
            exponent += text[j++];
            expDigits = true;
        }
        if (expDigits) number += exponent;
    }
    // from_chars reads the '.' whatever the locale, and takes no '+'.
    const char* begin = number.data() + (number[0] == '+' ? 1 : 0);
    double value = 0;
    std::from_chars(begin, number.data() + number.size(), value);
    return value;
}

bool appendBackslashEscape(std::string& out, char c, bool quote) {
    switch (c) {
        case '\\':
            out += "\\\\";
            return true;
        case '\n':
            out += "\\n";
            return true;
        case '\r':
            out += "\\r";
            return true;
        case '\t':
            out += "\\t";
            return true;
        case '"':
            if (!quote) return false;
            out += "\\\"";
            return true;
        default:
            return false;
    }
}

double clockSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace kestrix
