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

std::optional<std::string> firstValue(Database& db, std::string_view sql,
                                      const Database::BoundValues& values) {
    std::optional<std::string> value;
    bool found = false;
    const bool read = db.readText(sql, values, 1, [&](const Database::TextRow& row) {
        if (found) return;
        found = true;
        value = row[0];
    });
    if (!read) return std::nullopt;
    return value;
}

}  // namespace

std::optional<std::size_t> columnWidth(Database& db, std::string_view table,
                                       std::string_view column) {
    const Database::BoundValues names{std::string(table), std::string(column)};
    if (db.engine() == Engine::SQLite) {
        const auto type = firstValue(
            db, "SELECT type FROM pragma_table_info(:v1) WHERE lower(name) = lower(:v2)", names);
        if (!type) return std::nullopt;
        return declaredWidth(*type);
    }
    const auto width = firstValue(db,
                                  "SELECT character_maximum_length FROM information_schema.columns "
                                  "WHERE table_schema = current_schema() AND lower(table_name) = "
                                  "lower(:v1) AND lower(column_name) = lower(:v2)",
                                  names);
    if (!width || width->empty()) return std::nullopt;
    const double characters = leadingNumber(*width);
    if (characters <= 0) return std::nullopt;
    return static_cast<std::size_t>(characters);
}

std::string tooWideMessage(const std::string& field, std::size_t characters, std::size_t width) {
    return "The " + field + " field holds " + std::to_string(characters) +
           " characters, but the database can store only " + std::to_string(width) +
           " there.\r\nPlease shorten it.";
}

std::optional<std::string> tooWideText(Database& db, const std::vector<TextColumn>& texts) {
    for (const TextColumn& text : texts) {
        const std::size_t characters = characterCount(text.text);
        if (characters == 0) continue;
        const auto width = columnWidth(db, text.table, text.column);
        if (width && characters > *width) return tooWideMessage(text.field, characters, *width);
    }
    return std::nullopt;
}

}  // namespace kestrix
