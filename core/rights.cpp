#include "core/rights.h"

#include <cctype>

namespace kestrix {

bool hasRight(std::string_view acronym, char letter) {
    const int wanted = std::toupper(static_cast<unsigned char>(letter));
    for (char c : acronym) {
        if (std::toupper(static_cast<unsigned char>(c)) == wanted) return true;
    }
    return false;
}

std::string encodeRights(const Rights& r) {
    const bool granted[] = {r.read,    r.write, r.append, r.remove,
                            r.execute, r.list,  r.make,   r.rmdir};
    std::string out;
    for (size_t i = 0; i < kRightsLetters.size(); ++i) {
        if (granted[i]) out.push_back(kRightsLetters[i]);
    }
    return out;
}

Rights decodeRights(std::string_view acronym) {
    Rights r;
    r.read = hasRight(acronym, 'R');
    r.write = hasRight(acronym, 'W');
    r.append = hasRight(acronym, 'A');
    r.remove = hasRight(acronym, 'M');
    r.execute = hasRight(acronym, 'E');
    r.list = hasRight(acronym, 'L');
    r.make = hasRight(acronym, 'C');
    r.rmdir = hasRight(acronym, 'D');
    return r;
}

bool decodeInherit(std::string_view text) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    return text == "1";
}

}  // namespace kestrix
