#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/database.h"
#include "users/editing/prompts.h"

namespace kestrix::cli {

// The message and input boxes of the command line. A box with only OK is a
// refusal or a notice: its text goes to standard error. A question is
// answered Yes (or OK) with --yes; without it, it gets its safe answer (No,
// Cancel), its text is printed with a word on how to answer it, and the
// command has failed. Input boxes take the values the command line gave.
class CliPrompts final : public users::UserPrompts {
  public:
    explicit CliPrompts(bool yes) : yes_(yes) {}

    Answer show(const Message& message) override;
    std::optional<std::string> show(const InputRequest& request) override;

    // The next input box gets this text.
    void type(std::string text) { typed_.push_back(std::move(text)); }
    // A question whose text starts with `start` gets this answer, whatever
    // --yes says: a flag has chosen it.
    void preset(std::string start, Answer answer) {
        presets_.emplace_back(std::move(start), answer);
    }

    // A refusal was shown, or a question got its safe answer.
    bool failed() const { return failed_; }

  private:
    bool yes_;
    bool failed_ = false;
    std::deque<std::string> typed_;
    std::vector<std::pair<std::string, Answer>> presets_;
};

// The text of a box as a terminal shows it: CR LF become line breaks.
std::string terminalText(const std::string& text);

// Reports a database that cannot be opened on standard error.
class CliOpenFailure final : public OpenFailureHandler {
  public:
    void interactiveOpenFailed(const std::string& description) override;
};

}  // namespace kestrix::cli
