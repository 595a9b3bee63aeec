#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "users/editing/prompts.h"

namespace kestrix::users::test {

// Answers the editing logic's questions from a script and keeps what it was
// shown. A question or input box without a scripted answer fails the test.
class ScriptedPrompts : public UserPrompts {
  public:
    ScriptedPrompts& answer(Answer a) {
        answers_.push_back(a);
        return *this;
    }
    ScriptedPrompts& type(std::optional<std::string> text) {
        inputs_.push_back(std::move(text));
        return *this;
    }

    Answer show(const Message& message) override {
        shown.push_back(message);
        if (message.buttons == MessageButtons::OK) return Answer::OK;
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected question: " << message.text;
            return Answer::Cancel;
        }
        const Answer a = answers_.front();
        answers_.pop_front();
        return a;
    }

    std::optional<std::string> show(const InputRequest& request) override {
        inputPrompts.push_back(request.prompt);
        inputDefaults.push_back(request.defaultText);
        if (inputs_.empty()) {
            ADD_FAILURE() << "unexpected input box: " << request.prompt;
            return std::nullopt;
        }
        auto text = inputs_.front();
        inputs_.pop_front();
        return text;
    }

    bool allAnswered() const { return answers_.empty() && inputs_.empty(); }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& m : shown)
            out.push_back(m.text);
        return out;
    }

    std::vector<Message> shown;
    std::vector<std::string> inputPrompts;
    std::vector<std::string> inputDefaults;

  private:
    std::deque<Answer> answers_;
    std::deque<std::optional<std::string>> inputs_;
};

}  // namespace kestrix::users::test
