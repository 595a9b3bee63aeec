#pragma once

#include "prompts.h"

namespace kestrix {

// The editing logic's questions, asked through the shell's message and
// input boxes like every other box of the program.
class ShellPrompts final : public users::UserPrompts {
  public:
    users::Answer show(const users::Prompt& prompt) override;
    std::optional<std::string> input(const std::string& prompt, const std::string& title,
                                     const std::string& defaultText) override;
};

}  // namespace kestrix
