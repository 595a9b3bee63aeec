#include "maintenance/version_reply.h"

#include <cctype>
#include <string>
#include <vector>

#include "core/text_routines.h"

namespace kestrix {

namespace {

// The number a piece's leading digits form: nullopt without a leading digit,
// and a value below zero when there are too many digits to be a version.
std::optional<std::int64_t> leadingDigits(std::string_view piece) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (digits < piece.size() && std::isdigit(static_cast<unsigned char>(piece[digits]))) {
        if (digits == kMaxVersionPartDigits) return -1;
        value = value * 10 + (piece[digits] - '0');
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
    std::int64_t parts[3] = {0, 0, 0};
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        const std::optional<std::int64_t> part = leadingDigits(pieces[i]);
        if (i == 0 && !part) return std::nullopt;
        if (part && *part < 0) return std::nullopt;
        parts[i] = part.value_or(0);
    }
    return Version{parts[0], parts[1], parts[2]};
}

}  // namespace kestrix
