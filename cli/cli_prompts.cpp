#include "cli/cli_prompts.h"

#include <iostream>

#include "cli/loaded_user.h"

namespace kestrix::cli {

namespace {

bool isQuestion(MessageButtons buttons) {
    return buttons != MessageButtons::OK;
}

Answer yesOf(MessageButtons buttons) {
    // --yes never overwrites another administrator's change.
    if (buttons == MessageButtons::ReloadOverwriteCancel) return Answer::Cancel;
    if (buttons == MessageButtons::ReloadKeepBothOverwriteCancel) return Answer::KeepBoth;
    return buttons == MessageButtons::OKCancel ? Answer::OK : Answer::Yes;
}

Answer safeOf(MessageButtons buttons) {
    return buttons == MessageButtons::YesNo ? Answer::No : Answer::Cancel;
}

}  // namespace

std::string terminalText(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
    }
    return out;
}

Answer CliPrompts::show(const Message& message) {
    if (!isQuestion(message.buttons)) {
        std::cerr << terminalText(message.text) << '\n';
        failed_ = true;
        return Answer::OK;
    }
    for (const auto& [start, answer] : presets_) {
        if (message.text.starts_with(start)) return answer;
    }
    if (yes_) return yesOf(message.buttons);
    std::cerr << terminalText(message.text) << '\n'
              << "Not done: this question was answered "
              << (safeOf(message.buttons) == Answer::No ? "No" : "Cancel")
              << "; repeat the command with --yes to answer Yes.\n";
    failed_ = true;
    return safeOf(message.buttons);
}

std::optional<std::string> CliPrompts::show(const InputRequest& /*request*/) {
    if (typed_.empty()) return std::nullopt;
    std::string text = std::move(typed_.front());
    typed_.pop_front();
    return text;
}

void CliOpenFailure::interactiveOpenFailed(const std::string& description) {
    noteDatabaseUnavailable();
    std::cerr << "The database could not be opened:\n"
              << terminalText(description) << '\n'
              << "Check the connection string (kestrix config show).\n";
}

}  // namespace kestrix::cli
