#pragma once

#include "users/editing/prompts.h"

namespace kestrix {

// The editing logic's questions, asked through the shell's message and
// input boxes like every other box of the program.
class ShellPrompts final : public users::UserPrompts {
  public:
    Answer show(const Message& message) override;
    std::optional<std::string> show(const InputRequest& request) override;
};

}  // namespace kestrix
