#include "cli/password_input.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <iostream>

namespace kestrix::cli {
namespace {

// One line without its line end; no value at the end of the input.
std::optional<std::string> readLine(int fd) {
    std::string line;
    char c = 0;
    bool any = false;
    while (true) {
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        any = true;
        if (c == '\n') break;
        line += c;
    }
    if (!any) return std::nullopt;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

void writeText(int fd, const std::string& text) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t put = ::write(fd, p, left);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return;
        p += put;
        left -= static_cast<std::size_t>(put);
    }
}

// The terminal with its echo off while it lives.
class QuietTerminal {
  public:
    explicit QuietTerminal(int fd) : fd_(fd) {
        if (::tcgetattr(fd_, &saved_) != 0) return;
        termios quiet = saved_;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        restore_ = ::tcsetattr(fd_, TCSAFLUSH, &quiet) == 0;
    }
    ~QuietTerminal() {
        if (restore_) ::tcsetattr(fd_, TCSAFLUSH, &saved_);
    }
    QuietTerminal(const QuietTerminal&) = delete;
    QuietTerminal& operator=(const QuietTerminal&) = delete;

  private:
    int fd_;
    termios saved_{};
    bool restore_ = false;
};

std::optional<std::string> askOnTerminal(std::string& error) {
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) {
        error = "No terminal to ask for the password: give --password-stdin.";
        return std::nullopt;
    }
    std::optional<std::string> first;
    std::optional<std::string> second;
    {
        const QuietTerminal quiet(tty);
        writeText(tty, "Password: ");
        first = readLine(tty);
        if (first) {
            writeText(tty, "Password again: ");
            second = readLine(tty);
        }
    }
    ::close(tty);
    if (!first || !second) {
        error = "No password was typed.";
        return std::nullopt;
    }
    if (*first != *second) {
        error = "The two passwords differ: nothing was changed.";
        return std::nullopt;
    }
    return first;
}

}  // namespace

std::optional<std::string> commandPassword(const Invocation& in, std::string& error) {
    if (in.has("--password") && in.has("--password-stdin")) {
        error = "Give --password or --password-stdin, not both.";
        return std::nullopt;
    }
    if (const auto given = in.value("--password")) return given;
    if (in.has("--password-stdin")) {
        auto line = readLine(STDIN_FILENO);
        if (!line) error = "Standard input holds no password.";
        return line;
    }
    return askOnTerminal(error);
}

std::optional<std::string> givenPassword(const Invocation& in, std::string& error) {
    if (!in.has("--password") && !in.has("--password-stdin")) return std::nullopt;
    return commandPassword(in, error);
}

std::optional<std::string> secretFromStandardInput(const std::string& prompt) {
    if (!::isatty(STDIN_FILENO)) return readLine(STDIN_FILENO);
    const QuietTerminal quiet(STDIN_FILENO);
    writeText(STDIN_FILENO, prompt);
    auto line = readLine(STDIN_FILENO);
    writeText(STDIN_FILENO, "\n");
    return line;
}

std::optional<bool> yesOnTerminal(const std::string& question) {
    if (!::isatty(STDIN_FILENO)) return std::nullopt;
    const int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty < 0) return std::nullopt;
    writeText(tty, question);
    std::string answer = readLine(tty).value_or("");
    ::close(tty);
    for (char& c : answer)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return answer == "y" || answer == "yes";
}

}  // namespace kestrix::cli
