#include "core/address_pattern.h"

#include <arpa/inet.h>

#include <algorithm>
#include <string>

namespace kestrix {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A decimal number of at least one digit, at most `limit`; leading zeros
// are allowed and still decimal.
std::optional<unsigned> decimal(std::string_view text, unsigned limit) {
    if (text.empty()) return std::nullopt;
    unsigned value = 0;
    for (const char c : text) {
        if (!isDigit(c)) return std::nullopt;
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > limit) return std::nullopt;
    }
    return value;
}

// Splits dotted text into exactly four parts; none when the count differs.
std::optional<std::array<std::string_view, 4>> fourParts(std::string_view text) {
    std::array<std::string_view, 4> parts;
    for (int i = 0; i < 4; ++i) {
        const std::size_t dot = text.find('.');
        if ((dot == std::string_view::npos) != (i == 3)) return std::nullopt;
        parts[i] = text.substr(0, dot);
        if (dot != std::string_view::npos) text.remove_prefix(dot + 1);
    }
    return parts;
}

std::optional<Ipv4> dottedDecimal(std::string_view text) {
    const auto parts = fourParts(text);
    if (!parts) return std::nullopt;
    Ipv4 address = 0;
    for (const std::string_view part : *parts) {
        const auto value = decimal(part, 255);
        if (!value) return std::nullopt;
        address = (address << 8) | *value;
    }
    return address;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? static_cast<char>(b - 'A' + 'a') : b);
           });
}

// Other spellings of a mapped address (0:0:0:0:0:ffff:a00:7) name the same
// client; the system's reader knows them all.
std::optional<Ipv4> mappedIpv6(std::string_view text) {
    if (text.size() > 45) return std::nullopt;
    const std::string copy(text);
    unsigned char bytes[16];
    if (inet_pton(AF_INET6, copy.c_str(), bytes) != 1) return std::nullopt;
    for (int i = 0; i < 10; ++i)
        if (bytes[i] != 0) return std::nullopt;
    if (bytes[10] != 0xff || bytes[11] != 0xff) return std::nullopt;
    return (Ipv4{bytes[12]} << 24) | (Ipv4{bytes[13]} << 16) | (Ipv4{bytes[14]} << 8) |
           Ipv4{bytes[15]};
}

}  // namespace

std::optional<Ipv4> parseClientAddress(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    if (auto address = dottedDecimal(text)) return address;
    // The system's reader takes no leading zeros in the IPv4 tail.
    constexpr std::string_view kMapped = "::ffff:";
    if (startsWithNoCase(text, kMapped)) {
        if (auto address = dottedDecimal(text.substr(kMapped.size()))) return address;
    }
    return mappedIpv6(text);
}

std::optional<AddressPattern> AddressPattern::parse(std::string_view entry) {
    AddressPattern pattern;
    const std::size_t slash = entry.find('/');
    if (slash != std::string_view::npos) {
        const auto base = dottedDecimal(entry.substr(0, slash));
        const std::string_view length = entry.substr(slash + 1);
        const auto bits = length.size() <= 2 ? decimal(length, 32) : std::nullopt;
        if (!base || !bits) return std::nullopt;
        const Ipv4 mask = *bits == 0 ? 0 : ~Ipv4{0} << (32 - *bits);
        const Ipv4 first = *base & mask;
        const Ipv4 last = first | ~mask;
        for (int part = 0; part < 4; ++part) {
            const int shift = 24 - 8 * part;
            pattern.low_[part] = static_cast<std::uint8_t>(first >> shift);
            pattern.high_[part] = static_cast<std::uint8_t>(last >> shift);
        }
        pattern.kind_ = Kind::Block;
        return pattern;
    }

    const auto parts = fourParts(entry);
    if (!parts) return std::nullopt;
    for (int i = 0; i < 4; ++i) {
        const std::string_view part = (*parts)[i];
        std::optional<unsigned> low;
        std::optional<unsigned> high;
        if (part == "*") {
            low = 0;
            high = 255;
        } else if (const std::size_t dash = part.find('-'); dash != std::string_view::npos) {
            low = decimal(part.substr(0, dash), 255);
            high = decimal(part.substr(dash + 1), 255);
            if (low && high && *low > *high) return std::nullopt;
        } else {
            low = high = decimal(part, 255);
        }
        if (!low || !high) return std::nullopt;
        if (*low != *high || part == "*" || part.find('-') != std::string_view::npos)
            pattern.kind_ = Kind::Pattern;
        pattern.low_[i] = static_cast<std::uint8_t>(*low);
        pattern.high_[i] = static_cast<std::uint8_t>(*high);
    }
    return pattern;
}

bool AddressList::add(std::string_view row) {
    auto pattern = AddressPattern::parse(row);
    if (!pattern) {
        ++leftOut_;
        return false;
    }
    entries_.push_back(*pattern);
    return true;
}

bool AddressList::matches(std::string_view clientAddress) const {
    if (entries_.empty()) return false;
    const auto address = parseClientAddress(clientAddress);
    return address && matches(*address);
}

bool AddressList::matches(Ipv4 address) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [address](const AddressPattern& entry) { return entry.matches(address); });
}

}  // namespace kestrix
