#include "prompts.h"

namespace kestrix::users {

Prompt refusal(std::string text, std::string title) {
    return Prompt{std::move(text), std::move(title), Icon::Exclamation,
                  Buttons::Ok,     Answer::Ok,       false};
}

}  // namespace kestrix::users
