#pragma once

#include <string>

#include "shell/app_title.h"
#include "shell/input_boxes.h"
#include "shell/message_boxes.h"

namespace kestrix::users {

// Where the editing logic talks to the administrator: the program's message
// and input boxes, which tests answer from a script.
class UserPrompts : public MessageBoxes, public InputBoxes {
  public:
    using InputBoxes::show;
    using MessageBoxes::show;
};

inline constexpr const char* kCrLf = "\r\n";
// The questions whose default is their second button (No).
inline constexpr int kSecondButton = 2;

// A refusal: OK button, exclamation icon, the application title unless
// another caption is given.
Message refusal(std::string text);
Message refusal(std::string text, std::string caption);

// The refusal of a text longer than its field allows.
Message tooLong(const std::string& field);

}  // namespace kestrix::users
