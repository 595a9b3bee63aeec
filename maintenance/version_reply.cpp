#include "maintenance/version_reply.h"

#include <cctype>
#include <string>
#include <vector>

namespace kestrix {

namespace {

// Enough digits for any real version; more saturate so the key cannot overflow.
constexpr std::int64_t kPieceLimit = 999'999'999'999;

std::optional<std::int64_t> leadingNumber(std::string_view piece) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < piece.size() && std::isdigit(static_cast<unsigned char>(piece[digits]))) {
        value = std::min(kPieceLimit, value * 10 + (piece[digits] - '0'));
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

std::string_view trimmed(std::string_view text) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::optional<Version> parseVersionReply(std::string_view reply) {
    reply = trimmed(reply);
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; pieces.size() < 3;) {
        const std::size_t stop = reply.find('.', start);
        pieces.push_back(
            reply.substr(start, stop == std::string_view::npos ? reply.npos : stop - start));
        if (stop == std::string_view::npos) break;
        start = stop + 1;
    }
    const std::optional<std::int64_t> major = leadingNumber(pieces.front());
    if (!major) return std::nullopt;
    Version version;
    version.major = *major;
    if (pieces.size() > 1) version.minor = leadingNumber(pieces[1]).value_or(0);
    if (pieces.size() > 2) version.revision = leadingNumber(pieces[2]).value_or(0);
    return version;
}

std::int64_t versionKey(const Version& version) {
    return version.major * 100000 + version.minor * 1000 + version.revision * 10;
}

}  // namespace kestrix
