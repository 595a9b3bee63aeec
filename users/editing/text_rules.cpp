#include "users/editing/text_rules.h"

#include <cctype>

namespace kestrix::users {

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
