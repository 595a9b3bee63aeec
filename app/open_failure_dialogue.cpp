#include "app/open_failure_dialogue.h"

#include <QCoreApplication>

#include "setup/configure_window.h"
#include "shell/shell.h"

namespace kestrix {

OpenFailureDialogue::OpenFailureDialogue(std::function<ConfigureWindow&()> configureWindow,
                                         std::function<void()> endForUnreachableDatabase)
    : configureWindow_(std::move(configureWindow)),
      endForUnreachableDatabase_(std::move(endForUnreachableDatabase)) {}

void OpenFailureDialogue::interactiveOpenFailed(const std::string& /*description*/) {
    Shell& shell = Shell::instance();
    const Answer answer = shell.ask(
        titledMessage(kOpenFailureQuestion, MessageIcon::Exclamation, MessageButtons::YesNo));
    if (answer != Answer::Yes) {
        endForUnreachableDatabase_();
        return;
    }
    ConfigureWindow& dialog = configureWindow_();
    dialog.setTag(kTagCheckDatabase);
    dialog.showModally();
    // A successful commit clears the mark; the caller then stops, and the
    // administrator repeats the command with the new connection string.
    while (dialog.tag() == kTagCheckDatabase && dialog.isVisible() && !shell.ending())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

}  // namespace kestrix
