#include "users/editing/statement_text.h"

#include <charconv>

#include "core/sql_literal.h"

namespace kestrix::users {

namespace {

void appendLiteral(std::string& out, const std::optional<std::string>& value) {
    if (value) {
        appendSqlText(out, *value);
    } else {
        out += "NULL";
    }
}

// Room for a rule's statement at once: a Save builds hundreds of them.
constexpr std::size_t kStatementRoom = 256;

}  // namespace

StatementText& StatementText::text(std::string_view sql) {
    if (shown_.empty()) {
        shown_.reserve(kStatementRoom);
        bound_.reserve(kStatementRoom);
    }
    shown_ += sql;
    if (isMasked_) masked_ += sql;
    bound_ += sql;
    return *this;
}

StatementText& StatementText::value(const std::optional<std::string>& value,
                                    const std::optional<std::string>& shownAs) {
    if (shownAs && !isMasked_) {
        // The masked text is kept apart only once something is masked.
        masked_ = shown_;
        isMasked_ = true;
    }
    if (isMasked_) appendLiteral(masked_, shownAs ? shownAs : value);
    appendLiteral(shown_, value);
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
