#include "cli/command_record.h"

#include <iostream>
#include <streambuf>

#include "cli/loaded_user.h"
#include "core/activity_log.h"
#include "core/audit_trail.h"
#include "core/connection_string.h"

namespace kestrix::cli {

namespace {

// Passes everything on to standard error and keeps a copy: the reason of
// a refusal is what the command said there.
class ErrorCopy final : public std::streambuf {
  public:
    explicit ErrorCopy(std::streambuf* target) : target_(target) {}
    std::string text;

  protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        text += traits_type::to_char_type(c);
        return target_->sputc(traits_type::to_char_type(c));
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        text.append(s, static_cast<std::size_t>(n));
        return target_->sputn(s, n);
    }
    int sync() override { return target_->pubsync(); }

  private:
    std::streambuf* target_;
};

// Listings, `check` and help change nothing.
bool changesSomething(const std::vector<std::string>& words, const Invocation& in) {
    if (words.empty() || in.switches.contains("--help")) return false;
    const std::string& last = words.back();
    if (words.size() == 2 && words[0] == "db" && last == "check") return in.has("--repair");
    // apply-dates records each account it changes itself.
    return last != "list" && last != "show" && last != "check" && last != "apply-dates";
}

// A word as a shell would need it, so the line can be read back.
std::string shellWord(const std::string& word) {
    if (!word.empty() && word.find_first_of(" \t\n'\"\\$`;&|<>*?()[]{}#~") == std::string::npos)
        return word;
    std::string out = "'";
    for (char c : word)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

bool isPasswordFlag(const std::string& flag) {
    return flag.starts_with("--password");
}

bool setsPassword(const std::vector<std::string>& words, const Invocation& in) {
    if (words.size() >= 2 && words[0] == "user" &&
        (words[1] == "add" || words[1] == "copy" || words[1] == "passwd"))
        return true;
    for (const auto& [flag, value] : in.values)
        if (isPasswordFlag(flag)) return true;
    for (const std::string& flag : in.switches)
        if (isPasswordFlag(flag)) return true;
    return false;
}

std::string withoutPassword(std::string text, const Invocation& in) {
    for (const auto& [flag, given] : in.values) {
        std::string value = given;
        if (flag == "--connection-string") {
            const auto parsed = parseConnectionString(given);
            value = parsed.target ? parsed.target->password : std::string();
        }
        if ((!isPasswordFlag(flag) && flag != "--connection-string") || value.empty()) continue;
        for (std::size_t at = text.find(value); at != std::string::npos;
             at = text.find(value, at + 3))
            text.replace(at, value.size(), "***");
    }
    return text;
}

audit::Change describe(const std::vector<std::string>& words, const Invocation& in) {
    audit::Change change;
    change.origin = "kestrix";
    for (const std::string& word : words)
        change.origin += ' ' + word;
    std::size_t first = 0;
    if (words[0] == "user" && !in.operands.empty()) {
        change.ftpUser = in.operands[0];
        first = 1;
    }
    std::string what;
    const auto add = [&what](const std::string& part) {
        if (!what.empty()) what += ' ';
        what += part;
    };
    for (std::size_t i = first; i < in.operands.size(); ++i)
        add(shellWord(in.operands[i]));
    for (const auto& [flag, value] : in.values) {
        if (isPasswordFlag(flag)) continue;
        // A connection string may carry the database's password.
        add(flag + ' ' +
            shellWord(flag == "--connection-string" ? maskedConnectionString(value) : value));
    }
    for (const std::string& flag : in.switches)
        if (!isPasswordFlag(flag) && flag != "--yes" && flag != "--json" && flag != "--log")
            add(flag);
    if (setsPassword(words, in)) what += what.empty() ? "password changed" : "; password changed";
    change.what = what;
    return change;
}

std::string trimmedLines(const std::string& text) {
    const std::size_t begin = text.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return {};
    return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

}  // namespace

int runRecorded(const std::vector<std::string>& commandWords, const Invocation& in,
                int (*run)(const Invocation&)) {
    audit::setProgram(audit::Program::CommandLine);
    if (!changesSomething(commandWords, in)) return run(in);
    ErrorCopy copy(std::cerr.rdbuf());
    std::streambuf* const original = std::cerr.rdbuf(&copy);
    // Lines of --log are the activity log, not the command's answer: the
    // listener printing them was attached first, so each is taken back here.
    const int listener = programLog().attach([&copy](const std::string& line) {
        if (copy.text.ends_with(line)) copy.text.resize(copy.text.size() - line.size());
    });
    const int status = run(in);
    programLog().detach(listener);
    std::cerr.rdbuf(original);

    audit::Change change = describe(commandWords, in);
    if (status != kExitDone) {
        change.reason = withoutPassword(trimmedLines(copy.text), in);
        const bool databaseFailed =
            databaseUnavailable() || change.reason.find(" failed:") != std::string::npos;
        change.result = databaseFailed ? audit::Result::Failed : audit::Result::Refused;
        if (change.reason.empty()) change.reason = "exit status " + std::to_string(status);
    }
    audit::record(change);
    return status;
}

}  // namespace kestrix::cli
