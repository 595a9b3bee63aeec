#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix::migration {

// One [section] of the FTP server's account file, its keys in file order.
struct IniSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;
    // A line of the section could not be read: what it holds is not whole.
    bool damaged = false;

    // The value of the first key of that name, compared without regard to
    // case; no value when the key is absent.
    std::optional<std::string> value(std::string_view key) const;

    // A numbered key (prefix + number, e.g. Access1, Access12): number and
    // value, ordered by the number.
    struct Numbered {
        long number;
        std::string key;
        std::string value;
    };
    std::vector<Numbered> numbered(std::string_view prefix) const;
};

// A line of the file that is not a comment, a [section] or a key=value.
struct LineProblem {
    int line = 0;  // counted from 1
    std::string text;
    std::string section;  // the section it stands in; empty before the first
    std::string why;
};

// How the file's bytes were read.
enum class TextEncoding {
    Windows1252,  // the server's own code page
    Utf8,         // a byte-order mark, or well-formed UTF-8 beyond ASCII
};

// The account file, read as Windows private-profile text: CR LF or LF line
// ends, section and key names compared without regard to case, values to
// the end of the line. The text is held in UTF-8: it arrives in
// Windows-1252 unless it is UTF-8 already (an editor may have saved it so).
class AccountFile {
  public:
    static AccountFile parse(std::string_view bytes);

    const std::vector<IniSection>& sections() const { return sections_; }
    const IniSection* section(std::string_view name) const;
    // The lines that were not understood, in file order.
    const std::vector<LineProblem>& problems() const { return problems_; }

    TextEncoding encoding() const { return encoding_; }
    bool hadByteOrderMark() const { return byteOrderMark_; }

  private:
    std::vector<IniSection> sections_;
    std::vector<LineProblem> problems_;
    TextEncoding encoding_ = TextEncoding::Windows1252;
    bool byteOrderMark_ = false;
};

bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);
// True for a non-empty run of the digits 0 to 9.
bool isDigits(std::string_view text);

}  // namespace kestrix::migration
