#include "users/editing/text_rules.h"

#include <cctype>

namespace kestrix::users {

std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (unsigned char c : text) {
        if ((c & 0xC0) != 0x80) ++count;  // continuation bytes belong to the character before
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

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string withoutTrailingSeparator(std::string_view path) {
    std::string out = trimmed(path);
    if (out.size() > 1 && out.back() == '/') out.pop_back();
    return out;
}

bool isAbsolutePath(std::string_view path) {
    const std::string text = trimmed(path);
    return !text.empty() && text.front() == '/';
}

}  // namespace kestrix::users
