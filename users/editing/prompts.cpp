#include "prompts.h"

namespace kestrix::users {

Prompt refusal(std::string text, std::string title) {
    return Prompt{std::move(text), std::move(title), Icon::Exclamation,
                  Buttons::Ok,     Answer::Ok,       false};
}

Prompt tooLong(const std::string& field) {
    return refusal("The number of characters in the " + field + " field " + kCrLf +
                   "exceeds the maximum number of characters allowed.");
}

}  // namespace kestrix::users
