#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// The rights of one directory rule, as stored in dir_rights.dir_rights:
// capital letters in the order R W A M E L C D. File Delete is M and
// directory Remove is D; inheritance is not a letter (inherit_subdirs).
struct Rights {
    bool read = false;     // R, files
    bool write = false;    // W, files
    bool append = false;   // A, files
    bool remove = false;   // M, files: "Delete"
    bool execute = false;  // E, files
    bool list = false;     // L, directories
    bool make = false;     // C, directories
    bool rmdir = false;    // D, directories: "Remove"

    bool operator==(const Rights&) const = default;
};

inline constexpr std::string_view kRightsLetters = "RWAMELCD";
inline constexpr std::string_view kNewRuleRights = "RL";
inline constexpr std::string_view kNewRuleInherit = "1";

// The letters of the granted rights, in the fixed order.
std::string encodeRights(const Rights& rights);
// A right is granted when its letter occurs anywhere in the text, without
// regard to case; the order and any other characters are ignored.
Rights decodeRights(std::string_view acronym);
// True when the text contains the letter, without regard to case.
bool hasRight(std::string_view acronym, char letter);
// Inheritance holds when the text, blanks around it removed, is exactly "1".
bool decodeInherit(std::string_view inheritText);

// One directory access rule of a user, as loaded from a dir_rights row
// (NULLs read as empty texts).
struct DirRule {
    std::string directory;
    std::string rights;   // the acronym
    std::string inherit;  // the inherit_subdirs text

    bool operator==(const DirRule&) const = default;
};

}  // namespace kestrix
