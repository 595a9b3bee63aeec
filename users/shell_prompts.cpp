#include "users/shell_prompts.h"

#include "shell/shell.h"

namespace kestrix {

Answer ShellPrompts::show(const Message& message) {
    return Shell::instance().ask(message);
}

std::optional<std::string> ShellPrompts::show(const InputRequest& request) {
    return Shell::instance().inputBox(request);
}

}  // namespace kestrix
