#include "core/sql_literal.h"

namespace kestrix {

std::string sqlText(std::string_view value) {
    std::string out;
    appendSqlText(out, value);
    return out;
}

void appendSqlText(std::string& out, std::string_view value) {
    out.reserve(out.size() + value.size() + 2);
    out.push_back('\'');
    for (char c : value) {
        out.push_back(c);
        if (c == '\'') out.push_back('\'');
    }
    out.push_back('\'');
}

}  // namespace kestrix
