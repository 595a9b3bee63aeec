#include "core/column_width.h"

#include <cctype>

#include "core/database.h"
#include "core/text_routines.h"

namespace kestrix {

namespace {

// The width in a declared type such as "VARCHAR(50)" or "character(5)";
// none for a type without one.
std::optional<std::size_t> declaredWidth(std::string_view type) {
    const std::size_t open = type.find('(');
    if (open == std::string_view::npos) return std::nullopt;
    std::size_t width = 0;
    bool digits = false;
    for (std::size_t i = open + 1; i < type.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(type[i]);
        if (std::isdigit(c)) {
            width = width * 10 + (c - '0');
            digits = true;
        } else if (c == ' ' && !digits) {
            continue;
        } else {
            break;
        }
    }
    if (!digits) return std::nullopt;
    return width;
}

}  // namespace

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string widthKey(std::string_view table, std::string_view column) {
    return lowered(table) + '.' + lowered(column);
}

// Every column of the table at once, into the connection's widths: one
// query per table and connection, however many texts a write checks.
bool readTableWidths(Database& db, std::string_view table) {
    auto& widths = db.columnWidths();
    const std::string marker = widthKey(table, "");
    if (widths.contains(marker)) return true;
    const Database::BoundValues names{std::string(table)};
    const bool read =
        db.engine() == Engine::SQLite
            ? db.readText("SELECT name, type FROM pragma_table_info(:v1)", names, 2,
                          [&](const Database::TextRow& row) {
                              widths[widthKey(table, row[0].value_or(""))] =
                                  declaredWidth(row[1].value_or(""));
                          })
            : db.readText(
                  "SELECT column_name, character_maximum_length FROM information_schema.columns "
                  "WHERE table_schema = current_schema() AND lower(table_name) = lower(:v1)",
                  names, 2, [&](const Database::TextRow& row) {
                      std::optional<std::size_t> width;
                      if (row[1] && leadingNumber(*row[1]) > 0)
                          width = static_cast<std::size_t>(leadingNumber(*row[1]));
                      widths[widthKey(table, row[0].value_or(""))] = width;
                  });
    // A refused read is not kept: the next check asks again.
    if (read) widths[marker] = std::nullopt;
    return read;
}

}  // namespace

std::optional<std::size_t> columnWidth(Database& db, std::string_view table,
                                       std::string_view column) {
    if (!readTableWidths(db, table)) return std::nullopt;
    const auto& widths = db.columnWidths();
    const auto found = widths.find(widthKey(table, column));
    if (found == widths.end()) return std::nullopt;
    return found->second;
}

std::string tooWideMessage(const std::string& field, std::size_t characters, std::size_t width) {
    return "The " + field + " field holds " + std::to_string(characters) +
           " characters, but the database can store only " + std::to_string(width) +
           " there.\r\nPlease shorten it.";
}

std::optional<std::string> tooWideText(Database& db, const std::vector<TextColumn>& texts) {
    // Texts of one column come in a row (a Save's hundreds of rules): the
    // width is looked up once for the run.
    const TextColumn* widthOf = nullptr;
    std::optional<std::size_t> width;
    for (const TextColumn& text : texts) {
        const std::size_t characters = characterCount(text.text);
        if (characters == 0) continue;
        if (widthOf == nullptr || widthOf->table != text.table || widthOf->column != text.column) {
            width = columnWidth(db, text.table, text.column);
            widthOf = &text;
        }
        if (width && characters > *width) return tooWideMessage(text.field, characters, *width);
    }
    return std::nullopt;
}

}  // namespace kestrix
