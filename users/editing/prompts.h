#pragma once

#include <optional>
#include <string>

namespace kestrix::users {

enum class Answer { Ok, Cancel, Yes, No };
enum class Icon { Exclamation, Question, Information, Critical };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };

// A message box as the editing logic asks for it. Texts keep the system's
// CR LF line breaks; the window that shows them turns those into breaks.
struct Prompt {
    std::string text;
    std::string title;
    Icon icon = Icon::Exclamation;
    Buttons buttons = Buttons::Ok;
    Answer defaultButton = Answer::Ok;
    bool systemModal = false;
};

// Where the editing logic talks to the administrator. The main window
// answers through real message and input boxes, tests through scripts.
class UserPrompts {
  public:
    virtual ~UserPrompts() = default;
    virtual Answer show(const Prompt& prompt) = 0;
    // An input box; no value when it was cancelled.
    virtual std::optional<std::string> input(const std::string& prompt, const std::string& title,
                                             const std::string& defaultText) = 0;
};

inline constexpr const char* kAppTitle = "Tavix2";
inline constexpr const char* kCrLf = "\r\n";

// A refusal: OK button, exclamation icon, the application title.
Prompt refusal(std::string text, std::string title = kAppTitle);

// The refusal of a text longer than its field allows.
Prompt tooLong(const std::string& field);

}  // namespace kestrix::users
