#pragma once

#include <string>
#include <string_view>

namespace kestrix {

// Writes a text as an SQL text literal: between two apostrophes, each
// apostrophe inside doubled, nothing else changed. Every statement that
// splices a text value goes through here.
std::string sqlText(std::string_view value);
// The same written at the end of `out`.
void appendSqlText(std::string& out, std::string_view value);

}  // namespace kestrix
