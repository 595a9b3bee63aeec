#include "shell_prompts.h"

#include "shell.h"

namespace kestrix {

namespace {

MessageIcon iconOf(users::Icon icon) {
    switch (icon) {
        case users::Icon::Exclamation:
            return MessageIcon::Exclamation;
        case users::Icon::Question:
            return MessageIcon::Question;
        case users::Icon::Information:
            return MessageIcon::Information;
        case users::Icon::Critical:
            return MessageIcon::Critical;
    }
    return MessageIcon::None;
}

MessageButtons buttonsOf(users::Buttons buttons) {
    switch (buttons) {
        case users::Buttons::Ok:
            return MessageButtons::OK;
        case users::Buttons::OkCancel:
            return MessageButtons::OKCancel;
        case users::Buttons::YesNo:
            return MessageButtons::YesNo;
        case users::Buttons::YesNoCancel:
            return MessageButtons::YesNoCancel;
    }
    return MessageButtons::OK;
}

// The position (1-based) of the default button among the box's buttons.
int positionOf(users::Answer answer) {
    switch (answer) {
        case users::Answer::Ok:
        case users::Answer::Yes:
            return 1;
        case users::Answer::No:
            return 2;
        case users::Answer::Cancel:
            return 0;  // the last button, whichever box it is
    }
    return 1;
}

users::Answer answerOf(Answer answer) {
    switch (answer) {
        case Answer::OK:
            return users::Answer::Ok;
        case Answer::Cancel:
            return users::Answer::Cancel;
        case Answer::Yes:
            return users::Answer::Yes;
        case Answer::No:
            return users::Answer::No;
    }
    return users::Answer::Cancel;
}

int buttonCount(MessageButtons buttons) {
    switch (buttons) {
        case MessageButtons::OK:
            return 1;
        case MessageButtons::OKCancel:
        case MessageButtons::YesNo:
            return 2;
        case MessageButtons::YesNoCancel:
            return 3;
    }
    return 1;
}

}  // namespace

users::Answer ShellPrompts::show(const users::Prompt& prompt) {
    // Qt has no system-modal box; every box of the program is modal to the
    // whole program.
    const MessageButtons buttons = buttonsOf(prompt.buttons);
    const int position = positionOf(prompt.defaultButton);
    const Message message{prompt.text, prompt.title, iconOf(prompt.icon), buttons,
                          position == 0 ? buttonCount(buttons) : position};
    return answerOf(Shell::instance().ask(message));
}

std::optional<std::string> ShellPrompts::input(const std::string& prompt, const std::string& title,
                                               const std::string& defaultText) {
    return Shell::instance().inputBox(InputRequest{prompt, title, defaultText});
}

}  // namespace kestrix
