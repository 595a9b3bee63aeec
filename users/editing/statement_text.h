#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "users/editing/statement_run.h"

namespace kestrix::users {

// A statement written once with its values kept apart: the text the log
// shows (values written as SQL literals, a secret masked) and the text
// that runs (placeholders, the values bound).
class StatementText {
  public:
    StatementText& text(std::string_view sql);
    // A text value; no value is NULL. shownAs replaces it in the log.
    StatementText& value(const std::optional<std::string>& value,
                         const std::optional<std::string>& shownAs = std::nullopt);
    // A number the caller has made sure is one; written bare.
    StatementText& number(const std::string& digits);

    // The step that runs the statement after its log line. The texts move
    // into it: the builder is spent.
    WriteStep step(std::string log, bool changesOneRow = false);

  private:
    void placeholder(const std::optional<std::string>& value);

    std::string shown_;
    std::string masked_;
    bool isMasked_ = false;
    std::string bound_;
    std::vector<std::optional<std::string>> values_;
};

}  // namespace kestrix::users
