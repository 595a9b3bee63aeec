#include "maintenance/version_reply.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "core/text_routines.h"

namespace kestrix {

namespace {

// Enough digits for any real version; more saturate so the key cannot overflow.
constexpr std::int64_t kPieceLimit = 999'999'999'999;

std::optional<std::int64_t> leadingDigits(std::string_view piece) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < piece.size() && std::isdigit(static_cast<unsigned char>(piece[digits]))) {
        value = std::min(kPieceLimit, value * 10 + (piece[digits] - '0'));
        ++digits;
    }
    if (digits == 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<Version> parseVersionReply(std::string_view text) {
    const std::string whole = trimmed(text);
    const std::string_view reply = whole;
    std::vector<std::string_view> pieces;
    for (std::size_t start = 0; pieces.size() < 3;) {
        const std::size_t stop = reply.find('.', start);
        pieces.push_back(
            reply.substr(start, stop == std::string_view::npos ? reply.npos : stop - start));
        if (stop == std::string_view::npos) break;
        start = stop + 1;
    }
    const std::optional<std::int64_t> major = leadingDigits(pieces.front());
    if (!major) return std::nullopt;
    Version version;
    version.major = *major;
    if (pieces.size() > 1) version.minor = leadingDigits(pieces[1]).value_or(0);
    if (pieces.size() > 2) version.revision = leadingDigits(pieces[2]).value_or(0);
    return version;
}

std::int64_t versionKey(const Version& version) {
    return version.major * 100000 + version.minor * 1000 + version.revision * 10;
}

}  // namespace kestrix
