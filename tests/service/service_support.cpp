#include "tests/service/service_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "core/settings_store.h"

namespace kestrix::service::test {

namespace {

constexpr const char* kConnectionStringKey = "Software\\Orvane\\Serv-U\\ConnectionString";

template <std::size_t N>
void setField(char (&field)[N], const std::string& text) {
    std::memset(field, 0, N);
    std::memcpy(field, text.data(), std::min(text.size(), N - 1));
}

}  // namespace

ServicePlace::ServicePlace(const std::string& connectionString) {
    fs::create_directories(settings());
    setValue(kConnectionStringKey, "", connectionString);
}

void ServicePlace::setValue(const std::string& key, const std::string& name,
                            const std::string& value) {
    const SettingsStore store(settings());
    if (store.createKey(key) != SettingsStore::kSuccess)
        throw std::runtime_error("cannot create the key " + key);
    if (!store.writeValue(key, name, value, 0600))
        throw std::runtime_error("cannot write " + key + "\\" + name);
}

RunningService::RunningService(const ServicePlace& place) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
        ::dup2(pipe[1], STDERR_FILENO);
        ::execl(QUELLIND_PROGRAM, QUELLIND_PROGRAM, "--settings", place.settings().c_str(),
                "--socket", place.socket().c_str(), "--state-dir", place.state().c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(pipe[1]);
    reader_ = std::thread([this, fd = pipe[0]] { readLog(fd); });
    std::unique_lock<std::mutex> lock(mutex_);
    const bool listening = changed_.wait_for(lock, std::chrono::seconds(60), [&] {
        return ended_ || log_.find("listening on") != std::string::npos;
    });
    if (!listening || log_.find("listening on") == std::string::npos) {
        const std::string text = log_;
        lock.unlock();
        kill();
        throw std::runtime_error("quellind did not start: " + text);
    }
}

RunningService::~RunningService() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
}

void RunningService::kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
}

std::string RunningService::log() {
    std::lock_guard<std::mutex> lock(mutex_);
    return log_;
}

bool RunningService::logs(const std::string& text) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(30), [&] {
        return ended_ || log_.find(text) != std::string::npos;
    }) && log_.find(text) != std::string::npos;
}

void RunningService::readLog(int fd) {
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        std::lock_guard<std::mutex> lock(mutex_);
        if (n <= 0) {
            ended_ = true;
            changed_.notify_all();
            break;
        }
        log_.append(buffer, static_cast<std::size_t>(n));
        changed_.notify_all();
    }
    ::close(fd);
}

ServiceClient::ServiceClient(const fs::path& socket) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ServiceClient::~ServiceClient() {
    if (fd_ >= 0) ::close(fd_);
}

std::string ServiceClient::Reply::data() const {
    return std::string(record.data, ::strnlen(record.data, sizeof record.data));
}

std::string ServiceClient::Reply::user() const {
    return std::string(record.user_name, ::strnlen(record.user_name, sizeof record.user_name));
}

quellind_request requestOf(uint32_t kind, int32_t code, const std::string& user,
                           const std::string& data, const std::string& address) {
    quellind_request request{};
    request.version = QUELLIND_WIRE_VERSION;
    request.kind = kind;
    request.record.code = code;
    request.record.flag = 7;
    setField(request.record.user_name, user);
    setField(request.record.data, data);
    setField(request.record.address, address);
    return request;
}

std::optional<ServiceClient::Reply> ServiceClient::ask(int32_t code, const std::string& user,
                                                       const std::string& data,
                                                       const std::string& address) {
    return send(requestOf(QUELLIND_ASK, code, user, data, address));
}

std::optional<ServiceClient::Reply> ServiceClient::stillAllowed() {
    return send(requestOf(QUELLIND_STILL_ALLOWED, 0, "", "", ""));
}

std::optional<ServiceClient::Reply> ServiceClient::admit() {
    return send(requestOf(QUELLIND_ADMIT, 0, "", "", ""));
}

std::optional<ServiceClient::Reply> ServiceClient::send(const quellind_request& request) {
    if (fd_ < 0) return std::nullopt;
    if (::send(fd_, &request, sizeof request, MSG_NOSIGNAL) != sizeof request) return std::nullopt;
    quellind_reply reply{};
    std::size_t done = 0;
    auto* bytes = reinterpret_cast<char*>(&reply);
    while (done < sizeof reply) {
        const ssize_t n = ::recv(fd_, bytes + done, sizeof reply - done, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        done += static_cast<std::size_t>(n);
    }
    return Reply{reply.status, reply.record};
}

}  // namespace kestrix::service::test
