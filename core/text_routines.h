#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix {

// Characters as the administrator typed them (UTF-8 code points, each
// continuation byte belonging to the character before): what length limits
// count.
std::size_t characterCount(std::string_view text);

// Surrounding blanks removed (blanks, tabs and line breaks).
std::string trimmed(std::string_view text);
bool isBlank(std::string_view text);

// How many characters of the text equal ch.
std::size_t countChar(std::string_view text, char ch);

// The number that the leading numeric part of a text forms: blanks before
// it skipped, then an optional sign, digits, a fraction and an exponent. A
// text that does not start with a number is 0.
double leadingNumber(std::string_view text);

// Appends the backslash form of a backslash, line feed, carriage return or
// tab, and of '"' when quote is set: the escapes that JSON, the audit
// line's quoted values and PostgreSQL's COPY text share. False, appending
// nothing, for any other character.
bool appendBackslashEscape(std::string& out, char c, bool quote);

// The current time in seconds with fractions. It only ever increases, also
// across midnight, year ends and changes of the wall clock, so differences
// between two readings measure elapsed time.
double clockSeconds();

}  // namespace kestrix
