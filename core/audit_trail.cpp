#include "core/audit_trail.h"

#include <pwd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "core/activity_log.h"
#include "core/connection_string.h"
#include "core/settings.h"
#include "core/text_routines.h"
#include "core/unicode_text.h"

namespace kestrix::audit {

namespace {

std::atomic<Program> gProgram{Program::None};

// A line is meant to be read; a value of 40000 characters of notes is not.
constexpr std::size_t kMaxValueBytes = 1024;

constexpr const char* kIdentifier = "kestrix";
// authpriv: these lines say who changed whose login, which is for the
// administrators' eyes (auth.log, not the world-readable syslog).
constexpr int kFacility = LOG_AUTHPRIV;

void appendHex(std::string& out, const char* prefix, unsigned value, int digits) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%s%0*X", prefix, digits, value);
    out += buffer;
}

// A reason is read as a sentence: its line breaks become blanks.
std::string oneLine(std::string_view text) {
    std::string out;
    bool broken = false;
    for (char c : text) {
        if (c == '\r' || c == '\n') {
            broken = !out.empty();
            continue;
        }
        if (broken) out += ' ';
        broken = false;
        out += c;
    }
    return out;
}

const char* outcomeWord(Result result) {
    switch (result) {
        case Result::Done:
            return "done";
        case Result::Refused:
            return "refused";
        case Result::Failed:
            return "failed";
    }
    return "failed";
}

// "Dec  7 21:05:09": the RFC 3164 stamp, in English whatever the locale.
std::string rfc3164Stamp() {
    static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%s %2d %02d:%02d:%02d", kMonths[local.tm_mon],
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer;
}

bool sendToSocket(const char* path, int priority, const std::string& line) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof address.sun_path) return false;
    std::strcpy(address.sun_path, path);
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const std::string message = "<" + std::to_string(priority) + ">" + rfc3164Stamp() + " " +
                                kIdentifier + "[" + std::to_string(::getpid()) + "]: " + line;
    const ssize_t sent = ::sendto(fd, message.data(), message.size(), 0,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    ::close(fd);
    return sent == static_cast<ssize_t>(message.size());
}

void writeLine(int level, const std::string& line) {
    const char* socketPath = std::getenv("KESTRIX_SYSLOG_SOCKET");
    if (socketPath && *socketPath) {
        // Nowhere else to say it: the trail is the report of last resort.
        if (!sendToSocket(socketPath, kFacility | level, line))
            std::fprintf(stderr, "kestrix: the audit line could not be sent to %s\n", socketPath);
        return;
    }
    static std::once_flag opened;
    std::call_once(opened, [] { openlog(kIdentifier, LOG_PID, kFacility); });
    syslog(level, "%s", line.c_str());
}

}  // namespace

void setProgram(Program program) {
    gProgram = program;
}

Program program() {
    return gProgram;
}

namespace {

// The user's name for a uid, looked up once per process and uid: a run
// that records thousands of changes reads the user database once.
std::string userNameOf(uid_t uid) {
    static std::mutex guard;
    static std::optional<std::pair<uid_t, std::string>> known;
    const std::lock_guard<std::mutex> lock(guard);
    if (known && known->first == uid) return known->second;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    std::string name = "uid " + std::to_string(uid);
    if (::getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found)
        name = found->pw_name;
    known.emplace(uid, name);
    return name;
}

}  // namespace

Actor currentActor() {
    Actor actor;
    actor.user = userNameOf(::geteuid());
    if (const char* sudoUser = std::getenv("SUDO_USER")) actor.sudoUser = sudoUser;
    return actor;
}

std::string quotedValue(std::string_view value) {
    std::string out = "\"";
    const std::size_t end = std::min(value.size(), kMaxValueBytes);
    std::size_t at = 0;
    while (at < end) {
        const unsigned char c = static_cast<unsigned char>(value[at]);
        if (c < 0x80) {
            if (!appendBackslashEscape(out, static_cast<char>(c), true)) {
                if (c < 0x20 || c == 0x7F)
                    appendHex(out, "\\x", c, 2);
                else
                    out += static_cast<char>(c);
            }
            ++at;
            continue;
        }
        std::size_t next = at;
        const auto code = decodeUtf8(value, next);
        if (!code) {
            appendHex(out, "\\x", c, 2);
            ++at;
            continue;
        }
        if (next > end) break;  // a cut never splits a character
        // C1 controls (NEL among them) and the line and paragraph separators
        // end a line for some readers.
        if (*code <= 0x9F || *code == 0x2028 || *code == 0x2029)
            appendHex(out, "\\u", static_cast<unsigned>(*code), 4);
        else
            out.append(value.substr(at, next - at));
        at = next;
    }
    if (at < value.size()) out += "...(" + std::to_string(value.size() - at) + " more bytes)";
    out += '"';
    return out;
}

std::string auditLine(const Change& change, const Actor& actor) {
    std::string line = "by=" + quotedValue(actor.user);
    if (!actor.sudoUser.empty()) line += " sudo_user=" + quotedValue(actor.sudoUser);
    line += " origin=" + quotedValue(change.origin);
    if (!change.ftpUser.empty()) line += " ftp_user=" + quotedValue(change.ftpUser);
    if (!change.what.empty()) line += " change=" + quotedValue(change.what);
    std::string outcome = outcomeWord(change.result);
    if (change.result != Result::Done && !change.reason.empty())
        outcome += ": " + oneLine(change.reason);
    line += " outcome=" + quotedValue(outcome);
    return line;
}

void record(const Change& change) {
    if (program() == Program::None) return;
    writeLine(change.result == Result::Done ? LOG_NOTICE : LOG_WARNING,
              auditLine(change, currentActor()));
}

namespace {

// The database the window writes to, as the administrator set it up.
std::string databaseNamed() {
    const ParsedConnection parsed = parseConnectionString(readConnectionString());
    if (!parsed.target) return "the configured database";
    const ConnectionTarget& target = *parsed.target;
    if (target.engine == Engine::SQLite) return "database " + target.path;
    return "database " + target.database + " on " + dataSource(target);
}

}  // namespace

std::string windowLogLine(const Change& change) {
    std::string line = change.origin + ": ";
    if (!change.ftpUser.empty()) line += "user " + change.ftpUser + ", ";
    if (!change.what.empty()) line += oneLine(change.what) + ", ";
    line += "in " + databaseNamed() + ": " + outcomeWord(change.result);
    if (change.result != Result::Done && !change.reason.empty())
        line += ": " + oneLine(change.reason);
    return line;
}

void recordWindowChange(const Change& change) {
    // The log window tells the same story as the system log, in its words.
    writeLog(windowLogLine(change));
    if (program() == Program::Window) record(change);
}

}  // namespace kestrix::audit
