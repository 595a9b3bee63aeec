#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

namespace kestrix {

// The well-formed UTF-8 character at text[i], moving i past it; no value,
// and i where it was, for a malformed one.
[[nodiscard]] std::optional<char32_t> decodeUtf8(std::string_view text, std::size_t& i);

// True when the bytes are well-formed UTF-8 (no overlong forms, no
// surrogates, nothing above U+10FFFF).
[[nodiscard]] bool isValidUtf8(std::string_view text);

// The number of characters of well-formed UTF-8 text; no value otherwise.
[[nodiscard]] std::optional<std::size_t> utf8Length(std::string_view text);

// True when the UTF-8 text holds a control (Unicode Cc) or format (Cf)
// character: invisible in a name, so two names that look the same differ.
// Text that is not well-formed UTF-8 counts as holding one.
[[nodiscard]] bool holdsControlOrFormat(std::string_view text);

}  // namespace kestrix
