#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

class Database;

// The characters a text column of the open database holds, read from that
// database's own schema: a file made by an older program or a server table
// altered by hand has the widths it has, not the ones this program creates.
// No value when the column holds text of any length (SQLite TEXT,
// PostgreSQL text) or is not there.
std::optional<std::size_t> columnWidth(Database& db, std::string_view table,
                                       std::string_view column);

// One text box and the column it is written into.
struct TextColumn {
    std::string field;  // the box's words in the message, e.g. "Notes"
    std::string table;
    std::string column;
    std::string text;
};

// The first text wider than its column, as the message that names the box;
// no value when every text fits. Widths count characters, not bytes.
std::optional<std::string> tooWideText(Database& db, const std::vector<TextColumn>& texts);

// The one message form of a text that its column cannot hold.
std::string tooWideMessage(const std::string& field, std::size_t characters, std::size_t width);

}  // namespace kestrix
