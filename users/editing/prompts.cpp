#include "users/editing/prompts.h"

namespace kestrix::users {

Message refusal(std::string text) {
    return titledMessage(std::move(text), MessageIcon::Exclamation, MessageButtons::OK);
}

Message refusal(std::string text, std::string caption) {
    Message message = refusal(std::move(text));
    message.caption = std::move(caption);
    return message;
}

Message tooLong(const std::string& field) {
    return refusal("The number of characters in the " + field + " field " + kCrLf +
                   "exceeds the maximum number of characters allowed.");
}

}  // namespace kestrix::users
