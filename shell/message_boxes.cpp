#include "shell/message_boxes.h"

#include "shell/app_title.h"

namespace kestrix {

Message titledMessage(std::string text, MessageIcon icon, MessageButtons buttons,
                      int defaultButton) {
    return Message{std::move(text), std::string(kAppTitle), icon, buttons, defaultButton};
}

Answer answerOfButton(MessageButtons buttons, int n) {
    switch (buttons) {
        case MessageButtons::OK:
            return Answer::OK;
        case MessageButtons::OKCancel:
            return n == 2 ? Answer::Cancel : Answer::OK;
        case MessageButtons::YesNo:
            return n == 2 ? Answer::No : Answer::Yes;
        case MessageButtons::YesNoCancel:
            return n == 3 ? Answer::Cancel : n == 2 ? Answer::No : Answer::Yes;
    }
    return Answer::OK;
}

}  // namespace kestrix
