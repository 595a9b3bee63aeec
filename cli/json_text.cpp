#include "cli/json_text.h"

#include <cstdio>

#include "core/text_routines.h"
#include "core/unicode_text.h"

namespace kestrix::cli {

std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t next = i;
            if (!decodeUtf8(text, next)) {
                out += "\\ufffd";
                ++i;
            } else {
                out.append(text.substr(i, next - i));
                i = next;
            }
            continue;
        }
        if (!appendBackslashEscape(out, static_cast<char>(c), true)) {
            if (c < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

JsonObject& JsonObject::add(std::string_view name, std::string jsonValue) {
    members_.push_back(jsonString(name) + ":" + std::move(jsonValue));
    return *this;
}

JsonObject& JsonObject::text(std::string_view name, std::string_view value) {
    return add(name, jsonString(value));
}

std::string jsonNumber(std::string_view text) {
    std::string_view rest = text;
    auto digits = [&rest] {
        std::size_t n = 0;
        while (n < rest.size() && rest[n] >= '0' && rest[n] <= '9')
            ++n;
        rest.remove_prefix(n);
        return n;
    };
    if (!rest.empty() && rest.front() == '-') rest.remove_prefix(1);
    const bool leadingZero = !rest.empty() && rest.front() == '0';
    const std::size_t whole = digits();
    bool number = whole > 0 && !(leadingZero && whole > 1);
    if (number && !rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        number = digits() > 0;
    }
    if (number && !rest.empty() && (rest.front() == 'e' || rest.front() == 'E')) {
        rest.remove_prefix(1);
        if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) rest.remove_prefix(1);
        number = digits() > 0;
    }
    if (number && rest.empty()) return std::string(text);
    return text.empty() ? std::string("null") : jsonString(text);
}

JsonObject& JsonObject::number(std::string_view name, std::string_view value) {
    return add(name, jsonNumber(value));
}

JsonObject& JsonObject::flag(std::string_view name, bool value) {
    return add(name, value ? "true" : "false");
}

std::string JsonObject::str() const {
    return "{" + [this] {
        std::string joined;
        for (std::size_t i = 0; i < members_.size(); ++i)
            joined += (i ? "," : "") + members_[i];
        return joined;
    }() + "}";
}

std::string jsonArray(const std::vector<std::string>& jsonValues) {
    std::string out = "[";
    for (std::size_t i = 0; i < jsonValues.size(); ++i)
        out += (i ? "," : "") + jsonValues[i];
    return out + "]";
}

}  // namespace kestrix::cli
