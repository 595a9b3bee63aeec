#include "users/editing/statement_text.h"

#include <charconv>

#include "core/sql_literal.h"

namespace kestrix::users {

namespace {

std::string literal(const std::optional<std::string>& value) {
    return value ? sqlText(*value) : "NULL";
}

}  // namespace

StatementText& StatementText::text(std::string_view sql) {
    shown_ += sql;
    if (isMasked_) masked_ += sql;
    bound_ += sql;
    return *this;
}

StatementText& StatementText::value(const std::optional<std::string>& value,
                                    const std::optional<std::string>& shownAs) {
    const std::string written = literal(value);
    if (shownAs && !isMasked_) {
        // The masked text is kept apart only once something is masked.
        masked_ = shown_;
        isMasked_ = true;
    }
    if (isMasked_) masked_ += shownAs ? literal(shownAs) : written;
    shown_ += written;
    placeholder(value);
    return *this;
}

StatementText& StatementText::number(const std::string& digits) {
    shown_ += digits;
    if (isMasked_) masked_ += digits;
    placeholder(digits);
    return *this;
}

void StatementText::placeholder(const std::optional<std::string>& value) {
    if (values_.empty()) values_.reserve(8);  // a handful of values per statement
    values_.push_back(value);
    char digits[16];
    const auto end = std::to_chars(digits, digits + sizeof digits, values_.size()).ptr;
    bound_ += ":v";
    bound_.append(digits, end);
}

WriteStep StatementText::step(std::string log, bool changesOneRow) {
    WriteStep step{std::move(log), std::move(shown_),
                   isMasked_ ? std::move(masked_) : std::string(), changesOneRow};
    step.boundSql = std::move(bound_);
    step.values = std::move(values_);
    return step;
}

}  // namespace kestrix::users
