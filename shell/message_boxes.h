#pragma once

#include <string>

namespace kestrix {

// A message box as the program asks for it. Texts keep their CR LF line
// breaks; the box shows each as a line break.
enum class MessageIcon { None, Information, Exclamation, Question, Critical };
enum class MessageButtons {
    OK,
    OKCancel,
    YesNo,
    YesNoCancel,
    ReloadOverwriteCancel,
    ReloadKeepBothOverwriteCancel,
};
enum class Answer { OK, Cancel, Yes, No, Reload, Overwrite, KeepBoth };

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::None;
    MessageButtons buttons = MessageButtons::OK;
    int defaultButton = 1;  // 1 = the first button, 2 = the second, ...

    bool operator==(const Message&) const = default;
};

// The one way every window shows a message box, so that tests can answer
// them with scripted answers while the code that shows them still runs.
class MessageBoxes {
  public:
    virtual ~MessageBoxes() = default;
    virtual Answer show(const Message& message) = 0;
};

// Message with the application title as caption.
Message titledMessage(std::string text, MessageIcon icon, MessageButtons buttons,
                      int defaultButton = 1);

// What a writer says when its user changed under it.
std::string changedBySomeoneElse(const std::string& user);

// The question put when what a window is about to write was changed by
// someone else since it was loaded: Reload, Overwrite or Cancel.
Message changedElsewhereQuestion(const std::string& user);

// The same for a window that can put both changes together: Reload, Keep
// both (the default: only this window's changes are written, over what is
// stored now), Overwrite or Cancel.
Message changedElsewhereMergeQuestion(const std::string& user);

// Where both administrators changed the same fields (listed one a line):
// Yes keeps this window's values, No the other administrator's.
Message bothChangedQuestion(const std::string& user, const std::string& fields);

// The answer a box gives for its n-th button (1-based).
Answer answerOfButton(MessageButtons buttons, int n);

}  // namespace kestrix
