#pragma once

#include <optional>
#include <string>

namespace kestrix {

// An input box: a prompt, a caption and the text it starts with. Prompts
// keep their CR LF line breaks; the box shows each as a line break.
struct InputRequest {
    std::string prompt;
    std::string caption;
    std::string defaultText;
    bool secret = false;  // a password: masked as it is typed

    bool operator==(const InputRequest&) const = default;
};

// The one way every window asks for a line of text, so that tests can type
// scripted answers while the code that asks still runs. No value when the
// box was cancelled.
class InputBoxes {
  public:
    virtual ~InputBoxes() = default;
    virtual std::optional<std::string> show(const InputRequest& request) = 0;
};

// Shows each request in a QInputDialog in front of the active window.
class QtInputBoxes final : public InputBoxes {
  public:
    std::optional<std::string> show(const InputRequest& request) override;
};

}  // namespace kestrix
