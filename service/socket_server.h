#pragma once

#include <sys/types.h>

#include <string>

#include "service/answering_service.h"
#include "service/peer_policy.h"

namespace kestrix::service {

// The service's Unix stream socket: one thread per session's connection,
// each answering its requests in order.
class SocketServer {
  public:
    // Creates the socket (replacing one a former run left); throws
    // std::runtime_error when it cannot.
    SocketServer(std::string path, PeerPolicy peers, AnsweringService& service);
    ~SocketServer();
    SocketServer(const SocketServer&) = delete;
    SocketServer& operator=(const SocketServer&) = delete;

    // Accepts connections until the process ends.
    [[noreturn]] void run();
    const std::string& path() const { return path_; }

  private:
    void serve(int connection, pid_t process);

    std::string path_;
    PeerPolicy peers_;
    AnsweringService& service_;
    int listening_ = -1;
};

}  // namespace kestrix::service
