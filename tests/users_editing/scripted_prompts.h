#pragma once

#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "prompts.h"

namespace kestrix::users::test {

// Answers the editing logic's questions from a script and keeps what it was
// shown. A prompt without a scripted answer fails the test.
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

    Answer show(const Prompt& prompt) override {
        shown.push_back(prompt);
        if (prompt.buttons == Buttons::Ok) return Answer::Ok;
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected question: " << prompt.text;
            return Answer::Cancel;
        }
        const Answer a = answers_.front();
        answers_.pop_front();
        return a;
    }

    std::optional<std::string> input(const std::string& prompt, const std::string&,
                                     const std::string& defaultText) override {
        inputPrompts.push_back(prompt);
        inputDefaults.push_back(defaultText);
        if (inputs_.empty()) {
            ADD_FAILURE() << "unexpected input box: " << prompt;
            return std::nullopt;
        }
        auto text = inputs_.front();
        inputs_.pop_front();
        return text;
    }

    bool allAnswered() const { return answers_.empty() && inputs_.empty(); }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const auto& p : shown)
            out.push_back(p.text);
        return out;
    }

    std::vector<Prompt> shown;
    std::vector<std::string> inputPrompts;
    std::vector<std::string> inputDefaults;

  private:
    std::deque<Answer> answers_;
    std::deque<std::optional<std::string>> inputs_;
};

}  // namespace kestrix::users::test
