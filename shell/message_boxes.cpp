#include "shell/message_boxes.h"

#include "shell/app_title.h"

namespace kestrix {

Message titledMessage(std::string text, MessageIcon icon, MessageButtons buttons,
                      int defaultButton) {
    return Message{std::move(text), std::string(kAppTitle), icon, buttons, defaultButton};
}

std::string changedBySomeoneElse(const std::string& user) {
    return "User " + user + " was changed by someone else since you opened it";
}

Message changedElsewhereQuestion(const std::string& user) {
    return titledMessage(changedBySomeoneElse(user) + "\r\n\r\nReload shows what is stored now; " +
                             "Overwrite stores your changes over it.",
                         MessageIcon::Exclamation, MessageButtons::ReloadOverwriteCancel);
}

Message changedElsewhereMergeQuestion(const std::string& user) {
    return titledMessage(changedBySomeoneElse(user) +
                             "\r\n\r\nReload shows what is stored now; Keep both stores only "
                             "what you changed and keeps the other changes; Overwrite stores "
                             "everything this window shows over it.",
                         MessageIcon::Exclamation, MessageButtons::ReloadKeepBothOverwriteCancel,
                         2);
}

Message bothChangedQuestion(const std::string& user, const std::string& fields) {
    return titledMessage("You and someone else both changed these settings of user " + user +
                             ":\r\n\r\n" + fields +
                             "\r\nYes stores yours, No keeps theirs; everything else is kept "
                             "from both.",
                         MessageIcon::Question, MessageButtons::YesNoCancel);
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
        case MessageButtons::ReloadOverwriteCancel:
            return n == 3 ? Answer::Cancel : n == 2 ? Answer::Overwrite : Answer::Reload;
        case MessageButtons::ReloadKeepBothOverwriteCancel:
            return n == 4   ? Answer::Cancel
                   : n == 3 ? Answer::Overwrite
                   : n == 2 ? Answer::KeepBoth
                            : Answer::Reload;
    }
    return Answer::OK;
}

}  // namespace kestrix
