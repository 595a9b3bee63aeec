#include "tests/support/syslog_socket.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <regex>

namespace kestrix::test {

namespace {
constexpr const char* kVariable = "KESTRIX_SYSLOG_SOCKET";
}

SyslogSocket::SyslogSocket() {
    const std::string path = (dir_.path() / "log").string();
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        ADD_FAILURE() << "the syslog socket could not be bound at " << path << ": "
                      << std::strerror(errno);
    if (const char* previous = std::getenv(kVariable)) {
        previous_ = previous;
        hadPrevious_ = true;
    }
    ::setenv(kVariable, path.c_str(), 1);
}

SyslogSocket::~SyslogSocket() {
    if (hadPrevious_)
        ::setenv(kVariable, previous_.c_str(), 1);
    else
        ::unsetenv(kVariable);
    if (fd_ >= 0) ::close(fd_);
}

std::vector<std::string> SyslogSocket::take() {
    static const std::regex header(
        R"(<(\d+)>[A-Z][a-z]{2} [ 123]\d \d\d:\d\d:\d\d kestrix\[(\d+)\]: (.*))");
    std::vector<std::string> lines;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0) break;
        const std::string message(buffer, static_cast<std::size_t>(got));
        std::smatch parts;
        if (!std::regex_match(message, parts, header)) {
            ADD_FAILURE() << "not an RFC 3164 message of kestrix: " << message;
            continue;
        }
        // authpriv (10) with notice (5) or warning (4).
        const int priority = std::stoi(parts[1]);
        EXPECT_EQ(priority / 8, 10) << message;
        EXPECT_TRUE(priority % 8 == 5 || priority % 8 == 4) << message;
        EXPECT_GT(std::stol(parts[2]), 0) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        lines.push_back(parts[3]);
    }
    return lines;
}

std::string auditField(const std::string& line, const std::string& name) {
    const std::string start = name + "=\"";
    std::size_t at = 0;
    // A field starts the line or follows a blank outside a value.
    for (;;) {
        at = line.find(start, at);
        if (at == std::string::npos) return {};
        if (at == 0 || line[at - 1] == ' ') break;
        ++at;
    }
    std::string value;
    for (std::size_t i = at + start.size(); i < line.size(); ++i) {
        if (line[i] == '"') return value;
        if (line[i] == '\\' && i + 1 < line.size()) {
            const char next = line[++i];
            value += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
            continue;
        }
        value += line[i];
    }
    ADD_FAILURE() << "unterminated field " << name << " in " << line;
    return value;
}

}  // namespace kestrix::test
