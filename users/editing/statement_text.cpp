#include "users/editing/statement_text.h"

#include "core/sql_literal.h"

namespace kestrix::users {

namespace {

std::string literal(const std::optional<std::string>& value) {
    return value ? sqlText(*value) : "NULL";
}

}  // namespace

StatementText& StatementText::text(std::string_view sql) {
    shown_ += sql;
    masked_ += sql;
    bound_ += sql;
    return *this;
}

StatementText& StatementText::value(const std::optional<std::string>& value,
                                    const std::optional<std::string>& shownAs) {
    shown_ += literal(value);
    masked_ += literal(shownAs ? shownAs : value);
    isMasked_ = isMasked_ || shownAs.has_value();
    placeholder(value);
    return *this;
}

StatementText& StatementText::number(const std::string& digits) {
    shown_ += digits;
    masked_ += digits;
    placeholder(digits);
    return *this;
}

void StatementText::placeholder(const std::optional<std::string>& value) {
    values_.push_back(value);
    bound_ += ":v" + std::to_string(values_.size());
}

WriteStep StatementText::step(std::string log, bool changesOneRow) const {
    WriteStep step{std::move(log), shown_, isMasked_ ? masked_ : std::string(), changesOneRow};
    step.boundSql = bound_;
    step.values = values_;
    return step;
}

}  // namespace kestrix::users
