#include "service/socket_server.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "service/service_log.h"

namespace kestrix::service {

namespace {

bool readWhole(int fd, void* buffer, std::size_t size) {
    auto* bytes = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

bool writeWhole(int fd, const void* buffer, std::size_t size) {
    const auto* bytes = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = ::send(fd, bytes + done, size - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::runtime_error systemError(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}

}  // namespace

SocketServer::SocketServer(std::string path, PeerPolicy peers, AnsweringService& service)
    : path_(std::move(path)), peers_(std::move(peers)), service_(service) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.empty() || path_.size() >= sizeof address.sun_path)
        throw std::runtime_error("the socket path \"" + path_ + "\" is empty or too long");
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    struct stat old {};
    if (::lstat(path_.c_str(), &old) == 0) {
        // Only a socket is taken over; anything else there is not ours.
        if (!S_ISSOCK(old.st_mode)) throw std::runtime_error(path_ + " exists and is not a socket");
        ::unlink(path_.c_str());
    }
    listening_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listening_ < 0) throw systemError("socket");
    // Bound with no rights for anyone, then opened to the peers' processes;
    // which of them may talk is decided by their credentials.
    const mode_t previous = ::umask(0777);
    const int bound = ::bind(listening_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::umask(previous);
    if (bound != 0) throw systemError("cannot create " + path_);
    if (::chmod(path_.c_str(), 0666) != 0) throw systemError("chmod " + path_);
    if (::listen(listening_, SOMAXCONN) != 0) throw systemError("listen " + path_);
}

SocketServer::~SocketServer() {
    if (listening_ >= 0) ::close(listening_);
}

void SocketServer::run() {
    for (;;) {
        const int connection = ::accept4(listening_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            if (errno != EINTR && errno != ECONNABORTED)
                logError(std::string("accept: ") + std::strerror(errno));
            // Out of descriptors: let some sessions end before the next.
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        ucred peer{};
        socklen_t length = sizeof peer;
        if (::getsockopt(connection, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
            !peers_.allows(peer.uid, peer.gid)) {
            logWarning("refused a connection from process " + std::to_string(peer.pid) + " (uid " +
                       std::to_string(peer.uid) + ", gid " + std::to_string(peer.gid) + ")");
            ::close(connection);
            continue;
        }
        try {
            std::thread([this, connection, pid = peer.pid] { serve(connection, pid); }).detach();
        } catch (const std::system_error& failure) {
            logError(std::string("no thread for a session: ") + failure.what());
            ::close(connection);
        }
    }
}

void SocketServer::serve(int connection, pid_t process) {
    SessionGuard guard;
    guard.setProcess(process);
    quellind_request request{};
    while (readWhole(connection, &request, sizeof request)) {
        const quellind_reply reply = service_.answer(guard, request);
        if (!writeWhole(connection, &reply, sizeof reply)) break;
        if (reply.status == QUELLIND_BAD_REQUEST) break;
    }
    ::close(connection);
    service_.closed(guard);
}

}  // namespace kestrix::service
