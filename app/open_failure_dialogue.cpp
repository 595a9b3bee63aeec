#include "app/open_failure_dialogue.h"

#include <QCoreApplication>

#include "core/activity_log.h"
#include "core/settings.h"
#include "setup/configure_window.h"
#include "shell/shell.h"

namespace kestrix {

OpenFailureDialogue::OpenFailureDialogue(std::function<ConfigureWindow&()> configureWindow,
                                         std::function<void()> endForUnreachableDatabase)
    : configureWindow_(std::move(configureWindow)),
      endForUnreachableDatabase_(std::move(endForUnreachableDatabase)) {}

std::string openFailureQuestion(const std::string& cause) {
    std::string question = kOpenFailureQuestion;
    const std::string ask = "Would you like to verify";
    question.insert(question.find(ask), "What happened: " + cause + "\r\n\r\n");
    return question;
}

void OpenFailureDialogue::interactiveOpenFailed(const std::string& description) {
    // A command that runs while the question or the configuration dialog is
    // up (a timer's, inside their wait) stops without a second question: a
    // second one would outlive the commit that answers the first and ask
    // about a connection string that is stored by then.
    if (active_) {
        writeLog(
            "a database opening failed while the connection check was open: "
            "that command stops");
        return;
    }
    active_ = true;
    struct Done {
        bool& active;
        ~Done() { active = false; }
    } done{active_};
    Shell& shell = Shell::instance();
    // With nothing stored (the configuration closed without a commit) the
    // provider's words would only talk about a missing provider.
    const std::string cause =
        readConnectionString().empty()
            ? "no connection string is stored yet: the configuration was closed without "
              "\"Commit changes\"."
            : description;
    const Answer answer = shell.ask(
        titledMessage(openFailureQuestion(cause), MessageIcon::Exclamation, MessageButtons::YesNo));
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
