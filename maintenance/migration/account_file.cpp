#include "maintenance/migration/account_file.h"

#include <algorithm>
#include <charconv>

#include "core/unicode_text.h"
#include "maintenance/migration/windows_1252.h"

namespace kestrix::migration {
namespace {

char lowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

std::string_view trimmedBlanks(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

}  // namespace

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return lowerAscii(x) == lowerAscii(y);
           });
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           equalsIgnoringCase(text.substr(0, prefix.size()), prefix);
}

bool isDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::optional<std::string> IniSection::value(std::string_view key) const {
    for (const auto& [name, value] : entries)
        if (equalsIgnoringCase(name, key)) return value;
    return std::nullopt;
}

std::vector<IniSection::Numbered> IniSection::numbered(std::string_view prefix) const {
    std::vector<Numbered> found;
    for (const auto& [name, value] : entries) {
        if (!startsWithIgnoringCase(name, prefix)) continue;
        const std::string_view digits = std::string_view(name).substr(prefix.size());
        if (!isDigits(digits)) continue;
        long number = 0;
        if (std::from_chars(digits.data(), digits.data() + digits.size(), number).ec != std::errc{})
            continue;
        found.push_back({number, name, value});
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const Numbered& a, const Numbered& b) { return a.number < b.number; });
    return found;
}

AccountFile AccountFile::parse(std::string_view bytes) {
    AccountFile file;
    // The mark would otherwise become part of the first section's name.
    if (bytes.starts_with(kUtf8ByteOrderMark)) {
        bytes.remove_prefix(kUtf8ByteOrderMark.size());
        file.byteOrderMark_ = true;
    }
    // Windows-1252 text beyond ASCII is almost never well-formed UTF-8 by
    // chance; a mark on text that is not UTF-8 is not believed.
    if ((file.byteOrderMark_ || !isAscii(bytes)) && isValidUtf8(bytes))
        file.encoding_ = TextEncoding::Utf8;
    const std::string text =
        file.encoding_ == TextEncoding::Utf8 ? std::string(bytes) : windows1252ToUtf8(bytes);
    // Lines after a header that cannot be read belong to no section.
    IniSection* current = nullptr;
    bool afterUnreadHeader = false;
    std::size_t start = 0;
    int number = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::string_view line =
            trimmedBlanks(std::string_view(text).substr(start, end - start));
        start = end + 1;
        ++number;
        if (line.empty() || line.front() == ';') continue;
        if (line.front() == '[') {
            const std::size_t close = line.rfind(']');
            if (close == std::string_view::npos) {
                file.problems_.push_back(
                    {number, std::string(line), std::string(line.substr(1)),
                     "the section header has no closing ], so its lines up to the next "
                     "section are not read"});
                current = nullptr;
                afterUnreadHeader = true;
                continue;
            }
            file.sections_.push_back({std::string(line.substr(1, close - 1)), {}});
            current = &file.sections_.back();
            afterUnreadHeader = false;
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos && !afterUnreadHeader) {
            file.problems_.push_back({number, std::string(line),
                                      current ? current->name : std::string(),
                                      "the line has no = between a key and its value"});
            if (current) current->damaged = true;
            continue;
        }
        if (!current || equals == std::string_view::npos) continue;
        current->entries.emplace_back(std::string(trimmedBlanks(line.substr(0, equals))),
                                      std::string(line.substr(equals + 1)));
    }
    return file;
}

const IniSection* AccountFile::section(std::string_view name) const {
    for (const auto& s : sections_)
        if (equalsIgnoringCase(s.name, name)) return &s;
    return nullptr;
}

}  // namespace kestrix::migration
